#include "core/mail/mail_settings.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <fstream>
#include <system_error>

#include "core/mail/mail_platform.h"
#include "core/sys/atomic_file.h"
#include "core/sys/secret_file.h"
#include "core/sys/wipe.h"
#include "core/text/ascii.h"
#include "core/text/utf16.h"

namespace bv::mail {

using platform::pathFromUtf8;
using platform::pathText;

namespace {

constexpr std::string_view kHeader = "brackenvale-mail";
constexpr int kFormatVersion = 1;
constexpr std::size_t kLargestFile = 64 * 1024;

// The file's items, in the order they are written.
constexpr std::string_view kServer = "server";
constexpr std::string_view kPort = "port";
constexpr std::string_view kSecurity = "security";
constexpr std::string_view kUser = "user";
constexpr std::string_view kPassword = "password";
constexpr std::string_view kFrom = "from";
constexpr std::string_view kTo = "to";
constexpr std::string_view kSend = "send";
constexpr std::string_view kCaFile = "ca-file";
constexpr std::string_view kTimeout = "timeout-seconds";
constexpr std::array kItems = {kServer, kPort, kSecurity, kUser,   kPassword,
                               kFrom,   kTo,   kSend,     kCaFile, kTimeout};
// Items a file must have; the others may be left out (empty, or the default timeout).
constexpr std::array kRequired = {kServer, kPort, kSecurity, kFrom, kTo, kSend};

constexpr std::array<std::pair<std::string_view, Security>, 3> kSecurityWords = {
    {{"none", Security::None}, {"starttls", Security::StartTls}, {"ssl", Security::SslTls}}};
constexpr std::array<std::pair<std::string_view, SendWhen>, 2> kSendWords = {
    {{"failure", SendWhen::OnFailure}, {"every", SendWhen::EveryRun}}};

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view text) {
  while (!text.empty() && (isBlank(text.front()) || text.front() == '\r' || text.front() == '\n')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (isBlank(text.back()) || text.back() == '\r' || text.back() == '\n')) {
    text.remove_suffix(1);
  }
  return text;
}

bool hasControl(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

bool isValidUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = text::decodeUtf8(text, i).length;
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::optional<int> number(std::string_view text, int low, int high) {
  int value = 0;
  if (text.empty() || text.size() > 9 || !std::all_of(text.begin(), text.end(), text::isAsciiDigit)) {
    return std::nullopt;
  }
  std::from_chars(text.data(), text.data() + text.size(), value);
  if (value < low || value > high) return std::nullopt;
  return value;
}

template <typename Value, std::size_t N>
std::optional<Value> wordValue(const std::array<std::pair<std::string_view, Value>, N>& words,
                               std::string_view text) {
  for (const auto& [word, value] : words) {
    if (word == text) return value;
  }
  return std::nullopt;
}

template <typename Value, std::size_t N>
std::string_view valueWord(const std::array<std::pair<std::string_view, Value>, N>& words, Value value) {
  for (const auto& [word, candidate] : words) {
    if (candidate == value) return word;
  }
  return words.front().first;
}

bool isServerName(std::string_view server) {
  return !std::any_of(server.begin(), server.end(), [](char c) {
    return static_cast<unsigned char>(c) <= 0x20 || c == 0x7F ||
           std::string_view("/\\@?#<>\"'%").find(c) != std::string_view::npos;
  });
}

// A key is quoted in a damage report only when it is plainly a key, never a stray value.
bool isQuotableKey(std::string_view key) {
  return !key.empty() && key.size() <= 32 && std::all_of(key.begin(), key.end(), [](char c) {
    return text::isAsciiLetter(c) || text::isAsciiDigit(c) || c == '-' || c == '_';
  });
}

std::string quoted(std::string_view text) { return "「" + std::string(text) + "」"; }

}  // namespace

MailSettings::~MailSettings() { sys::wipe(password); }

// --- Addresses ---------------------------------------------------------------------------------

std::optional<MailAddress> parseMailAddress(std::string_view text) {
  text = trim(text);
  MailAddress result;
  std::string_view address = text;
  if (!text.empty() && text.back() == '>') {
    const std::size_t open = text.rfind('<');
    if (open == std::string_view::npos) return std::nullopt;
    const std::string_view name = trim(text.substr(0, open));
    if (hasControl(name) || name.find_first_of("<>\"") != std::string_view::npos) return std::nullopt;
    result.displayName = std::string(name);
    address = text.substr(open + 1, text.size() - open - 2);
  }
  const std::size_t at = address.rfind('@');
  if (at == std::string_view::npos || at == 0 || at + 1 == address.size()) return std::nullopt;
  if (std::any_of(address.begin(), address.end(), [](char c) {
        return static_cast<unsigned char>(c) <= 0x20 || c == 0x7F ||
               std::string_view("<>()[],;:\\\"").find(c) != std::string_view::npos;
      })) {
    return std::nullopt;
  }
  if (!isValidUtf8(address) || !isValidUtf8(result.displayName)) return std::nullopt;
  result.address = std::string(address);
  return result;
}

std::vector<std::string> splitRecipients(std::string_view text) {
  std::vector<std::string> recipients;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find_first_of(",\r\n", start), text.size());
    const std::string_view entry = trim(text.substr(start, end - start));
    if (!entry.empty()) recipients.emplace_back(entry);
    start = end + 1;
  }
  return recipients;
}

