// The editions the stand-in plays: what the server says of itself, whether it has an Agent,
// and what a backup may ask of it (compression), per release and edition.
#include <gtest/gtest.h>

#include <optional>

#include "engine_support.h"
#include "standin/base/version.h"
#include "standin/backup/backup_file.h"

using standin::base::Edition;
using standin::sql::BatchResult;
using standintest::numbers;

namespace {

struct EditionCase {
  int year;
  std::optional<Edition> edition;  // empty: the release's default
  std::string editionText;
  int engineEdition;
  bool agent;
  bool compression;
};

void PrintTo(const EditionCase& c, std::ostream* out) {
  *out << c.year << "_"
       << (c.edition ? std::string(standin::base::editionOptionName(*c.edition)) : "default");
}

class Editions : public ::testing::TestWithParam<EditionCase> {
 protected:
  Editions() : dir_("bv-edition") {
    standin::engine::EngineConfig c;
    c.dataDir = dir_.path() / "data";
    c.recordFile = bvtest::nextRecordingFile();
    c.saPassword = "pw";
    c.serverVersion = GetParam().year;
    c.edition = GetParam().edition;
    c.computerName = "TESTBOX";
    engine_ = std::make_unique<standin::engine::Engine>(c);
    session_ = engine_->login({"sa", "pw", "", "", "", "", false}).session;
  }
  BatchResult run(const std::string& sql) { return session_->executeBatch(sql); }
  std::string scalar(const std::string& sql) {
    const auto sets = run(sql).resultSets();
    if (sets.empty() || sets[0].rows.empty()) return "<none>";
    return standin::sql::valueToText(sets[0].rows[0][0]);
  }

  bvtest::TempDir dir_;
  std::unique_ptr<standin::engine::Engine> engine_;
  std::unique_ptr<standin::engine::Session> session_;
};

}  // namespace

