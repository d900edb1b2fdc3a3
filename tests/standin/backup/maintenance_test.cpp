// The maintenance statements as the program sends them: BACKUP and its verify, RESTORE,
// log truncation and shrink, with SQL Server's answers and errors.
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>

#include "engine_support.h"
#include "standin/backup/backup_file.h"

using namespace standintest;
using standin::sql::BatchResult;
using standin::sql::Message;

// ---------- errors ----------

TEST_F(EngineTest, MissingDatabaseIs911ThenTerminating3013) {
  const auto r = run(backupBatch("NoSuchDb", scratch("x.bak").string(), false));
  EXPECT_EQ(numbers(r.errors()), (std::vector<int>{911, 3013}));
  EXPECT_EQ(r.errors()[0].text,
            "Database 'NoSuchDb' does not exist. Make sure that the name is entered correctly.");
  EXPECT_EQ(r.errors()[0].severity, 16);
  EXPECT_EQ(r.errors()[1].text, "BACKUP DATABASE is terminating abnormally.");
  EXPECT_FALSE(std::filesystem::exists(scratch("x.bak")));
  EXPECT_EQ(run("USE NoSuchDb").errors().at(0).number, 911);
}

TEST_F(EngineTest, WrongPathIs3201WithOsError3Then3013) {
  const auto path = scratch("no such dir") / "x.bak";
  const auto r = run(backupBatch("Sample", path.string(), true));
  const auto errors = r.errors();
  ASSERT_GE(errors.size(), 2u);
  EXPECT_EQ(errors[0].number, 3201);
  EXPECT_EQ(errors[0].text, "Cannot open backup device '" + path.string() +
                                "'. Operating system error 3(The system cannot find the path specified.).");
  EXPECT_EQ(errors[1].number, 3013);
  EXPECT_EQ(errors[1].text, "BACKUP DATABASE is terminating abnormally.");
  // The verify line still runs, and fails on the file that was never written.
  EXPECT_EQ(errors.back().text, "VERIFY DATABASE is terminating abnormally.");
}

TEST_F(EngineTest, AFolderIsNoBackupDevice) {
  const auto folder = scratch("a folder");
  std::filesystem::create_directories(folder);
  for (const char* option : {"INIT", "NOINIT"}) {
    const auto r = run("BACKUP DATABASE [Sample] TO DISK = N'" + folder.string() + "' WITH " + option);
    EXPECT_EQ(numbers(r.errors()), (std::vector<int>{3201, 3013})) << option;
    if (!r.errors().empty()) {
      EXPECT_NE(r.errors()[0].text.find("Operating system error 5(Access is denied.)"), std::string::npos)
          << r.errors()[0].text;
    }
  }
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.parent_path()), {}), 1);
}

TEST_F(EngineTest, ADoubledApostropheReachesThePathAndALoneOneBreaksTheBatch) {
  const auto path = scratch("O'Brien.bak");
  const auto escaped = run(backupBatch("Sample", path.string(), false));
  EXPECT_FALSE(escaped.failed());
  EXPECT_TRUE(std::filesystem::exists(path));
  std::filesystem::remove(path);

  const auto lone = run("BACKUP DATABASE [Sample] TO DISK = N'" + path.string() + "' WITH INIT ");
  ASSERT_TRUE(lone.failed());
  EXPECT_EQ(lone.errors()[0].severity, 15);
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_FALSE(lone.hasMessage(3014));
}

TEST_F(EngineTest, ABackupFileNameAsLongAsTheFileSystemTakesIsWritten) {
  // The temporary file beside the target must keep within the 255-byte limit on names too.
  for (const std::size_t length : {246u, 255u}) {
    const auto path = scratch(std::string(length - 4, 'b') + ".bak");
    const auto r = run("BACKUP DATABASE [Sample] TO DISK = N'" + path.string() + "' WITH INIT");
    EXPECT_FALSE(r.failed()) << length << ": " << (r.failed() ? r.errors()[0].text : "");
    EXPECT_TRUE(r.hasMessage(3014)) << length;
    EXPECT_TRUE(run("RESTORE VERIFYONLY FROM DISK = N'" + path.string() + "'").hasMessage(3262)) << length;
    // Written again: the earlier file is replaced through a temporary file, which goes.
    EXPECT_FALSE(run("BACKUP DATABASE [Sample] TO DISK = N'" + path.string() + "' WITH NOINIT").failed());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(path.parent_path()), {}), 1) << length;
    std::filesystem::remove(path);
  }
}

