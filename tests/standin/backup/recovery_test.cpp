// Recovery models and the transaction log: the model a database takes, ALTER DATABASE SET
// RECOVERY, what holds the log (log_reuse_wait), CHECKPOINT, BACKUP LOG and its chain, RESTORE
// LOG, and the log file's size through shrinks, per release and edition.
#include <gtest/gtest.h>

#include <optional>

#include "engine_support.h"
#include "standin/base/version.h"
#include "standin/backup/backup_file.h"

using standin::base::Edition;
using standin::sql::BatchResult;
using standintest::numbers;

namespace {

class Log : public ::testing::Test {
 protected:
  void open(int year, std::optional<Edition> edition = std::nullopt) {
    session_.reset();
    other_.reset();
    engine_.reset();
    standin::engine::EngineConfig c;
    c.dataDir = dir_.path() / ("data" + std::to_string(year));
    c.recordFile = bvtest::nextRecordingFile();
    c.saPassword = "pw";
    c.serverVersion = year;
    c.edition = edition;
    c.computerName = "TESTBOX";
    c.startAgent = false;
    engine_ = std::make_unique<standin::engine::Engine>(c);
    session_ = engine_->login({"sa", "pw", "", "", "", "", false}).session;
  }
  BatchResult run(const std::string& sql) { return session_->executeBatch(sql); }
  std::string scalar(const std::string& sql) {
    const auto r = run(sql);
    if (r.failed()) return "error " + std::to_string(r.errors()[0].number);
    const auto sets = r.resultSets();
    if (sets.empty() || sets[0].rows.empty()) return "<none>";
    return standin::sql::valueToText(sets[0].rows[0][0]);
  }
  std::string wait(const std::string& db) {
    return scalar("SELECT log_reuse_wait_desc FROM sys.databases WHERE name = N'" + db + "'");
  }
  std::string file(const std::string& name) { return (dir_.path() / name).string(); }

  bvtest::TempDir dir_{"bv-log"};
  std::unique_ptr<standin::engine::Engine> engine_;
  std::unique_ptr<standin::engine::Session> session_;
  std::unique_ptr<standin::engine::Session> other_;
};

struct ModelCase {
  int year;
  std::optional<Edition> edition;
  const char* model;  // what model, and so a new database, is installed with
};

class RecoveryModels : public Log, public ::testing::WithParamInterface<ModelCase> {};

void PrintTo(const ModelCase& c, std::ostream* out) {
  *out << c.year << "_"
       << (c.edition ? std::string(standin::base::editionOptionName(*c.edition)) : "default");
}

}  // namespace

