// The settings file on POSIX: where it lives, private to its account, and kept whole when a
// write fails.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "core/mail/mail_settings.h"
#include "environment.h"
#include "mail_test_support.h"

namespace {

using namespace bv::mail;
namespace fs = std::filesystem;

unsigned modeOf(const fs::path& path) {
  struct stat status {};
  EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
  return status.st_mode & 07777;
}

TEST(MailSettingsPosix, TheFileLivesInTheAccountsConfigurationFolder) {
  {
    const bvtest::ScopedEnvironment config("XDG_CONFIG_HOME", "/srv/config");
    EXPECT_EQ(defaultMailSettingsFile(), fs::path("/srv/config/brackenvale/mail.conf"));
  }
  const bvtest::ScopedEnvironment home("HOME", "/home/backup");
  for (const char* unusable : {static_cast<const char*>(nullptr), "relative/config"}) {
    const bvtest::ScopedEnvironment config("XDG_CONFIG_HOME", unusable);
    EXPECT_EQ(defaultMailSettingsFile(), fs::path("/home/backup/.config/brackenvale/mail.conf"));
  }
}

TEST(MailSettingsPosix, TheFileIsPrivateInAPrivateFolderAndAnExistingFolderIsLeftAsItIs) {
  const mailtest::ScratchFolder scratch;
  // A umask that would leave the folders unusable: the modes are set, not left to it.
  const ::mode_t oldMask = ::umask(0277);
  const fs::path made = scratch.path() / "config" / "brackenvale" / "mail.conf";
  const bool saved = saveMailSettings(made, mailtest::fullSettings()).ok;
  fs::create_directories(scratch.path() / "shared");
  fs::permissions(scratch.path() / "shared", fs::perms(0755));
  const fs::path inShared = scratch.path() / "shared" / "mail.conf";
  const bool savedInShared = saveMailSettings(inShared, mailtest::fullSettings()).ok;
  ::umask(oldMask);

  ASSERT_TRUE(saved && savedInShared);
  EXPECT_EQ(modeOf(made), 0600u);
  EXPECT_EQ(modeOf(made.parent_path()), 0700u);
  EXPECT_EQ(modeOf(made.parent_path().parent_path()), 0700u);
  EXPECT_EQ(modeOf(inShared), 0600u);
  EXPECT_EQ(modeOf(inShared.parent_path()), 0755u);
}

TEST(MailSettingsPosix, AFailedWriteLeavesTheOldFile) {
  const mailtest::ScratchFolder scratch;
  const fs::path file = scratch.path() / "mail.conf";
  ASSERT_TRUE(saveMailSettings(file, mailtest::fullSettings()).ok);
  const std::string before = mailtest::readAll(file);

  // Files may not grow past 200 bytes for a moment (a full disk, for root too); the new settings
  // are longer.
  MailSettings longer = mailtest::fullSettings();
  longer.recipients.assign(40, "someone@example.com");
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  const rlimit small{200, old.rlim_max};
  const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
  ::setrlimit(RLIMIT_FSIZE, &small);
  const SaveResult result = saveMailSettings(file, longer);
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.message.rfind("メール通知の設定を保存できませんでした。\n", 0), 0u) << result.message;
  EXPECT_EQ(mailtest::readAll(file), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(scratch.path()), fs::directory_iterator()), 1);
}

}  // namespace
