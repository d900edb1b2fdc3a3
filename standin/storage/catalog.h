// The data folder: one SQLite file per database, its log file beside it (or wherever a restore
// put them), as master's catalogue lists them; the logins of syslogins; which databases sessions
// are using or a restore holds; and each database's recovery model and transaction log.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "standin/sql/value.h"
#include "standin/storage/sqlite_db.h"

namespace standin::storage {

// Name of a sample database created on the first start.
inline constexpr const char* kSampleDatabase = "Sample";

// sys.databases.recovery_model: 1 FULL, 2 BULK_LOGGED, 3 SIMPLE.
enum class RecoveryModel { Full = 1, BulkLogged = 2, Simple = 3 };
const char* recoveryModelName(RecoveryModel model);  // "FULL", "BULK_LOGGED", "SIMPLE"

// sys.databases.state: ONLINE, or RESTORING between a restore WITH NORECOVERY and the one that
// recovers the database.
enum class DatabaseState { Online = 0, Restoring = 1 };

// sys.databases.log_reuse_wait: why the log's space cannot be reused yet.
enum class LogReuseWait {
  Nothing = 0,
  Checkpoint = 1,
  LogBackup = 2,
  ActiveBackupOrRestore = 3,
  ActiveTransaction = 4
};
const char* logReuseWaitName(LogReuseWait wait);  // "NOTHING", "CHECKPOINT", ...

// A database's transaction log as the stand-in keeps it: log sequence numbers counted by the
// changes made, the points up to which the log may be reused, and the log file's size. SQLite
// has a journal of its own; this log is what SQL Server's would say, for the statements that
// read it (log_reuse_wait, BACKUP LOG, the log file's size).
struct LogState {
  std::uint64_t lsn = 0;            // the next log sequence number
  std::uint64_t checkpointLsn = 0;  // of the last checkpoint
  std::uint64_t logBackupLsn = 0;   // up to which the log was backed up (FULL, BULK_LOGGED)
  std::uint64_t fullBackupLsn = 0;  // of the last full backup; 0 before one
  bool logChain = false;            // a full backup begins the chain BACKUP LOG continues
  std::uint64_t fileBytes = 0;      // the log file's size
  std::uint64_t minimumBytes = 0;   // the size it was created with: a shrink goes no lower
  // While restoring: the LSN the restored sets have brought the database to, and the full
  // backup a differential must build on.
  std::uint64_t restoreLsn = 0;
  std::uint64_t restoreBaseLsn = 0;
  // The server's time the restored sets have brought the data to (kept while the server runs).
  sql::DateTime restoredTo;
};

struct DbEntry {
  std::string name;
  int id = 0;
  std::filesystem::path file;     // the data file: the database's SQLite file
  std::filesystem::path logFile;  // the log file
  std::string dataName;           // logical names of the files
  std::string logName;
  std::string familyGuid;                    // the database's identity from a restore; empty: its own
  std::string collation = "Japanese_CI_AS";  // its text columns' (CREATE DATABASE ... COLLATE)
  sql::DateTime created;
  RecoveryModel recovery = RecoveryModel::Simple;
  DatabaseState state = DatabaseState::Online;
  LogState log;
  int users = 0;
  bool exclusive = false;                   // being restored or dropped
  int copies = 0;                           // backups and restores reading or writing it now
  std::set<int> openTransactions;           // sessions whose open transaction wrote to it
  std::uint64_t oldestOpenTransaction = 0;  // the first LSN of the oldest of them
};

struct Login {
  std::string name;
  // A password hash (base/password_hash.h); an earlier version kept the plain text here, which
  // the engine replaces at start.
  std::optional<std::string> storedPassword;
  std::string defaultDatabase;
};

// A change committed to a database while its log is kept for log backups: a SQLite changeset of
// the rows, or a mark for a change no changeset holds (of a table's definition, or of rows of a
// table without a primary key), which a restore cannot stop after.
struct LoggedChange {
  std::uint64_t lsn = 0;  // the log's number once it was written
  sql::DateTime committed;
  bool unreplayable = false;
  std::string changeset;
};

// The changes a log backup holds, and the LSN from which they are all there: a stand-in that
// restarts keeps the log's numbers but not the changes before it.
struct LoggedChanges {
  std::uint64_t completeFromLsn = 0;
  std::vector<LoggedChange> changes;
};

// Bytes of log a change of one row writes, and a change of a table's definition.
inline constexpr std::uint64_t kLogBytesPerRow = 512;
inline constexpr std::uint64_t kLogBytesPerDefinition = 4096;

// What a new database is made of.
struct NewDatabase {
  std::string name;
  std::optional<std::filesystem::path> file;     // default: a file of the name's own in the data folder
  std::optional<std::filesystem::path> logFile;  // default: NAME_log.ldf beside the data file
  std::optional<std::string> dataName;           // default: the release's own logical names
  std::optional<std::string> logName;
  std::optional<std::string> collation;  // default: the server's
  bool exclusive = false;                // held as a restore holds it, until endExclusive
  bool restoring = false;                // a restore's: no files are made, the restore writes them
};

class Catalog {
 public:
  ~Catalog();

