// The data folder: one SQLite file per database as master's sysdatabases lists them, the
// logins of syslogins, and which databases sessions are using or a restore holds.
#pragma once

#include <chrono>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "standin/sql/value.h"
#include "standin/storage/sqlite_db.h"

namespace standin::storage {

// Name of a sample database created on the first start.
inline constexpr const char* kSampleDatabase = "Sample";

struct DbEntry {
  std::string name;
  int id = 0;
  std::filesystem::path file;
  sql::DateTime created;
  int users = 0;
  bool exclusive = false;  // being restored or dropped
};

struct Login {
  std::string name;
  // A password hash (base/password_hash.h); an earlier version kept the plain text here, which
  // the engine replaces at start.
  std::optional<std::string> storedPassword;
  std::string defaultDatabase;
};

class Catalog {
 public:
  // Opens the data folder, creating it, master's tables and the system databases (and the
  // sample database when asked) on the first start; tempdb starts empty every time. The folder
  // and everything in it are made the owner's only (folders 0700, files 0600). `year` is the
  // emulated release, whose messages and file names the catalogue uses. Throws on failure.
  void open(const std::filesystem::path& dataDir, int year, bool createSample);

  const std::filesystem::path& dataDir() const { return dataDir_; }
  // A backup file name as a statement gives it: relative names live in DATA/Backup.
  std::filesystem::path resolveBackupPath(const std::string& text) const;
  // Logical file names as SQL Server makes them.
  std::string dataFileName(const std::string& db) const;
  std::string logFileName(const std::string& db) const;

  // Databases in catalogue order: master, tempdb, model, msdb, then user databases (copies).
  std::vector<DbEntry> databases() const;
  std::optional<DbEntry> find(const std::string& name) const;
  std::optional<DbEntry> findById(int id) const;

  enum class Acquire { Ok, Missing, Restoring };
  // Marks one more user of a database; gives its canonical name and file.
  Acquire acquire(const std::string& name, std::string& canonical, std::filesystem::path& file);
  void release(const std::string& name);
  enum class Exclusive { Ok, Missing, InUse };
  // A client that has just disconnected may not have released its database yet: waits up to
  // `patience` for the other users to go.
  Exclusive beginExclusive(const std::string& name,
                           std::chrono::milliseconds patience = std::chrono::milliseconds(0));
  void endExclusive(const std::string& name);

  // Adds a database (file created from model's content, or empty); throws sql::SqlError.
  DbEntry createDatabase(const std::string& name, bool exclusive);
  void dropDatabase(const std::string& name);  // must hold exclusive access

  std::optional<Login> findLogin(const std::string& name) const;
  // Creates the login or changes its password, given as a password hash.
  void setPasswordHash(const std::string& login, const std::string& hash);
  // Rewrites master so that nothing deleted or overwritten in it can be read from the file.
  void eraseFreedContent();

 private:
  void createSystemDatabases(bool createSample);
  void loadCatalog();

  std::filesystem::path dataDir_;
  std::filesystem::path backupDir_;
  int year_ = 2005;
  mutable std::mutex mutex_;        // guards dbs_ and master_
  std::vector<DbEntry> dbs_;        // by id
  std::optional<Database> master_;  // master, for sysdatabases / syslogins
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

}  // namespace standin::storage
