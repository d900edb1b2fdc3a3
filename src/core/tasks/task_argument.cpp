#include "core/tasks/task_argument.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>

#include "core/text/codepage.h"
#include "core/text/utf16.h"

namespace bv::tasks {
namespace {

std::string codePointName(char32_t codePoint) {
  std::array<char, 16> buffer{};
  std::snprintf(buffer.data(), buffer.size(), "U+%04lX", static_cast<unsigned long>(codePoint));
  return buffer.data();
}

// Why the text does not come back unchanged through code page 932: the first character that
// is not UTF-8, has no byte sequence there, or comes back as another character.
std::string describeUnencodable(std::string_view text) {
  std::size_t position = 1;
  for (std::size_t i = 0; i < text.size(); ++position) {
    const text::Utf8Character decoded = text::decodeUtf8(text, i);
    const std::size_t length = decoded.length;
    if (length == 0) {
      return "UTF-8 として正しくないバイトがあります（" + std::to_string(i + 1) + " バイト目）。";
    }
    const std::string_view character = text.substr(i, length);
    const auto bytes = text::utf8ToCp932(character);
    if (!bytes) {
      return std::to_string(position) + " 文字目の " + codePointName(decoded.codePoint) +
             " はコードページ 932 で表せません。";
    }
    const auto back = text::cp932ToUtf8(*bytes);
    if (!back || *back != character) {
      return std::to_string(position) + " 文字目の " + codePointName(decoded.codePoint) +
             " はコードページ 932 を通ると別の文字になります。";
    }
    i += length;
  }
  return "テキストをコードページ 932 に変換できません。";
}

// ---- code page 932 byte structure ----

bool isSingleByte(unsigned char b) { return b < 0x80 || (b >= 0xA1 && b <= 0xDF); }
bool isLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool isTrailByte(unsigned char b) { return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC); }

std::string bytePosition(std::size_t index) { return "（" + std::to_string(index + 1) + " バイト目）"; }

// Checks the lead and trail bytes and returns where each character starts; the code page's
// own table then decides whether a well-formed code has a character.
std::vector<std::size_t> characterStarts(std::string_view bytes) {
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i < bytes.size();) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    starts.push_back(i);
    if (b == 0) throw TaskArgumentError("ゼロのバイトは使えません" + bytePosition(i) + "。");
    if (isSingleByte(b)) {
      ++i;
      continue;
    }
    if (!isLeadByte(b)) {
      throw TaskArgumentError("コードページ 932 の文字の先頭にならないバイトがあります" + bytePosition(i) +
                              "。");
    }
    if (i + 1 == bytes.size()) {
      throw TaskArgumentError("2 バイト文字の 2 バイト目がありません" + bytePosition(i) + "。");
    }
    if (!isTrailByte(static_cast<unsigned char>(bytes[i + 1]))) {
      throw TaskArgumentError("2 バイト文字の 2 バイト目として正しくないバイトがあります" +
                              bytePosition(i + 1) + "。");
    }
    i += 2;
  }
  return starts;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

constexpr std::array<char, 16> kHexDigits = {'0', '1', '2', '3', '4', '5', '6', '7',
                                             '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};

std::string argumentName(std::size_t index) {
  static constexpr std::array<const char*, kMaxTaskArgumentCount> names = {
      "認証方式",       "ログイン名",           "パスワード", "データベースサーバ", "データベース名",
      "バックアップファイル", "ベリファイ", "保存世代数", "テストレストア", "種類", "チェックサム"};
  return std::to_string(index + 1) + " 番目の引数（" + names[index] + "）";
}

[[noreturn]] void refuseArgument(std::size_t index, const std::string& reason) {
  throw refusedArgument(index, reason);
}

}  // namespace

TaskArgumentError refusedArgument(std::size_t field, const std::string& reason) {
  return TaskArgumentError(argumentName(field) + ": " + reason);
}

std::string decodeArgumentAt(const std::vector<std::string>& arguments, std::size_t field) {
  try {
    return decodeTaskArgument(arguments.at(field));
  } catch (const TaskArgumentError& error) {
    refuseArgument(field, error.what());
  }
}

