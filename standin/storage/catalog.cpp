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

// The system databases as SQL Server names their files: data file, logical names, log file.
struct SystemDatabase {
  const char* name;
  const char* dataName;
  const char* logName;
  const char* logFile;
};
constexpr SystemDatabase kSystemDatabases[] = {
    {"master", "master", "mastlog", "mastlog.ldf"},
    {"tempdb", "tempdev", "templog", "templog.ldf"},
    {"model", "modeldev", "modellog", "modellog.ldf"},
    {"msdb", "MSDBData", "MSDBLog", "MSDBLog.ldf"},
};

// The first log sequence number of a database; the numbers count the log's records from there.
constexpr std::uint64_t kFirstLsn = 21000000001000001ULL;

// The catalogue's own table in master (sysdatabases and the other system views are the
// engine's, made from it).
const char* const kCatalogColumns[][2] = {
    {"logfile", "NVARCHAR(260)"},
    {"data_name", "NVARCHAR(128)"},
    {"log_name", "NVARCHAR(128)"},
    {"recovery", "INTEGER"},
    {"state", "INTEGER"},
    {"lsn", "INTEGER"},
    {"checkpoint_lsn", "INTEGER"},
    {"log_backup_lsn", "INTEGER"},
    {"full_backup_lsn", "INTEGER"},
    {"log_chain", "INTEGER"},
    {"log_size", "INTEGER"},
    {"log_min", "INTEGER"},
    {"restore_lsn", "INTEGER"},
    {"restore_base_lsn", "INTEGER"},
    {"family_guid", "NVARCHAR(36)"},
    {"collation", "NVARCHAR(128)"},
};

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

// The log file at its size: created (0600) when missing; its bytes are never read, so it is
// grown and cut without writing them.
void resizeLogFile(const std::filesystem::path& file, std::uint64_t bytes) {
  if (base::createPrivateFile(file) != 0) return;
  std::error_code ec;
  std::filesystem::resize_file(file, bytes, ec);
}

void removeDatabaseFiles(const DbEntry& e) {
  std::error_code ec;
  std::filesystem::remove(e.file, ec);
  std::filesystem::remove(e.file.string() + "-journal", ec);
  if (!e.logFile.empty()) std::filesystem::remove(e.logFile, ec);
}

void createSampleDatabase(const std::filesystem::path& file) {
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

std::filesystem::path normal(const std::filesystem::path& p) {
  std::error_code ec;
  auto abs = std::filesystem::absolute(p, ec);
  return (ec ? p : abs).lexically_normal();
}

}  // namespace

const char* recoveryModelName(RecoveryModel model) {
  switch (model) {
    case RecoveryModel::Full:
      return "FULL";
    case RecoveryModel::BulkLogged:
      return "BULK_LOGGED";
    case RecoveryModel::Simple:
      return "SIMPLE";
  }
  return "SIMPLE";
}

const char* logReuseWaitName(LogReuseWait wait) {
  switch (wait) {
    case LogReuseWait::Nothing:
      return "NOTHING";
    case LogReuseWait::Checkpoint:
      return "CHECKPOINT";
    case LogReuseWait::LogBackup:
      return "LOG_BACKUP";
    case LogReuseWait::ActiveBackupOrRestore:
      return "ACTIVE_BACKUP_OR_RESTORE";
    case LogReuseWait::ActiveTransaction:
      return "ACTIVE_TRANSACTION";
  }
  return "NOTHING";
}

Catalog::~Catalog() {
  // The log's numbers change with every statement and are kept in memory; they are written
  // with every other change of a database, and here, at the end.
  std::lock_guard lock(mutex_);
  if (!master_) return;
  try {
    for (const auto& e : dbs_) saveEntry(e);
  } catch (const std::exception&) {
    // master cannot be written: the next start counts the log from what it last kept.
  }
}

