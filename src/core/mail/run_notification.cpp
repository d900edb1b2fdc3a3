#include "core/mail/run_notification.h"

namespace bv::mail {
namespace {

std::string_view kindName(MailKind kind) {
  switch (kind) {
    case MailKind::Failure:
      return "バックアップ失敗";
    case MailKind::Recovery:
      return "バックアップ復旧";
    case MailKind::Success:
      return "バックアップ成功";
    case MailKind::Test:
      return "テスト送信";
  }
  return "";
}

RunNotification decideAndSend(const RunReport& report, RunOutcome previous, const std::filesystem::path& settingsFile) {
  RunNotification notification;
  if (settingsFile.empty()) return notification;
  const SettingsFile file = readMailSettings(settingsFile);
  if (file.state == SettingsFile::State::Missing) return notification;
  if (file.state == SettingsFile::State::Refused) {
    notification.state = RunNotification::State::SettingsRefused;
    notification.logText = "メール通知: 設定ファイルを使えないため送信しませんでした。\n" + file.refusal;
    return notification;
  }
  if (file.state == SettingsFile::State::Damaged) {
    notification.state = RunNotification::State::SettingsDamaged;
    notification.logText =
        "メール通知: 設定ファイルが壊れているため送信しませんでした。\n" + file.damageText(settingsFile);
    return notification;
  }
  notification.kind = mailKindFor(file.settings.sendWhen, previous,
                                  report.succeeded ? RunOutcome::Succeeded : RunOutcome::Failed);
  if (!notification.kind && report.unreported) {
    notification.kind = report.succeeded ? MailKind::Recovery : MailKind::Failure;
  }
  if (!notification.kind) {
    notification.state = RunNotification::State::NotDue;
    return notification;
  }
  notification.send = sendMail(file.settings, reportMessage(file.settings, report, *notification.kind,
                                                            newMessageStamp(file.settings)));
  notification.state = notification.send.sent ? RunNotification::State::Sent : RunNotification::State::Failed;
  notification.logText =
      "メール通知（" + std::string(kindName(*notification.kind)) + "）: " + notification.send.describe();
  return notification;
}

}  // namespace

RunNotification notifyAfterRun(const RunReport& report, RunOutcome previous,
                               const std::filesystem::path& settingsFile) {
  RunNotification notification = decideAndSend(report, previous, settingsFile);
  switch (notification.state) {
    case RunNotification::State::Failed:
      notification.failureUnreported = report.unreported.has_value() || notification.kind == MailKind::Failure;
      break;
    case RunNotification::State::SettingsDamaged:
    case RunNotification::State::SettingsRefused:
      // No flood rule could be read: a first failure is what it would have reported.
      notification.failureUnreported =
          report.unreported.has_value() || (!report.succeeded && previous != RunOutcome::Failed);
      break;
    default:
      break;
  }
  return notification;
}

RunNotification notifyAfterRun(const RunReport& report, RunOutcome previous) {
  return notifyAfterRun(report, previous, defaultMailSettingsFile());
}

}  // namespace bv::mail