TEST_P(Editions, AnswerAsTheEditionDoesAndHaveAnAgentOnlyWhereItHasOne) {
  const auto& p = GetParam();
  EXPECT_EQ(scalar("SELECT SERVERPROPERTY('Edition')"), p.editionText);
  EXPECT_EQ(scalar("SELECT SERVERPROPERTY('EngineEdition')"), std::to_string(p.engineEdition));
  const std::string banner = scalar("SELECT @@VERSION");
  EXPECT_NE(banner.find("\t" + p.editionText + " on "), std::string::npos) << banner;
  EXPECT_EQ(engine_->agentRunning(), p.agent);

  // The job tables and procedures are there on every edition; only an Agent runs a job.
  ASSERT_FALSE(
      run("EXEC msdb.dbo.sp_add_job @job_name = N'j'\r\n"
          "EXEC msdb.dbo.sp_add_jobstep @job_name = N'j', @step_name = N's', @command = N'SELECT 1'\r\n"
          "EXEC msdb.dbo.sp_add_jobserver @job_name = N'j'")
          .failed());
  const auto start = run("EXEC msdb.dbo.sp_start_job @job_name = N'j'");
  if (p.agent) {
    EXPECT_FALSE(start.failed());
    EXPECT_TRUE(start.hasMessage(14243));
  } else {
    ASSERT_EQ(numbers(start.errors()), std::vector<int>{22022});
    EXPECT_EQ(start.errors()[0].text,
              "SQLServerAgent is not currently running so it cannot be notified of this action.");
    EXPECT_EQ(start.errors()[0].severity, 16);
    EXPECT_EQ(engine_->query("msdb", "SELECT COUNT(*) FROM sysjobhistory")[0][0], "0");
  }

  // Compression is the edition's to give; where it is given, the set is compressed.
  if (p.year < 2008) return;  // the option came with 2008 (155 before)
  const auto file = dir_.path() / "c.bak";
  const auto backup =
      run("BACKUP DATABASE [Sample] TO DISK = N'" + file.string() + "' WITH INIT, COMPRESSION");
  if (!p.compression) {
    EXPECT_EQ(numbers(backup.errors()), (std::vector<int>{1844, 3013}));
    if (!backup.errors().empty()) {
      EXPECT_EQ(backup.errors()[0].text,
                "BACKUP DATABASE WITH COMPRESSION is not supported on " + p.editionText + ".");
    }
    EXPECT_FALSE(std::filesystem::exists(file));
    return;
  }
  ASSERT_FALSE(backup.failed()) << backup.errors().front().text;
  const auto read = standin::backup::readBackupFile(file);
  ASSERT_EQ(read.sets.size(), 1u);
  EXPECT_TRUE(read.sets[0].info.compressed);
  EXPECT_LT(read.sets[0].info.storedSize, read.sets[0].info.contentSize);
  EXPECT_EQ(read.sets[0].content.rfind(std::string("SQLite format 3\0", 16), 0), 0u);
  const auto header = run("RESTORE HEADERONLY FROM DISK = N'" + file.string() + "'").resultSets().at(0);
  EXPECT_EQ(standin::sql::valueToText(
                header.rows.at(0).at(static_cast<std::size_t>(header.columnIndex("Compressed")))),
            "1");
  const auto sizes =
      engine_->query("msdb",
                     "SELECT s.backup_size > s.compressed_backup_size, m.is_compressed FROM backupset s "
                     "JOIN backupmediaset m ON m.media_set_id = s.media_set_id");
  EXPECT_EQ(sizes.at(0), (standin::engine::Engine::TextRow{"1", "1"}));
  EXPECT_TRUE(run("RESTORE VERIFYONLY FROM DISK = N'" + file.string() + "'").hasMessage(3262));
  // Compressed and uncompressed sets never share media: 3098, unless FORMAT makes new media.
  for (const char* option : {"NOINIT", "INIT"}) {
    const auto mixed = run("BACKUP DATABASE [Sample] TO DISK = N'" + file.string() + "' WITH " + option);
    EXPECT_EQ(numbers(mixed.errors()), (std::vector<int>{3098, 3013})) << option;
  }
  EXPECT_EQ(standin::backup::readBackupFile(file, false).sets.size(), 1u);
  EXPECT_FALSE(run("BACKUP DATABASE [Sample] TO DISK = N'" + file.string() + "' WITH FORMAT").failed());
  EXPECT_FALSE(standin::backup::readBackupFile(file, false).sets.at(0).info.compressed);
}

INSTANTIATE_TEST_SUITE_P(
    ReleasesAndEditions, Editions,
    ::testing::Values(EditionCase{2000, std::nullopt, "Desktop Engine", 1, true, false},
                      EditionCase{2000, Edition::Standard, "Standard Edition", 2, true, false},
                      EditionCase{2005, std::nullopt, "Developer Edition", 3, true, false},
                      EditionCase{2005, Edition::Express, "Express Edition", 4, false, false},
                      EditionCase{2008, Edition::Standard, "Standard Edition (64-bit)", 2, true, false},
                      EditionCase{2008, Edition::Enterprise, "Enterprise Edition (64-bit)", 3, true, true},
                      EditionCase{2012, Edition::Standard, "Standard Edition (64-bit)", 2, true, true},
                      EditionCase{2019, Edition::Express, "Express Edition (64-bit)", 4, false, false},
                      EditionCase{2022, std::nullopt, "Developer Edition (64-bit)", 3, true, true}));

TEST(EditionsRefused, AReleaseNeverHadIsRefusedAtStart) {
  bvtest::TempDir dir("bv-edition");
  for (const auto& [year, edition] :
       {std::pair{2000, Edition::Express}, std::pair{2019, Edition::DesktopEngine}}) {
    standin::engine::EngineConfig c;
    c.dataDir = dir.path() / std::to_string(year);
    c.recordFile = bvtest::nextRecordingFile();
    c.saPassword = "pw";
    c.serverVersion = year;
    c.edition = edition;
    EXPECT_THROW(standin::engine::Engine{c}, std::invalid_argument) << year;
  }
}
