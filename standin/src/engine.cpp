#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <stdexcept>
#include <thread>

#include "agent_jobs.h"
#include "engine_internal.h"
#include "msdb.h"
#include "standin/base/text.h"

namespace standin {

std::string localComputerName() {
  char buf[256] = {};
  if (gethostname(buf, sizeof buf - 1) != 0) return "LOCALHOST";
  std::string name(buf);
  if (const auto dot = name.find('.'); dot != std::string::npos) name.resize(dot);
  if (name.size() > 15) name.resize(15);
  if (name.empty()) name = "LOCALHOST";
  return base::toUpperAscii(name);
}

namespace {

constexpr const char* kSystemDatabases[] = {"master", "tempdb", "model", "msdb"};

std::string safeFileStem(const std::string& name) {
  std::string out;
  for (const char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
    out.push_back(ok ? c : '_');
  }
  return out.empty() ? std::string("db") : out;
}

std::string generatePassword() {
  static const char alphabet[] = "ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789";
  std::random_device rd;
  std::uniform_int_distribution<std::size_t> pick(0, sizeof alphabet - 2);
  std::string out = "Sa-";
  for (int i = 0; i < 12; ++i) out.push_back(alphabet[pick(rd)]);
  return out;
}

void createEmptyDatabaseFile(const std::filesystem::path& file) {
  std::error_code ec;
  std::filesystem::remove(file, ec);
  auto db = sqlite::Database::open(file, true);
  db.exec("PRAGMA user_version = 1");
}

}  // namespace

// ---------- Engine::Impl ----------

std::string Engine::Impl::serverName() const {
  if (config.instanceName.empty() || base::equalsIgnoreCase(config.instanceName, "MSSQLSERVER")) return computerName;
  return computerName + "\\" + config.instanceName;
}

std::string Engine::Impl::dataFileName(const std::string& db) const {
  return version.year == 2000 ? db + "_Data" : db;
}

std::string Engine::Impl::logFileName(const std::string& db) const {
  return version.year == 2000 ? db + "_Log" : db + "_log";
}

void Engine::Impl::open() {
  std::error_code ec;
  std::filesystem::create_directories(config.dataDir, ec);
  if (!std::filesystem::is_directory(config.dataDir))
    throw std::runtime_error("cannot create the data folder " + config.dataDir.string());
  backupDir = config.dataDir / "Backup";
  std::filesystem::create_directories(backupDir, ec);
  const auto masterFile = config.dataDir / "master.sqlite";
  const bool firstStart = !std::filesystem::exists(masterFile);
  catalog.emplace(sqlite::Database::open(masterFile, true));
  if (firstStart) {
    createSystemDatabases();
  }
  loadCatalog();
  // tempdb starts empty on every start, as it does on SQL Server.
  if (auto t = find("tempdb")) createEmptyDatabaseFile(t->file);
  for (const auto& d : dbs) {
    if (!std::filesystem::exists(d.file)) createEmptyDatabaseFile(d.file);
  }
  // msdb holds the Agent's tables, in the layout of the release.
  if (auto m = find("msdb")) {
    auto db = sqlite::Database::open(m->file, false);
    msdb::ensureAgentTables(db.get(), version.year);
  }
  setupPassword();
}

void Engine::Impl::createSystemDatabases() {
  auto& m = *catalog;
  m.exec(
      "CREATE TABLE IF NOT EXISTS sysdatabases (dbid INTEGER PRIMARY KEY, name NVARCHAR(128) NOT NULL UNIQUE "
      "COLLATE NOCASE, filename NVARCHAR(260) NOT NULL, crdate DATETIME NOT NULL);"
      "CREATE TABLE IF NOT EXISTS syslogins (name NVARCHAR(128) PRIMARY KEY COLLATE NOCASE, password "
      "NVARCHAR(128), dbname NVARCHAR(128) NOT NULL);");
  const std::string now = sql::DateTime::now().iso();
  int id = 1;
  for (const char* name : kSystemDatabases) {
    const auto file = config.dataDir / (std::string(name) + ".sqlite");
    sqlite::Statement st(m.get(), "INSERT INTO sysdatabases (dbid, name, filename, crdate) VALUES (?, ?, ?, ?)");
    st.bindInt(1, id++);
    st.bindText(2, name);
    st.bindText(3, file.filename().string());
    st.bindText(4, now);
    st.step();
    if (std::string(name) != "master") createEmptyDatabaseFile(file);
  }
  {
    sqlite::Statement st(m.get(), "INSERT INTO syslogins (name, password, dbname) VALUES ('sa', NULL, 'master')");
    st.step();
  }
  if (config.createSample) {
    const auto file = config.dataDir / (std::string(kSampleDatabase) + ".sqlite");
    createSampleDatabase(file);
    sqlite::Statement st(m.get(), "INSERT INTO sysdatabases (dbid, name, filename, crdate) VALUES (5, ?, ?, ?)");
    st.bindText(1, kSampleDatabase);
    st.bindText(2, file.filename().string());
    st.bindText(3, now);
    st.step();
  }
}

void Engine::Impl::createSampleDatabase(const std::filesystem::path& file) {
  createEmptyDatabaseFile(file);
  auto db = sqlite::Database::open(file, false);
  db.exec(
      "BEGIN;"
      "CREATE TABLE Customers (CustomerID INT PRIMARY KEY, Name NVARCHAR(50) NOT NULL, City NVARCHAR(50));"
      "INSERT INTO Customers VALUES (1, '山田 太郎', '東京'), (2, '佐藤 花子', '大阪'), (3, 'Brackenvale Ltd', 'Sapporo'),"
      " (4, '鈴木 一郎', '名古屋');"
      "CREATE TABLE Products (ProductID INT PRIMARY KEY, Name NVARCHAR(50) NOT NULL, Price FLOAT NOT NULL);"
      "INSERT INTO Products VALUES (1, 'ノート', 120.0), (2, 'ボールペン', 80.5), (3, 'Stapler', 450.0);"
      "CREATE TABLE Orders (OrderID INT PRIMARY KEY, CustomerID INT NOT NULL, ProductID INT NOT NULL,"
      " Quantity INT NOT NULL, OrderDate DATETIME NOT NULL);"
      "INSERT INTO Orders VALUES (1, 1, 1, 10, '2008-01-15 10:30:00.000'), (2, 2, 2, 5, '2008-02-01 09:00:00.000'),"
      " (3, 1, 3, 1, '2008-02-20 14:45:00.000'), (4, 3, 1, 200, '2008-03-03 16:10:00.000'),"
      " (5, 4, 2, 12, '2008-03-10 11:05:00.000');"
      "COMMIT;");
}

void Engine::Impl::loadCatalog() {
  dbs.clear();
  sqlite::Statement st(catalog->get(), "SELECT dbid, name, filename, crdate FROM sysdatabases ORDER BY dbid");
  while (st.step()) {
    DbEntry e;
    e.id = static_cast<int>(st.integer(0));
    e.name = st.text(1);
    e.file = config.dataDir / st.text(2);
    e.created = sql::DateTime::parse(st.text(3)).value_or(sql::DateTime{});
    dbs.push_back(std::move(e));
  }
}

void Engine::Impl::setupPassword() {
  sqlite::Statement st(catalog->get(), "SELECT password FROM syslogins WHERE name = 'sa'");
  std::optional<std::string> stored;
  if (st.step() && !st.isNull(0)) stored = st.text(0);
  if (!config.saPassword.empty()) {
    saPassword = config.saPassword;
  } else if (stored && !stored->empty()) {
    saPassword = *stored;
  } else {
    saPassword = generatePassword();
    passwordGenerated = true;
  }
  if (!stored || *stored != saPassword) {
    sqlite::Statement up(catalog->get(),
                         "INSERT INTO syslogins (name, password, dbname) VALUES ('sa', ?, 'master') "
                         "ON CONFLICT(name) DO UPDATE SET password = excluded.password");
    up.bindText(1, saPassword);
    up.step();
  }
}

std::optional<DbEntry> Engine::Impl::find(const std::string& name) const {
  std::lock_guard lock(mutex);
  for (const auto& d : dbs)
    if (base::equalsIgnoreCase(d.name, name)) return d;
  return std::nullopt;
}

std::optional<DbEntry> Engine::Impl::findById(int id) const {
  std::lock_guard lock(mutex);
  for (const auto& d : dbs)
    if (d.id == id) return d;
  return std::nullopt;
}

Engine::Impl::Acquire Engine::Impl::acquire(const std::string& name, std::string& canonical,
                                            std::filesystem::path& file) {
  std::lock_guard lock(mutex);
  for (auto& d : dbs) {
    if (!base::equalsIgnoreCase(d.name, name)) continue;
    if (d.exclusive) return Acquire::Restoring;
    ++d.users;
    canonical = d.name;
    file = d.file;
    return Acquire::Ok;
  }
  return Acquire::Missing;
}

void Engine::Impl::release(const std::string& name) {
  std::lock_guard lock(mutex);
  for (auto& d : dbs)
    if (base::equalsIgnoreCase(d.name, name) && d.users > 0) {
      --d.users;
      return;
    }
}

Engine::Impl::Exclusive Engine::Impl::beginExclusive(const std::string& name, std::chrono::milliseconds patience) {
  const auto until = std::chrono::steady_clock::now() + patience;
  while (true) {
    {
      std::lock_guard lock(mutex);
      bool found = false;
      for (auto& d : dbs) {
        if (!base::equalsIgnoreCase(d.name, name)) continue;
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

void Engine::Impl::endExclusive(const std::string& name) {
  std::lock_guard lock(mutex);
  for (auto& d : dbs)
    if (base::equalsIgnoreCase(d.name, name)) d.exclusive = false;
}

DbEntry Engine::Impl::createDatabase(const std::string& name, bool exclusive) {
  if (name.empty() || base::utf16Length(name) > 128)
    throw sql::SqlError(102, 15, "Incorrect syntax near '" + name + "'.");
  std::lock_guard lock(mutex);
  for (const auto& d : dbs)
    if (base::equalsIgnoreCase(d.name, name)) {
      const std::string text = version.year == 2000
                                   ? "Database '" + d.name + "' already exists."
                                   : "Database '" + d.name + "' already exists. Choose a different database name.";
      throw sql::SqlError(1801, 16, text);
    }
  int id = 5;
  for (const auto& d : dbs) id = std::max(id, d.id + 1);
  std::string stem = safeFileStem(name);
  if (stem != name) stem += "_" + std::to_string(id);
  std::filesystem::path file = config.dataDir / (stem + ".sqlite");
  for (int k = 2; std::filesystem::exists(file); ++k) file = config.dataDir / (stem + "_" + std::to_string(k) + ".sqlite");
  // A new database starts as a copy of model.
  std::filesystem::path model;
  for (const auto& d : dbs)
    if (d.name == "model") model = d.file;
  std::error_code ec;
  if (model.empty() || !std::filesystem::copy_file(model, file, std::filesystem::copy_options::overwrite_existing, ec))
    createEmptyDatabaseFile(file);
  DbEntry e;
  e.name = name;
  e.id = id;
  e.file = file;
  e.created = sql::DateTime::now();
  e.exclusive = exclusive;
  sqlite::Statement st(catalog->get(), "INSERT INTO sysdatabases (dbid, name, filename, crdate) VALUES (?, ?, ?, ?)");
  st.bindInt(1, id);
  st.bindText(2, name);
  st.bindText(3, file.filename().string());
  st.bindText(4, e.created.iso());
  st.step();
  dbs.push_back(e);
  return e;
}

void Engine::Impl::dropDatabase(const std::string& name) {
  std::lock_guard lock(mutex);
  for (auto it = dbs.begin(); it != dbs.end(); ++it) {
    if (!base::equalsIgnoreCase(it->name, name)) continue;
    sqlite::Statement st(catalog->get(), "DELETE FROM sysdatabases WHERE dbid = ?");
    st.bindInt(1, it->id);
    st.step();
    std::error_code ec;
    std::filesystem::remove(it->file, ec);
    std::filesystem::remove(it->file.string() + "-journal", ec);
    dbs.erase(it);
    return;
  }
}

std::filesystem::path Engine::Impl::resolveBackupPath(const std::string& text) const {
  std::filesystem::path p(text);
  if (p.is_absolute()) return p;
  return backupDir / p;
}

// ---------- Engine ----------

Engine::Engine(EngineConfig config) : impl_(std::make_shared<Impl>()) {
  impl_->config = std::move(config);
  impl_->version = base::productVersionFor(impl_->config.serverVersion);
  impl_->computerName = impl_->config.computerName.empty() ? localComputerName() : impl_->config.computerName;
  try {
    impl_->open();
  } catch (const std::exception& e) {
    throw std::runtime_error(std::string("standin: cannot open the data folder: ") + e.what());
  }
  if (impl_->config.startAgent) agent_ = std::make_unique<agent::AgentThread>(impl_);
}

Engine::~Engine() { agent_.reset(); }

void Engine::runDueAgentJobs() { agent::runDueJobs(impl_); }

void Engine::wakeAgent() {
  if (agent_) agent_->wake();
}

bool Engine::agentRunning() const { return agent_ != nullptr; }

std::uint64_t Engine::agentJobRuns() const {
  std::lock_guard lock(impl_->agentMutex);
  return impl_->finishedRuns;
}

bool Engine::waitForAgentJobRuns(std::uint64_t count, std::chrono::milliseconds patience) const {
  std::unique_lock lock(impl_->agentMutex);
  return impl_->agentChanged.wait_for(lock, patience, [&] { return impl_->finishedRuns >= count; });
}

bool Engine::waitForAgentPasses(std::uint64_t count, std::chrono::milliseconds patience) const {
  std::unique_lock lock(impl_->agentMutex);
  return impl_->agentChanged.wait_for(lock, patience, [&] { return impl_->agentPasses >= count; });
}

const base::ProductVersion& Engine::version() const { return impl_->version; }
std::string Engine::versionText() const { return base::versionBanner(impl_->version); }
const std::string& Engine::saPassword() const { return impl_->saPassword; }
bool Engine::saPasswordGenerated() const { return impl_->passwordGenerated; }
std::string Engine::serverName() const { return impl_->serverName(); }
const std::filesystem::path& Engine::dataDir() const { return impl_->config.dataDir; }
int Engine::activeSessions() const { return impl_->sessions.load(); }

std::vector<std::string> Engine::databases() const {
  std::lock_guard lock(impl_->mutex);
  std::vector<std::string> out;
  for (const auto& d : impl_->dbs) out.push_back(d.name);
  return out;
}

std::optional<std::filesystem::path> Engine::databaseFile(const std::string& name) const {
  if (auto d = impl_->find(name)) return d->file;
  return std::nullopt;
}

std::vector<Engine::TextRow> Engine::query(const std::string& database, const std::string& sqliteSql) {
  const auto file = databaseFile(database);
  if (!file) throw std::runtime_error("no database " + database);
  try {
    auto db = sqlite::Database::open(*file, false);
    sqlite::Statement st(db.get(), sqliteSql);
    std::vector<TextRow> rows;
    while (st.step()) {
      TextRow row;
      for (int c = 0; c < st.columnCount(); ++c) {
        if (st.isNull(c)) {
          row.emplace_back();
        } else {
          row.emplace_back(st.text(c));
        }
      }
      rows.push_back(std::move(row));
    }
    return rows;
  } catch (const sqlite::Error& e) {
    throw std::runtime_error(e.what());
  }
}

void Engine::execute(const std::string& database, const std::string& sqliteSql) {
  const auto file = databaseFile(database);
  if (!file) throw std::runtime_error("no database " + database);
  try {
    auto db = sqlite::Database::open(*file, false);
    db.exec(sqliteSql);
  } catch (const sqlite::Error& e) {
    throw std::runtime_error(e.what());
  }
}

LoginResult Engine::login(const LoginRequest& request) {
  LoginResult result;
  auto fail = [&](std::vector<sql::Message> extra, const std::string& user) {
    for (auto& m : extra) result.errors.push_back(std::move(m));
    result.errors.push_back(sql::Message{18456, 1, 14, "Login failed for user '" + user + "'.", 1, {}});
    return std::move(result);
  };
  if (request.integrated) {
    result.errors.push_back(sql::Message{18452, 1, 14,
                                    "Login failed. The login is from an untrusted domain and cannot be used with "
                                    "Windows authentication.",
                                    1, {}});
    return result;
  }
  std::optional<std::string> password;
  std::string defaultDb = "master";
  std::string loginName = request.user;
  {
    std::lock_guard lock(impl_->mutex);
    sqlite::Statement st(impl_->catalog->get(), "SELECT name, password, dbname FROM syslogins WHERE name = ?");
    st.bindText(1, request.user);
    if (st.step()) {
      loginName = st.text(0);
      if (!st.isNull(1)) password = st.text(1);
      defaultDb = st.text(2);
    }
  }
  if (!password || *password != request.password) return fail({}, request.user);
  const std::string wanted = request.database.empty() ? defaultDb : request.database;
  std::string canonical;
  std::filesystem::path file;
  const auto acq = impl_->acquire(wanted, canonical, file);
  if (acq != Impl::Acquire::Ok) {
    return fail({sql::Message{4060, 1, 11, "Cannot open database \"" + wanted + "\" requested by the login. The login failed.", 1, {}}},
                request.user);
  }
  auto s = std::make_unique<Session::Impl>();
  s->engine = impl_;
  s->db = std::make_unique<DbLease>(impl_, canonical, file);
  s->spid = impl_->nextSpid.fetch_add(1);
  if (impl_->nextSpid.load() > 32000) impl_->nextSpid = 51;
  s->login = loginName;
  s->hostName = request.hostName;
  s->appName = request.appName;
  impl_->sessions.fetch_add(1);
  result.session = std::make_unique<Session>(std::move(s));
  return result;
}

}  // namespace standin
