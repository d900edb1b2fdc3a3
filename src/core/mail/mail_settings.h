// The mail settings of one account: where a report of a scheduled backup goes and how it is
// sent. They live in one file in the account's configuration folder (mail.conf, docs/mail.md),
// written atomically with mode 0600, as it holds the SMTP password. No file means no mail.
// Qt-free.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bv::mail {

// 接続の保護.
enum class Security {
  None,      // なし: plain SMTP
  StartTls,  // STARTTLS: plain connection, then TLS before anything else is sent; required
  SslTls,    // SSL/TLS: TLS from the first byte (smtps)
};

// When a run is reported.
enum class SendWhen {
  OnFailure,  // 失敗したときのみ: a task's first failure, and its first success after failures
  EveryRun,   // 毎回
};

inline constexpr int kDefaultPort = 587;
inline constexpr std::chrono::seconds kDefaultTimeout{30};
inline constexpr std::chrono::seconds kMaximumTimeout{600};

struct MailSettings {
  std::string server;
  int port = kDefaultPort;
  Security security = Security::StartTls;
  std::string userName;                 // empty: no AUTH
  std::string password;                 // wiped when the settings go
  std::string sender;                   // "addr@host" or "表示名 <addr@host>"
  std::vector<std::string> recipients;  // the same forms, one each
  SendWhen sendWhen = SendWhen::OnFailure;
  std::string caFile;                              // empty: the system's certificate authorities
  std::chrono::seconds timeout = kDefaultTimeout;  // for the whole exchange with the server

  MailSettings() = default;
  MailSettings(const MailSettings&) = default;
  MailSettings(MailSettings&&) = default;
  MailSettings& operator=(const MailSettings&) = default;
  MailSettings& operator=(MailSettings&&) = default;
  ~MailSettings();
  bool operator==(const MailSettings&) const = default;
};

// The fields in the order they are checked (and shown in the settings dialog).
enum class MailField {
  Server,
  Port,
  Security,
  UserName,
  Password,
  Sender,
  Recipients,
  SendWhen,
  CaFile,
  Timeout
};

struct SettingsProblem {
  MailField field;
  std::string message;  // Japanese, ends with "。"
};

// The first problem in field order: an empty or malformed server, a port outside 1-65535, a
// password without a user name, a sender or recipient that is no address (no "@"), no recipient,
// a CA file that does not exist, a timeout outside 1-600 seconds. Nothing when all is well.
std::optional<SettingsProblem> validateMailSettings(const MailSettings& settings);

// An address as the settings give it: "addr@host", or "表示名 <addr@host>".
struct MailAddress {
  std::string displayName;  // empty when none was given
  std::string address;
  bool operator==(const MailAddress&) const = default;
};
// Nothing when the text is no address: no "@", an empty local part or domain, blanks, control
// characters or any of <>()[],;:\" in the address, or control characters or <>" in the name.
std::optional<MailAddress> parseMailAddress(std::string_view text);

// The recipients typed into one box: separated by commas or line breaks, each trimmed, empty
// entries left out.
std::vector<std::string> splitRecipients(std::string_view text);

// --- The file ----------------------------------------------------------------------------------

// $XDG_CONFIG_HOME/brackenvale/mail.conf (an absolute XDG_CONFIG_HOME only), else
// ~/.config/brackenvale/mail.conf; %APPDATA%\Brackenvale\mail.conf on Windows. Empty when no
// home folder is known.
std::filesystem::path defaultMailSettingsFile();

// The file's text for these settings, in the current format version.
std::string formatMailSettings(const MailSettings& settings);

struct SettingsDamage {
  int line = 0;        // 1-based; 0 when the problem is not on one line (a missing item)
  std::string reason;  // Japanese; never quotes a value
  // "3行目: ポート番号が正しくありません。", or the reason alone for line 0.
  std::string text() const;
};

struct ParsedSettings {
  std::optional<MailSettings> settings;  // set when the text was read
  SettingsDamage damage;                 // what is wrong, when it was not
};
// Reads the file's text; a UTF-8 byte order mark and CR LF line ends are accepted.
ParsedSettings parseMailSettings(std::string_view text);

// The file is read only when nobody but its owner, the account reading it, could have read,
// written or replaced it (sys::readSecretFile); otherwise it is Refused and never used.
struct SettingsFile {
  enum class State { Missing, Loaded, Damaged, Refused };
  State state = State::Missing;
  MailSettings settings;  // Loaded only
  SettingsDamage damage;  // Damaged only (a file that cannot be read is damaged at line 0)
  std::string refusal;    // Refused only: the file, why, and how to mend it
  // For a box or a log: "<path> の3行目: ...".
  std::string damageText(const std::filesystem::path& file) const;
};
SettingsFile readMailSettings(const std::filesystem::path& file);

struct SaveResult {
  bool ok = false;
  std::string message;  // Japanese, with the system's reason, when not ok
};
// Writes the settings atomically (mode 0600); a missing folder is made first, mode 0700, an
// existing one is left as it is. A failed write leaves the old file as it was.
SaveResult saveMailSettings(const std::filesystem::path& file, const MailSettings& settings);

// Moves a damaged file aside to "<name>.damaged" (replacing an older one there), so that new
// settings can be saved without losing it. The path it now has, or the reason it could not move.
struct KeepResult {
  bool ok = false;
  std::filesystem::path keptAs;
  std::string message;
};
KeepResult keepDamagedFile(const std::filesystem::path& file);

}  // namespace bv::mail