TEST_P(RecoveryModels, ANewDatabaseTakesModelsAndAlterDatabaseChangesIt) {
  const auto& p = GetParam();
  open(p.year, p.edition);
  ASSERT_FALSE(run("CREATE DATABASE Fresh").failed());
  for (const char* db : {"model", "Sample", "Fresh"})
    EXPECT_EQ(scalar(std::string("SELECT DATABASEPROPERTYEX(N'") + db + "', 'Recovery')"), p.model) << db;
  for (const char* db : {"master", "tempdb", "msdb"})
    EXPECT_EQ(scalar(std::string("SELECT DATABASEPROPERTYEX(N'") + db + "', 'Recovery')"), "SIMPLE") << db;
  EXPECT_EQ(scalar("SELECT DATABASEPROPERTYEX(N'Gone', 'Recovery')"), "");  // NULL
  if (p.year >= 2005) {
    EXPECT_EQ(scalar("SELECT recovery_model_desc FROM sys.databases WHERE database_id = DB_ID(N'Fresh')"),
              p.model);
  } else {
    EXPECT_EQ(numbers(run("SELECT name FROM sys.databases").errors()), std::vector<int>{208});
  }

  ASSERT_FALSE(run("ALTER DATABASE [Fresh] SET RECOVERY BULK_LOGGED WITH NO_WAIT").failed());
  EXPECT_EQ(scalar("SELECT DATABASEPROPERTYEX(N'Fresh', 'Recovery')"), "BULK_LOGGED");
  ASSERT_FALSE(run("ALTER DATABASE Fresh SET RECOVERY SIMPLE WITH ROLLBACK IMMEDIATE").failed());
  EXPECT_EQ(scalar("SELECT DATABASEPROPERTYEX(N'Fresh', 'Recovery')"), "SIMPLE");
  // A database created after model changed takes model's new one.
  ASSERT_FALSE(run("ALTER DATABASE model SET RECOVERY FULL").failed());
  ASSERT_FALSE(run("CREATE DATABASE Later").failed());
  EXPECT_EQ(scalar("SELECT DATABASEPROPERTYEX(N'Later', 'Recovery')"), "FULL");

  // What SQL Server refuses.
  const auto missing = run("ALTER DATABASE Gone SET RECOVERY FULL");
  EXPECT_EQ(numbers(missing.errors()), (std::vector<int>{p.year == 2000 ? 911 : 5011, 5069}));
  EXPECT_EQ(missing.errors().back().text, "ALTER DATABASE statement failed.");
  const auto temp = run("ALTER DATABASE tempdb SET RECOVERY FULL");
  EXPECT_EQ(numbers(temp.errors()), (std::vector<int>{5058, 5069}));
  EXPECT_EQ(temp.errors().at(0).text, "Option 'RECOVERY' cannot be set in database 'tempdb'.");
  run("BEGIN TRANSACTION");
  EXPECT_EQ(numbers(run("ALTER DATABASE Fresh SET RECOVERY FULL").errors()), std::vector<int>{226});
  run("ROLLBACK TRANSACTION");
  // Other forms of ALTER DATABASE are refused, never half done: the batch does not run.
  const auto other = run("ALTER DATABASE Fresh SET RECOVERY FULL\nALTER DATABASE Fresh SET OFFLINE");
  EXPECT_EQ(numbers(other.errors()), std::vector<int>{50000});
  EXPECT_EQ(scalar("SELECT DATABASEPROPERTYEX(N'Fresh', 'Recovery')"), "SIMPLE");
  // ALTER DATABASE CURRENT came with 2012.
  const auto current = run("USE Fresh ALTER DATABASE CURRENT SET RECOVERY FULL USE master");
  EXPECT_EQ(current.failed(), p.year < 2012);
}

INSTANTIATE_TEST_SUITE_P(ReleasesAndEditions, RecoveryModels,
                         ::testing::Values(ModelCase{2000, std::nullopt, "SIMPLE"},
                                           ModelCase{2000, Edition::Standard, "FULL"},
                                           ModelCase{2005, std::nullopt, "FULL"},
                                           ModelCase{2005, Edition::Express, "SIMPLE"},
                                           ModelCase{2012, Edition::Enterprise, "FULL"},
                                           ModelCase{2019, Edition::Express, "SIMPLE"}));

