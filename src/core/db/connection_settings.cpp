#include "core/db/connection_settings.h"

#include <algorithm>

#include "core/sys/wipe.h"
#include "core/text/ascii.h"

namespace bv::db {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string doubled(std::string_view value, char quote) {
  std::string out;
  out.push_back(quote);
  for (char c : value) {
    out.push_back(c);
    if (c == quote) out.push_back(quote);
  }
  out.push_back(quote);
  return out;
}

std::string quoteKey(std::string_view key) {
  std::string out;
  for (char c : key) {
    out.push_back(c);
    if (c == '=') out.push_back('=');
  }
  return out;
}

std::string quoteValue(std::string_view value) {
  const bool needsQuotes =
      value.find(';') != std::string_view::npos ||
      (!value.empty() && (isBlank(value.front()) || isBlank(value.back()) || value.front() == '"' ||
                          value.front() == '\'' || value.front() == '='));
  if (!needsQuotes) return std::string(value);
  const bool hasDouble = value.find('"') != std::string_view::npos;
  const bool hasSingle = value.find('\'') != std::string_view::npos;
  return doubled(value, hasDouble && !hasSingle ? '\'' : '"');
}

}  // namespace

std::string ConnectionSettings::value(std::string_view key) const {
  for (const auto& [k, v] : pairs_) {
    if (text::equalsIgnoringAsciiCase(k, key)) return v;
  }
  return {};
}

void ConnectionSettings::set(std::string_view key, std::string value) {
  const auto existing = std::find_if(pairs_.begin(), pairs_.end(), [&](const auto& pair) {
    return text::equalsIgnoringAsciiCase(pair.first, key);
  });
  if (existing != pairs_.end()) {
    existing->second = std::move(value);
  } else {
    pairs_.emplace_back(std::string(key), std::move(value));
  }
}

void ConnectionSettings::forgetPassword() noexcept {
  for (auto& [key, value] : pairs_) {
    if (text::equalsIgnoringAsciiCase(key, "Password") || text::equalsIgnoringAsciiCase(key, "PWD"))
      sys::wipe(value);
  }
}

std::string ConnectionSettings::text() const {
  std::string out;
  for (const auto& [key, value] : pairs_) {
    if (!out.empty()) out.push_back(';');
    out += quoteKey(key);
    out.push_back('=');
    out += quoteValue(value);
  }
  return out;
}

ConnectionSettings ConnectionSettings::parse(std::string_view text) {
  ConnectionSettings settings;
  std::size_t i = 0;
  const auto at = [&](std::size_t k) { return k < text.size() ? text[k] : '\0'; };
  while (i < text.size()) {
    // Key: up to a single "="; "==" stands for "=" inside the key.
    std::string key;
    while (i < text.size()) {
      if (text[i] == '=') {
        if (at(i + 1) == '=') {
          key.push_back('=');
          i += 2;
          continue;
        }
        break;
      }
      if (text[i] == ';') break;
      key.push_back(text[i++]);
    }
    const std::string trimmedKey(trim(key));
    if (i >= text.size() || text[i] == ';') {
      if (!trimmedKey.empty()) {
        throw ConnectionStringError("connection string: key '" + trimmedKey + "' has no value");
      }
      ++i;  // an empty pair, as in ";;"
      continue;
    }
    ++i;  // past '='
    while (i < text.size() && isBlank(text[i])) ++i;
    std::string value;
    if (at(i) == '"' || at(i) == '\'') {
      const char quote = text[i++];
      bool closed = false;
      while (i < text.size()) {
        if (text[i] == quote) {
          if (at(i + 1) == quote) {
            value.push_back(quote);
            i += 2;
            continue;
          }
          ++i;
          closed = true;
          break;
        }
        value.push_back(text[i++]);
      }
      if (!closed) throw ConnectionStringError("connection string: unterminated quoted value");
      while (i < text.size() && isBlank(text[i])) ++i;
      if (i < text.size() && text[i] != ';') {
        throw ConnectionStringError("connection string: text after a quoted value");
      }
    } else {
      const std::size_t end = std::min(text.find(';', i), text.size());
      value = std::string(trim(text.substr(i, end - i)));
      i = end;
    }
    ++i;  // past ';' (or the end)
    if (trimmedKey.empty()) throw ConnectionStringError("connection string: empty key");
    settings.set(trimmedKey, std::move(value));
  }
  return settings;
}

ConnectionSettings loginConnectionSettings(const LoginSettings& login,
                                           std::optional<std::string_view> initialCatalog) {
  KeyValuePairs pairs{{"Provider", "SQLOLEDB.1"}, {"Persist Security Info", "False"}};
  if (!login.useSqlAuth) pairs.emplace_back("Trusted_Connection", "yes");
  pairs.emplace_back("Pooling", "false");
  if (initialCatalog) pairs.emplace_back("Initial Catalog", std::string(*initialCatalog));
  if (login.useSqlAuth) {
    pairs.emplace_back("User ID", login.userName);
    pairs.emplace_back("Password", login.password);
  }
  pairs.emplace_back("Data Source", login.server);
  return ConnectionSettings(std::move(pairs));
}

}  // namespace bv::db
