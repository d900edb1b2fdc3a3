// The standin executable: its command line, its start-up lines, restarts, several instances.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>

#include "odbc_client.h"
#include "standin/host/host.h"
#include "standin_fixture.h"
#include "subprocess.h"

extern char** environ;

namespace {

// A standin child process whose standard output is read line by line.
class Child {
 public:
  explicit Child(std::vector<std::string> args) {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    args.insert(args.begin(), STANDIN_EXECUTABLE);
    if (const auto record = bvtest::nextRecordingFile(); !record.empty()) {
      args.push_back("--record");
      args.push_back(record.string());
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    out_ = fds[0];
  }
  ~Child() {
    stop();
    ::close(out_);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Lines up to and including the one that starts with `prefix` (the start-up guard is generous).
  std::vector<std::string> readUntil(const std::string& prefix) {
    std::vector<std::string> lines;
    std::string buf;
    while (true) {
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, 60000) <= 0) return lines;
      char c;
      if (::read(out_, &c, 1) != 1) return lines;
      if (c != '\n') {
        buf.push_back(c);
        continue;
      }
      lines.push_back(buf);
      if (buf.rfind(prefix, 0) == 0) return lines;
      buf.clear();
    }
  }

  int stop() {
    if (pid_ <= 0) return exit_;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return exit_;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int exit_ = -1;
};

std::string after(const std::vector<std::string>& lines, const std::string& prefix) {
  for (const auto& l : lines)
    if (l.rfind(prefix, 0) == 0) return l.substr(prefix.size());
  return {};
}

std::string portOf(const std::string& line) { return line.substr(line.rfind(':') + 1); }

std::string connectString(const std::string& port, const std::string& password) {
  return "Driver=" + bvtest::odbcDriverName() + ";Server=127.0.0.1;Port=" + port + ";UID=sa;PWD={" +
         password + "};";
}

std::string queryOne(const std::string& connection, const std::string& sql) {
  bvtest::odbc::Connection c;
  if (!c.connect(connection)) return "<no connection>";
  const auto r = c.execute(sql);
  if (r.sets.empty() || r.sets[0].rows.empty() || !r.sets[0].rows[0][0]) return "<no value>";
  return *r.sets[0].rows[0][0];
}

}  // namespace

TEST(CommandLine, DefaultsAreThoseOfAFreshDemo) {
  const auto cl = standin::host::parseCommandLine({});
  EXPECT_TRUE(cl.error.empty());
  EXPECT_EQ(cl.options.port, 1433);
  EXPECT_EQ(cl.options.ssrpPort, 1434);
  EXPECT_EQ(cl.options.serverVersion, 2005);
  EXPECT_TRUE(cl.options.instanceName.empty());
  EXPECT_TRUE(cl.options.saPassword.empty());
}

TEST(CommandLine, EveryOptionIsRead) {
  const auto cl = standin::host::parseCommandLine(
      {"--port", "0", "--data", "/tmp/x", "--sa-password", "a;b'c", "--server-version", "2000", "--instance",
       "SQLEXPRESS", "--instance", "OTHER=15000:2008", "--ssrp-port=0", "--trace", "/tmp/t.log"});
  ASSERT_TRUE(cl.error.empty()) << cl.error;
  EXPECT_EQ(cl.options.port, 0);
  EXPECT_EQ(cl.options.dataDir, "/tmp/x");
  EXPECT_EQ(cl.options.saPassword, "a;b'c");
  EXPECT_EQ(cl.options.serverVersion, 2000);
  EXPECT_EQ(cl.options.instanceName, "SQLEXPRESS");
  ASSERT_EQ(cl.options.extraInstances.size(), 1u);
  EXPECT_EQ(cl.options.extraInstances[0].name, "OTHER");
  EXPECT_EQ(cl.options.extraInstances[0].port, 15000);
  EXPECT_EQ(cl.options.extraInstances[0].serverVersion, 2008);
  EXPECT_EQ(cl.options.ssrpPort, 0);
  EXPECT_EQ(cl.options.traceFile, "/tmp/t.log");
}

TEST(CommandLine, LimitsAreReadWithTheirUnits) {
  const auto defaults = standin::host::parseCommandLine({}).options.limits;
  EXPECT_EQ(defaults.maxConnections, 128);
  EXPECT_EQ(defaults.loginTimeout, std::chrono::seconds(60));
  EXPECT_EQ(defaults.maxLoginMessageBytes, 65536u);
  EXPECT_EQ(defaults.acceptPause, std::chrono::milliseconds(100));
  const auto cl = standin::host::parseCommandLine({"--max-connections", "5", "--login-timeout", "250ms",
                                                   "--max-login-bytes=4096", "--accept-pause", "2s"});
  ASSERT_TRUE(cl.error.empty()) << cl.error;
  EXPECT_EQ(cl.options.limits.maxConnections, 5);
  EXPECT_EQ(cl.options.limits.loginTimeout, std::chrono::milliseconds(250));
  EXPECT_EQ(cl.options.limits.maxLoginMessageBytes, 4096u);
  EXPECT_EQ(cl.options.limits.acceptPause, std::chrono::seconds(2));
  EXPECT_EQ(standin::host::parseCommandLine({"--login-timeout", "30"}).options.limits.loginTimeout,
            std::chrono::seconds(30));
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--max-connections", "0"},
                                               {"--login-timeout", "soon"},
                                               {"--login-timeout", "5m"},
                                               {"--max-login-bytes", "10"},
                                               {"--accept-pause", "0ms"}}) {
    EXPECT_FALSE(standin::host::parseCommandLine(args).error.empty()) << args[0] << " " << args[1];
  }
}