  // Opens the data folder, creating it, master's tables and the system databases (and the
  // sample database when asked) on the first start; tempdb starts empty every time. The folder
  // and everything in it are made the owner's only (folders 0700, files 0600). `year` is the
  // emulated release, whose messages and file names the catalogue uses; `simpleModel` whether
  // model is installed with the SIMPLE recovery model (Express, the Desktop Engine) rather than
  // FULL. Throws on failure.
  void open(const std::filesystem::path& dataDir, int year, bool createSample, bool simpleModel = false);
  // The server's clock, for the dates the catalogue records (a database's creation).
  void setClock(std::function<sql::DateTime()> clock);

  const std::filesystem::path& dataDir() const { return dataDir_; }
  const std::filesystem::path& backupDir() const { return backupDir_; }
  // A backup file name as a statement gives it: relative names live in DATA/Backup.
  std::filesystem::path resolveBackupPath(const std::string& text) const;
  // Logical file names as SQL Server makes them for a new database.
  std::string dataFileName(const std::string& db) const;
  std::string logFileName(const std::string& db) const;

  // Databases in catalogue order: master, tempdb, model, msdb, then user databases (copies).
  std::vector<DbEntry> databases() const;
  std::optional<DbEntry> find(const std::string& name) const;
  std::optional<DbEntry> findById(int id) const;
  // The database one of whose files (data or log) is at `path`, if any.
  std::optional<DbEntry> findByFile(const std::filesystem::path& path) const;

  enum class Acquire { Ok, Missing, Restoring };
  // Marks one more user of a database; gives its canonical name and file. A database being
  // restored, or left RESTORING, is refused.
  Acquire acquire(const std::string& name, std::string& canonical, std::filesystem::path& file);
  void release(const std::string& name);
  enum class Exclusive { Ok, Missing, InUse };
  // A client that has just disconnected may not have released its database yet: waits up to
  // `patience` for the other users to go.
  Exclusive beginExclusive(const std::string& name,
                           std::chrono::milliseconds patience = std::chrono::milliseconds(0));
  void endExclusive(const std::string& name);

  // Adds a database: its data file made from model's content (or empty), its log file beside it
  // or where asked; it takes model's recovery model. Throws sql::SqlError.
  DbEntry createDatabase(const NewDatabase& database);
  DbEntry createDatabase(const std::string& name, bool exclusive);
  // Removes a database and its data and log files wherever they are. Must hold exclusive access.
  void dropDatabase(const std::string& name);
  // Removes a database from the catalogue only (a restore to a new name that did not finish:
  // it wrote no files, and a file at its places is not its to remove).
  void forgetDatabase(const std::string& name);
  // After a restore: the database's files, logical names, creation date, recovery model, state
  // and log as the backup set and the restore make them.
  void restored(const DbEntry& entry);
  void setState(const std::string& name, DatabaseState state);

