#include "standin/host/host.h"

#include <cstdlib>
#include <stdexcept>

#include "standin/base/text.h"
#include "standin/base/version.h"

namespace standin::host {

Host::Host(HostOptions options) : options_(std::move(options)) {
  if (options_.dataDir.empty()) options_.dataDir = defaultDataDir();
  const std::string computer =
      options_.computerName.empty() ? engine::localComputerName() : options_.computerName;
  options_.computerName = computer;
  auto add = [&](const std::string& name, const std::filesystem::path& dir, int version,
                 std::optional<base::Edition> edition, std::uint16_t port) {
    engine::EngineConfig ec;
    ec.dataDir = dir;
    ec.saPassword = options_.saPassword;
    ec.serverVersion = version;
    ec.edition = edition;
    ec.computerName = computer;
    ec.instanceName = base::equalsIgnoreCase(name, "MSSQLSERVER") ? std::string() : name;
    ec.createSample = options_.createSample;
    ec.clockOffset = options_.clockOffset;
    ec.statementFaults = wire::statementFaults(options_.faults);
    // Each further instance records to a file of its own beside the main one's.
    if (!options_.recordFile.empty())
      ec.recordFile = instances_.empty() ? options_.recordFile
                                         : std::filesystem::path(options_.recordFile.string() + "." + name);
    Instance inst;
    inst.name = name;
    inst.engine = std::make_unique<engine::Engine>(ec);
    wire::TdsServerConfig tc;
    tc.port = port;
    tc.ipv6 = options_.ipv6;
    tc.traceFile = options_.traceFile;
    tc.limits = options_.limits;
    tc.faults = options_.faults;
    inst.server = std::make_unique<wire::TdsServer>(*inst.engine, tc);
    instances_.push_back(std::move(inst));
  };
  add(options_.instanceName.empty() ? std::string("MSSQLSERVER") : options_.instanceName, options_.dataDir,
      options_.serverVersion, options_.edition, options_.port);
  for (const auto& extra : options_.extraInstances)
    add(extra.name, options_.dataDir / "instances" / extra.name,
        extra.serverVersion ? extra.serverVersion : options_.serverVersion,
        extra.edition ? extra.edition : options_.edition, extra.port);
}

Host::~Host() { stop(); }

void Host::start() {
  for (auto& inst : instances_) inst.server->start();
  if (options_.ssrpPort != 0) {
    std::vector<wire::SsrpInstance> list;
    for (const auto& inst : instances_)
      list.push_back(
          wire::SsrpInstance{inst.name, inst.server->port(), inst.engine->version().versionString()});
    ssrp_ = std::make_unique<wire::SsrpResponder>(options_.computerName, list, options_.ssrpPort);
    try {
      ssrp_->start();
    } catch (const std::exception& e) {
      ssrpError_ = e.what();
      ssrp_.reset();
    }
  }
}

void Host::stop() {
  if (ssrp_) ssrp_->stop();
  // A statement held by a fault goes on, so that its session can end.
  for (auto& inst : instances_) inst.engine->stopHoldingStatements();
  for (auto& inst : instances_) inst.server->stop();
}

void Host::setClockOffset(std::chrono::seconds offset) {
  for (auto& inst : instances_) inst.engine->setClockOffset(offset);
}

std::optional<std::chrono::seconds> parseClockOffset(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  std::size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  if (digits == 0 || digits > 9) return std::nullopt;
  long long n = 0;
  for (std::size_t i = 0; i < digits; ++i) n = n * 10 + (text[i] - '0');
  const std::string_view unit = text.substr(digits);
  long long seconds = 0;
  if (unit == "d") {
    seconds = n * 86400;
  } else if (unit == "h") {
    seconds = n * 3600;
  } else if (unit == "m") {
    seconds = n * 60;
  } else if (unit == "s" || unit.empty()) {
    seconds = n;
  } else {
    return std::nullopt;
  }
  // Within the datetime type's range from any day of it.
  if (seconds > 10000LL * 366 * 86400) return std::nullopt;
  return std::chrono::seconds(negative ? -seconds : seconds);
}

std::uint16_t Host::ssrpPort() const { return ssrp_ ? ssrp_->port() : 0; }

std::filesystem::path defaultDataDir() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && *xdg) return std::filesystem::path(xdg) / "brackenvale-standin";
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home && *home ? home : ".") / ".local" / "share" / "brackenvale-standin";
}

