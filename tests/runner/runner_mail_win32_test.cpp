// On Windows the scheduler starts Brackenrun as the task's account, so the runner itself mails the
// report with that account's settings (%APPDATA%\Brackenvale\mail.conf), through CDO. Wine has no
// cdosys: the message goes to the fake CDO object. A failure is mailed once, the next failure is
// not, and what became of the mail is in the run's log line.
#include <gtest/gtest.h>

#include <sstream>

#include "closed_port.h"
#include "core/mail/cdo_win32.h"
#include "core/mail/mail_settings.h"
#include "core/scheduling/task_parameters.h"
#include "core/tasks/task_argument.h"
#include "environment.h"
#include "fake_cdo_win32.h"
#include "runner/run_log.h"
#include "runner/runner.h"
#include "runner_test_support.h"

namespace bv::runner {
namespace {

TEST(RunnerMail, AFailedRunIsMailedOnceWithTheAccountsSettings) {
  brtest::TempDir dir;
  const bvtest::ScopedEnvironment appData("APPDATA", dir.path().string().c_str());
  mail::MailSettings settings;
  settings.server = "mail.example.test";
  settings.port = 587;
  settings.sender = "backup@example.test";
  settings.recipients = {"admin@example.test"};
  ASSERT_TRUE(mail::saveMailSettings(mail::defaultMailSettingsFile(), settings).ok);
  auto record = std::make_shared<mailtest::FakeCdoRecord>();
  const mail::CdoFactoryOverride fake([record](IDispatch** message) {
    return static_cast<long>(mailtest::createFakeCdoMessage(record, message));
  });

  bv::maintenance::BackupRequest backup;
  backup.login.useSqlAuth = true;
  backup.login.userName = "sa";
  backup.login.password = "pw";
  backup.login.server = "127.0.0.1," + std::to_string(bvtest::closedLoopbackPort());
  backup.database = "Sample";
  backup.backupFile = "C:\\bk\\Sample_%date%.bak";
  const std::filesystem::path log = dir.path() / "brackenrun.log";
  for (int run = 0; run < 2; ++run) {
    std::istringstream in;
    std::ostringstream out, err;
    EXPECT_EQ(bv::runner::run({bv::scheduling::encodeTaskParameters(backup)}, in, out, err, log), ExitStatus::ConnectFailed);
  }
  const auto sends = std::count(record->calls.begin(), record->calls.end(), "Send");
  EXPECT_EQ(sends, 1);
  EXPECT_NE(record->properties["Subject"].text.find("バックアップ失敗: Sample"), std::string::npos)
      << record->properties["Subject"].text;
  const auto lines = brtest::lines(brtest::readFile(log));
  ASSERT_EQ(lines.size(), 4u);  // a start line and an end line per run
  EXPECT_NE(lines[1].find("\tmail="), std::string::npos) << lines[1];
  EXPECT_EQ(lines[3].find("\tmail="), std::string::npos) << lines[3];  // nothing due the second time
}

}  // namespace
}  // namespace bv::runner