TEST_F(Log, WhatHoldsTheLogAndWhatFreesIt) {
  open(2008);
  ASSERT_FALSE(run("CREATE DATABASE L\n"
                   "CREATE TABLE L.dbo.T (x INT)\n"
                   "INSERT INTO L.dbo.T VALUES (1)")
                   .failed());
  // FULL, but no full backup yet: the log is truncated at checkpoints until one begins the chain.
  EXPECT_EQ(wait("L"), "CHECKPOINT");
  const auto early = run("BACKUP LOG [L] TO DISK = N'" + file("l.trn") + "' WITH NOINIT");
  EXPECT_EQ(numbers(early.errors()), (std::vector<int>{4214, 3013}));
  EXPECT_EQ(early.errors().at(0).text,
            "BACKUP LOG cannot be performed because there is no current database backup.");
  EXPECT_EQ(early.errors().at(1).text, "BACKUP LOG is terminating abnormally.");
  ASSERT_FALSE(run("USE L CHECKPOINT USE master").failed());
  EXPECT_EQ(wait("L"), "NOTHING");

  ASSERT_FALSE(run("BACKUP DATABASE [L] TO DISK = N'" + file("l.bak") + "' WITH INIT").failed());
  EXPECT_EQ(wait("L"), "NOTHING");
  run("INSERT INTO L.dbo.T VALUES (2)");
  EXPECT_EQ(wait("L"), "LOG_BACKUP");
  run("USE L CHECKPOINT USE master");
  EXPECT_EQ(wait("L"), "LOG_BACKUP");  // a checkpoint frees nothing in the chain

  // An open transaction holds the log, whatever else would free it.
  other_ = engine_->login({"sa", "pw", "L", "", "", "", false}).session;
  ASSERT_FALSE(other_->executeBatch("BEGIN TRANSACTION INSERT INTO T VALUES (3)").failed());
  EXPECT_EQ(wait("L"), "ACTIVE_TRANSACTION");
  ASSERT_FALSE(other_->executeBatch("COMMIT TRANSACTION").failed());
  EXPECT_EQ(wait("L"), "LOG_BACKUP");

  const auto logBackup =
      run("BACKUP LOG [L] TO DISK = N'" + file("l.trn") + "' WITH NOINIT, NAME = N'first'");
  ASSERT_FALSE(logBackup.failed()) << logBackup.errors()[0].text;
  EXPECT_EQ(numbers(logBackup.infos()), (std::vector<int>{4035, 3014}));
  EXPECT_NE(logBackup.infos().at(0).text.find("file 'L_log' on file 1."), std::string::npos);
  EXPECT_EQ(logBackup.infos().at(1).text.rfind("BACKUP LOG successfully processed ", 0), 0u);
  EXPECT_EQ(wait("L"), "NOTHING");
  // A copy-only log backup frees nothing.
  run("INSERT INTO L.dbo.T VALUES (4)");
  ASSERT_FALSE(run("BACKUP LOG [L] TO DISK = N'" + file("l.trn") + "' WITH NOINIT, COPY_ONLY").failed());
  EXPECT_EQ(wait("L"), "LOG_BACKUP");
  ASSERT_FALSE(run("BACKUP LOG [L] TO DISK = N'" + file("l.trn") + "' WITH NOINIT").failed());
  EXPECT_EQ(wait("L"), "NOTHING");

  // Every set stays on the media; the history chains the log sets' numbers.
  const auto header = run("RESTORE HEADERONLY FROM DISK = N'" + file("l.trn") + "'").resultSets().at(0);
  ASSERT_EQ(header.rows.size(), 3u);
  const auto type = static_cast<std::size_t>(header.columnIndex("BackupType"));
  for (const auto& row : header.rows) EXPECT_EQ(standin::sql::valueToText(row[type]), "2");
  for (int n = 1; n <= 3; ++n)
    EXPECT_TRUE(
        run("RESTORE VERIFYONLY FROM DISK = N'" + file("l.trn") + "' WITH FILE = " + std::to_string(n))
            .hasMessage(3262))
        << n;
  const auto chain = engine_->query(
      "msdb",
      "SELECT type, position, is_copy_only, begins_log_chain, first_lsn = (SELECT last_lsn FROM backupset p "
      "WHERE p.backup_set_id = s.backup_set_id - 1) FROM backupset s ORDER BY backup_set_id");
  using Row = standin::engine::Engine::TextRow;
  ASSERT_EQ(chain.size(), 4u);
  EXPECT_EQ(chain[0], (Row{"D", "1", "0", "0", std::nullopt}));
  EXPECT_EQ(chain[1], (Row{"L", "1", "0", "1", "0"}));
  EXPECT_EQ(chain[2], (Row{"L", "2", "1", "0", "1"}));  // the copy-only set starts where the first ended
  EXPECT_EQ(chain[3].at(0), "L");

  // SIMPLE has no log backups; switching back needs a new full backup.
  ASSERT_FALSE(run("ALTER DATABASE L SET RECOVERY SIMPLE").failed());
  const auto simple = run("BACKUP LOG [L] TO DISK = N'" + file("l.trn") + "'");
  EXPECT_EQ(numbers(simple.errors()), (std::vector<int>{4208, 3013}));
  EXPECT_EQ(
      simple.errors().at(0).text,
      "The statement BACKUP LOG is not allowed while the recovery model is SIMPLE. Use BACKUP DATABASE or "
      "change the recovery model using ALTER DATABASE.");
  ASSERT_FALSE(run("ALTER DATABASE L SET RECOVERY FULL").failed());
  EXPECT_EQ(numbers(run("BACKUP LOG [L] TO DISK = N'" + file("l.trn") + "'").errors()),
            (std::vector<int>{4214, 3013}));
  EXPECT_EQ(numbers(run("BACKUP LOG master TO DISK = N'" + file("m.trn") + "'").errors()),
            (std::vector<int>{4212, 3013}));
}

