// The program's libcurl, loaded when the first mail is sent (src/app/libcurl_on_first_use.cpp).
// This test program is linked as the program is: with those functions and --as-needed, so without
// libcurl.so.4 until it is loaded; the real transport sends through it to a real SMTP server.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "core/mail/mail_transport.h"
#include "smtp_fixture.h"

namespace {

using bvtest::SmtpMode;
using bvtest::SmtpServerFixture;

bool libcurlLoaded() {
  void* library = ::dlopen("libcurl.so.4", RTLD_NOW | RTLD_NOLOAD);
  if (library != nullptr) ::dlclose(library);
  return library != nullptr;
}

TEST(LibcurlOnFirstUse, TheFirstMailLoadsItAndEveryMailGoesAsWithLibcurlLinked) {
  EXPECT_FALSE(libcurlLoaded());

  // STARTTLS and SSL/TLS with AUTH: numbers, texts, a list, callbacks and a 64-bit size reach
  // libcurl's options, and the message arrives.
  for (const SmtpMode mode : {SmtpMode::StartTls, SmtpMode::SslTls}) {
    const SmtpServerFixture server(mode);
    const bv::mail::SendResult result = bv::mail::sendTestMail(server.settings());
    ASSERT_TRUE(result.sent) << result.describe() << server.serverLog();
    EXPECT_EQ(result.serverReply, "250 2.0.0 Ok: queued as 1");
    ASSERT_EQ(server.deliveries().size(), 1u);
    EXPECT_EQ(server.deliveries()[0].login, SmtpServerFixture::user());
  }
  EXPECT_TRUE(libcurlLoaded());

  // A CA that signed nothing: the file reaches libcurl, which refuses the server in its own words.
  const SmtpServerFixture server(SmtpMode::StartTls);
  bv::mail::MailSettings settings = server.settings();
  settings.caFile = bvtest::TestCertificates::get().otherCaFile().string();
  const bv::mail::SendResult refused = bv::mail::sendTestMail(settings);
  EXPECT_FALSE(refused.sent);
  EXPECT_NE(refused.error.find("）の証明書を検証できませんでした。\n詳細: "), std::string::npos)
      << refused.error;
  EXPECT_TRUE(server.deliveries().empty());
}

}  // namespace