// --- Validation --------------------------------------------------------------------------------

std::optional<SettingsProblem> validateMailSettings(const MailSettings& settings) {
  if (trim(settings.server).empty())
    return SettingsProblem{MailField::Server, "SMTPサーバーを入力してください。"};
  if (!isServerName(settings.server) || !isValidUtf8(settings.server)) {
    return SettingsProblem{MailField::Server, "SMTPサーバーが正しくありません。"};
  }
  if (settings.port < 1 || settings.port > 65535) {
    return SettingsProblem{MailField::Port, "ポート番号が正しくありません。"};
  }
  if (hasControl(settings.userName) || !isValidUtf8(settings.userName)) {
    return SettingsProblem{MailField::UserName, "ユーザー名が正しくありません。"};
  }
  if (settings.userName.empty() && !settings.password.empty()) {
    return SettingsProblem{MailField::UserName, "ユーザー名を入力してください。"};
  }
  if (hasControl(settings.password))
    return SettingsProblem{MailField::Password, "パスワードが正しくありません。"};
  if (trim(settings.sender).empty()) {
    return SettingsProblem{MailField::Sender, "送信者のアドレスを入力してください。"};
  }
  if (!parseMailAddress(settings.sender)) {
    return SettingsProblem{MailField::Sender, "送信者のアドレスが正しくありません。"};
  }
  if (settings.recipients.empty()) {
    return SettingsProblem{MailField::Recipients, "宛先のアドレスを入力してください。"};
  }
  for (const std::string& recipient : settings.recipients) {
    if (!parseMailAddress(recipient)) {
      const std::string shown = hasControl(recipient) ? std::string() : quoted(trim(recipient));
      return SettingsProblem{MailField::Recipients, "宛先のアドレス" + shown + "が正しくありません。"};
    }
  }
  if (!settings.caFile.empty()) {
    std::error_code error;
    if (hasControl(settings.caFile) ||
        !std::filesystem::is_regular_file(pathFromUtf8(settings.caFile), error)) {
      return SettingsProblem{MailField::CaFile, "CA証明書のファイルが見つかりません。"};
    }
  }
  if (settings.timeout < std::chrono::seconds(1) || settings.timeout > kMaximumTimeout) {
    return SettingsProblem{MailField::Timeout, "タイムアウトの秒数が正しくありません。"};
  }
  return std::nullopt;
}

// --- The file's text ---------------------------------------------------------------------------

std::string formatMailSettings(const MailSettings& settings) {
  std::string text;
  text +=
      "# Brackenvale: メール通知の設定 (docs/mail.md). "
      "パスワードを含むため、本人だけが読めるファイルです。\n";
  text += std::string(kHeader) + " " + std::to_string(kFormatVersion) + "\n";
  const auto item = [&](std::string_view key, std::string_view value) {
    text.append(key).append("=").append(value).append("\n");
  };
  item(kServer, settings.server);
  item(kPort, std::to_string(settings.port));
  item(kSecurity, valueWord(kSecurityWords, settings.security));
  item(kUser, settings.userName);
  item(kPassword, settings.password);
  item(kFrom, settings.sender);
  for (const std::string& recipient : settings.recipients) item(kTo, recipient);
  item(kSend, valueWord(kSendWords, settings.sendWhen));
  item(kCaFile, settings.caFile);
  item(kTimeout, std::to_string(settings.timeout.count()));
  return text;
}

std::string SettingsDamage::text() const {
  if (line <= 0) return reason;
  return std::to_string(line) + "行目: " + reason;
}

