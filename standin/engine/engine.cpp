#include <unistd.h>

#include <cstring>
#include <random>
#include <stdexcept>

#include "standin/agent/jobs.h"
#include "standin/agent/msdb.h"
#include "standin/backup/history.h"
#include "standin/base/password_hash.h"
#include "standin/base/private_files.h"
#include "standin/base/text.h"
#include "standin/engine/engine_internal.h"

namespace standin::engine {

using base::toUpperAscii;
using sql::BatchResult;
using sql::Message;

std::string localComputerName() {
  char buf[256] = {};
  if (gethostname(buf, sizeof buf - 1) != 0) return "LOCALHOST";
  std::string name(buf);
  if (const auto dot = name.find('.'); dot != std::string::npos) name.resize(dot);
  if (name.size() > 15) name.resize(15);
  if (name.empty()) name = "LOCALHOST";
  return toUpperAscii(name);
}

namespace {

std::string generatePassword() {
  static const char alphabet[] = "ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789";
  std::random_device rd;
  std::uniform_int_distribution<std::size_t> pick(0, sizeof alphabet - 2);
  std::string out = "Sa-";
  for (int i = 0; i < 12; ++i) out.push_back(alphabet[pick(rd)]);
  return out;
}

}  // namespace

// ---------- Engine::Impl ----------

void Engine::Impl::open() {
  catalog.setClock([this] { return now(); });
  catalog.open(config.dataDir, version.year, config.createSample, base::installsSimpleModel(edition));
  // msdb holds the Agent's tables, in the layout of the release.
  if (auto m = catalog.find("msdb")) {
    auto db = storage::Database::open(m->file, false);
    agent::ensureAgentTables(db.get(), version.year);
    backup::ensureBackupHistoryTables(db.get(), version.year);
  }
  setupPassword();
}

void Engine::Impl::setupPassword() {
  std::optional<std::string> stored;
  if (auto sa = catalog.findLogin("sa"); sa && sa->storedPassword && !sa->storedPassword->empty())
    stored = sa->storedPassword;
  // An earlier version kept the password itself in master.
  const bool plainText = stored && !base::isPasswordHash(*stored);
  const auto file = config.dataDir / kPasswordFileName;
  if (!config.saPassword.empty()) {
    saPassword = config.saPassword;
  } else {
    std::optional<std::string> kept = base::readWholeFile(file);
    if (kept) {
      while (!kept->empty() && (kept->back() == '\n' || kept->back() == '\r')) kept->pop_back();
      if (kept->empty()) kept.reset();
    }
    if (kept) {
      saPassword = *kept;
    } else if (plainText) {
      saPassword = *stored;
    } else {
      saPassword = generatePassword();
      passwordGenerated = true;
    }
    if (!kept) {
      if (const int err = base::replaceFileContent(file, saPassword + "\n"); err != 0)
        throw std::runtime_error("cannot write " + file.string() + ": " + std::strerror(err));
    }
  }
  if (!plainText && stored && passwords.matches(*stored, saPassword)) return;
  const std::string hash = base::hashPassword(saPassword);
  catalog.setPasswordHash("sa", hash);
  passwords.remember(hash, saPassword);
  if (plainText) catalog.eraseFreedContent();
}

BatchResult Engine::Impl::runJobStep(const std::string& login, std::unique_ptr<storage::DbLease> database,
                                     std::string_view batch) {
  auto s = std::make_unique<Session::Impl>();
  s->engine = shared_from_this();
  s->db = std::move(database);
  s->spid = nextSpid.fetch_add(1);
  s->login = login;
  s->hostName = computerName;
  s->appName = "SQLAgent - TSQL JobStep";
  if (recorder) s->recording.emplace("job step, login " + login + ", database " + s->currentDb());
  sessions.fetch_add(1);
  Session session(std::move(s));
  return session.executeBatch(batch);
}

// ---------- Engine ----------

struct Engine::Agent {
  explicit Agent(std::shared_ptr<server::Server> server) : thread(std::move(server)) {}
  agent::AgentThread thread;
};

Engine::Engine(EngineConfig config) : impl_(std::make_shared<Impl>()) {
  impl_->config = std::move(config);
  impl_->version = base::productVersionFor(impl_->config.serverVersion);
  impl_->edition = impl_->config.edition.value_or(base::defaultEdition(impl_->version.year));
  if (const auto problem = base::editionProblem(impl_->version.year, impl_->edition); !problem.empty())
    throw std::invalid_argument("standin: " + problem);
  impl_->computerName = impl_->config.computerName.empty() ? localComputerName() : impl_->config.computerName;
  impl_->instanceName = impl_->config.instanceName;
  impl_->clock = impl_->config.clock;
  impl_->clockOffsetSeconds = impl_->config.clockOffset.count();
  impl_->faults.set(impl_->config.statementFaults);
  registry();  // an entry that cannot be kept (no rows, a name twice) fails here, at start
  if (!impl_->config.recordFile.empty())
    impl_->recorder = std::make_unique<Recorder>(impl_->config.recordFile);
  try {
    impl_->open();
  } catch (const std::exception& e) {
    throw std::runtime_error(std::string("standin: cannot open the data folder: ") + e.what());
  }
  if (impl_->config.startAgent && base::hasAgent(impl_->edition)) agent_ = std::make_unique<Agent>(impl_);
}

Engine::~Engine() {
  // A job step held by a fault would keep the Agent's thread from ending.
  impl_->stopping = true;
  impl_->faults.stopHolding();
  agent_.reset();
}

int Engine::heldStatements() const { return impl_->faults.held(); }
void Engine::releaseHeldStatements() { impl_->faults.releaseHeld(); }
bool Engine::waitForHeldStatements(int count, std::chrono::milliseconds patience) const {
  return impl_->faults.waitForHeld(count, patience);
}
void Engine::stopHoldingStatements() {
  impl_->stopping = true;
  impl_->faults.stopHolding();
}

void Engine::runDueAgentJobs() {
  if (base::hasAgent(impl_->edition)) agent::runDueJobs(*impl_);
}

void Engine::wakeAgent() {
  if (agent_) agent_->thread.wake();
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
base::Edition Engine::edition() const { return impl_->edition; }
std::string Engine::versionText() const { return base::versionBanner(impl_->version, impl_->edition); }
const std::string& Engine::saPassword() const { return impl_->saPassword; }
bool Engine::saPasswordGenerated() const { return impl_->passwordGenerated; }
std::string Engine::serverName() const { return impl_->serverName(); }
const std::filesystem::path& Engine::dataDir() const { return impl_->config.dataDir; }
int Engine::activeSessions() const { return impl_->sessions.load(); }

void Engine::setClockOffset(std::chrono::seconds offset) {
  impl_->clockOffsetSeconds = offset.count();
  wakeAgent();  // its next run may have come, or gone
}

std::chrono::seconds Engine::clockOffset() const {
  return std::chrono::seconds(impl_->clockOffsetSeconds.load());
}

std::vector<std::string> Engine::databases() const {
  std::vector<std::string> out;
  for (const auto& d : impl_->catalog.databases()) out.push_back(d.name);
  return out;
}

std::optional<std::filesystem::path> Engine::databaseFile(const std::string& name) const {
  if (auto d = impl_->catalog.find(name)) return d->file;
  return std::nullopt;
}

std::vector<Engine::TextRow> Engine::query(const std::string& database, const std::string& sqliteSql) {
  const auto file = databaseFile(database);
  if (!file) throw std::runtime_error("no database " + database);
  try {
    auto db = storage::Database::open(*file, false);
    storage::Statement st(db.get(), sqliteSql);
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
  } catch (const storage::Error& e) {
    throw std::runtime_error(e.what());
  }
}

void Engine::execute(const std::string& database, const std::string& sqliteSql) {
  const auto file = databaseFile(database);
  if (!file) throw std::runtime_error("no database " + database);
  try {
    auto db = storage::Database::open(*file, false);
    db.exec(sqliteSql);
  } catch (const storage::Error& e) {
    throw std::runtime_error(e.what());
  }
}

namespace {

// A login as a recording shows it: who asked for which database, never the password.
std::string recordedLogin(const LoginRequest& r) {
  return "login user " + r.user + ", database " + (r.database.empty() ? "(default)" : r.database) + ", app " +
         r.appName + ", language " + r.language + (r.integrated ? ", integrated" : "");
}

}  // namespace

LoginResult Engine::login(const LoginRequest& request) {
  LoginResult result;
  // A failed login is a block of its own in a recording.
  auto recordFailure = [&] {
    if (!impl_->recorder) return;
    Recording failed(recordedLogin(request));
    sql::BatchResult errors;
    for (const auto& m : result.errors) errors.items.emplace_back(m);
    failed.reply(errors);
    impl_->recorder->write(failed.finish());
  };
  auto fail = [&](std::vector<Message> extra, const std::string& user) {
    for (auto& m : extra) result.errors.push_back(std::move(m));
    result.errors.push_back(Message{18456, 1, 14, "Login failed for user '" + user + "'.", 1, {}});
    recordFailure();
    return std::move(result);
  };
  if (request.integrated) {
    result.errors.push_back(
        Message{18452,
                1,
                14,
                "Login failed. The login is from an untrusted domain and cannot be used with "
                "Windows authentication.",
                1,
                {}});
    recordFailure();
    return result;
  }
  const auto login = impl_->catalog.findLogin(request.user);
  if (!login || !login->storedPassword || !impl_->passwords.matches(*login->storedPassword, request.password))
    return fail({}, request.user);
  const std::string& loginName = login->name;
  const std::string& defaultDb = login->defaultDatabase;
  const std::string wanted = request.database.empty() ? defaultDb : request.database;
  std::string canonical;
  std::filesystem::path file;
  const auto acq = impl_->catalog.acquire(wanted, canonical, file);
  if (acq != storage::Catalog::Acquire::Ok) {
    return fail({Message{4060,
                         1,
                         11,
                         "Cannot open database \"" + wanted + "\" requested by the login. The login failed.",
                         1,
                         {}}},
                request.user);
  }
  auto s = std::make_unique<Session::Impl>();
  s->engine = impl_;
  s->db = std::make_unique<storage::DbLease>(impl_->catalog, canonical, file);
  s->spid = impl_->nextSpid.fetch_add(1);
  if (impl_->nextSpid.load() > 32000) impl_->nextSpid = 51;
  s->login = loginName;
  s->hostName = request.hostName;
  s->appName = request.appName;
  if (impl_->recorder) {
    s->recording.emplace(recordedLogin(request));
    s->recording->note("logged in to " + canonical);
  }
  impl_->sessions.fetch_add(1);
  result.session = std::make_unique<Session>(std::move(s));
  return result;
}

}  // namespace standin::engine
