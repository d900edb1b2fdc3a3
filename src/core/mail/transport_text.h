// What both transports say the same way: the check of the settings before a send, the texts of
// the common errors, and the guard that takes the password out of any text a transport returns.
// Internal to core/mail. Qt-free.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/mail/mail_settings.h"
#include "core/mail/mail_transport.h"

namespace bv::mail::transport {

inline constexpr std::string_view kHidden = "********";

// `text` with the password, and the forms AUTH PLAIN and AUTH LOGIN carry it in (base64 of
// "\0user\0password", of "user\0user\0password" and of the password alone), replaced by
// kHidden. A server that repeats what it was sent cannot bring the password into a result.
std::string withoutSecrets(std::string text, const MailSettings& settings);

// The same for every text of a result.
SendResult withoutSecrets(SendResult result, const MailSettings& settings);

// A failed result for settings that validateMailSettings refuses; nothing when they are fine.
std::optional<SendResult> refusedSettings(const MailSettings& settings);

// "smtp.example.com:587".
std::string serverText(const MailSettings& settings);

}  // namespace bv::mail::transport