TEST_F(Log, TheLogFileGrowsWithChangesAndShrinksOnlyWhenNothingHoldsIt) {
  open(2005);
  ASSERT_FALSE(run("CREATE DATABASE G\n"
                   "CREATE TABLE G.dbo.T (x INT)\n"
                   "INSERT INTO G.dbo.T VALUES (1)")
                   .failed());
  ASSERT_FALSE(run("BACKUP DATABASE G TO DISK = N'" + file("g.bak") + "'").failed());
  auto logPages = [&] {
    return std::stoll(
        scalar("SELECT size FROM sys.master_files WHERE database_id = DB_ID(N'G') AND type = 1"));
  };
  const auto before = logPages();
  EXPECT_EQ(before, 128);  // 1 MB, as model's log in 2005
  EXPECT_EQ(scalar("SELECT type_desc FROM G.sys.database_files WHERE file_id = 2"), "LOG");
  const std::string logFile = scalar(
      "SELECT physical_name FROM sys.master_files WHERE database_id = DB_ID(N'G') AND "
      "file_id = 2");
  EXPECT_EQ(std::filesystem::path(logFile).parent_path(), engine_->databaseFile("G")->parent_path());
  // Rows doubled twelve times: 4096 rows, about 2 MB of log in the chain.
  for (int i = 0; i < 12; ++i) ASSERT_FALSE(run("INSERT INTO G.dbo.T SELECT x FROM G.dbo.T").failed());
  const auto grown = logPages();
  EXPECT_GT(grown, before);
  EXPECT_EQ(static_cast<long long>(std::filesystem::file_size(logFile)), grown * 8192);

  // Held by the log backup it waits for: the data file is shrunk, the log is not.
  const auto held = run("DBCC SHRINKDATABASE(G, 0)");
  ASSERT_FALSE(held.failed());
  EXPECT_EQ(held.resultSets().at(0).rows.size(), 1u);
  const auto* note = standintest::find(held, 9008);
  ASSERT_NE(note, nullptr);
  EXPECT_EQ(note->text,
            "Cannot shrink log file 2 (G_log) because the logical log file located at the end of the "
            "file is in use.");
  EXPECT_EQ(logPages(), grown);

  ASSERT_FALSE(run("BACKUP LOG G TO DISK = N'" + file("g.trn") + "'").failed());
  const auto shrunk = run("DBCC SHRINKDATABASE(G, 0)");
  const auto rows = shrunk.resultSets().at(0).rows;
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(standin::sql::valueToText(rows[1][1]), "2");
  EXPECT_EQ(standin::sql::valueToText(rows[1][2]), std::to_string(before));
  EXPECT_EQ(logPages(), before);
  EXPECT_EQ(static_cast<long long>(std::filesystem::file_size(logFile)), before * 8192);
}

