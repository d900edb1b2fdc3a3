// The one call a task executor makes after a scheduled run: read the account's mail settings,
// apply the flood rule, and send the report when one is due. With no settings file nothing
// happens. The outcome comes back with a line for the executor's own log (never the password).
// Qt-free.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "core/mail/mail_message.h"
#include "core/mail/mail_settings.h"
#include "core/mail/mail_transport.h"

namespace bv::mail {

struct RunNotification {
  enum class State {
    MailOff,          // no settings file: nothing was done
    NotDue,           // the flood rule sends nothing for this run
    SettingsDamaged,  // the file could not be read; nothing was sent
    SettingsRefused,  // others could read, replace or redirect the file; nothing was sent
    Sent,             // the report was sent (some recipients may have been refused)
    Failed,           // the report could not be sent
  };
  State state = State::MailOff;
  std::optional<MailKind> kind;  // the report that was due
  SendResult send;               // Sent and Failed
  // For the executor's log, one or more lines: "メール通知: 送信しました（バックアップ失敗）。..."
  // Empty for MailOff and NotDue.
  std::string logText;
  // A failure (this run's, or the report's unreported one) is still owed a report: nothing could
  // be sent for it. The executor keeps the first such failure until a report has gone through.
  bool failureUnreported = false;
};

// Reads `settingsFile`, decides with mailKindFor(settings.sendWhen, previous, this run's
// outcome) and sends the report. A report that carries an unreported failure is due whatever
// the flood rule says (a failure, or the recovery after it). Ends within the settings' timeout.
RunNotification notifyAfterRun(const RunReport& report, RunOutcome previous,
                               const std::filesystem::path& settingsFile);
// The same with the running account's own settings file (defaultMailSettingsFile()).
RunNotification notifyAfterRun(const RunReport& report, RunOutcome previous);

}  // namespace bv::mail
