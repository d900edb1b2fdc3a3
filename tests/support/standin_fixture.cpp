#include "standin_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <map>
#include <mutex>
#include <stdexcept>

#include "standin/storage/catalog.h"

namespace bvtest {

TempDir::TempDir(const std::string& prefix) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (!::mkdtemp(buf.data())) throw std::runtime_error("cannot create a temporary folder");
  path_ = buf.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

StandinFixture::StandinFixture(StandinOptions options) : options_(std::move(options)), root_("bv-standin") {
  dataDir_ = root_.path() / "data";
  scratchDir_ = root_.path() / "scratch";
  std::filesystem::create_directories(dataDir_);
  std::filesystem::create_directories(scratchDir_);
  start(0);
}

void StandinFixture::start(std::uint16_t port) {
  standin::host::HostOptions h;
  h.dataDir = dataDir_;
  h.saPassword = options_.saPassword;
  h.serverVersion = options_.serverVersion;
  h.edition = options_.edition;
  h.port = port;
  h.ssrpPort = 0;
  h.traceFile = options_.traceFile;
  h.recordFile = nextRecordingFile();
  h.limits = options_.limits;
  h.clockOffset = options_.clockOffset;
  for (const auto& written : options_.faults) {
    std::string why;
    auto fault = standin::wire::parseFault(written, &why);
    if (!fault) throw std::invalid_argument("fault " + written + ": " + why);
    h.faults.push_back(std::move(*fault));
  }
  host_ = std::make_unique<standin::host::Host>(h);
  try {
    host_->start();
  } catch (const std::runtime_error&) {
    if (port == 0) throw;
    // The port went to someone else meanwhile: any other will do.
    host_->stop();
    host_.reset();
    start(0);
  }
}

StandinFixture::~StandinFixture() {
  if (host_) {
    host_->engine().releaseHeldStatements();
    host_->stop();
  }
  host_.reset();
}

int StandinFixture::heldStatements() const { return host_->engine().heldStatements(); }
bool StandinFixture::waitForHeldStatements(int count, std::chrono::milliseconds patience) const {
  return host_->engine().waitForHeldStatements(count, patience);
}
void StandinFixture::releaseHeldStatements() { host_->engine().releaseHeldStatements(); }

void StandinFixture::restartAs(int serverVersion) {
  const std::uint16_t port = host_->port();
  host_->engine().releaseHeldStatements();
  host_->stop();
  host_.reset();
  options_.serverVersion = serverVersion;
  start(port);
}

std::uint16_t StandinFixture::port() const { return host_->port(); }
const std::string& StandinFixture::saPassword() const { return options_.saPassword; }
std::string StandinFixture::serverText() const { return "127.0.0.1," + std::to_string(port()); }
const std::filesystem::path& StandinFixture::dataDir() const { return dataDir_; }
const std::filesystem::path& StandinFixture::scratchDir() const { return scratchDir_; }
std::string StandinFixture::sampleDatabase() const { return standin::storage::kSampleDatabase; }
std::string StandinFixture::sampleTable() const { return "Customers"; }
int StandinFixture::serverVersion() const { return options_.serverVersion; }
standin::engine::Engine& StandinFixture::engine() { return host_->engine(); }
void StandinFixture::setClockOffset(std::chrono::seconds offset) {
  options_.clockOffset = offset;  // a restart keeps it
  host_->setClockOffset(offset);
}
standin::host::Host& StandinFixture::host() { return *host_; }

std::int64_t StandinFixture::rowCount(const std::string& database, const std::string& table) const {
  std::string quoted = "\"";
  for (const char c : table) {
    if (c == '"') quoted.push_back('"');
    quoted.push_back(c);
  }
  quoted.push_back('"');
  const auto rows = host_->engine().query(database, "SELECT COUNT(*) FROM " + quoted);
  if (rows.empty() || rows[0].empty() || !rows[0][0]) throw std::runtime_error("no row count");
  return std::stoll(*rows[0][0]);
}

void StandinFixture::executeSqlite(const std::string& database, const std::string& sql) const {
  host_->engine().execute(database, sql);
}

std::vector<std::vector<std::optional<std::string>>> StandinFixture::querySqlite(
    const std::string& database, const std::string& sql) const {
  return host_->engine().query(database, sql);
}

std::filesystem::path StandinFixture::databaseFile(const std::string& database) const {
  const auto f = host_->engine().databaseFile(database);
  if (!f) throw std::runtime_error("no database " + database);
  return *f;
}

std::filesystem::path nextRecordingFile() {
  const char* dir = std::getenv("BV_RECORD_DIR");
  if (!dir || !*dir) return {};
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = test ? std::string(test->test_suite_name()) + "." + test->name() : "outside-tests";
  for (char& c : name)
    if (c == '/') c = '_';  // parameterised tests: Releases/Suite.Name/2000
  static std::mutex mutex;
  static std::map<std::string, int> started;
  std::lock_guard lock(mutex);
  std::filesystem::create_directories(dir);
  return std::filesystem::path(dir) / (name + "." + std::to_string(++started[name]) + ".rec");
}

std::string odbcDriverName() {
  const char* d = std::getenv("BRACKENVALE_ODBC_DRIVER");
  return d && *d ? d : "FreeTDS";
}

std::string StandinFixture::odbcConnectionString(const std::string& extra) const {
  return "Driver=" + odbcDriverName() + ";Server=127.0.0.1;Port=" + std::to_string(port()) + ";UID=sa;PWD={" +
         options_.saPassword + "};" + extra;
}

std::chrono::seconds offsetToLocalTime(int hour, int minute) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = 0;
  return std::chrono::seconds(std::mktime(&local) - now);
}

}  // namespace bvtest
