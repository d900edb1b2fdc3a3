#include "standin/base/collation.h"

#include "standin/base/text.h"

namespace standin::base {

namespace {

std::string_view withoutTrailingBlanks(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

}  // namespace

const std::vector<Collation>& knownCollations() {
  static const std::vector<Collation> known = {
      {"Japanese_CI_AS", false, false},
      {"Latin1_General_CI_AS", false, false},
      {"Latin1_General_CI_AS_KS_WS", false, false},
      {"SQL_Latin1_General_CP1_CI_AS", false, false},
      {"Latin1_General_CS_AS", true, false},
      {"Latin1_General_BIN2", true, true, 2005},
      {"Japanese_BIN2", true, true, 2005},
      // The older binary ones order by the first character's code point, then by bytes: for the
      // texts the stand-in keeps, that is code point order too.
      {"Latin1_General_BIN", true, true},
  };
  return known;
}

const Collation& serverCollation() { return knownCollations().front(); }

const Collation* findCollation(std::string_view name, int serverYear) {
  for (const auto& c : knownCollations())
    if (equalsIgnoreCase(c.name, name)) return serverYear != 0 && serverYear < c.since ? nullptr : &c;
  return nullptr;
}

int compareText(const Collation& collation, std::string_view a, std::string_view b) {
  a = withoutTrailingBlanks(a);
  b = withoutTrailingBlanks(b);
  if (collation.binary) {
    // UTF-8's byte order is its code points' order.
    const int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  }
  const int folded = compareIgnoreCase(a, b);
  if (folded != 0 || !collation.caseSensitive) return folded;
  // Equal but for case: the first letter that differs decides, lower case first.
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) return a[i] >= 'a' && a[i] <= 'z' ? -1 : 1;
  return 0;
}

bool likeIn(const Collation& collation, std::string_view text, std::string_view pattern,
            std::string_view escape) {
  return likeMatch(text, pattern, escape, !collation.caseSensitive);
}

std::string storageCollationName(const Collation& collation) { return "BV_" + toUpperAscii(collation.name); }

}  // namespace standin::base