  // ---- the recovery model and the log ----
  void setRecoveryModel(const std::string& name, RecoveryModel model);
  // Changes written to a database: `rows` rows, and `definitions` changes of tables' definitions.
  // `session` is the session whose open transaction wrote them (0 outside a transaction).
  void logChanges(const std::string& name, std::uint64_t rows, std::uint64_t definitions, int session);
  // A committed change of rows (a changeset) or an unreplayable one, at the server's time now; kept only
  // while the database is in FULL or BULK_LOGGED with its log chain begun.
  void changeCommitted(const std::string& name, std::string changeset, bool unreplayable);
  // The kept changes after `fromLsn` up to `toLsn`, for a log backup.
  LoggedChanges loggedChanges(const std::string& name, std::uint64_t fromLsn, std::uint64_t toLsn) const;
  // A session's transaction has ended: it holds no database's log any more.
  void transactionEnded(int session);
  void checkpoint(const std::string& name);
  // A full backup of the database was taken as of `lsn` (it begins the log chain in FULL and
  // BULK_LOGGED, unless copy-only).
  void fullBackupTaken(const std::string& name, std::uint64_t lsn, bool copyOnly);
  // A differential backup at `lsn`: after a switch from SIMPLE it begins the log chain again.
  void differentialTaken(const std::string& name, std::uint64_t lsn);
  // The log up to `lsn` is backed up (and, unless copy-only, may be reused).
  void logBackedUp(const std::string& name, std::uint64_t lsn, bool copyOnly);
  // BACKUP LOG WITH TRUNCATE_ONLY: the log is emptied and the chain broken.
  void logTruncated(const std::string& name);
  // A backup or restore reading or writing the database is running (log_reuse_wait 3).
  void copyStarted(const std::string& name);
  void copyEnded(const std::string& name);
  LogReuseWait logReuseWait(const DbEntry& entry) const;
  // The bytes of the log in use (the active log).
  std::uint64_t logUsedBytes(const DbEntry& entry) const;
  // DBCC SHRINKDATABASE: the log file goes back to its first size when nothing holds it; false
  // when something does (the file keeps its size).
  bool shrinkLog(const std::string& name);

  std::optional<Login> findLogin(const std::string& name) const;
  // Creates the login or changes its password, given as a password hash.
  void setPasswordHash(const std::string& login, const std::string& hash);
  // Rewrites master so that nothing deleted or overwritten in it can be read from the file.
  void eraseFreedContent();

 private:
  void createSystemDatabases(bool createSample);
  void upgradeCatalogTable();
  void loadCatalog();
  void saveEntry(const DbEntry& e);              // under mutex_
  void sizeLogFile(DbEntry& e);                  // under mutex_: the log file as large as its use needs
  DbEntry* entryNamed(const std::string& name);  // under mutex_
  std::uint64_t initialLogBytes() const;
  sql::DateTime now() const;

  std::filesystem::path dataDir_;
  std::filesystem::path backupDir_;
  int year_ = 2005;
  bool simpleModel_ = false;
  std::function<sql::DateTime()> clock_;
  mutable std::mutex mutex_;        // guards dbs_ and master_
  std::vector<DbEntry> dbs_;        // by id
  // Per database id: the committed changes not yet backed up (not in DbEntry, which is copied).
  std::map<int, LoggedChanges> changes_;
  std::optional<Database> master_;  // master, for the catalogue and syslogins
};

// One user of a database while it is some session's current database. The catalogue outlives
// every lease (sessions hold the server that holds it).
class DbLease {
 public:
  DbLease(Catalog& catalog, std::string name, std::filesystem::path file)
      : catalog_(catalog), name_(std::move(name)), file_(std::move(file)) {}
  ~DbLease() { catalog_.release(name_); }
  DbLease(const DbLease&) = delete;
  DbLease& operator=(const DbLease&) = delete;
  const std::string& name() const { return name_; }
  const std::filesystem::path& file() const { return file_; }

 private:
  Catalog& catalog_;
  std::string name_;
  std::filesystem::path file_;
};

// Exclusive access to a database for the length of a restore or drop.
class ExclusiveGuard {
 public:
  ExclusiveGuard(Catalog& catalog, std::string name) : catalog_(catalog), name_(std::move(name)) {}
  ~ExclusiveGuard() { catalog_.endExclusive(name_); }
  ExclusiveGuard(const ExclusiveGuard&) = delete;
  ExclusiveGuard& operator=(const ExclusiveGuard&) = delete;

 private:
  Catalog& catalog_;
  std::string name_;
};

// A backup or restore copying a database, for log_reuse_wait (ACTIVE_BACKUP_OR_RESTORE).
class CopyGuard {
 public:
  CopyGuard(Catalog& catalog, std::string name) : catalog_(catalog), name_(std::move(name)) {
    catalog_.copyStarted(name_);
  }
  ~CopyGuard() { catalog_.copyEnded(name_); }
  CopyGuard(const CopyGuard&) = delete;
  CopyGuard& operator=(const CopyGuard&) = delete;

 private:
  Catalog& catalog_;
  std::string name_;
};

}  // namespace standin::storage
