#include "standin/storage/catalog.h"

#include <algorithm>
#include <stdexcept>
#include <thread>

#include "standin/base/private_files.h"
#include "standin/base/text.h"
#include "standin/sql/errors.h"

namespace standin::storage {

using base::equalsIgnoreCase;
using base::utf16Length;
using sql::DateTime;
using sql::SqlError;

namespace {

constexpr const char* kSystemDatabases[] = {"master", "tempdb", "model", "msdb"};

std::string safeFileStem(const std::string& name) {
  std::string out;
  for (const char c : name) {
    const bool ok =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
    out.push_back(ok ? c : '_');
  }
  return out.empty() ? std::string("db") : out;
}

void createEmptyDatabaseFile(const std::filesystem::path& file) {
  std::error_code ec;
  std::filesystem::remove(file, ec);
  // A journal left beside the old file would be rolled back into the new one.
  std::filesystem::remove(file.string() + "-journal", ec);
  auto db = Database::open(file, true);
  db.exec("PRAGMA user_version = 1");
}

void createSampleDatabase(const std::filesystem::path& file) {
  createEmptyDatabaseFile(file);
  auto db = Database::open(file, false);
  db.exec(
      "BEGIN;"
      "CREATE TABLE Customers (CustomerID INT PRIMARY KEY, Name NVARCHAR(50) NOT NULL, City NVARCHAR(50));"
      "INSERT INTO Customers VALUES (1, '山田 太郎', '東京'), (2, '佐藤 花子', '大阪'), (3, 'Brackenvale "
      "Ltd', 'Sapporo'),"
      " (4, '鈴木 一郎', '名古屋');"
      "CREATE TABLE Products (ProductID INT PRIMARY KEY, Name NVARCHAR(50) NOT NULL, Price FLOAT NOT NULL);"
      "INSERT INTO Products VALUES (1, 'ノート', 120.0), (2, 'ボールペン', 80.5), (3, 'Stapler', 450.0);"
      "CREATE TABLE Orders (OrderID INT PRIMARY KEY, CustomerID INT NOT NULL, ProductID INT NOT NULL,"
      " Quantity INT NOT NULL, OrderDate DATETIME NOT NULL);"
      "INSERT INTO Orders VALUES (1, 1, 1, 10, '2008-01-15 10:30:00.000'), (2, 2, 2, 5, '2008-02-01 "
      "09:00:00.000'),"
      " (3, 1, 3, 1, '2008-02-20 14:45:00.000'), (4, 3, 1, 200, '2008-03-03 16:10:00.000'),"
      " (5, 4, 2, 12, '2008-03-10 11:05:00.000');"
      "COMMIT;");
}

}  // namespace

void Catalog::open(const std::filesystem::path& dataDir, int year, bool createSample) {
  dataDir_ = dataDir;
  year_ = year;
  try {
    // The owner's only, also when an earlier version left the folder and its files open.
    base::makePrivateFolder(dataDir_);
    base::makeTreePrivate(dataDir_);
    backupDir_ = dataDir_ / "Backup";
    base::makePrivateFolder(backupDir_);
  } catch (const std::filesystem::filesystem_error& e) {
    throw std::runtime_error("cannot use the data folder " + dataDir_.string() + ": " + e.code().message());
  }
  const auto masterFile = dataDir_ / "master.sqlite";
  const bool firstStart = !std::filesystem::exists(masterFile);
  master_.emplace(Database::open(masterFile, true));
  // What master deletes or overwrites (a password hash replacing plain text) is zeroed in the file.
  master_->exec("PRAGMA secure_delete = ON");
  if (firstStart) {
    createSystemDatabases(createSample);
  }
  loadCatalog();
  // tempdb starts empty on every start, as it does on SQL Server.
  if (auto t = find("tempdb")) createEmptyDatabaseFile(t->file);
  for (const auto& d : dbs_) {
    if (!std::filesystem::exists(d.file)) createEmptyDatabaseFile(d.file);
  }
}

void Catalog::createSystemDatabases(bool createSample) {
  auto& m = *master_;
  m.exec(
      "CREATE TABLE IF NOT EXISTS sysdatabases (dbid INTEGER PRIMARY KEY, name NVARCHAR(128) NOT NULL UNIQUE "
      "COLLATE NOCASE, filename NVARCHAR(260) NOT NULL, crdate DATETIME NOT NULL);"
      "CREATE TABLE IF NOT EXISTS syslogins (name NVARCHAR(128) PRIMARY KEY COLLATE NOCASE, password "
      "NVARCHAR(128), dbname NVARCHAR(128) NOT NULL);");
  const std::string now = DateTime::now().iso();
  int id = 1;
  for (const char* name : kSystemDatabases) {
    const auto file = dataDir_ / (std::string(name) + ".sqlite");
    Statement st(m.get(), "INSERT INTO sysdatabases (dbid, name, filename, crdate) VALUES (?, ?, ?, ?)");
    st.bindInt(1, id++);
    st.bindText(2, name);
    st.bindText(3, file.filename().string());
    st.bindText(4, now);
    st.step();
    if (std::string(name) != "master") createEmptyDatabaseFile(file);
  }
  {
    Statement st(m.get(), "INSERT INTO syslogins (name, password, dbname) VALUES ('sa', NULL, 'master')");
    st.step();
  }
  if (createSample) {
    const auto file = dataDir_ / (std::string(kSampleDatabase) + ".sqlite");
    createSampleDatabase(file);
    Statement st(m.get(), "INSERT INTO sysdatabases (dbid, name, filename, crdate) VALUES (5, ?, ?, ?)");
    st.bindText(1, kSampleDatabase);
    st.bindText(2, file.filename().string());
    st.bindText(3, now);
    st.step();
  }
}

void Catalog::loadCatalog() {
  dbs_.clear();
  Statement st(master_->get(), "SELECT dbid, name, filename, crdate FROM sysdatabases ORDER BY dbid");
  while (st.step()) {
    DbEntry e;
    e.id = static_cast<int>(st.integer(0));
    e.name = st.text(1);
    e.file = dataDir_ / st.text(2);
    e.created = DateTime::parse(st.text(3)).value_or(DateTime{});
    dbs_.push_back(std::move(e));
  }
}

std::string Catalog::dataFileName(const std::string& db) const { return year_ == 2000 ? db + "_Data" : db; }

std::string Catalog::logFileName(const std::string& db) const {
  return year_ == 2000 ? db + "_Log" : db + "_log";
}

std::optional<DbEntry> Catalog::find(const std::string& name) const {
  std::lock_guard lock(mutex_);
  for (const auto& d : dbs_)
    if (equalsIgnoreCase(d.name, name)) return d;
  return std::nullopt;
}

std::optional<DbEntry> Catalog::findById(int id) const {
  std::lock_guard lock(mutex_);
  for (const auto& d : dbs_)
    if (d.id == id) return d;
  return std::nullopt;
}

Catalog::Acquire Catalog::acquire(const std::string& name, std::string& canonical,
                                  std::filesystem::path& file) {
  std::lock_guard lock(mutex_);
  for (auto& d : dbs_) {
    if (!equalsIgnoreCase(d.name, name)) continue;
    if (d.exclusive) return Acquire::Restoring;
    ++d.users;
    canonical = d.name;
    file = d.file;
    return Acquire::Ok;
  }
  return Acquire::Missing;
}

void Catalog::release(const std::string& name) {
  std::lock_guard lock(mutex_);
  for (auto& d : dbs_)
    if (equalsIgnoreCase(d.name, name) && d.users > 0) {
      --d.users;
      return;
    }
}

Catalog::Exclusive Catalog::beginExclusive(const std::string& name, std::chrono::milliseconds patience) {
  const auto until = std::chrono::steady_clock::now() + patience;
  while (true) {
    {
      std::lock_guard lock(mutex_);
      bool found = false;
      for (auto& d : dbs_) {
        if (!equalsIgnoreCase(d.name, name)) continue;
        found = true;
        if (d.users == 0 && !d.exclusive) {
          d.exclusive = true;
          return Exclusive::Ok;
        }
      }
      if (!found) return Exclusive::Missing;
    }
    if (std::chrono::steady_clock::now() >= until) return Exclusive::InUse;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void Catalog::endExclusive(const std::string& name) {
  std::lock_guard lock(mutex_);
  for (auto& d : dbs_)
    if (equalsIgnoreCase(d.name, name)) d.exclusive = false;
}

DbEntry Catalog::createDatabase(const std::string& name, bool exclusive) {
  if (name.empty() || utf16Length(name) > 128)
    throw SqlError(102, 15, "Incorrect syntax near '" + name + "'.");
  std::lock_guard lock(mutex_);
  for (const auto& d : dbs_)
    if (equalsIgnoreCase(d.name, name)) {
      const std::string text =
          year_ == 2000 ? "Database '" + d.name + "' already exists."
                        : "Database '" + d.name + "' already exists. Choose a different database name.";
      throw SqlError(1801, 16, text);
    }
  int id = 5;
  for (const auto& d : dbs_) id = std::max(id, d.id + 1);
  std::string stem = safeFileStem(name);
  if (stem != name) stem += "_" + std::to_string(id);
  std::filesystem::path file = dataDir_ / (stem + ".sqlite");
  for (int k = 2; std::filesystem::exists(file); ++k)
    file = dataDir_ / (stem + "_" + std::to_string(k) + ".sqlite");
  // A new database starts as a copy of model.
  std::optional<std::string> modelContent;
  for (const auto& d : dbs_)
    if (d.name == "model") modelContent = base::readWholeFile(d.file);
  if (!modelContent || base::replaceFileContent(file, *modelContent) != 0) createEmptyDatabaseFile(file);
  DbEntry e;
  e.name = name;
  e.id = id;
  e.file = file;
  e.created = DateTime::now();
  e.exclusive = exclusive;
  Statement st(master_->get(), "INSERT INTO sysdatabases (dbid, name, filename, crdate) VALUES (?, ?, ?, ?)");
  st.bindInt(1, id);
  st.bindText(2, name);
  st.bindText(3, file.filename().string());
  st.bindText(4, e.created.iso());
  st.step();
  dbs_.push_back(e);
  return e;
}

void Catalog::dropDatabase(const std::string& name) {
  std::lock_guard lock(mutex_);
  for (auto it = dbs_.begin(); it != dbs_.end(); ++it) {
    if (!equalsIgnoreCase(it->name, name)) continue;
    Statement st(master_->get(), "DELETE FROM sysdatabases WHERE dbid = ?");
    st.bindInt(1, it->id);
    st.step();
    std::error_code ec;
    std::filesystem::remove(it->file, ec);
    std::filesystem::remove(it->file.string() + "-journal", ec);
    dbs_.erase(it);
    return;
  }
}

std::filesystem::path Catalog::resolveBackupPath(const std::string& text) const {
  std::filesystem::path p(text);
  if (p.is_absolute()) return p;
  return backupDir_ / p;
}

std::vector<DbEntry> Catalog::databases() const {
  std::lock_guard lock(mutex_);
  return dbs_;
}

std::optional<Login> Catalog::findLogin(const std::string& name) const {
  std::lock_guard lock(mutex_);
  Statement st(master_->get(), "SELECT name, password, dbname FROM syslogins WHERE name = ?");
  st.bindText(1, name);
  if (!st.step()) return std::nullopt;
  Login login;
  login.name = st.text(0);
  if (!st.isNull(1)) login.storedPassword = st.text(1);
  login.defaultDatabase = st.text(2);
  return login;
}

void Catalog::setPasswordHash(const std::string& login, const std::string& hash) {
  std::lock_guard lock(mutex_);
  Statement up(master_->get(),
               "INSERT INTO syslogins (name, password, dbname) VALUES (?, ?, 'master') "
               "ON CONFLICT(name) DO UPDATE SET password = excluded.password");
  up.bindText(1, login);
  up.bindText(2, hash);
  up.step();
}

void Catalog::eraseFreedContent() {
  std::lock_guard lock(mutex_);
  // secure_delete zeroes what is freed from now on; VACUUM rewrites the file, so nothing freed
  // before (by an earlier version, without it) survives either.
  master_->exec("VACUUM");
}

}  // namespace standin::storage
