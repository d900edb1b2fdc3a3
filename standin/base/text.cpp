#include "standin/base/text.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <optional>
#include <utility>

namespace standin::base {
namespace {

// Decodes one code point from UTF-8 at s[i]; advances i. Invalid input yields U+FFFD.
char32_t decodeUtf8(std::string_view s, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int extra = 0;
  char32_t cp = 0;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1;
    cp = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2;
    cp = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3;
    cp = b0 & 0x07;
  } else {
    ++i;
    return 0xFFFD;
  }
  if (i + static_cast<std::size_t>(extra) >= s.size()) {
    i = s.size();
    return 0xFFFD;
  }
  for (int k = 1; k <= extra; ++k) {
    const auto b = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
    if ((b & 0xC0) != 0x80) {
      i += static_cast<std::size_t>(k);
      return 0xFFFD;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  i += static_cast<std::size_t>(extra) + 1;
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0xFFFD;
  return cp;
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

void appendUnit(std::string& out, std::uint16_t u) {
  out.push_back(static_cast<char>(u & 0xFF));
  out.push_back(static_cast<char>(u >> 8));
}

// One iconv descriptor, closed on destruction.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (valid()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  // Converts one whole input; returns false when any byte could not be converted.
  bool convert(std::string_view in, std::string& out) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    std::string buf(in.size() * 4 + 8, '\0');
    char* inPtr = const_cast<char*>(in.data());
    std::size_t inLeft = in.size();
    char* outPtr = buf.data();
    std::size_t outLeft = buf.size();
    const std::size_t rc = iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft);
    if (rc == static_cast<std::size_t>(-1) || inLeft != 0) return false;
    out.assign(buf.data(), buf.size() - outLeft);
    return true;
  }

 private:
  iconv_t cd_;
};

// Encodes one code point in CP932; empty when the code page has no such character.
std::string encodeCp932(char32_t cp) {
  static std::mutex mutex;
  static Iconv conv("CP932", "UTF-8");
  std::string utf8;
  appendUtf8(utf8, cp);
  if (cp < 0x80) return utf8;
  std::lock_guard lock(mutex);
  std::string out;
  if (!conv.valid() || !conv.convert(utf8, out)) return {};
  return out;
}

}  // namespace

std::string utf8ToUtf16le(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() * 2);
  std::size_t i = 0;
  while (i < utf8.size()) {
    const char32_t cp = decodeUtf8(utf8, i);
    if (cp >= 0x10000) {
      const char32_t v = cp - 0x10000;
      appendUnit(out, static_cast<std::uint16_t>(0xD800 + (v >> 10)));
      appendUnit(out, static_cast<std::uint16_t>(0xDC00 + (v & 0x3FF)));
    } else {
      appendUnit(out, static_cast<std::uint16_t>(cp));
    }
  }
  return out;
}

std::string utf16leToUtf8(std::string_view utf16le) {
  std::string out;
  out.reserve(utf16le.size());
  const std::size_t units = utf16le.size() / 2;
  auto unitAt = [&](std::size_t k) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(utf16le[2 * k]) |
                                      (static_cast<unsigned char>(utf16le[2 * k + 1]) << 8));
  };
  for (std::size_t k = 0; k < units; ++k) {
    const std::uint16_t u = unitAt(k);
    if (u >= 0xD800 && u <= 0xDBFF && k + 1 < units) {
      const std::uint16_t lo = unitAt(k + 1);
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        appendUtf8(out, 0x10000 + ((static_cast<char32_t>(u - 0xD800) << 10) | (lo - 0xDC00)));
        ++k;
        continue;
      }
    }
    if (u >= 0xD800 && u <= 0xDFFF) {
      appendUtf8(out, 0xFFFD);
    } else {
      appendUtf8(out, u);
    }
  }
  return out;
}

std::size_t utf16Length(std::string_view utf8) {
  std::size_t n = 0;
  std::size_t i = 0;
  while (i < utf8.size()) n += decodeUtf8(utf8, i) >= 0x10000 ? 2 : 1;
  return n;
}

std::string toUpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

std::string toLowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