TEST(CommandLine, TheClockOffsetIsASignedDurationOfDaysHoursMinutesOrSeconds) {
  using std::chrono::seconds;
  EXPECT_EQ(standin::host::parseCommandLine({}).options.clockOffset, seconds(0));
  for (const auto& [text, expected] :
       std::vector<std::pair<std::string, seconds>>{{"-5d", seconds(-5 * 86400)},
                                                    {"+3h", seconds(3 * 3600)},
                                                    {"-90m", seconds(-5400)},
                                                    {"45s", seconds(45)},
                                                    {"30", seconds(30)}}) {
    const auto cl = standin::host::parseCommandLine({"--clock-offset", text});
    EXPECT_TRUE(cl.error.empty()) << text << ": " << cl.error;
    EXPECT_EQ(cl.options.clockOffset, expected) << text;
  }
  for (const char* bad : {"", "-", "5x", "1.5d", "--5d", "99999999999d"})
    EXPECT_FALSE(standin::host::parseCommandLine({"--clock-offset", bad}).error.empty()) << bad;
}

TEST(CommandLine, MistakesAreRefused) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--port", "70000"},
                                               {"--port"},
                                               {"--server-version", "1999"},
                                               {"--bogus"},
                                               {"--instance", "A=1", "--instance", "a=2"},
                                               {"--instance", "A", "--instance", "B"},
                                               {"--instance", "bad name"},
                                               {"--instance", "MSSQLSERVER=1500"},
                                               {"--ssrp-port", "x"}}) {
    EXPECT_FALSE(standin::host::parseCommandLine(args).error.empty()) << args[0];
  }
}

TEST(CommandLine, EditionsArePerInstanceAndOnlyThoseTheReleaseHad) {
  using standin::base::Edition;
  const auto cl = standin::host::parseCommandLine(
      {"--edition", "Express", "--server-version", "2019", "--instance", "A=0:2019:standard", "--instance",
       "B=0:enterprise", "--instance", "C=0:2000:desktop-engine", "--instance", "D=0"});
  ASSERT_TRUE(cl.error.empty()) << cl.error;
  EXPECT_EQ(cl.options.edition, Edition::Express);
  ASSERT_EQ(cl.options.extraInstances.size(), 4u);
  EXPECT_EQ(cl.options.extraInstances[0].edition, Edition::Standard);
  EXPECT_EQ(cl.options.extraInstances[0].serverVersion, 2019);
  EXPECT_EQ(cl.options.extraInstances[1].edition, Edition::Enterprise);
  EXPECT_EQ(cl.options.extraInstances[1].serverVersion, 0);
  EXPECT_FALSE(cl.options.extraInstances[3].edition);  // the main instance's
  EXPECT_FALSE(standin::host::parseCommandLine({}).options.edition);
  // An edition the release never had is refused, naming the reason.
  for (const auto& [args, reason] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--server-version", "2000", "--edition", "express"}, "no Express Edition"},
           {{"--edition", "desktop-engine"}, "SQL Server 2000's"},
           {{"--instance", "OLD=0:2000:express"}, "no Express Edition"},
           {{"--edition", "express", "--instance", "OLD=0:2000"}, "no Express Edition"},
           {{"--edition", "web"}, "not an edition"},
           {{"--instance", "X=0:2019:express:more"}, "NAME=PORT[:YEAR][:EDITION]"}}) {
    const auto error = standin::host::parseCommandLine(args).error;
    EXPECT_NE(error.find(reason), std::string::npos) << args.back() << ": " << error;
  }
  const auto refused = bvtest::runProcess(
      {STANDIN_EXECUTABLE, "--server-version", "2000", "--edition", "express", "--port", "0"}, "");
  EXPECT_EQ(refused.exitCode, 2);
  EXPECT_NE(refused.output.find("SQL Server 2000 has no Express Edition"), std::string::npos)
      << refused.output;
}