TEST_F(Log, LogSetsRestoreInTheirChainOnlyOntoARestoringDatabase) {
  open(2019);
  ASSERT_FALSE(run("CREATE DATABASE R\n"
                   "CREATE TABLE R.dbo.T (x INT)\n"
                   "INSERT INTO R.dbo.T VALUES (1)")
                   .failed());
  const std::string media = file("r.bak");
  ASSERT_FALSE(run("BACKUP DATABASE R TO DISK = N'" + media + "' WITH INIT").failed());
  run("INSERT INTO R.dbo.T VALUES (2)");
  ASSERT_FALSE(run("BACKUP LOG R TO DISK = N'" + media + "' WITH NOINIT").failed());
  run("INSERT INTO R.dbo.T VALUES (3)");
  ASSERT_FALSE(run("BACKUP LOG R TO DISK = N'" + media + "' WITH NOINIT").failed());

  const auto wrongKind = run("RESTORE DATABASE R2 FROM DISK = N'" + media + "' WITH FILE = 2");
  EXPECT_EQ(numbers(wrongKind.errors()), (std::vector<int>{3135, 3013}));
  EXPECT_EQ(wrongKind.errors().at(0).text,
            "The backup set in file '" + media +
                "' was created by BACKUP LOG and cannot be used for this restore "
                "operation.");
  ASSERT_FALSE(run("RESTORE DATABASE R2 FROM DISK = N'" + media + "' WITH FILE = 1, NORECOVERY").failed());
  EXPECT_EQ(scalar("SELECT state_desc FROM sys.databases WHERE name = N'R2'"), "RESTORING");
  EXPECT_EQ(numbers(run("USE R2").errors()), std::vector<int>{927});
  // Out of order: the second log set begins after where the database stands.
  const auto tooRecent = run("RESTORE LOG R2 FROM DISK = N'" + media + "' WITH FILE = 3");
  EXPECT_EQ(numbers(tooRecent.errors()), (std::vector<int>{4305, 3013}));
  EXPECT_EQ(tooRecent.errors().at(0).text.rfind("The log in this backup set begins at LSN ", 0), 0u);
  ASSERT_FALSE(run("RESTORE LOG R2 FROM DISK = N'" + media + "' WITH FILE = 2, NORECOVERY").failed());
  const auto tooEarly = run("RESTORE LOG R2 FROM DISK = N'" + media + "' WITH FILE = 2");
  EXPECT_EQ(numbers(tooEarly.errors()), (std::vector<int>{4326, 3013}));
  const auto last = run("RESTORE LOG R2 FROM DISK = N'" + media + "' WITH FILE = 3, RECOVERY");
  ASSERT_FALSE(last.failed()) << last.errors()[0].text;
  EXPECT_EQ(last.infos().back().text.rfind("RESTORE LOG successfully processed ", 0), 0u);
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM R2.dbo.T"), "3");
  EXPECT_EQ(scalar("SELECT state_desc FROM sys.databases WHERE name = N'R2'"), "ONLINE");

  // A log restore needs a database restored WITH NORECOVERY; a database set is no log.
  EXPECT_EQ(numbers(run("RESTORE LOG R2 FROM DISK = N'" + media + "' WITH FILE = 3").errors()),
            (std::vector<int>{3117, 3013}));
  EXPECT_EQ(numbers(run("RESTORE LOG Gone FROM DISK = N'" + media + "' WITH FILE = 3").errors()),
            (std::vector<int>{3118, 3013}));
  ASSERT_FALSE(run("RESTORE DATABASE R3 FROM DISK = N'" + media + "' WITH NORECOVERY").failed());
  EXPECT_EQ(numbers(run("RESTORE LOG R3 FROM DISK = N'" + media + "' WITH FILE = 1").errors()),
            (std::vector<int>{3135, 3013}));
  ASSERT_FALSE(run("RESTORE DATABASE R3 WITH RECOVERY").failed());
  EXPECT_EQ(numbers(run("RESTORE DATABASE R3 WITH RECOVERY").errors()), (std::vector<int>{3153, 3013}));
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM R3.dbo.T"), "1");

  // Overwriting a database whose log holds work not backed up needs REPLACE.
  run("INSERT INTO R.dbo.T VALUES (4)");
  const auto tail = run("RESTORE DATABASE R FROM DISK = N'" + media + "' WITH FILE = 1");
  EXPECT_EQ(numbers(tail.errors()), (std::vector<int>{3159, 3013}));
  EXPECT_FALSE(run("RESTORE DATABASE R FROM DISK = N'" + media + "' WITH FILE = 1, REPLACE").failed());
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM R.dbo.T"), "1");
}