int compareIgnoreCase(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    auto fold = [](char c) {
      const auto u = static_cast<unsigned char>(c);
      return (u >= 'a' && u <= 'z') ? static_cast<unsigned char>(u - 'a' + 'A') : u;
    };
    const unsigned char x = fold(a[i]);
    const unsigned char y = fold(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) { return compareIgnoreCase(a, b) == 0; }

std::string toServerCodePage(std::string_view utf8, std::size_t maxBytes) {
  std::string out;
  std::size_t bytes = 0;
  std::size_t i = 0;
  while (i < utf8.size()) {
    const char32_t cp = decodeUtf8(utf8, i);
    const std::string enc = encodeCp932(cp);
    const std::size_t width = enc.empty() ? 1 : enc.size();
    if (bytes + width > maxBytes) break;
    bytes += width;
    if (enc.empty()) {
      out.push_back('?');
    } else {
      appendUtf8(out, cp);
    }
  }
  return out;
}

std::size_t serverCodePageLength(std::string_view utf8) {
  std::size_t bytes = 0;
  std::size_t i = 0;
  while (i < utf8.size()) {
    const std::string enc = encodeCp932(decodeUtf8(utf8, i));
    bytes += enc.empty() ? 1 : enc.size();
  }
  return bytes;
}

std::string utf8ToServerCodePageBytes(std::string_view utf8) {
  std::string out;
  std::size_t i = 0;
  while (i < utf8.size()) {
    const std::string enc = encodeCp932(decodeUtf8(utf8, i));
    out += enc.empty() ? std::string("?") : enc;
  }
  return out;
}

std::string serverCodePageBytesToUtf8(std::string_view bytes) {
  static std::mutex mutex;
  static Iconv conv("UTF-8", "CP932");
  std::string out;
  std::lock_guard lock(mutex);
  if (conv.valid() && conv.convert(bytes, out)) return out;
  // fall back to ASCII with '?' for anything else
  out.clear();
  for (const char c : bytes) out.push_back(static_cast<unsigned char>(c) < 0x80 ? c : '?');
  return out;
}

namespace {

char32_t foldAscii(char32_t c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

std::u32string codePoints(std::string_view utf8, bool fold = true) {
  std::u32string out;
  std::size_t i = 0;
  while (i < utf8.size()) {
    const char32_t c = decodeUtf8(utf8, i);
    out.push_back(fold ? foldAscii(c) : c);
  }
  return out;
}

// One element of a LIKE pattern.
struct LikeElement {
  enum class Kind { Literal, One, Any, Set } kind = Kind::Literal;
  char32_t literal = 0;
  std::vector<std::pair<char32_t, char32_t>> ranges;  // Set: inclusive ranges
  bool negated = false;
  bool matches(char32_t c) const {
    switch (kind) {
      case Kind::Literal:
        return c == literal;
      case Kind::One:
        return true;
      case Kind::Set: {
        bool in = false;
        for (const auto& [lo, hi] : ranges)
          if (c >= lo && c <= hi) in = true;
        return in != negated;
      }
      case Kind::Any:
        break;
    }
    return false;
  }
};

// The pattern's elements; false when it ends in an escape character with nothing after it.
bool likeElements(const std::u32string& p, std::optional<char32_t> escape, std::vector<LikeElement>& out) {
  for (std::size_t i = 0; i < p.size(); ++i) {
    LikeElement e;
    if (escape && p[i] == *escape) {
      if (i + 1 >= p.size()) return false;
      e.literal = p[++i];
    } else if (p[i] == '%') {
      e.kind = LikeElement::Kind::Any;
    } else if (p[i] == '_') {
      e.kind = LikeElement::Kind::One;
    } else if (p[i] == '[' && p.find(']', i + 2) != std::u32string::npos) {
      std::size_t k = i + 1;
      e.kind = LikeElement::Kind::Set;
      if (p[k] == '^') {
        e.negated = true;
        ++k;
      }
      const std::size_t close = p.find(']', k + 1);
      for (; k < close; ++k) {
        if (k + 2 < close && p[k + 1] == '-') {
          e.ranges.emplace_back(p[k], p[k + 2]);
          k += 2;
        } else {
          e.ranges.emplace_back(p[k], p[k]);
        }
      }
      i = close;
    } else {
      e.literal = p[i];
    }
    out.push_back(std::move(e));
  }
  return true;
}

}  // namespace

bool likeMatch(std::string_view text, std::string_view pattern, std::string_view escape, bool ignoreCase) {
  const std::u32string t = codePoints(text, ignoreCase);
  std::optional<char32_t> esc;
  if (!escape.empty()) esc = codePoints(escape, ignoreCase).front();
  std::vector<LikeElement> p;
  if (!likeElements(codePoints(pattern, ignoreCase), esc, p)) return false;
  // Iterative match, backtracking to the last % when the rest does not match.
  std::size_t ti = 0, pi = 0;
  std::size_t starP = std::string::npos, starT = 0;
  while (ti < t.size()) {
    if (pi < p.size() && p[pi].kind == LikeElement::Kind::Any) {
      starP = pi++;
      starT = ti;
    } else if (pi < p.size() && p[pi].matches(t[ti])) {
      ++pi;
      ++ti;
    } else if (starP != std::string::npos) {
      pi = starP + 1;
      ti = ++starT;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi].kind == LikeElement::Kind::Any) ++pi;
  return pi == p.size();
}

}  // namespace standin::base