ParsedSettings parseMailSettings(std::string_view text) {
  ParsedSettings parsed;
  const auto damaged = [&](int line, std::string reason) {
    parsed.settings.reset();
    parsed.damage = SettingsDamage{line, std::move(reason)};
    return parsed;
  };
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);

  MailSettings settings;
  std::vector<std::string_view> seen;
  bool headerRead = false;
  int lineNumber = 0;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!isValidUtf8(line)) return damaged(lineNumber, "UTF-8の文字として読めません。");
    if (trim(line).empty() || trim(line).front() == '#') continue;

    if (!headerRead) {
      const std::string_view first = trim(line);
      if (first.substr(0, kHeader.size() + 1) != std::string(kHeader) + " ") {
        return damaged(lineNumber, "メール通知の設定ファイルではありません（「" + std::string(kHeader) + " " +
                                       std::to_string(kFormatVersion) + "」で始まっていません）。");
      }
      const std::string_view version = trim(first.substr(kHeader.size() + 1));
      if (version != std::to_string(kFormatVersion)) {
        return damaged(lineNumber, "この形式のバージョンには対応していません。");
      }
      headerRead = true;
      continue;
    }

    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return damaged(lineNumber, "「項目=値」の形ではありません。");
    const std::string_view key = line.substr(0, equals);
    const std::string_view value = line.substr(equals + 1);
    const auto known = std::find(kItems.begin(), kItems.end(), key);
    if (known == kItems.end()) {
      return damaged(lineNumber, isQuotableKey(key) ? "不明な項目" + quoted(key) + "があります。"
                                                    : std::string("不明な項目があります。"));
    }
    if (key != kTo && std::find(seen.begin(), seen.end(), key) != seen.end()) {
      return damaged(lineNumber, "項目" + quoted(key) + "が2回あります。");
    }
    seen.push_back(*known);

    if (key == kServer) {
      settings.server = std::string(value);
    } else if (key == kPort) {
      const auto port = number(value, 1, 65535);
      if (!port) return damaged(lineNumber, "ポート番号が正しくありません。");
      settings.port = *port;
    } else if (key == kSecurity) {
      const auto security = wordValue(kSecurityWords, value);
      if (!security)
        return damaged(lineNumber, "接続の保護の指定が正しくありません（none、starttls、ssl のいずれか）。");
      settings.security = *security;
    } else if (key == kUser) {
      settings.userName = std::string(value);
    } else if (key == kPassword) {
      settings.password = std::string(value);
    } else if (key == kFrom) {
      settings.sender = std::string(value);
    } else if (key == kTo) {
      settings.recipients.emplace_back(value);
    } else if (key == kSend) {
      const auto when = wordValue(kSendWords, value);
      if (!when)
        return damaged(lineNumber, "送信する条件の指定が正しくありません（failure、every のいずれか）。");
      settings.sendWhen = *when;
    } else if (key == kCaFile) {
      settings.caFile = std::string(value);
    } else if (key == kTimeout) {
      const auto seconds = number(value, 1, static_cast<int>(kMaximumTimeout.count()));
      if (!seconds) return damaged(lineNumber, "タイムアウトの秒数が正しくありません（1～600）。");
      settings.timeout = std::chrono::seconds(*seconds);
    }
  }
  if (!headerRead) return damaged(0, "メール通知の設定ファイルが空です。");
  for (const std::string_view required : kRequired) {
    if (std::find(seen.begin(), seen.end(), required) == seen.end()) {
      return damaged(0, "項目" + quoted(required) + "がありません。");
    }
  }
  parsed.settings = std::move(settings);
  return parsed;
}

// --- The file ----------------------------------------------------------------------------------

std::string SettingsFile::damageText(const std::filesystem::path& file) const {
  if (damage.line <= 0) return pathText(file) + ": " + damage.reason;
  return pathText(file) + " の" + damage.text();
}

SettingsFile readMailSettings(const std::filesystem::path& file) {
  SettingsFile result;
  sys::SecretFile read = sys::readSecretFile(file, kLargestFile);
  switch (read.state) {
    case sys::SecretFile::State::Missing:
      return result;
    case sys::SecretFile::State::Refused:
      result.state = SettingsFile::State::Refused;
      result.refusal = std::move(read.reason);
      return result;
    case sys::SecretFile::State::Unreadable:
      result.state = SettingsFile::State::Damaged;
      result.damage = {0, std::move(read.reason)};
      return result;
    case sys::SecretFile::State::Read:
      break;
  }
  ParsedSettings parsed = parseMailSettings(read.text);
  sys::wipe(read.text);
  if (!parsed.settings) {
    result.state = SettingsFile::State::Damaged;
    result.damage = parsed.damage;
    return result;
  }
  result.state = SettingsFile::State::Loaded;
  result.settings = std::move(*parsed.settings);
  return result;
}

SaveResult saveMailSettings(const std::filesystem::path& file, const MailSettings& settings) {
  const std::string failed = "メール通知の設定を保存できませんでした。";
  if (file.empty()) return {false, failed + "\n設定ファイルの場所が分かりません（ホームフォルダーが不明です）。"};
  // A line break would end an item early and make the next line of the file.
  for (const std::string* value :
       {&settings.server, &settings.userName, &settings.password, &settings.sender, &settings.caFile}) {
    if (value->find_first_of("\r\n") != std::string::npos)
      return {false, failed + "\n値に改行が含まれています。"};
  }
  for (const std::string& recipient : settings.recipients) {
    if (recipient.find_first_of("\r\n") != std::string::npos) {
      return {false, failed + "\n値に改行が含まれています。"};
    }
  }
  if (file.has_parent_path()) {
    const std::string folderProblem = platform::makePrivateFolders(file.parent_path());
    if (!folderProblem.empty()) return {false, failed + "\n" + folderProblem};
  }
  std::string text = formatMailSettings(settings);
  const sys::AtomicWriteResult written = sys::writeFileAtomically(file, text, 0600);
  sys::wipe(text);
  if (!written.ok) return {false, failed + "\n" + written.message};
  return {true, {}};
}

KeepResult keepDamagedFile(const std::filesystem::path& file) {
  std::filesystem::path kept = file;
  kept += ".damaged";
  std::error_code error;
  std::filesystem::rename(file, kept, error);
  if (error) {
    return {false,
            {},
            "壊れた設定ファイルを " + pathText(kept) + " に移せませんでした（" + error.message() + "）。"};
  }
  return {true, kept, {}};
}

}  // namespace bv::mail