TEST_F(EngineTest, BackupInsideATransactionIsRefused) {
  run("BEGIN TRAN");
  const auto r = run(backupBatch("Sample", scratch("t.bak").string(), false));
  EXPECT_EQ(numbers(r.errors()), (std::vector<int>{3021, 3013}));
  run("ROLLBACK");
}

// ---------- the backup batch ----------

TEST_F(EngineTest, BackupBatchAsBuiltWritesTheFileAndReportsProgress) {
  const auto pattern = scratch("emp_%date%.dmp").string();
  const auto r = run(backupBatch("Sample", pattern, false));
  ASSERT_FALSE(r.failed()) << r.errors().front().text;
  const auto file = scratch("emp_" + today() + ".dmp");
  ASSERT_TRUE(std::filesystem::exists(file));
  EXPECT_EQ(numbers(r.infos()), (std::vector<int>{3211, 4035, 4035, 3014}));
  for (const auto& m : r.infos()) EXPECT_EQ(m.severity, 0);
  EXPECT_EQ(r.infos()[0].text, "100 percent processed.");
  EXPECT_EQ(r.infos()[1].text.rfind("Processed ", 0), 0u);
  EXPECT_NE(r.infos()[1].text.find(" pages for database 'Sample', file 'Sample' on file 1."),
            std::string::npos);
  EXPECT_NE(r.infos()[2].text.find("file 'Sample_log' on file 1."), std::string::npos);
  EXPECT_EQ(r.infos()[3].text.rfind("BACKUP DATABASE successfully processed ", 0), 0u);
  EXPECT_NE(r.infos()[3].text.find(" seconds ("), std::string::npos);
  EXPECT_NE(r.infos()[3].text.find(" MB/sec)."), std::string::npos);

  const auto read = standin::backup::readBackupFile(file);
  ASSERT_EQ(read.status, standin::backup::BackupReadStatus::Ok);
  ASSERT_EQ(read.sets.size(), 1u);
  EXPECT_EQ(read.sets[0].info.databaseName, "Sample");
  EXPECT_EQ(read.sets[0].info.backupName, "Brackenvale_" + today());
  EXPECT_EQ(read.sets[0].info.description, "Build by Brackenvale");
  EXPECT_EQ(read.sets[0].info.startDate.format(112).value(), today());
  EXPECT_EQ(read.sets[0].content.rfind(std::string("SQLite format 3\0", 16), 0), 0u);
}

TEST_F(EngineTest, BackupBatchWithVerifyReadsTheFileBack) {
  const auto r = run(backupBatch("Sample", scratch("v.bak").string(), true));
  ASSERT_FALSE(r.failed());
  const auto* valid = find(r, 3262);
  ASSERT_NE(valid, nullptr);
  EXPECT_EQ(valid->text, "The backup set on file 1 is valid.");
  EXPECT_EQ(r.infos().back().number, 3262);
}

TEST_F(EngineTest, EveryDateTokenIsReplacedAndAPathWithoutOneIsKept) {
  ASSERT_FALSE(run(backupBatch("Sample", scratch("%date%_x_%date%.bak").string(), false)).failed());
  EXPECT_TRUE(std::filesystem::exists(scratch(today() + "_x_" + today() + ".bak")));
  ASSERT_FALSE(run(backupBatch("Sample", scratch("plain.bak").string(), false)).failed());
  EXPECT_TRUE(std::filesystem::exists(scratch("plain.bak")));
}

TEST_F(EngineTest, InitOverwritesAndNoInitAppends) {
  const auto file = scratch("sets.bak");
  const std::string f = file.string();
  ASSERT_FALSE(run("BACKUP DATABASE [Sample] TO DISK = N'" + f + "' WITH INIT, NAME = 'one'").failed());
  ASSERT_FALSE(run("BACKUP DATABASE [model] TO DISK = N'" + f + "' WITH NAME = 'two'").failed());
  auto sets = standin::backup::readBackupFile(file, false).sets;
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_EQ(sets[1].info.backupName, "two");
  EXPECT_EQ(sets[1].info.position, 2u);
  const auto r = run("BACKUP DATABASE [msdb] TO DISK = N'" + f + "' WITH NOINIT, STATS = 50");
  EXPECT_NE(r.infos().at(2).text.find("on file 3."), std::string::npos);
  EXPECT_EQ(r.infos().at(0).text, "50 percent processed.");
  ASSERT_FALSE(run("BACKUP DATABASE [Sample] TO DISK = N'" + f + "' WITH INIT, NAME = 'fresh'").failed());
  sets = standin::backup::readBackupFile(file, false).sets;
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0].info.backupName, "fresh");
}