// Each log set carries its committed changes with their commit times: a restore WITH STOPAT brings
// back the rows of that moment, whichever session or database context wrote them.
TEST_F(Log, StopAtBringsBackTheRowsCommittedByThatMoment) {
  open(2019);
  ASSERT_FALSE(run("CREATE DATABASE P\nALTER DATABASE P SET RECOVERY FULL\n"
                   "CREATE TABLE P.dbo.T (id INT PRIMARY KEY, v NVARCHAR(10))\nCREATE TABLE P.dbo.Heap (x INT)")
                   .failed());
  const std::string media = file("p.bak");
  const auto at = [&](int minutes) { engine_->setClockOffset(std::chrono::minutes(minutes)); };
  at(0);
  run("INSERT INTO P.dbo.T VALUES (1, N'a')");
  ASSERT_FALSE(run("BACKUP DATABASE P TO DISK = N'" + media + "' WITH INIT").failed());
  at(10);
  run("USE P\nINSERT INTO dbo.T VALUES (2, N'b')\nUSE master");  // the database's own context
  at(20);
  run("BEGIN TRANSACTION\nUPDATE P.dbo.T SET v = N'B' WHERE id = 2\nINSERT INTO P.dbo.T VALUES (3, N'c')\nCOMMIT");
  run("BEGIN TRANSACTION\nDELETE FROM P.dbo.T\nROLLBACK");  // in no log
  at(30);
  run("DELETE FROM P.dbo.T WHERE id = 1");
  ASSERT_FALSE(run("BACKUP LOG P TO DISK = N'" + media + "' WITH NOINIT").failed());
  at(40);
  run("INSERT INTO P.dbo.T VALUES (4, N'd')");
  at(50);
  run("INSERT INTO P.dbo.Heap VALUES (1)");  // a table without a key: no changeset holds it
  at(58);
  ASSERT_FALSE(run("BACKUP LOG P TO DISK = N'" + media + "' WITH NOINIT").failed());
  at(60);
  const auto moment = [&](int minutes) {
    return "'" + (standin::sql::DateTime::now().plusSeconds(minutes * 60)).iso().substr(0, 19) + "'";
  };
  const auto rowsOf = [&](const std::string& db) {
    const auto sets = run("SELECT id, v FROM " + db + ".dbo.T ORDER BY id").resultSets();
    std::string out;
    for (const auto& row : sets.at(0).rows)
      out += standin::sql::valueToText(row[0]) + standin::sql::valueToText(row[1]) + " ";
    return out;
  };
  const auto restoreFull = [&](const std::string& db) {
    return run("RESTORE DATABASE " + db + " FROM DISK = N'" + media + "' WITH FILE = 1, NORECOVERY, MOVE N'P' TO N'" +
               file(db + ".mdf") + "', MOVE N'P_log' TO N'" + file(db + ".ldf") + "'");
  };
  struct Case {
    const char* db;
    std::vector<std::pair<int, int>> logs;  // file, STOPAT minute (-1: none)
    std::string rows;                       // empty: the last restore fails with `error`
    int error = 0;
  };
  for (const Case& c : std::vector<Case>{
           {"P5", {{2, 5}}, "1a "},
           {"P15", {{2, 15}}, "1a 2b "},
           {"P25", {{2, 25}}, "1a 2B 3c "},
           {"P45", {{2, -1}, {3, 45}}, "2B 3c 4d "},
           {"PEarly", {{2, -1}, {3, 25}}, "", 4335},
           {"PHeap", {{2, -1}, {3, 55}}, "", 50000},
       }) {
    SCOPED_TRACE(c.db);
    ASSERT_FALSE(restoreFull(c.db).failed());
    BatchResult last;
    for (std::size_t i = 0; i < c.logs.size(); ++i) {
      const auto [set, minute] = c.logs[i];
      last = run("RESTORE LOG " + std::string(c.db) + " FROM DISK = N'" + media + "' WITH FILE = " +
                 std::to_string(set) + (minute >= 0 ? ", STOPAT = " + moment(minute) : std::string()) +
                 (i + 1 < c.logs.size() ? ", NORECOVERY" : ", RECOVERY"));
    }
    if (c.rows.empty()) {
      ASSERT_TRUE(last.failed());
      EXPECT_EQ(last.errors().at(0).number, c.error) << last.errors().at(0).text;
      continue;
    }
    ASSERT_FALSE(last.failed()) << last.errors().at(0).text;
    EXPECT_EQ(scalar("SELECT state_desc FROM sys.databases WHERE name = N'" + std::string(c.db) + "'"), "ONLINE");
    EXPECT_EQ(rowsOf(c.db), c.rows);
  }
  // A moment after the log's end: the whole log, and the database waits for the next one.
  ASSERT_FALSE(restoreFull("PLate").failed());
  const auto late = run("RESTORE LOG PLate FROM DISK = N'" + media + "' WITH FILE = 2, STOPAT = " + moment(35));
  ASSERT_FALSE(late.failed()) << late.errors().at(0).text;
  EXPECT_TRUE(late.hasMessage(4322));
  EXPECT_EQ(scalar("SELECT state_desc FROM sys.databases WHERE name = N'PLate'"), "RESTORING");
  ASSERT_FALSE(run("RESTORE LOG PLate FROM DISK = N'" + media + "' WITH FILE = 3, STOPAT = " + moment(45)).failed());
  EXPECT_EQ(rowsOf("PLate"), "2B 3c 4d ");
}

TEST_F(Log, TruncateOnlyEmptiesTheLogAndBreaksTheChain) {
  open(2005);
  ASSERT_FALSE(run("CREATE DATABASE TO1\nCREATE TABLE TO1.dbo.T (x INT)").failed());
  ASSERT_FALSE(run("BACKUP DATABASE TO1 TO DISK = N'" + file("t.bak") + "'").failed());
  run("INSERT INTO TO1.dbo.T VALUES (1)");
  EXPECT_EQ(wait("TO1"), "LOG_BACKUP");
  ASSERT_FALSE(run("BACKUP LOG TO1 WITH TRUNCATE_ONLY").failed());
  EXPECT_EQ(wait("TO1"), "NOTHING");
  EXPECT_EQ(numbers(run("BACKUP LOG TO1 TO DISK = N'" + file("t.trn") + "'").errors()),
            (std::vector<int>{4214, 3013}));
}