void Catalog::open(const std::filesystem::path& dataDir, int year, bool createSample, bool simpleModel) {
  dataDir_ = dataDir;
  year_ = year;
  simpleModel_ = simpleModel;
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
  } else {
    upgradeCatalogTable();
  }
  loadCatalog();
  // tempdb starts empty on every start, as it does on SQL Server.
  if (auto t = find("tempdb")) createEmptyDatabaseFile(t->file);
  std::lock_guard lock(mutex_);
  for (auto& d : dbs_) {
    if (!std::filesystem::exists(d.file)) createEmptyDatabaseFile(d.file);
    resizeLogFile(d.logFile, d.log.fileBytes);
  }
}

void Catalog::setClock(std::function<sql::DateTime()> clock) { clock_ = std::move(clock); }

DateTime Catalog::now() const { return clock_ ? clock_() : DateTime::now(); }

std::uint64_t Catalog::initialLogBytes() const {
  // model's log in SQL Server's installations: 1 MB, 8 MB from 2016.
  return year_ >= 2016 ? 8ULL << 20 : 1ULL << 20;
}

void Catalog::createSystemDatabases(bool createSample) {
  auto& m = *master_;
  std::string columns;
  for (const auto& c : kCatalogColumns) columns += std::string(", ") + c[0] + " " + c[1];
  m.exec(
      "CREATE TABLE IF NOT EXISTS bv_databases (dbid INTEGER PRIMARY KEY, name NVARCHAR(128) NOT NULL UNIQUE "
      "COLLATE NOCASE, filename NVARCHAR(260) NOT NULL, crdate DATETIME NOT NULL" +
      columns +
      ");"
      "CREATE TABLE IF NOT EXISTS syslogins (name NVARCHAR(128) PRIMARY KEY COLLATE NOCASE, password "
      "NVARCHAR(128), dbname NVARCHAR(128) NOT NULL);");
  const std::string created = now().iso();
  int id = 1;
  for (const auto& sys : kSystemDatabases) {
    const std::string name = sys.name;
    const auto file = dataDir_ / (name + ".sqlite");
    const RecoveryModel model =
        name == "model" && !simpleModel_ ? RecoveryModel::Full : RecoveryModel::Simple;
    Statement st(
        m.get(),
        "INSERT INTO bv_databases (dbid, name, filename, crdate, logfile, data_name, log_name, recovery) "
        "VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
    st.bindInt(1, id++);
    st.bindText(2, name);
    st.bindText(3, file.filename().string());
    st.bindText(4, created);
    st.bindText(5, sys.logFile);
    st.bindText(6, sys.dataName);
    st.bindText(7, sys.logName);
    st.bindInt(8, static_cast<int>(model));
    st.step();
    if (name != "master") createEmptyDatabaseFile(file);
  }
  {
    Statement st(m.get(), "INSERT INTO syslogins (name, password, dbname) VALUES ('sa', NULL, 'master')");
    st.step();
  }
  if (createSample) {
    // The sample database is made as any new one: a copy of model, in model's recovery model.
    loadCatalog();
    const auto sample = createDatabase(std::string(kSampleDatabase), false);
    createSampleDatabase(sample.file);
  }
}

void Catalog::upgradeCatalogTable() {
  auto* db = master_->get();
  const auto tables = select(db, "SELECT name FROM sqlite_master WHERE type = 'table'");
  bool haveOld = false, haveNew = false;
  for (const auto& t : tables) {
    const std::string name = sql::valueToText(t[0]);
    if (name == "sysdatabases") haveOld = true;
    if (name == "bv_databases") haveNew = true;
  }
  // An earlier version kept the catalogue as sysdatabases, a name the system view now has.
  if (haveOld && !haveNew) master_->exec("ALTER TABLE sysdatabases RENAME TO bv_databases");
  std::set<std::string> existing;
  for (const auto& row : select(db, "PRAGMA table_info(bv_databases)"))
    existing.insert(sql::valueToText(row[1]));
  for (const auto& c : kCatalogColumns)
    if (!existing.count(c[0]))
      master_->exec(std::string("ALTER TABLE bv_databases ADD COLUMN ") + c[0] + " " + c[1]);
}

void Catalog::loadCatalog() {
  std::lock_guard lock(mutex_);
  dbs_.clear();
  Statement st(master_->get(),
               "SELECT dbid, name, filename, crdate, logfile, data_name, log_name, recovery, state, lsn, "
               "checkpoint_lsn, log_backup_lsn, full_backup_lsn, log_chain, log_size, log_min, restore_lsn, "
               "restore_base_lsn, family_guid, collation FROM bv_databases "
               "ORDER BY dbid");
  RecoveryModel modelRecovery = simpleModel_ ? RecoveryModel::Simple : RecoveryModel::Full;
  auto integer = [&](int column, std::uint64_t otherwise) {
    return st.isNull(column) ? otherwise : static_cast<std::uint64_t>(st.integer(column));
  };
  while (st.step()) {
    DbEntry e;
    e.id = static_cast<int>(st.integer(0));
    e.name = st.text(1);
    e.file = dataDir_ / st.text(2);  // an absolute path stays as it is
    e.created = DateTime::parse(st.text(3)).value_or(DateTime{});
    const SystemDatabase* sys = nullptr;
    for (const auto& s : kSystemDatabases)
      if (equalsIgnoreCase(s.name, e.name)) sys = &s;
    e.logFile = st.isNull(4) ? e.file.parent_path() /
                                   (sys ? std::string(sys->logFile) : e.file.stem().string() + "_log.ldf")
                             : dataDir_ / st.text(4);
    e.dataName = st.isNull(5) ? (sys ? sys->dataName : dataFileName(e.name)) : st.text(5);
    e.logName = st.isNull(6) ? (sys ? sys->logName : logFileName(e.name)) : st.text(6);
    // A data folder of an earlier version kept no recovery model: the system databases take
    // SQL Server's, the others model's.
    RecoveryModel fallback = modelRecovery;
    if (sys) fallback = std::string(sys->name) == "model" ? modelRecovery : RecoveryModel::Simple;
    e.recovery = st.isNull(7) ? fallback : static_cast<RecoveryModel>(st.integer(7));
    if (equalsIgnoreCase(e.name, "model")) modelRecovery = e.recovery;
    e.state = static_cast<DatabaseState>(integer(8, 0));
    e.log.lsn = integer(9, kFirstLsn);
    e.log.checkpointLsn = integer(10, e.log.lsn);
    e.log.logBackupLsn = integer(11, e.log.lsn);
    e.log.fullBackupLsn = integer(12, 0);
    e.log.logChain = integer(13, 0) != 0;
    e.log.fileBytes = integer(14, initialLogBytes());
    e.log.minimumBytes = integer(15, initialLogBytes());
    e.log.restoreLsn = integer(16, 0);
    e.log.restoreBaseLsn = integer(17, 0);
    e.familyGuid = st.isNull(18) ? std::string() : st.text(18);
    // A data folder of an earlier version kept no collation: the server's.
    if (!st.isNull(19)) e.collation = st.text(19);
    dbs_.push_back(std::move(e));
  }
}

void Catalog::saveEntry(const DbEntry& e) {
  auto stored = [&](const std::filesystem::path& p) {
    return p.parent_path() == dataDir_ ? p.filename().string() : p.string();
  };
  Statement st(
      master_->get(),
      "UPDATE bv_databases SET filename = ?, crdate = ?, logfile = ?, data_name = ?, log_name = ?, "
      "recovery = ?, state = ?, lsn = ?, checkpoint_lsn = ?, log_backup_lsn = ?, full_backup_lsn = ?, "
      "log_chain = ?, log_size = ?, log_min = ?, restore_lsn = ?, restore_base_lsn = ?, family_guid = ?, "
      "collation = ? WHERE dbid = ?");
  st.bindText(1, stored(e.file));
  st.bindText(2, e.created.iso());
  st.bindText(3, stored(e.logFile));
  st.bindText(4, e.dataName);
  st.bindText(5, e.logName);
  st.bindInt(6, static_cast<int>(e.recovery));
  st.bindInt(7, static_cast<int>(e.state));
  st.bindInt(8, static_cast<std::int64_t>(e.log.lsn));
  st.bindInt(9, static_cast<std::int64_t>(e.log.checkpointLsn));
  st.bindInt(10, static_cast<std::int64_t>(e.log.logBackupLsn));
  st.bindInt(11, static_cast<std::int64_t>(e.log.fullBackupLsn));
  st.bindInt(12, e.log.logChain ? 1 : 0);
  st.bindInt(13, static_cast<std::int64_t>(e.log.fileBytes));
  st.bindInt(14, static_cast<std::int64_t>(e.log.minimumBytes));
  st.bindInt(15, static_cast<std::int64_t>(e.log.restoreLsn));
  st.bindInt(16, static_cast<std::int64_t>(e.log.restoreBaseLsn));
  st.bindText(17, e.familyGuid);
  st.bindText(18, e.collation);
  st.bindInt(19, e.id);
  st.step();
}

std::string Catalog::dataFileName(const std::string& db) const { return year_ == 2000 ? db + "_Data" : db; }

std::string Catalog::logFileName(const std::string& db) const {
  return year_ == 2000 ? db + "_Log" : db + "_log";
}

DbEntry* Catalog::entryNamed(const std::string& name) {
  for (auto& d : dbs_)
    if (equalsIgnoreCase(d.name, name)) return &d;
  return nullptr;
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

std::optional<DbEntry> Catalog::findByFile(const std::filesystem::path& path) const {
  const auto wanted = normal(path);
  std::lock_guard lock(mutex_);
  for (const auto& d : dbs_)
    if (normal(d.file) == wanted || normal(d.logFile) == wanted) return d;
  return std::nullopt;
}

Catalog::Acquire Catalog::acquire(const std::string& name, std::string& canonical,
                                  std::filesystem::path& file) {
  std::lock_guard lock(mutex_);
  for (auto& d : dbs_) {
    if (!equalsIgnoreCase(d.name, name)) continue;
    if (d.exclusive || d.state == DatabaseState::Restoring) return Acquire::Restoring;
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
  NewDatabase n;
  n.name = name;
  n.exclusive = exclusive;
  return createDatabase(n);
}

DbEntry Catalog::createDatabase(const NewDatabase& n) {
  const std::string& name = n.name;
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
  std::filesystem::path file;
  if (n.file) {
    file = *n.file;
  } else {
    std::string stem = safeFileStem(name);
    if (stem != name) stem += "_" + std::to_string(id);
    file = dataDir_ / (stem + ".sqlite");
    for (int k = 2; std::filesystem::exists(file); ++k)
      file = dataDir_ / (stem + "_" + std::to_string(k) + ".sqlite");
  }
  // A new database starts as a copy of model, in model's recovery model.
  const DbEntry* model = nullptr;
  for (const auto& d : dbs_)
    if (d.name == "model") model = &d;
  if (!n.restoring) {
    std::optional<std::string> modelContent;
    if (model) modelContent = base::readWholeFile(model->file);
    if (!modelContent || base::replaceFileContent(file, *modelContent) != 0) createEmptyDatabaseFile(file);
  }
  DbEntry e;
  e.name = name;
  e.id = id;
  e.file = file;
  e.logFile = n.logFile ? *n.logFile : file.parent_path() / (file.stem().string() + "_log.ldf");
  e.dataName = n.dataName.value_or(dataFileName(name));
  e.logName = n.logName.value_or(logFileName(name));
  e.created = now();
  e.recovery = model ? model->recovery : RecoveryModel::Full;
  if (n.collation) e.collation = *n.collation;
  e.state = DatabaseState::Online;
  e.exclusive = n.exclusive;
  e.log.lsn = e.log.checkpointLsn = e.log.logBackupLsn = kFirstLsn;
  e.log.fileBytes = e.log.minimumBytes = model ? model->log.minimumBytes : initialLogBytes();
  if (!n.restoring) resizeLogFile(e.logFile, e.log.fileBytes);
  Statement st(master_->get(), "INSERT INTO bv_databases (dbid, name, filename, crdate) VALUES (?, ?, ?, ?)");
  st.bindInt(1, id);
  st.bindText(2, name);
  st.bindText(3, file.string());
  st.bindText(4, e.created.iso());
  st.step();
  saveEntry(e);
  dbs_.push_back(e);
  return e;
}

void Catalog::dropDatabase(const std::string& name) {
  std::lock_guard lock(mutex_);
  for (auto it = dbs_.begin(); it != dbs_.end(); ++it) {
    if (!equalsIgnoreCase(it->name, name)) continue;
    Statement st(master_->get(), "DELETE FROM bv_databases WHERE dbid = ?");
    st.bindInt(1, it->id);
    st.step();
    removeDatabaseFiles(*it);
    changes_.erase(it->id);
    dbs_.erase(it);
    return;
  }
}

void Catalog::forgetDatabase(const std::string& name) {
  std::lock_guard lock(mutex_);
  for (auto it = dbs_.begin(); it != dbs_.end(); ++it) {
    if (!equalsIgnoreCase(it->name, name)) continue;
    Statement st(master_->get(), "DELETE FROM bv_databases WHERE dbid = ?");
    st.bindInt(1, it->id);
    st.step();
    changes_.erase(it->id);
    dbs_.erase(it);
    return;
  }
}

void Catalog::restored(const DbEntry& entry) {
  std::lock_guard lock(mutex_);
  DbEntry* e = entryNamed(entry.name);
  if (!e) return;
  changes_.erase(e->id);  // the changes of the content it had
  // Files the database had elsewhere go with its old content.
  std::error_code ec;
  if (normal(e->logFile) != normal(entry.logFile)) std::filesystem::remove(e->logFile, ec);
  if (normal(e->file) != normal(entry.file)) {
    std::filesystem::remove(e->file, ec);
    std::filesystem::remove(e->file.string() + "-journal", ec);
  }
  e->file = entry.file;
  e->logFile = entry.logFile;
  e->dataName = entry.dataName;
  e->logName = entry.logName;
  e->created = entry.created;
  e->recovery = entry.recovery;
  e->state = entry.state;
  e->log = entry.log;
  e->familyGuid = entry.familyGuid;
  e->collation = entry.collation;
  resizeLogFile(e->logFile, e->log.fileBytes);
  saveEntry(*e);
}

void Catalog::setState(const std::string& name, DatabaseState state) {
  std::lock_guard lock(mutex_);
  if (DbEntry* e = entryNamed(name)) {
    e->state = state;
    saveEntry(*e);
  }
}

// ---- the recovery model and the log ----

void Catalog::setRecoveryModel(const std::string& name, RecoveryModel model) {
  std::lock_guard lock(mutex_);
  DbEntry* e = entryNamed(name);
  if (!e || e->recovery == model) return;
  // Into or out of SIMPLE, the log chain breaks: BACKUP LOG needs a full backup again. Between
  // FULL and BULK_LOGGED it goes on.
  if (e->recovery == RecoveryModel::Simple || model == RecoveryModel::Simple) {
    e->log.logChain = false;
    changes_.erase(e->id);
  }
  e->recovery = model;
  saveEntry(*e);
}

void Catalog::logChanges(const std::string& name, std::uint64_t rows, std::uint64_t definitions,
                         int session) {
  if (rows == 0 && definitions == 0) return;
  std::lock_guard lock(mutex_);
  DbEntry* e = entryNamed(name);
  if (!e) return;
  const std::uint64_t records = rows + definitions * (kLogBytesPerDefinition / kLogBytesPerRow);
  changes_.try_emplace(e->id, LoggedChanges{e->log.lsn, {}});
  if (session != 0 && !e->openTransactions.count(session)) {
    e->openTransactions.insert(session);
    if (e->openTransactions.size() == 1) e->oldestOpenTransaction = e->log.lsn;
  }
  e->log.lsn += records;
  sizeLogFile(*e);
}

void Catalog::changeCommitted(const std::string& name, std::string changeset, bool unreplayable) {
  std::lock_guard lock(mutex_);
  DbEntry* e = entryNamed(name);
  if (!e) return;
  LoggedChanges& kept = changes_.try_emplace(e->id, LoggedChanges{e->log.lsn, {}}).first->second;
  if (e->recovery == RecoveryModel::Simple || !e->log.logChain) {
    // No log backup will hold it: the changes kept are complete only from here on.
    kept = LoggedChanges{e->log.lsn, {}};
    return;
  }
  kept.changes.push_back(LoggedChange{e->log.lsn, now(), unreplayable, std::move(changeset)});
}

LoggedChanges Catalog::loggedChanges(const std::string& name, std::uint64_t fromLsn, std::uint64_t toLsn) const {
  std::lock_guard lock(mutex_);
  LoggedChanges out;
  const auto db = std::find_if(dbs_.begin(), dbs_.end(), [&](const DbEntry& d) { return equalsIgnoreCase(d.name, name); });
  if (db == dbs_.end()) return out;
  const auto kept = changes_.find(db->id);
  // Nothing kept yet: nothing was changed since the server started.
  out.completeFromLsn = kept == changes_.end() ? db->log.lsn : kept->second.completeFromLsn;
  if (kept == changes_.end()) return out;
  for (const LoggedChange& change : kept->second.changes)
    if (change.lsn > fromLsn && change.lsn <= toLsn) out.changes.push_back(change);
  return out;
}

void Catalog::transactionEnded(int session) {
  std::lock_guard lock(mutex_);
  for (auto& d : dbs_) {
    if (!d.openTransactions.erase(session)) continue;
    // The oldest that stays open is no older than the one that began first.
    if (d.openTransactions.empty()) d.oldestOpenTransaction = 0;
  }
}

void Catalog::sizeLogFile(DbEntry& e) {
  const std::uint64_t before = e.log.fileBytes;
  const bool chained = e.recovery != RecoveryModel::Simple && e.log.logChain;
  // Where the log is truncated at checkpoints, SQL Server checkpoints on its own as the log fills
  // (at 70% of the file); the log grows only when something holds it.
  if (!chained && e.openTransactions.empty() && logUsedBytes(e) * 10 > e.log.fileBytes * 7) {
    e.log.checkpointLsn = e.log.lsn;
  }
  while (logUsedBytes(e) > e.log.fileBytes) {
    // Autogrowth of the log: 64 MB from 2016, 10% before.
    std::uint64_t growth =
        year_ >= 2016 ? 64ULL << 20 : std::max<std::uint64_t>(e.log.fileBytes / 10, 64 << 10);
    growth = (growth + 8191) / 8192 * 8192;
    e.log.fileBytes += growth;
  }
  if (e.log.fileBytes != before) resizeLogFile(e.logFile, e.log.fileBytes);
}

void Catalog::checkpoint(const std::string& name) {
  std::lock_guard lock(mutex_);
  if (DbEntry* e = entryNamed(name)) {
    e->log.checkpointLsn = e->log.lsn;
    saveEntry(*e);
  }
}

void Catalog::fullBackupTaken(const std::string& name, std::uint64_t lsn, bool copyOnly) {
  std::lock_guard lock(mutex_);
  DbEntry* e = entryNamed(name);
  if (!e) return;
  e->log.checkpointLsn = std::max(e->log.checkpointLsn, lsn);  // a backup begins with a checkpoint
  if (!copyOnly) {
    e->log.fullBackupLsn = lsn;
    if (e->recovery != RecoveryModel::Simple && !e->log.logChain) {
      // The chain begins here: the log before this backup is no part of it.
      e->log.logChain = true;
      e->log.logBackupLsn = lsn;
    }
  }
  saveEntry(*e);
}

void Catalog::differentialTaken(const std::string& name, std::uint64_t lsn) {
  std::lock_guard lock(mutex_);
  DbEntry* e = entryNamed(name);
  if (!e) return;
  e->log.checkpointLsn = std::max(e->log.checkpointLsn, lsn);
  // After a switch from SIMPLE a differential, as well as a full, begins the chain again.
  if (e->recovery != RecoveryModel::Simple && !e->log.logChain && e->log.fullBackupLsn != 0) {
    e->log.logChain = true;
    e->log.logBackupLsn = lsn;
  }
  saveEntry(*e);
}

void Catalog::logBackedUp(const std::string& name, std::uint64_t lsn, bool copyOnly) {
  std::lock_guard lock(mutex_);
  DbEntry* e = entryNamed(name);
  if (!e || copyOnly) return;
  e->log.logBackupLsn = std::max(e->log.logBackupLsn, lsn);
  if (const auto kept = changes_.find(e->id); kept != changes_.end()) {
    auto& changes = kept->second.changes;
    changes.erase(std::remove_if(changes.begin(), changes.end(), [&](const LoggedChange& c) { return c.lsn <= lsn; }),
                  changes.end());
  }
  saveEntry(*e);
}

void Catalog::logTruncated(const std::string& name) {
  std::lock_guard lock(mutex_);
  DbEntry* e = entryNamed(name);
  if (!e) return;
  e->log.checkpointLsn = e->log.logBackupLsn = e->log.lsn;
  e->log.logChain = false;
  changes_.erase(e->id);
  saveEntry(*e);
}

void Catalog::copyStarted(const std::string& name) {
  std::lock_guard lock(mutex_);
  if (DbEntry* e = entryNamed(name)) ++e->copies;
}

void Catalog::copyEnded(const std::string& name) {
  std::lock_guard lock(mutex_);
  if (DbEntry* e = entryNamed(name); e && e->copies > 0) --e->copies;
}

LogReuseWait Catalog::logReuseWait(const DbEntry& e) const {
  if (!e.openTransactions.empty()) return LogReuseWait::ActiveTransaction;
  if (e.copies > 0) return LogReuseWait::ActiveBackupOrRestore;
  if (e.recovery != RecoveryModel::Simple && e.log.logChain)
    return e.log.lsn > e.log.logBackupLsn ? LogReuseWait::LogBackup : LogReuseWait::Nothing;
  return e.log.lsn > e.log.checkpointLsn ? LogReuseWait::Checkpoint : LogReuseWait::Nothing;
}

std::uint64_t Catalog::logUsedBytes(const DbEntry& e) const {
  const bool chained = e.recovery != RecoveryModel::Simple && e.log.logChain;
  std::uint64_t from = chained ? e.log.logBackupLsn : e.log.checkpointLsn;
  if (!e.openTransactions.empty()) from = std::min(from, e.oldestOpenTransaction);
  return (e.log.lsn - std::min(from, e.log.lsn)) * kLogBytesPerRow;
}

bool Catalog::shrinkLog(const std::string& name) {
  std::lock_guard lock(mutex_);
  DbEntry* e = entryNamed(name);
  if (!e || logReuseWait(*e) != LogReuseWait::Nothing) return false;
  e->log.fileBytes = std::max(e->log.minimumBytes, (logUsedBytes(*e) + 8191) / 8192 * 8192);
  resizeLogFile(e->logFile, e->log.fileBytes);
  saveEntry(*e);
  return true;
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
