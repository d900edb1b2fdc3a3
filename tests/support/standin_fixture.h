// Starts the stand-in server in-process for a test: 127.0.0.1 on an ephemeral port, a fresh
// data folder, SSRP off. Everything is removed again on destruction.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "standin/engine/engine.h"
#include "standin/host/host.h"

namespace bvtest {

struct StandinOptions {
  int serverVersion = 2005;                  // 2000, 2005, 2008, ...
  std::string saPassword = "Sa-pass;w'rd1";  // deliberately holds ; and '
  std::filesystem::path traceFile = {};      // the server's request log; empty = none
  // What clients may cost the server (connections, login timeout and size, accept pause);
  // tests of the limits set small values.
  standin::wire::ConnectionLimits limits = {};
  // Faults on demand, each written as for --fault (docs/standin.md), e.g. "drop:match=BACKUP",
  // "drop-after-bytes=100:match=RESTORE", "stall=2000ms:match=BACKUP", "stall-login=5s:times=1".
  std::vector<std::string> faults = {};
  // The server's clock moved by this from the start (negative: an earlier day); GETDATE(), backup
  // dates and their history, and the Agent go by it. setClockOffset changes it later.
  std::chrono::seconds clockOffset = std::chrono::seconds(0);
  // The edition played; empty: the release's default (developer, desktop-engine for 2000). Express
  // has no SQL Server Agent.
  std::optional<standin::base::Edition> edition = std::nullopt;
};

// A folder under the system's temporary folder, removed with everything in it on destruction.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "bv-test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// The clock offset that puts a server's clock at hh:mm today (this computer's local time).
std::chrono::seconds offsetToLocalTime(int hour, int minute);

class StandinFixture {
 public:
  explicit StandinFixture(StandinOptions options = {});
  ~StandinFixture();
  StandinFixture(const StandinFixture&) = delete;
  StandinFixture& operator=(const StandinFixture&) = delete;

  std::uint16_t port() const;
  const std::string& saPassword() const;
  std::string serverText() const;  // "127.0.0.1,PORT", as a user would type it
  const std::filesystem::path& dataDir() const;
  const std::filesystem::path& scratchDir() const;  // empty folder for backup files
  std::string sampleDatabase() const;               // "Sample"
  std::string sampleTable() const;                  // a table of the sample database with rows
  int serverVersion() const;

  // Direct access to a database's SQLite file (SQLite dialect), for set-up and inspection.
  // Throws std::runtime_error on failure.
  std::int64_t rowCount(const std::string& database, const std::string& table) const;
  void executeSqlite(const std::string& database, const std::string& sql) const;
  std::vector<std::vector<std::optional<std::string>>> querySqlite(const std::string& database,
                                                                   const std::string& sql) const;
  std::filesystem::path databaseFile(const std::string& database) const;

  // "Driver=FreeTDS;Server=127.0.0.1;Port=N;UID=sa;PWD={...};" plus extra "Key=value;" pairs.
  std::string odbcConnectionString(const std::string& extra = "") const;

  // Moves the server's clock for the requests that follow, e.g. std::chrono::hours(-24 * 5).
  void setClockOffset(std::chrono::seconds offset);

  // The hold fault ("hold=30s:match=..."): statements waiting before they run. A test starts the
  // road that meets the hold on a thread, waits until it is held, does what it tests, and lets
  // it go. The destructor lets every held statement go.
  int heldStatements() const;
  bool waitForHeldStatements(int count = 1,
                             std::chrono::milliseconds patience = std::chrono::milliseconds(10000)) const;
  void releaseHeldStatements();

  // Stops the server and starts it again on the same data folder as another release (2000,
  // 2005, ...), on the same port when it is still free (else another: port() and serverText()
  // follow). Connections open before are gone.
  void restartAs(int serverVersion);

  standin::engine::Engine& engine();
  standin::host::Host& host();

 private:
  StandinOptions options_;
  TempDir root_;
  std::filesystem::path dataDir_;
  std::filesystem::path scratchDir_;
  std::unique_ptr<standin::host::Host> host_;

  void start(std::uint16_t port);
};

// With BV_RECORD_DIR set, the file the stand-in a test starts now records to (--record,
// EngineConfig::recordFile): BV_RECORD_DIR/SUITE.TEST.N.rec, N counting the stand-ins the
// running test has started (docs/testing.md, "Recordings"). Empty without it.
std::filesystem::path nextRecordingFile();

// The ODBC driver name tests connect with: $BRACKENVALE_ODBC_DRIVER or "FreeTDS".
std::string odbcDriverName();

}  // namespace bvtest
