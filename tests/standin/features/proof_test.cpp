// What a proof of a backup needs of the server: a restore under a scratch name with every file
// moved (and the checks SQL Server makes of the places), the restore history, the files each
// database has, the volume they lie on, DBCC CHECKDB, and the job step's batch.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "engine_support.h"
#include "standin/base/statement_faults.h"

using standin::base::StatementFault;
using standin::sql::BatchResult;
using standintest::numbers;

namespace {

class Proof : public ::testing::Test {
 protected:
  void open(int year, std::vector<StatementFault> faults = {}) {
    session_.reset();
    engine_.reset();
    standin::engine::EngineConfig c;
    c.dataDir = dir_.path() / ("data" + std::to_string(year));
    c.saPassword = "pw";
    c.serverVersion = year;
    c.computerName = "TESTBOX";
    c.startAgent = false;
    c.statementFaults = std::move(faults);
    engine_ = std::make_unique<standin::engine::Engine>(c);
    session_ = engine_->login({"sa", "pw", "", "", "", "", false}).session;
  }
  BatchResult run(const std::string& sql) { return session_->executeBatch(sql); }
  std::string scalar(const std::string& sql) {
    const auto r = run(sql);
    if (r.failed()) return "error " + std::to_string(r.errors()[0].number) + ": " + r.errors()[0].text;
    const auto sets = r.resultSets();
    if (sets.empty() || sets[0].rows.empty()) return "<none>";
    return standin::sql::valueToText(sets[0].rows[0][0]);
  }
  std::string path(const std::string& name) { return (dir_.path() / name).string(); }
  std::string backUpSample() {
    const auto media = path("sample.bak");
    EXPECT_FALSE(run("BACKUP DATABASE Sample TO DISK = N'" + media +
                     "' WITH INIT, DESCRIPTION = N'Build by Brackenvale'")
                     .failed());
    return media;
  }
  std::string restoreMoved(const std::string& target, const std::string& media, const std::string& data,
                           const std::string& log, const std::string& more = "") {
    return "RESTORE DATABASE [" + target + "] FROM DISK = N'" + media + "' WITH FILE = 1, MOVE N'Sample' TO N'" +
           data + "', MOVE N'Sample_log' TO N'" + log + "'" + more;
  }

  bvtest::TempDir dir_{"bv-proof"};
  std::unique_ptr<standin::engine::Engine> engine_;
  std::unique_ptr<standin::engine::Session> session_;
};

}  // namespace

// Every problem with the places is reported before anything is written, as SQL Server plans a
// restore; nothing is left behind.
TEST_F(Proof, ARestoreWithMoveChecksEveryPlaceFirst) {
  open(2012, {{StatementFault::Kind::VolumeFree, 1000, "full-volume", 0}});
  const auto media = backUpSample();
  std::filesystem::create_directories(path("full-volume"));
  const auto sampleFile = scalar("SELECT physical_name FROM sys.master_files WHERE database_id = DB_ID(N'Sample') "
                                 "AND type = 0");
  std::ofstream(path("in-the-way.mdf")) << "x";
  struct Case {
    std::string statement;
    std::vector<int> errors;
  };
  const std::vector<Case> cases = {
      {"RESTORE DATABASE C FROM DISK = N'" + media + "' WITH MOVE N'Nope' TO N'" + path("c.mdf") + "'",
       {3234, 3013}},
      {restoreMoved("C", media, path("missing/c.mdf"), path("c.ldf")), {5133, 3156, 3119, 3013}},
      {restoreMoved("C", media, "D:\\Data\\c.mdf", path("c.ldf")), {5133, 3156, 3119, 3013}},
      {restoreMoved("C", media, sampleFile, path("c.ldf")), {1834, 3156, 3119, 3013}},
      {restoreMoved("C", media, path("in-the-way.mdf"), path("c.ldf")), {3142, 3119, 3013}},
      {restoreMoved("C", media, path("same"), path("same")), {3176, 3119, 3013}},
      {restoreMoved("C", media, path("full-volume/c.mdf"), path("full-volume/c.ldf")), {3257, 3119, 3013}},
      {restoreMoved("C", media, path("c.mdf"), path("c.ldf"), ", MOVE N'Sample' TO N'" + path("d.mdf") + "'"),
       {4353, 3013}},
  };
  for (const auto& c : cases) {
    const auto r = run(c.statement);
    EXPECT_EQ(numbers(r.errors()), c.errors) << c.statement;
    EXPECT_EQ(scalar("SELECT DB_ID(N'C')"), "") << c.statement;
    EXPECT_FALSE(std::filesystem::exists(path("c.mdf"))) << c.statement;
  }
  EXPECT_EQ(std::filesystem::file_size(path("in-the-way.mdf")), 1u);
  // With REPLACE the file in the way is overwritten; elsewhere the restore goes where it is told.
  ASSERT_FALSE(run(restoreMoved("C", media, path("in-the-way.mdf"), path("c.ldf"), ", REPLACE")).failed());
  ASSERT_FALSE(run(restoreMoved("D", media, path("d.mdf"), path("d.ldf"))).failed());
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM D.dbo.Customers"), scalar("SELECT COUNT(*) FROM Sample.dbo.Customers"));
  EXPECT_EQ(scalar("SELECT physical_name FROM sys.master_files WHERE database_id = DB_ID(N'D') AND type = 0"),
            path("d.mdf"));
  EXPECT_EQ(scalar("SELECT physical_name FROM sys.master_files WHERE database_id = DB_ID(N'D') AND type = 1"),
            path("d.ldf"));
  EXPECT_TRUE(std::filesystem::exists(path("d.ldf")));
}
