// One stand-in process: the main instance, any further named instances (each with its own
// TCP port and data folder), and the SSRP responder that lists them.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "standin/base/version.h"
#include "standin/engine/engine.h"
#include "standin/wire/faults.h"
#include "standin/wire/ssrp.h"
#include "standin/wire/tds_server.h"

namespace standin::host {

struct ExtraInstance {
  std::string name;
  std::uint16_t port = 0;
  int serverVersion = 0;  // 0: the main instance's version
  std::optional<base::Edition> edition =
      std::nullopt;  // empty: the main instance's --edition, else the release's default
};

struct HostOptions {
  std::filesystem::path dataDir;
  std::string saPassword;  // empty: kept in the data folder, generated on the first start
  int serverVersion = 2005;
  std::optional<base::Edition> edition;  // empty: the release's default (developer, desktop-engine for 2000)
  std::uint16_t port = 1433;             // 0 = ephemeral
  std::string instanceName;  // name of the main instance; empty = the default instance MSSQLSERVER
  std::vector<ExtraInstance> extraInstances;  // data in DATA/instances/NAME
  std::uint16_t ssrpPort = 1434;              // 0 = no SSRP responder
  std::filesystem::path traceFile;
  // For tests that compare two builds: the main instance's requests and replies (engine/recorder.h)
  // go to this file, a further instance's to FILE.NAME; empty = none.
  std::filesystem::path recordFile;
  bool ipv6 = true;
  std::string computerName;  // empty: this computer's name
  bool createSample = true;
  wire::ConnectionLimits limits;        // for every instance
  std::chrono::seconds clockOffset{0};  // every instance's clock moved by this (tests)
  std::vector<wire::Fault> faults;      // faults on demand, for tests (wire/faults.h); every instance
};

class Host {
 public:
  explicit Host(HostOptions options);  // opens the data folders
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // Starts listening; throws std::runtime_error when a TCP port cannot be used. A taken SSRP
  // port is reported by ssrpError() instead, so the databases still serve.
  void start();
  void stop();
  // Moves every instance's clock (GETDATE(), backup dates and history, the Agent) from now on.
  void setClockOffset(std::chrono::seconds offset);

  struct Instance {
    std::string name;  // MSSQLSERVER for the default instance
    std::unique_ptr<engine::Engine> engine;
    std::unique_ptr<wire::TdsServer> server;
  };
  const std::vector<Instance>& instances() const { return instances_; }
  engine::Engine& engine() { return *instances_.front().engine; }
  std::uint16_t port() const { return instances_.front().server->port(); }
  std::uint16_t ssrpPort() const;
  const std::string& ssrpError() const { return ssrpError_; }
  const HostOptions& options() const { return options_; }

 private:
  HostOptions options_;
  std::vector<Instance> instances_;
  std::unique_ptr<wire::SsrpResponder> ssrp_;
  std::string ssrpError_;
};

// A signed duration of days, hours, minutes or seconds for --clock-offset: "-5d", "+3h", "-90m",
// "30s" (a bare number is seconds); nullopt when it is none.
std::optional<std::chrono::seconds> parseClockOffset(std::string_view text);

// The per-user default data folder: ${XDG_DATA_HOME:-~/.local/share}/brackenvale-standin
std::filesystem::path defaultDataDir();

struct CommandLine {
  HostOptions options;
  bool help = false;
  bool version = false;  // --version: the project's version, set once in CMake
  std::string error;     // non-empty: the command line was wrong
};
CommandLine parseCommandLine(const std::vector<std::string>& args);

// "standin " and the project's version.
std::string versionText();
std::string usageText();

}  // namespace standin::host
