#include "mail_text.h"

#include <algorithm>
#include <cctype>

namespace bvtest {
namespace {

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A fold (CR LF before a blank) taken out, as RFC 5322 2.2.3 unfolds.
std::string unfold(const std::string& value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n') {
      ++i;
      continue;
    }
    out.push_back(value[i]);
  }
  return out;
}

}  // namespace

std::string base64Decode(const std::string& text) {
  std::string out;
  unsigned buffer = 0;
  int bits = 0;
  for (const char c : text) {
    int value = -1;
    if (c >= 'A' && c <= 'Z') value = c - 'A';
    if (c >= 'a' && c <= 'z') value = c - 'a' + 26;
    if (c >= '0' && c <= '9') value = c - '0' + 52;
    if (c == '+') value = 62;
    if (c == '/') value = 63;
    if (value < 0) continue;  // line ends and padding
    buffer = (buffer << 6) | static_cast<unsigned>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((buffer >> bits) & 0xFF));
    }
  }
  return out;
}

std::string decodeEncodedWords(const std::string& value) {
  std::string out;
  std::size_t i = 0;
  bool lastWasWord = false;
  std::string pendingBlanks;
  while (i < value.size()) {
    if (value.compare(i, 2, "=?") == 0) {
      const std::size_t charsetEnd = value.find('?', i + 2);
      const std::size_t encodingEnd =
          charsetEnd == std::string::npos ? charsetEnd : value.find('?', charsetEnd + 1);
      const std::size_t end =
          encodingEnd == std::string::npos ? encodingEnd : value.find("?=", encodingEnd + 1);
      if (end != std::string::npos && encodingEnd == charsetEnd + 2 &&
          lower(value.substr(i + 2, charsetEnd - i - 2)) == "utf-8" &&
          std::toupper(static_cast<unsigned char>(value[charsetEnd + 1])) == 'B') {
        if (!lastWasWord) out += pendingBlanks;
        pendingBlanks.clear();
        out += base64Decode(value.substr(encodingEnd + 1, end - encodingEnd - 1));
        i = end + 2;
        lastWasWord = true;
        continue;
      }
    }
    if (value[i] == ' ' || value[i] == '\t' || value[i] == '\r' || value[i] == '\n') {
      pendingBlanks.push_back(value[i]);
    } else {
      out += pendingBlanks;
      pendingBlanks.clear();
      out.push_back(value[i]);
      lastWasWord = false;
    }
    ++i;
  }
  return out + pendingBlanks;
}

MailText::MailText(std::string raw) : raw_(std::move(raw)) {
  std::size_t at = 0;
  while (at < raw_.size()) {
    std::size_t end = raw_.find("\r\n", at);
    if (end == std::string::npos) end = raw_.size();
    if (end == at) {  // the blank line before the body
      body_ = raw_.substr(std::min(end + 2, raw_.size()));
      return;
    }
    const std::string line = raw_.substr(at, end - at);
    if ((line[0] == ' ' || line[0] == '\t') && !headers_.empty()) {
      headers_.back().value += "\r\n" + line;
    } else {
      const std::size_t colon = line.find(':');
      headers_.push_back({line.substr(0, colon), colon == std::string::npos ? "" : line.substr(colon + 1)});
    }
    at = end + 2;
  }
}

std::string MailText::rawHeader(const std::string& name) const {
  for (const Header& header : headers_) {
    if (lower(header.name) == lower(name)) return trimmed(header.value);
  }
  return {};
}

std::string MailText::header(const std::string& name) const {
  return decodeEncodedWords(trimmed(unfold(rawHeader(name))));
}

std::vector<std::string> MailText::headerNames() const {
  std::vector<std::string> names;
  for (const Header& header : headers_) names.push_back(header.name);
  return names;
}

std::string MailText::body() const {
  if (lower(header("Content-Transfer-Encoding")) == "base64") return base64Decode(body_);
  return body_;
}

}  // namespace bvtest
