// A real SMTP server for a test (tests/support/smtp_server.py on Debian's python3-aiosmtpd,
// started with /usr/bin/python3): 127.0.0.1 on a free port, plain, STARTTLS or SSL/TLS with a
// throw-away certificate authority made by openssl, AUTH PLAIN / LOGIN with a test user, and
// recipients it refuses. It can also stand for a server that never answers (a listener that
// takes the connection and stays silent) or one that is down (a closed port). Delivered messages
// land as files the test reads. POSIX.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/mail/mail_settings.h"
#include "mail_text.h"
#include "standin_fixture.h"

namespace bvtest {

// The throw-away certificates, made once per test program: a CA, a server certificate it signed
// for 127.0.0.1 and localhost, and a second CA that signed nothing.
class TestCertificates {
 public:
  static const TestCertificates& get();
  const std::filesystem::path& caFile() const { return ca_; }
  const std::filesystem::path& otherCaFile() const { return otherCa_; }
  const std::filesystem::path& certificateFile() const { return certificate_; }
  const std::filesystem::path& keyFile() const { return key_; }

 private:
  TestCertificates();
  TempDir folder_{"bv-smtp-ca"};
  std::filesystem::path ca_, otherCa_, certificate_, key_;
};

enum class SmtpMode {
  Plain,        // SMTP without TLS (STARTTLS not offered)
  StartTls,     // STARTTLS offered; AUTH only after it
  SslTls,       // TLS from the first byte
  NeverAnswer,  // takes the connection and says nothing
  Down,         // nothing listens on the port
};

struct SmtpServerOptions {
  SmtpMode mode = SmtpMode::Plain;
  bool requireAuth = true;          // AUTH with user() / password() before MAIL
  std::vector<std::string> refuse;  // recipients answered 550
  std::uint16_t port = 0;           // 0: a free one; else that one (a server started again)
};

// One message as the server received it.
struct DeliveredMail {
  MailText message;  // the bytes after DATA, CR LF as sent
  std::string envelopeFrom;
  std::vector<std::string> envelopeTo;
  std::string login;  // the AUTH user; empty without AUTH
};

class SmtpServerFixture {
 public:
  explicit SmtpServerFixture(SmtpServerOptions options = {});
  // A server of that mode with AUTH, refusing nobody.
  explicit SmtpServerFixture(SmtpMode mode) : SmtpServerFixture(SmtpServerOptions{mode, true, {}}) {}
  ~SmtpServerFixture();
  SmtpServerFixture(const SmtpServerFixture&) = delete;
  SmtpServerFixture& operator=(const SmtpServerFixture&) = delete;

  std::uint16_t port() const { return port_; }
  static std::string user() { return "backup-report@example.test"; }
  static std::string password() { return "Sm7p-pass;w'rd=1"; }

  // Settings that reach this server: 127.0.0.1, its port, its mode's protection, the test CA,
  // the test user when it asks for AUTH, sender and recipients of example.test, a timeout of
  // `timeout`.
  bv::mail::MailSettings settings(std::chrono::seconds timeout = std::chrono::seconds(10)) const;

  // The messages received so far, in order.
  std::vector<DeliveredMail> deliveries() const;
  // The AUTH attempts so far, "PLAIN ok", "LOGIN refused", ...
  std::vector<std::string> authAttempts() const;
  // What the server wrote to its standard error (for a failing test's message).
  std::string serverLog() const;

 private:
  struct Listener;
  SmtpServerOptions options_;
  TempDir folder_{"bv-smtp"};
  std::uint16_t port_ = 0;
  int pid_ = -1;
  std::unique_ptr<Listener> silent_;
};

}  // namespace bvtest
