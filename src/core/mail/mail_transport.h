// Sending one message with the settings of one account, behind one function with one file per
// platform: libcurl's SMTP on POSIX (mail_transport_curl.cpp), the system's CDO over COM on
// Windows (mail_transport_cdo_win32.cpp). The result carries the server's answer or the exact
// error in Japanese with the server's own text; never the password. Qt-free.
#pragma once

#include <string>
#include <vector>

#include "core/mail/mail_message.h"
#include "core/mail/mail_settings.h"

namespace bv::mail {

// A recipient the server refused while the others were still sent the message.
struct RecipientRefusal {
  std::string address;
  std::string serverReply;  // "550 5.1.1 <b@example.com>: Recipient address rejected"
};

struct SendResult {
  bool sent = false;        // the server took the message for at least one recipient
  std::string serverReply;  // the server's last answer ("250 2.0.0 Ok: queued as ..."), if any
  std::string error;        // what went wrong, in Japanese, with the details; empty when sent
  std::vector<RecipientRefusal> refused;
  // One text for a box or a log: the error or "送信しました。", then details().
  std::string describe() const;
  // The server's answer and the refused recipients, a line each; empty when there is neither.
  std::string details() const;
};

// Sends `message` to its recipients with `settings`; the settings are checked first
// (validateMailSettings). Ends within the settings' timeout. Certificates are always verified;
// STARTTLS is required, never merely tried.
SendResult sendMail(const MailSettings& settings, const MailMessage& message);

// The settings dialog's test: the test message to the settings' recipients.
SendResult sendTestMail(const MailSettings& settings);

}  // namespace bv::mail
