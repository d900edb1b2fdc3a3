#include "smtp_fixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "closed_port.h"
#include "core/sys/unique_fd.h"
#include "silent_listener.h"
#include "subprocess.h"

extern char** environ;

namespace bvtest {

namespace fs = std::filesystem;
using bv::sys::UniqueFd;

namespace {

constexpr const char* kPython = "/usr/bin/python3";
constexpr int kReadyWithinMs = 30'000;

std::string readFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void openssl(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv = {"openssl"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  const ProcessResult result = runProcess(argv, "");
  if (result.exitCode != 0)
    throw std::runtime_error("openssl " + arguments.front() + " failed:\n" + result.output);
}

// A self-signed CA of its own (EC keys: quick to make).
void makeCa(const fs::path& key, const fs::path& certificate, const std::string& name) {
  openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
           key.string(), "-out", certificate.string(), "-days", "2", "-subj", "/CN=" + name, "-addext",
           "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"});
}

// A descriptor moved above the standard ones and the server's 3, closed on exec.
UniqueFd high(int fd) {
  if (fd < 0) throw std::runtime_error(std::string("smtp fixture: ") + std::strerror(errno));
  UniqueFd original(fd);
  UniqueFd moved(::fcntl(fd, F_DUPFD_CLOEXEC, 10));
  if (!moved) throw std::runtime_error(std::string("smtp fixture: dup: ") + std::strerror(errno));
  return moved;
}

std::string jsonText(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      out += escaped;
    } else {
      out.push_back(c);
    }
  }
  return out + "\"";
}

}  // namespace

// --- Certificates --------------------------------------------------------------------------------

const TestCertificates& TestCertificates::get() {
  static const TestCertificates certificates;
  return certificates;
}

TestCertificates::TestCertificates() {
  const fs::path& at = folder_.path();
  ca_ = at / "ca.pem";
  otherCa_ = at / "other-ca.pem";
  certificate_ = at / "server.pem";
  key_ = at / "server.key";
  makeCa(at / "ca.key", ca_, "Brackenvale Test CA");
  makeCa(at / "other-ca.key", otherCa_, "Brackenvale Other Test CA");
  openssl({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
           key_.string(), "-out", (at / "server.csr").string(), "-subj", "/CN=127.0.0.1"});
  std::ofstream(at / "server.ext") << "subjectAltName=IP:127.0.0.1,DNS:localhost\n"
                                      "basicConstraints=CA:FALSE\n"
                                      "keyUsage=critical,digitalSignature\n"
                                      "extendedKeyUsage=serverAuth\n";
  openssl({"x509", "-req", "-in", (at / "server.csr").string(), "-CA", ca_.string(), "-CAkey",
           (at / "ca.key").string(), "-set_serial", "2", "-days", "2", "-extfile",
           (at / "server.ext").string(), "-out", certificate_.string()});
}

// --- The server ------------------------------------------------------------------------------------

struct SmtpServerFixture::Listener {
  SilentListener listener;
};

