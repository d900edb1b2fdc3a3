#include "core/mail/mail_transport.h"

#include "core/mail/header_encoding.h"
#include "core/mail/transport_text.h"
#include "core/sys/wipe.h"

namespace bv::mail {

std::string SendResult::describe() const {
  const std::string more = details();
  return (sent ? std::string("送信しました。") : error) + (more.empty() ? "" : "\n" + more);
}

std::string SendResult::details() const {
  std::string text;
  if (!serverReply.empty()) text += "サーバーの応答: " + serverReply;
  if (!refused.empty()) {
    text += std::string(text.empty() ? "" : "\n") + "次の宛先はサーバーに拒否されました:";
    for (const RecipientRefusal& refusal : refused) text += "\n  " + refusal.address + ": " + refusal.serverReply;
  }
  return text;
}

SendResult sendTestMail(const MailSettings& settings) {
  if (auto refused = transport::refusedSettings(settings)) return *refused;
  return sendMail(settings, testMessage(settings, newMessageStamp(settings)));
}

namespace transport {
namespace {

void replaceAll(std::string& text, const std::string& secret) {
  if (secret.empty()) return;
  for (std::size_t at = text.find(secret); at != std::string::npos;
       at = text.find(secret, at + kHidden.size())) {
    text.replace(at, secret.size(), kHidden);
  }
}

}  // namespace

std::string withoutSecrets(std::string text, const MailSettings& settings) {
  if (settings.password.empty()) return text;
  const std::string& user = settings.userName;
  const std::string& password = settings.password;
  std::string plain = std::string(1, '\0') + user + '\0' + password;
  std::string plainWithIdentity = user + '\0' + plain;
  std::string forms[] = {base64Encode(plainWithIdentity), base64Encode(plain), base64Encode(password),
                         password};
  for (std::string& form : forms) {
    replaceAll(text, form);
    sys::wipe(form);
  }
  sys::wipe(plain);
  sys::wipe(plainWithIdentity);
  return text;
}

SendResult withoutSecrets(SendResult result, const MailSettings& settings) {
  result.serverReply = withoutSecrets(std::move(result.serverReply), settings);
  result.error = withoutSecrets(std::move(result.error), settings);
  for (RecipientRefusal& refusal : result.refused) {
    refusal.serverReply = withoutSecrets(std::move(refusal.serverReply), settings);
  }
  return result;
}

std::optional<SendResult> refusedSettings(const MailSettings& settings) {
  const auto problem = validateMailSettings(settings);
  if (!problem) return std::nullopt;
  SendResult result;
  result.error = "メール通知の設定に誤りがあるため、送信できません。\n" + problem->message;
  return result;
}

std::string serverText(const MailSettings& settings) {
  return singleLine(settings.server) + ":" + std::to_string(settings.port);
}

}  // namespace transport
}  // namespace bv::mail