std::string usageText() {
  return "Usage: standin [options]\n"
         "A local SQL Server stand-in: speaks TDS on 127.0.0.1 (and ::1), keeps its databases\n"
         "as SQLite files, answers SQL Server Resolution Protocol requests on UDP.\n"
         "\n"
         "  --port N             TCP port of the main instance (default 1433; 0 = any free port)\n"
         "  --data DIR           data folder (default ${XDG_DATA_HOME:-~/.local/share}/brackenvale-standin)\n"
         "  --sa-password PW     password of the sa login (default: generated on the first start,\n"
         "                       kept in the data folder, printed at every start)\n"
         "  --server-version Y   SQL Server release to emulate: 2000, 2005, 2008, 2012, 2014, 2016,\n"
         "                       2017, 2019, 2022 (default 2005)\n"
         "  --edition E          edition to play: express, standard, enterprise, developer, or\n"
         "                       desktop-engine (2000 only); default developer, desktop-engine for\n"
         "                       2000. Express has no SQL Server Agent\n"
         "  --instance NAME      name of the main instance (default: the default instance, MSSQLSERVER)\n"
         "  --instance NAME=PORT[:YEAR][:EDITION]\n"
         "                       a further named instance on its own TCP port (and release and\n"
         "                       edition), data in DIR/instances/NAME; may be repeated\n"
         "  --ssrp-port N        UDP port of the resolution protocol on 127.0.0.1 (default 1434; 0 = off)\n"
         "  --trace FILE         append every received batch and procedure call to FILE\n"
         "  --record FILE        for tests: write every request and its reply to FILE, a session at a\n"
         "                       time (a further instance to FILE.NAME), to compare two builds\n"
         "  --no-ipv6            listen on 127.0.0.1 only\n"
         "  --max-connections N  client connections open at once; more are closed (default 128);\n"
         "                       those not logged in yet may take a quarter of them, the oldest go first\n"
         "  --login-timeout T    a client not logged in this long after connecting is disconnected\n"
         "                       (default 60s; T is a number with ms or s, a bare number is seconds)\n"
         "  --max-login-bytes N  the largest pre-login or login message a client may send (default 65536)\n"
         "  --accept-pause T     wait before accepting again when accepting fails (default 100ms)\n"
         "  --clock-offset D     for tests: move the server's clock (GETDATE(), backup dates and history,\n"
         "                       the Agent) by D, days, hours, minutes or seconds: -5d, +3h, -90m\n"
         "  --fault FAULT        for tests: fail on demand; may be repeated. FAULT is\n"
         "                       ACTION[:times=N][:match=TEXT] with ACTION one of\n"
         "                         drop                  close when a matching request arrives\n"
         "                         drop-after-bytes=N    run it, send N bytes of its reply, close\n"
         "                         stall=T               hold a matching request for T, then run it\n"
         "                         stall-login=T         hold each login for T\n"
         "                         throttle=BYTES        copy a backup, restore or verify at BYTES a second\n"
         "                         damage-restore        damage the copy a restore to a matching name makes\n"
         "                         volume-free=BYTES     a matching file's volume has BYTES free\n"
         "                       match=TEXT: requests holding TEXT (any case); times=N: the first N\n"
         "  --version            the version\n"
         "  --help               this text\n";
}