SmtpServerFixture::SmtpServerFixture(SmtpServerOptions options) : options_(std::move(options)) {
  if (options_.mode == SmtpMode::NeverAnswer) {
    silent_ = std::make_unique<Listener>();
    port_ = silent_->listener.port();
    return;
  }
  if (options_.mode == SmtpMode::Down) {
    port_ = closedLoopbackPort();
    return;
  }

  // The socket listens before the server runs: a client that comes early waits in the backlog.
  UniqueFd listening = high(::socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(options_.port);
  const int reuse = 1;
  ::setsockopt(listening.get(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  socklen_t length = sizeof address;
  if (::bind(listening.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listening.get(), 16) != 0 ||
      ::getsockname(listening.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error(std::string("smtp fixture: listen: ") + std::strerror(errno));
  }
  port_ = ntohs(address.sin_port);

  const fs::path maildir = folder_.path() / "mail";
  fs::create_directory(maildir);
  int input[2];
  int output[2];
  if (::pipe(input) != 0 || ::pipe(output) != 0) throw std::runtime_error("smtp fixture: pipe");
  UniqueFd inputRead = high(input[0]);
  UniqueFd inputWrite = high(input[1]);
  UniqueFd outputRead = high(output[0]);
  UniqueFd outputWrite = high(output[1]);
  UniqueFd log = high(::open((folder_.path() / "server.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, inputRead.get(), 0);
  posix_spawn_file_actions_adddup2(&actions, outputWrite.get(), 1);
  posix_spawn_file_actions_adddup2(&actions, log.get(), 2);
  posix_spawn_file_actions_adddup2(&actions, listening.get(), 3);
  std::string python = kPython;
  std::string script = BV_SMTP_SERVER_SCRIPT;
  char* argv[] = {python.data(), script.data(), nullptr};
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, kPython, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error(std::string("smtp fixture: cannot start ") + kPython);
  pid_ = pid;
  inputRead.reset();
  outputWrite.reset();
  listening.reset();

  const TestCertificates* certificates =
      options_.mode == SmtpMode::Plain ? nullptr : &TestCertificates::get();
  std::string config = "{\"mode\": ";
  config += jsonText(options_.mode == SmtpMode::Plain      ? "plain"
                     : options_.mode == SmtpMode::StartTls ? "starttls"
                                                           : "ssl");
  config += ", \"maildir\": " + jsonText(maildir.string());
  if (certificates != nullptr) {
    config += ", \"cert\": " + jsonText(certificates->certificateFile().string());
    config += ", \"key\": " + jsonText(certificates->keyFile().string());
  }
  if (options_.requireAuth) {
    config += ", \"user\": " + jsonText(user()) + ", \"password\": " + jsonText(password());
  }
  config += ", \"refuse\": [";
  for (std::size_t i = 0; i < options_.refuse.size(); ++i)
    config += (i ? ", " : "") + jsonText(options_.refuse[i]);
  config += "]}\n";
  const bool written =
      ::write(inputWrite.get(), config.data(), config.size()) == static_cast<ssize_t>(config.size());
  inputWrite.reset();

  // "ready", or the end of its output when it could not start.
  std::string said;
  pollfd waiting{outputRead.get(), POLLIN, 0};
  while (written && said.find('\n') == std::string::npos && ::poll(&waiting, 1, kReadyWithinMs) > 0) {
    char buffer[64];
    const ssize_t n = ::read(outputRead.get(), buffer, sizeof buffer);
    if (n <= 0) break;
    said.append(buffer, static_cast<std::size_t>(n));
  }
  if (said != "ready\n") {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
    throw std::runtime_error("the test SMTP server did not start:\n" + said + serverLog());
  }
}

SmtpServerFixture::~SmtpServerFixture() {
  if (pid_ > 0) {
    // Every message is on disk before its 250 reply; nothing is lost by ending it at once.
    ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
}

bv::mail::MailSettings SmtpServerFixture::settings(std::chrono::seconds timeout) const {
  bv::mail::MailSettings settings;
  settings.server = "127.0.0.1";
  settings.port = port_;
  switch (options_.mode) {
    case SmtpMode::StartTls:
      settings.security = bv::mail::Security::StartTls;
      break;
    case SmtpMode::SslTls:
      settings.security = bv::mail::Security::SslTls;
      break;
    default:
      settings.security = bv::mail::Security::None;
      break;
  }
  if (options_.mode == SmtpMode::StartTls || options_.mode == SmtpMode::SslTls) {
    settings.caFile = TestCertificates::get().caFile().string();
  }
  if (options_.requireAuth) {
    settings.userName = user();
    settings.password = password();
  }
  settings.sender = "Brackenvale <backup@example.test>";
  settings.recipients = {"admin@example.test"};
  settings.timeout = timeout;
  return settings;
}

std::vector<DeliveredMail> SmtpServerFixture::deliveries() const {
  std::vector<DeliveredMail> mails;
  const fs::path maildir = folder_.path() / "mail";
  for (int number = 1;; ++number) {
    const fs::path envelope = maildir / (std::to_string(number) + ".envelope");
    if (!fs::exists(envelope)) break;
    DeliveredMail mail;
    mail.message = MailText(readFile(maildir / (std::to_string(number) + ".eml")));
    std::istringstream lines(readFile(envelope));
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("from ", 0) == 0) mail.envelopeFrom = line.substr(5);
      if (line.rfind("to ", 0) == 0) mail.envelopeTo.push_back(line.substr(3));
      if (line.rfind("login ", 0) == 0) mail.login = line.substr(6);
    }
    mails.push_back(std::move(mail));
  }
  return mails;
}

std::vector<std::string> SmtpServerFixture::authAttempts() const {
  std::vector<std::string> attempts;
  std::istringstream lines(readFile(folder_.path() / "mail" / "auth.log"));
  for (std::string line; std::getline(lines, line);) attempts.push_back(line);
  return attempts;
}

std::string SmtpServerFixture::serverLog() const { return readFile(folder_.path() / "server.log"); }

}  // namespace bvtest
