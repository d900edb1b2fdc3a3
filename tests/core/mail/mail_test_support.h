// What the mail tests share: a scratch folder of a test's own and settings with every field set.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "core/mail/mail_settings.h"

namespace mailtest {

// A folder named after the running test under the temporary folder, removed afterwards.
class ScratchFolder {
 public:
  ScratchFolder() {
    path_ = std::filesystem::temp_directory_path() /
            ("bv-mail-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline std::string readAll(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline bv::mail::MailSettings fullSettings() {
  bv::mail::MailSettings settings;
  settings.server = "smtp.example.com";
  settings.port = 465;
  settings.security = bv::mail::Security::SslTls;
  settings.userName = "バックアップ@example.com";
  settings.password = " pa=ss;#word ";  // blanks, "=" and "#" survive
  settings.sender = "バックアップ通知 <backup@example.com>";
  settings.recipients = {"admin@example.com", "運用担当 <ops@example.com>"};
  settings.sendWhen = bv::mail::SendWhen::EveryRun;
  settings.caFile = "/etc/ssl/社内CA.pem";
  settings.timeout = std::chrono::seconds(45);
  return settings;
}

}  // namespace mailtest