namespace {

bool parsePort(const std::string& text, std::uint16_t& out) {
  if (text.empty() || text.size() > 5) return false;
  for (const char c : text)
    if (c < '0' || c > '9') return false;
  const long v = std::strtol(text.c_str(), nullptr, 10);
  if (v < 0 || v > 65535) return false;
  out = static_cast<std::uint16_t>(v);
  return true;
}

bool parseYear(const std::string& text, int& out) {
  if (text.size() != 4) return false;
  for (const char c : text)
    if (c < '0' || c > '9') return false;
  out = std::atoi(text.c_str());
  return base::isSupportedYear(out);
}

bool parseCount(const std::string& text, long min, long max, long& out) {
  if (text.empty() || text.size() > 9) return false;
  for (const char c : text)
    if (c < '0' || c > '9') return false;
  out = std::strtol(text.c_str(), nullptr, 10);
  return out >= min && out <= max;
}

bool validInstanceName(const std::string& name) {
  if (name.empty() || name.size() > 16) return false;
  for (const char c : name) {
    const bool ok =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$';
    if (!ok) return false;
  }
  return true;
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args) {
  CommandLine cl;
  auto& o = cl.options;
  bool mainNamed = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::string value;
    bool hasValue = false;
    if (const auto eq = arg.find('=');
        arg.rfind("--", 0) == 0 && eq != std::string::npos && arg.rfind("--instance", 0) != 0) {
      value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
      hasValue = true;
    } else if (arg.rfind("--instance=", 0) == 0) {
      value = arg.substr(11);
      arg = "--instance";
      hasValue = true;
    }
    auto next = [&]() -> bool {
      if (hasValue) return true;
      if (i + 1 >= args.size()) {
        cl.error = "option " + arg + " needs a value";
        return false;
      }
      value = args[++i];
      return true;
    };
    if (arg == "--version") {
      cl.version = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      cl.help = true;
    } else if (arg == "--port") {
      if (!next()) return cl;
      if (!parsePort(value, o.port)) cl.error = "--port: not a port number: " + value;
    } else if (arg == "--data") {
      if (!next()) return cl;
      if (value.empty()) cl.error = "--data: empty folder name";
      o.dataDir = value;
    } else if (arg == "--sa-password") {
      if (!next()) return cl;
      if (value.empty()) cl.error = "--sa-password: empty password";
      o.saPassword = value;
    } else if (arg == "--server-version") {
      if (!next()) return cl;
      if (!parseYear(value, o.serverVersion))
        cl.error = "--server-version: not a supported release year: " + value;
    } else if (arg == "--edition") {
      if (!next()) return cl;
      o.edition = base::editionNamed(value);
      if (!o.edition)
        cl.error =
            "--edition: not an edition (express, standard, enterprise, developer, desktop-engine): " + value;
    } else if (arg == "--ssrp-port") {
      if (!next()) return cl;
      if (!parsePort(value, o.ssrpPort)) cl.error = "--ssrp-port: not a port number: " + value;
    } else if (arg == "--trace") {
      if (!next()) return cl;
      o.traceFile = value;
    } else if (arg == "--record") {
      if (!next()) return cl;
      o.recordFile = value;
    } else if (arg == "--no-ipv6") {
      o.ipv6 = false;
    } else if (arg == "--max-connections") {
      if (!next()) return cl;
      long n = 0;
      if (!parseCount(value, 1, 100000, n))
        cl.error = "--max-connections: not a number from 1 to 100000: " + value;
      o.limits.maxConnections = static_cast<int>(n);
    } else if (arg == "--login-timeout" || arg == "--accept-pause") {
      if (!next()) return cl;
      const auto d = wire::parseDuration(value);
      if (!d || d->count() <= 0) {
        cl.error = arg + ": not a duration (such as 500ms or 30s): " + value;
      } else {
        (arg == "--login-timeout" ? o.limits.loginTimeout : o.limits.acceptPause) = *d;
      }
    } else if (arg == "--clock-offset") {
      if (!next()) return cl;
      if (const auto offset = parseClockOffset(value)) {
        o.clockOffset = *offset;
      } else {
        cl.error =
            "--clock-offset: not a duration of days, hours, minutes or seconds (such as -5d or +3h): " +
            value;
      }
    } else if (arg == "--fault") {
      if (!next()) return cl;
      std::string why;
      if (auto fault = wire::parseFault(value, &why)) {
        o.faults.push_back(std::move(*fault));
      } else {
        cl.error = "--fault: " + why + ": " + value;
      }
    } else if (arg == "--max-login-bytes") {
      if (!next()) return cl;
      long n = 0;
      if (!parseCount(value, 512, 16 * 1024 * 1024, n))
        cl.error = "--max-login-bytes: not a number from 512 to 16777216: " + value;
      o.limits.maxLoginMessageBytes = static_cast<std::size_t>(n);
    } else if (arg == "--instance") {
      if (!next()) return cl;
      const auto eq = value.find('=');
      if (eq == std::string::npos) {
        if (!validInstanceName(value)) {
          cl.error = "--instance: not a valid instance name: " + value;
        } else if (mainNamed) {
          cl.error = "--instance: the main instance is already named";
        } else {
          o.instanceName = value;
          mainNamed = true;
        }
      } else {
        ExtraInstance extra;
        extra.name = value.substr(0, eq);
        std::string rest = value.substr(eq + 1);
        // PORT, then a release year and an edition, each optional, in that order.
        std::vector<std::string> parts;
        for (std::size_t from = 0;;) {
          const auto colon = rest.find(':', from);
          parts.push_back(rest.substr(from, colon == std::string::npos ? std::string::npos : colon - from));
          if (colon == std::string::npos) break;
          from = colon + 1;
        }
        std::size_t k = 1;
        if (k < parts.size() && !parts[k].empty() && parts[k][0] >= '0' && parts[k][0] <= '9') {
          if (!parseYear(parts[k], extra.serverVersion))
            cl.error = "--instance: not a supported release year in " + value;
          ++k;
        }
        if (k < parts.size()) {
          extra.edition = base::editionNamed(parts[k]);
          if (!extra.edition) cl.error = "--instance: not an edition in " + value;
          ++k;
        }
        if (k < parts.size()) cl.error = "--instance: not NAME=PORT[:YEAR][:EDITION]: " + value;
        if (!validInstanceName(extra.name)) cl.error = "--instance: not a valid instance name: " + extra.name;
        if (!parsePort(parts[0], extra.port)) cl.error = "--instance: not a port number in " + value;
        o.extraInstances.push_back(extra);
      }
    } else {
      cl.error = "unknown option: " + arg;
    }
    if (!cl.error.empty()) return cl;
  }
  // An edition the release never had is refused before anything starts.
  if (o.edition) {
    if (const auto problem = base::editionProblem(o.serverVersion, *o.edition); !problem.empty())
      cl.error = "--edition: " + problem;
  }
  for (const auto& extra : o.extraInstances) {
    const int year = extra.serverVersion ? extra.serverVersion : o.serverVersion;
    const auto edition = extra.edition ? extra.edition : o.edition;
    if (!edition) continue;
    if (const auto problem = base::editionProblem(year, *edition); !problem.empty())
      cl.error = "--instance " + extra.name + ": " + problem;
  }
  const std::string mainName = o.instanceName.empty() ? "MSSQLSERVER" : o.instanceName;
  for (std::size_t a = 0; a < o.extraInstances.size(); ++a) {
    if (base::equalsIgnoreCase(o.extraInstances[a].name, mainName))
      cl.error = "--instance: " + mainName + " is named twice";
    for (std::size_t b = a + 1; b < o.extraInstances.size(); ++b)
      if (base::equalsIgnoreCase(o.extraInstances[a].name, o.extraInstances[b].name))
        cl.error = "--instance: " + o.extraInstances[a].name + " is named twice";
  }
  return cl;
}

std::string versionText() { return std::string("standin ") + BV_VERSION + "\n"; }

}  // namespace standin::host