TEST_F(Log, OptionsTheStandInDoesNotCarryOutAreRefused) {
  open(2008);
  const std::string media = file("o.bak");
  ASSERT_FALSE(run("BACKUP DATABASE Sample TO DISK = N'" + media + "'").failed());
  for (const auto& [sql, expected] : std::vector<std::pair<std::string, std::vector<int>>>{
           {"BACKUP DATABASE Sample TO DISK = N'" + media + "' WITH MEDIANAME = N'm'", {50000, 3013}},
           {"BACKUP DATABASE Sample TO DISK = N'" + media + "' WITH RETAINDAYS = 3", {50000, 3013}},
           {"RESTORE DATABASE Sample FROM DISK = N'" + media + "' WITH STOPAT = '2030-01-01', REPLACE",
            {50000, 3013}},
           {"RESTORE LOG Sample FROM DISK = N'" + media + "' WITH STOPATMARK = N'm'", {50000, 3013}},
           {"RESTORE DATABASE Sample FROM DISK = N'" + media + "' WITH STANDBY = N'/tmp/u', REPLACE",
            {50000, 3013}},
           {"RESTORE DATABASE Sample FROM DISK = N'" + media + "' WITH RECOVERY, NORECOVERY", {3031, 3013}},
           {"RESTORE HEADERONLY FROM DISK = N'" + media + "' WITH REPLACE", {3032, 3013}},
           {"RESTORE VERIFYONLY FROM DISK = N'" + media + "' WITH NORECOVERY", {3032, 3013}},
           {"RESTORE VERIFYONLY FROM DISK = N'" + media + "' WITH FILE = 2", {4038, 3013}},
           {"RESTORE DATABASE Sample FROM DISK = N'" + media + "' WITH CHECKSUM, REPLACE", {3187, 3013}}}) {
    EXPECT_EQ(numbers(run(sql).errors()), expected) << sql;
  }
  EXPECT_FALSE(run("BACKUP DATABASE Sample TO DISK = N'" + media + "' WITH CHECKSUM, NOSKIP, BUFFERCOUNT = 4")
                   .failed());
  EXPECT_TRUE(
      run("RESTORE VERIFYONLY FROM DISK = N'" + media + "' WITH FILE = 2, CHECKSUM").hasMessage(3262));
}

TEST(LogSystemViews, CompatibilityViewsAreThoseOfEachRelease) {
  for (const int year : {2000, 2005}) {
    bvtest::TempDir dir("bv-log");
    standin::engine::EngineConfig c;
    c.dataDir = dir.path();
    c.recordFile = bvtest::nextRecordingFile();
    c.saPassword = "pw";
    c.serverVersion = year;
    c.startAgent = false;
    standin::engine::Engine engine(c);
    auto master = engine.login({"sa", "pw", "master", "", "", "", false}).session;
    auto sample = engine.login({"sa", "pw", "Sample", "", "", "", false}).session;
    const auto files =
        master->executeBatch("SELECT filename, name FROM sysaltfiles WHERE dbid = 5 ORDER BY fileid");
    ASSERT_FALSE(files.failed()) << year;
    const auto rows = files.resultSets().at(0).rows;
    ASSERT_EQ(rows.size(), 2u);
    // nchar(260): the path padded with blanks to its length.
    const std::string path = standin::sql::valueToText(rows[0][0]);
    EXPECT_EQ(path.size(), 260u);
    EXPECT_EQ(path.substr(0, path.find(' ')), engine.databaseFile("Sample")->string());
    EXPECT_EQ(standin::sql::valueToText(rows[1][1]).substr(0, 10),
              year == 2000 ? "Sample_Log" : "Sample_log");
    const auto crdate =
        master->executeBatch("SELECT COUNT(*) FROM master..sysdatabases WHERE crdate <= GETDATE()");
    EXPECT_EQ(standin::sql::valueToText(crdate.resultSets().at(0).rows.at(0).at(0)), "5") << year;
    // 2000 keeps them in master only.
    const auto fromSample = sample->executeBatch("SELECT name FROM sysdatabases");
    EXPECT_EQ(fromSample.failed(), year == 2000) << year;
    if (year == 2000) {
      EXPECT_EQ(fromSample.errors().at(0).text, "Invalid object name 'sysdatabases'.");
    }
  }
}