void checkArgumentCount(const std::vector<std::string>& arguments) {
  if (arguments.size() < kTaskArgumentCount || arguments.size() > kMaxTaskArgumentCount) {
    throw TaskArgumentError("引数の数が正しくありません（" + std::to_string(kTaskArgumentCount) + " から " +
                            std::to_string(kMaxTaskArgumentCount) + " 個のところ " +
                            std::to_string(arguments.size()) + " 個）。");
  }
}

TaskTarget readTaskTarget(const std::vector<std::string>& arguments) {
  checkArgumentCount(arguments);
  TaskTarget target{decodeArgumentAt(arguments, kServerField), decodeArgumentAt(arguments, kDatabaseField),
                    decodeArgumentAt(arguments, kBackupFileField)};
  if (target.server.empty()) refuseArgument(kServerField, "空にはできません。");
  if (target.database.empty()) refuseArgument(kDatabaseField, "空にはできません。");
  if (target.backupFile.empty()) refuseArgument(kBackupFileField, "空にはできません。");
  return target;
}

std::string EncodeTaskArgument(std::string_view text) {
  text = text.substr(0, std::min(text.find('\0'), text.size()));
  // The way back must give the same text: a look-alike mapping would put another name on
  // the task than the one the user typed.
  const auto bytes = text::utf8ToCp932Exact(text);
  if (!bytes) throw TaskArgumentError(describeUnencodable(text));

  std::string hex;
  hex.reserve(bytes->size() * 2);
  for (const char c : *bytes) {
    const auto b = static_cast<unsigned char>(c);
    hex.push_back(kHexDigits[b >> 4]);
    hex.push_back(kHexDigits[b & 0x0F]);
  }
  std::reverse(hex.begin(), hex.end());
  return hex;
}

std::string decodeTaskArgument(std::string_view argument) {
  for (std::size_t i = 0; i < argument.size(); ++i) {
    if (hexValue(argument[i]) < 0) {
      throw TaskArgumentError("大文字の 16 進数字（0-9, A-F）でない文字があります（" + std::to_string(i + 1) +
                              " 文字目）。");
    }
  }
  if (argument.size() % 2 != 0) {
    // No count: the argument may be the password, whose length is nobody's business.
    throw TaskArgumentError("16 進数字の数が奇数です。");
  }
  const std::string hex(argument.rbegin(), argument.rend());
  std::string bytes;
  bytes.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    bytes.push_back(static_cast<char>(hexValue(hex[i]) * 16 + hexValue(hex[i + 1])));
  }

  const std::vector<std::size_t> starts = characterStarts(bytes);
  if (auto text = text::cp932ToUtf8(bytes)) return std::move(*text);
  // A well-formed code without a character: find the first one.
  for (std::size_t k = 0; k < starts.size(); ++k) {
    const std::size_t end = k + 1 < starts.size() ? starts[k + 1] : bytes.size();
    if (!text::cp932ToUtf8(std::string_view(bytes).substr(starts[k], end - starts[k]))) {
      throw TaskArgumentError("コードページ 932 に文字のないコードがあります" + bytePosition(starts[k]) +
                              "。");
    }
  }
  throw TaskArgumentError("コードページ 932 のバイト列として読めません。");
}

std::string joinTaskParameters(const std::vector<std::string>& arguments) {
  std::string parameters;
  for (const auto& argument : arguments) {
    parameters += argument;
    parameters += ' ';
  }
  return parameters;
}

std::vector<std::string> splitTaskParameters(std::string_view parameters) {
  std::vector<std::string> arguments;
  if (parameters.empty()) return arguments;
  if (parameters.back() == ' ') parameters.remove_suffix(1);
  for (;;) {
    const std::size_t blank = parameters.find(' ');
    arguments.emplace_back(parameters.substr(0, blank));
    if (blank == std::string_view::npos) return arguments;
    parameters.remove_prefix(blank + 1);
  }
}

}  // namespace bv::tasks