TEST(CommandLine, DefaultDataFolderFollowsXdgDataHome) {
  const char* old = std::getenv("XDG_DATA_HOME");
  const std::string saved = old ? old : "";
  ::setenv("XDG_DATA_HOME", "/somewhere/data", 1);
  EXPECT_EQ(standin::host::defaultDataDir(), std::filesystem::path("/somewhere/data/brackenvale-standin"));
  if (old) {
    ::setenv("XDG_DATA_HOME", saved.c_str(), 1);
  } else {
    ::unsetenv("XDG_DATA_HOME");
  }
}

TEST(Executable, HelpListsTheOptionsAndBadOptionsFail) {
  const auto help = bvtest::runProcess({STANDIN_EXECUTABLE, "--help"}, "");
  EXPECT_EQ(help.exitCode, 0);
  for (const char* opt : {"--port", "--data", "--sa-password", "--server-version", "--instance",
                          "--ssrp-port", "--trace", "--max-connections", "--login-timeout", "--edition",
                          "--max-login-bytes", "--accept-pause", "--clock-offset", "--fault"})
    EXPECT_NE(help.output.find(opt), std::string::npos) << opt;
  const auto bad = bvtest::runProcess({STANDIN_EXECUTABLE, "--frobnicate"}, "");
  EXPECT_EQ(bad.exitCode, 2);
  EXPECT_NE(bad.output.find("unknown option: --frobnicate"), std::string::npos);
}

TEST(Executable, VersionIsTheProjectsOne) {
  const auto version = bvtest::runProcess({STANDIN_EXECUTABLE, "--version"}, "");
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.output, std::string("standin ") + PROJECT_VERSION + "\n");
}

TEST(Executable, PrintsItsAddressAndAGeneratedPasswordThatARestartKeeps) {
  bvtest::TempDir dir("bv-cli");
  const std::vector<std::string> args = {"--port",      "0", "--data", (dir.path() / "data").string(),
                                         "--ssrp-port", "0"};
  std::string password;
  {
    Child first(args);
    const auto lines = first.readUntil("standin listening on 127.0.0.1:");
    ASSERT_FALSE(lines.empty());
    ASSERT_EQ(lines.back().rfind("standin listening on 127.0.0.1:", 0), 0u) << lines.back();
    password = after(lines, "sa password: ");
    ASSERT_FALSE(password.empty());
    // It lives in an owner-only file of its own, as a client's password file would.
    const auto file = dir.path() / "data" / "sa-password";
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    std::ifstream in(file);
    std::string stored;
    std::getline(in, stored);
    EXPECT_EQ(stored, password);
    EXPECT_EQ(queryOne(connectString(portOf(lines.back()), password), "SELECT DB_NAME()"), "master");
    EXPECT_EQ(first.stop(), 0);
  }
  Child second(args);
  const auto lines = second.readUntil("standin listening on 127.0.0.1:");
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(after(lines, "sa password: "), password);
  EXPECT_EQ(
      queryOne(connectString(portOf(lines.back()), password), "SELECT COUNT(*) FROM Sample.dbo.Customers"),
      "4");
}

TEST(Executable, TraceLogsEveryBatch) {
  bvtest::TempDir dir("bv-cli");
  const auto trace = dir.path() / "trace.log";
  Child child({"--port", "0", "--data", (dir.path() / "data").string(), "--ssrp-port", "0", "--sa-password",
               "pw", "--trace", trace.string()});
  const auto lines = child.readUntil("standin listening on 127.0.0.1:");
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(after(lines, "sa password: ").empty());  // a given password is not printed
  EXPECT_EQ(queryOne(connectString(portOf(lines.back()), "pw"), "SELECT 'traced' AS marker"), "traced");
  child.stop();
  std::ifstream in(trace);
  const std::string log((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(log.find("SELECT 'traced' AS marker"), std::string::npos) << log;
}

TEST(Executable, FurtherInstancesServeOnTheirOwnPortsAndReleases) {
  bvtest::TempDir dir("bv-cli");
  Child child({"--port", "0", "--data", (dir.path() / "data").string(), "--ssrp-port", "0", "--sa-password",
               "pw", "--instance", "OLDONE=0:2000"});
  const auto lines = child.readUntil("standin listening on 127.0.0.1:");
  ASSERT_FALSE(lines.empty());
  const std::string other = after(lines, "standin instance OLDONE listening on ");
  ASSERT_FALSE(other.empty());
  EXPECT_EQ(queryOne(connectString(portOf(other), "pw"), "SELECT @@VERSION").substr(0, 26),
            "Microsoft SQL Server  2000");
  EXPECT_EQ(queryOne(connectString(portOf(lines.back()), "pw"), "SELECT @@VERSION").substr(0, 25),
            "Microsoft SQL Server 2005");
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "data" / "instances" / "OLDONE" / "master.sqlite"));
}