// ---------- a backup that fails keeps the earlier media ----------

namespace {

// While it lives, this process writes no file past `bytes`: a write beyond fails with EFBIG, as
// on a full disk, in the middle of the file.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(std::uintmax_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = static_cast<rlim_t>(bytes);
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_{};
  void (*previous_)(int) = nullptr;
};

std::string bytesOf(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> namesIn(const std::filesystem::path& dir) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(dir)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace

TEST_F(EngineTest, AnAppendThatFailsMidWriteLeavesTheEarlierSetsByteForByte) {
  const auto file = scratch("kept.bak");
  ASSERT_FALSE(
      run("BACKUP DATABASE [Sample] TO DISK = N'" + file.string() + "' WITH INIT, NAME = 'first'").failed());
  const std::string before = bytesOf(file);
  BatchResult r;
  {
    FileSizeLimit limit(before.size() + 1000);  // the appended set does not fit
    r = run("BACKUP DATABASE [Sample] TO DISK = N'" + file.string() + "' WITH NOINIT, NAME = 'second'");
  }
  EXPECT_EQ(numbers(r.errors()), (std::vector<int>{3202, 3013}));
  ASSERT_FALSE(r.errors().empty());
  EXPECT_EQ(r.errors()[0].text.rfind("Write on \"" + file.string() + "\" failed: ", 0), 0u)
      << r.errors()[0].text;
  EXPECT_FALSE(r.hasMessage(3014));
  EXPECT_TRUE(bytesOf(file) == before);
  EXPECT_EQ(namesIn(file.parent_path()), std::vector<std::string>{"kept.bak"});  // no temporary file behind
  EXPECT_EQ(standin::backup::readBackupFile(file, false).sets.size(), 1u);
}

TEST_F(EngineTest, AnOverwriteThatFailsMidWriteLeavesTheEarlierFileByteForByte) {
  const auto file = scratch("kept.bak");
  ASSERT_FALSE(run("BACKUP DATABASE [Sample] TO DISK = N'" + file.string() + "' WITH INIT").failed());
  ASSERT_FALSE(run("BACKUP DATABASE [msdb] TO DISK = N'" + file.string() + "' WITH NOINIT").failed());
  const std::string before = bytesOf(file);
  BatchResult r;
  {
    FileSizeLimit limit(2000);  // the new set is cut after its first 2000 bytes
    r = run(backupBatch("Sample", file.string(), false));
  }
  EXPECT_EQ(numbers(r.errors()), (std::vector<int>{3202, 3013}));
  EXPECT_TRUE(bytesOf(file) == before);
  EXPECT_EQ(namesIn(file.parent_path()), std::vector<std::string>{"kept.bak"});
  EXPECT_EQ(standin::backup::readBackupFile(file, false).sets.size(), 2u);
}

TEST_F(EngineTest, NoInitOntoMediaThatDoesNotReadBackIsRefusedAndKeepsTheEarlierSets) {
  const auto good = scratch("good.bak");
  ASSERT_FALSE(run("BACKUP DATABASE [Sample] TO DISK = N'" + good.string() + "' WITH INIT").failed());
  ASSERT_FALSE(run("BACKUP DATABASE [model] TO DISK = N'" + good.string() + "' WITH NOINIT").failed());
  const std::string bytes = bytesOf(good);
  std::string damaged = bytes;  // the later set's content no longer matches its checksum
  damaged[damaged.size() - 2000] = static_cast<char>(damaged[damaged.size() - 2000] ^ 0x5A);
  const std::string cut = bytes.substr(0, bytes.size() - 100);  // the later set ends early
  for (const auto& [name, content] : {std::pair{"damaged.bak", damaged}, std::pair{"cut.bak", cut}}) {
    const auto file = scratch(name);
    std::ofstream(file, std::ios::binary) << content;
    const auto r = run("BACKUP DATABASE [Sample] TO DISK = N'" + file.string() + "' WITH NOINIT");
    EXPECT_EQ(numbers(r.errors()), (std::vector<int>{3266, 3013})) << name;
    if (!r.errors().empty()) {
      EXPECT_EQ(r.errors()[0].text, "The backup data at the end of \"" + file.string() +
                                        "\" is incorrectly formatted. Backup sets on the media might be "
                                        "damaged and unusable. To determine "
                                        "the backup sets on the media, use RESTORE HEADERONLY. To determine "
                                        "the usability of the backup "
                                        "sets, run RESTORE VERIFYONLY. If all of the backup sets are "
                                        "incomplete, reformat the media using "
                                        "BACKUP WITH FORMAT, which destroys all the backup sets.");
    }
    EXPECT_FALSE(r.hasMessage(3014)) << name;
    EXPECT_TRUE(bytesOf(file) == content) << name;
    // INIT (or FORMAT) is how such media is written anew.
    EXPECT_FALSE(run("BACKUP DATABASE [Sample] TO DISK = N'" + file.string() + "' WITH FORMAT").failed());
    EXPECT_EQ(standin::backup::readBackupFile(file, false).sets.size(), 1u) << name;
  }
}

// ---------- verify of bad files ----------

TEST_F(EngineTest, VerifyOfAForeignFileIs3241) {
  const auto file = scratch("foreign.bak");
  std::ofstream(file) << "this is not a backup, just some text that happens to be long enough";
  const auto r = run("RESTORE VERIFYONLY FROM DISK = N'" + file.string() + "'");
  EXPECT_EQ(numbers(r.errors()), (std::vector<int>{3241, 3013}));
  EXPECT_EQ(r.errors()[1].text, "VERIFY DATABASE is terminating abnormally.");
  EXPECT_FALSE(r.hasMessage(3262));
}

TEST_F(EngineTest, VerifyOfADamagedOrCutFileFails) {
  const auto file = scratch("good.bak");
  ASSERT_FALSE(run("BACKUP DATABASE [Sample] TO DISK = N'" + file.string() + "' WITH INIT").failed());
  std::string bytes;
  {
    std::ifstream in(file, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  std::string damaged = bytes;
  damaged[damaged.size() - 2000] = static_cast<char>(damaged[damaged.size() - 2000] ^ 0x5A);
  std::ofstream(scratch("damaged.bak"), std::ios::binary) << damaged;
  std::ofstream(scratch("cut.bak"), std::ios::binary) << bytes.substr(0, bytes.size() / 2);
  const auto d = run("RESTORE VERIFYONLY FROM DISK = N'" + scratch("damaged.bak").string() + "'");
  EXPECT_EQ(numbers(d.errors()), (std::vector<int>{3189, 3013}));
  const auto c = run("RESTORE VERIFYONLY FROM DISK = N'" + scratch("cut.bak").string() + "'");
  EXPECT_EQ(numbers(c.errors()), (std::vector<int>{3203, 3013}));
  const auto missing = run("RESTORE VERIFYONLY FROM DISK = N'" + scratch("absent.bak").string() + "'");
  ASSERT_EQ(numbers(missing.errors()), (std::vector<int>{3201, 3013}));
  EXPECT_NE(
      missing.errors()[0].text.find("Operating system error 2(The system cannot find the file specified.)"),
      std::string::npos);
  // a damaged file restores nothing either
  const auto restore = run(restoreStatement("Sample", scratch("damaged.bak").string()));
  EXPECT_EQ(numbers(restore.errors()), (std::vector<int>{3189, 3013}));
  EXPECT_EQ(restore.errors()[1].text, "RESTORE DATABASE is terminating abnormally.");
}

// ---------- restore ----------

TEST_F(EngineTest, BackupModifyRestoreBringsTheDataBack) {
  const auto before = count("Sample", "Customers");
  ASSERT_GT(before, 0);
  const auto file = scratch("round.bak").string();
  ASSERT_FALSE(run(backupBatch("Sample", file, true)).failed());
  engine_->execute("Sample", "DELETE FROM Customers; INSERT INTO Customers VALUES (99, 'new', 'x')");
  ASSERT_EQ(count("Sample", "Customers"), 1);
  const auto r = run(restoreStatement("Sample", file));
  ASSERT_FALSE(r.failed()) << r.errors().front().text;
  EXPECT_EQ(count("Sample", "Customers"), before);
  EXPECT_EQ(numbers(r.infos()), (std::vector<int>{4035, 4035, 3014}));
  EXPECT_EQ(r.infos()[2].text.rfind("RESTORE DATABASE successfully processed ", 0), 0u);
  // and the data is readable through SQL afterwards
  auto reader = login("Sample");
  const auto rows = reader->executeBatch("SELECT Name FROM Customers WHERE CustomerID = 1").resultSets();
  EXPECT_EQ(standin::sql::valueToText(rows.at(0).rows.at(0).at(0)), "山田 太郎");
}

TEST_F(EngineTest, RestoreToANewNameCreatesTheDatabase) {
  const auto file = scratch("copy.bak").string();
  ASSERT_FALSE(run(backupBatch("Sample", file, false)).failed());
  ASSERT_FALSE(run(restoreStatement("SampleCopy", file)).failed());
  EXPECT_EQ(count("SampleCopy", "Customers"), count("Sample", "Customers"));
  EXPECT_EQ(engine_->databases().back(), "SampleCopy");
}

TEST_F(EngineTest, RestoreIsRefusedWhileAnotherSessionUsesTheDatabase) {
  const auto file = scratch("busy.bak").string();
  ASSERT_FALSE(run(backupBatch("Sample", file, false)).failed());
  engine_->execute("Sample", "DELETE FROM Orders");
  {
    auto user = login("Sample");
    const auto r = run(restoreStatement("Sample", file));
    EXPECT_EQ(numbers(r.errors()), (std::vector<int>{3101, 3013}));
    EXPECT_EQ(r.errors()[0].text, "Exclusive access could not be obtained because the database is in use.");
    EXPECT_EQ(r.errors()[1].text, "RESTORE DATABASE is terminating abnormally.");
    EXPECT_EQ(count("Sample", "Orders"), 0);
  }
  // Once that session has gone, the same restore succeeds.
  EXPECT_FALSE(run(restoreStatement("Sample", file)).failed());
  EXPECT_GT(count("Sample", "Orders"), 0);
  // The restoring session itself counts as a user when it sits in the database.
  run("USE Sample");
  EXPECT_TRUE(run(restoreStatement("Sample", file)).hasMessage(3101));
}

TEST_F(EngineTest, RestoreIsRefusedWhileASessionUsesTheDatabaseThroughAThreePartName) {
  const auto file = scratch("three.bak").string();
  ASSERT_FALSE(run(backupBatch("Sample", file, false)).failed());
  auto other = login();  // sits in master
  ASSERT_FALSE(
      other->executeBatch("BEGIN TRANSACTION INSERT INTO Sample.dbo.Customers VALUES (500, N'open', NULL)")
          .failed());
  const std::filesystem::path journal = engine_->databaseFile("Sample")->string() + "-journal";
  ASSERT_TRUE(std::filesystem::exists(journal));
  const auto r = run(restoreStatement("Sample", file));
  EXPECT_EQ(numbers(r.errors()), (std::vector<int>{3101, 3013}));
  EXPECT_TRUE(std::filesystem::exists(journal)) << "the open transaction keeps its journal";
  const auto commit = other->executeBatch("COMMIT TRANSACTION");
  EXPECT_FALSE(commit.failed()) << (commit.errors().empty() ? "" : commit.errors()[0].text);
  EXPECT_EQ(
      std::stoll(*engine_->query("Sample", "SELECT COUNT(*) FROM Customers WHERE CustomerID = 500")[0][0]),
      1);
  // The transaction over, the database is free again: the same restore goes ahead.
  const auto again = run(restoreStatement("Sample", file));
  EXPECT_FALSE(again.failed()) << (again.errors().empty() ? "" : again.errors()[0].text);
  EXPECT_EQ(count("Sample", "Customers"), 4);
  // A statement through db..table outside a transaction holds the database only while it runs.
  EXPECT_FALSE(other->executeBatch("SELECT COUNT(*) FROM Sample..Customers").failed());
  EXPECT_FALSE(run(restoreStatement("Sample", file)).failed());
}

// ---------- a restore that does not finish leaves the database as it was ----------

TEST_F(EngineTest, ARestoreThatFailsMidWriteLeavesTheDatabaseAsItWas) {
  const auto file = scratch("r.bak").string();
  ASSERT_FALSE(run(backupBatch("Sample", file, false)).failed());
  engine_->execute("Sample", "DELETE FROM Orders");
  const auto data = engine_->dataDir();
  const auto namesBefore = namesIn(data);
  const auto databasesBefore = engine_->databases();
  const auto limit = std::filesystem::file_size(*engine_->databaseFile("Sample")) / 2;
  for (const std::string target : {"Sample", "Fresh"}) {
    BatchResult r;
    {
      FileSizeLimit cut(limit);
      r = run(restoreStatement(target, file));
    }
    EXPECT_TRUE(r.failed()) << target;
    EXPECT_FALSE(r.hasMessage(3014)) << target;
    if (!r.errors().empty()) {
      EXPECT_EQ(r.errors().back().number, 3013) << target;
    }
    EXPECT_EQ(count("Sample", "Orders"), 0) << target;
    EXPECT_EQ(engine_->databases(), databasesBefore) << target << ": a new name is not left behind";
    EXPECT_EQ(namesIn(data), namesBefore) << target << ": no temporary file either";
  }
  // The same restore without the limit goes through.
  EXPECT_FALSE(run(restoreStatement("Sample", file)).failed());
  EXPECT_GT(count("Sample", "Orders"), 0);
}

TEST_F(EngineTest, ARestoreCutOffAtAnyPointLeavesTheDatabaseAsItWasOrRestoredWhole) {
  const auto file = scratch("r.bak").string();
  ASSERT_FALSE(run(backupBatch("Sample", file, false)).failed());
  const auto data = engine_->dataDir();
  for (const std::string target : {"Sample", "Fresh"}) {
    bool finished = false;
    for (int stopAt = 1; !finished && stopAt < 50; ++stopAt) {
      engine_->execute("Sample", "DELETE FROM Orders");
      const auto namesBefore = namesIn(data);
      const auto databasesBefore = engine_->databases();
      int checks = 0;
      // The client goes away at the stopAt-th time the restore asks whether it is still there.
      const auto r =
          session_->executeBatch(restoreStatement(target, file), [&] { return ++checks >= stopAt; });
      finished = !r.cancelled;
      if (finished) {
        EXPECT_FALSE(r.failed()) << target;
        EXPECT_GT(count(target, "Orders"), 0) << target;
      } else {
        EXPECT_EQ(count("Sample", "Orders"), 0) << target << " cut at " << stopAt;
        EXPECT_EQ(engine_->databases(), databasesBefore) << target << " cut at " << stopAt;
        EXPECT_EQ(namesIn(data), namesBefore) << target << " cut at " << stopAt;
      }
    }
    EXPECT_TRUE(finished) << target;
  }
}

TEST_F(EngineTest, AJournalLeftByACrashedWriterNeverReachesTheRestoredDatabase) {
  const auto file = scratch("r.bak").string();
  ASSERT_FALSE(run(backupBatch("Sample", file, false)).failed());
  const auto db = *engine_->databaseFile("Sample");
  engine_->execute("Sample",
                   "CREATE TABLE Filler (x TEXT); WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
                   "FROM n WHERE i < 400) INSERT INTO Filler SELECT printf('%0200d', i) FROM n;");
  // A writer that dies in the middle of its transaction, with pages already in the file.
  const pid_t child = ::fork();
  if (child == 0) {
    sqlite3* raw = nullptr;
    sqlite3_open(db.c_str(), &raw);
    sqlite3_exec(raw, "PRAGMA cache_size = 1; BEGIN; UPDATE Filler SET x = upper(x) || 'changed';", nullptr,
                 nullptr, nullptr);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(std::filesystem::exists(db.string() + "-journal"));
  const auto r = run(restoreStatement("Sample", file));
  ASSERT_FALSE(r.failed()) << r.errors().front().text;
  EXPECT_FALSE(std::filesystem::exists(db.string() + "-journal"));
  EXPECT_EQ(engine_->query("Sample", "PRAGMA integrity_check")[0][0].value_or(""), "ok");
  EXPECT_EQ(count("Sample", "Customers"), 4);
  EXPECT_TRUE(engine_->query("Sample", "SELECT name FROM sqlite_master WHERE name = 'Filler'").empty());
}

TEST_F(EngineTest, RestoreWithoutReplaceRefusesABackupOfAnotherDatabase) {
  const auto file = scratch("model.bak").string();
  ASSERT_FALSE(run("BACKUP DATABASE model TO DISK = '" + file + "'").failed());
  const auto r = run("RESTORE DATABASE Sample FROM DISK = '" + file + "'");
  EXPECT_EQ(numbers(r.errors()), (std::vector<int>{3154, 3013}));
  EXPECT_GT(count("Sample", "Customers"), 0);
}

TEST_F(EngineTest, HeaderOnlyListsTheBackupSets) {
  const auto file = scratch("h.bak").string();
  ASSERT_FALSE(run(backupBatch("Sample", file, false)).failed());
  const auto sets = run("RESTORE HEADERONLY FROM DISK = N'" + file + "'").resultSets();
  ASSERT_EQ(sets.size(), 1u);
  const auto& rs = sets[0];
  ASSERT_EQ(rs.rows.size(), 1u);
  EXPECT_EQ(standin::sql::valueToText(rs.rows[0][static_cast<std::size_t>(rs.columnIndex("BackupName"))]),
            "Brackenvale_" + today());
  EXPECT_EQ(standin::sql::valueToText(rs.rows[0][static_cast<std::size_t>(rs.columnIndex("DatabaseName"))]),
            "Sample");
}

// ---------- log truncation and shrink ----------

TEST_F(EngineTest, ShrinkVacuumsTheFileAndReportsLikeDbcc) {
  engine_->execute(
      "Sample",
      "CREATE TABLE Bulk (x TEXT); WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
      "WHERE i < 3000) INSERT INTO Bulk SELECT printf('%0500d', i) FROM n; DELETE FROM Bulk;");
  const auto file = *engine_->databaseFile("Sample");
  const auto before = std::filesystem::file_size(file);
  ASSERT_FALSE(run(truncateLogStatement("Sample")).failed());
  const auto r = run(shrinkStatement("Sample"));
  ASSERT_FALSE(r.failed()) << r.errors().front().text;
  EXPECT_LT(std::filesystem::file_size(file), before / 4);
  const auto sets = r.resultSets();
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0].columns.size(), 6u);
  EXPECT_EQ(sets[0].columns[0].name, "DbId");
  EXPECT_EQ(standin::sql::valueToText(sets[0].rows[0][0]), "5");
  const auto* done = find(r, 2528);
  ASSERT_NE(done, nullptr);
  EXPECT_EQ(done->text,
            "DBCC execution completed. If DBCC printed error messages, contact your system administrator.");
  EXPECT_EQ(count("Sample", "Customers"), 4);
}

TEST_F(EngineTest, ShrinkOfAMissingDatabaseFails) {
  const auto r = run(shrinkStatement("Gone"));
  ASSERT_TRUE(r.failed());
  EXPECT_EQ(r.errors()[0].number, 911);
}

class TruncateOnly : public ::testing::TestWithParam<int> {};

TEST_P(TruncateOnly, IsAcceptedUpTo2005AndRefusedFrom2008) {
  bvtest::TempDir dir("bv-engine");
  standin::engine::EngineConfig c;
  c.dataDir = dir.path();
  c.recordFile = bvtest::nextRecordingFile();
  c.saPassword = "pw";
  c.serverVersion = GetParam();
  standin::engine::Engine engine(c);
  auto s = engine.login({"sa", "pw", "", "", "", "", false}).session;
  const auto r = s->executeBatch(truncateLogStatement("Sample"));
  if (GetParam() <= 2005) {
    EXPECT_FALSE(r.failed());
  } else {
    ASSERT_EQ(r.errors().size(), 1u);
    EXPECT_EQ(r.errors()[0].number, 155);
    EXPECT_EQ(r.errors()[0].severity, 15);
    EXPECT_EQ(r.errors()[0].text, "'TRUNCATE_ONLY' is not a recognized BACKUP option.");
  }
  // A missing database is refused the same way on every release that knows the option.
  if (GetParam() <= 2005) {
    const auto missing = s->executeBatch(truncateLogStatement("Gone"));
    EXPECT_EQ(numbers(missing.errors()), (std::vector<int>{911, 3013}));
    EXPECT_EQ(missing.errors()[1].text, "BACKUP LOG is terminating abnormally.");
  }
}

INSTANTIATE_TEST_SUITE_P(Releases, TruncateOnly, ::testing::Values(2000, 2005, 2008, 2012));
