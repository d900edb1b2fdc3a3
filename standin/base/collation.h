// The collations the stand-in knows, each comparing text as SQL Server compares with it: the
// server's Japanese_CI_AS (case ignored for the letters a-z, as the server has always compared
// here), the other case-insensitive ones alike, Latin1_General_CS_AS (case decides only between
// texts otherwise equal, lower case first), and the binary ones (code point order). Every one of
// them ignores trailing blanks in a comparison, as SQL Server pads the shorter text. Kana and
// width are not folded by any of them: full-width and half-width letters, hiragana and katakana
// differ everywhere (what _KS_WS asks for; the others would fold them on SQL Server).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace standin::base {

struct Collation {
  const char* name;  // as SQL Server spells it: "Japanese_CI_AS"
  bool caseSensitive = false;
  bool binary = false;  // code point order (…_BIN2, …_BIN)
  int since = 2000;     // the first release that has it (the _BIN2 ones came with 2005)
};

// The server's collation: Japanese_CI_AS.
const Collation& serverCollation();
// A known collation by its name (case ignored); null for any other name, or for one the release
// does not have yet (0: any release).
const Collation* findCollation(std::string_view name, int serverYear = 0);
// Every known collation.
const std::vector<Collation>& knownCollations();

// Three-way comparison of two texts in the collation, trailing blanks ignored.
int compareText(const Collation& collation, std::string_view a, std::string_view b);
// LIKE in the collation (base::likeMatch, case ignored unless the collation heeds it).
bool likeIn(const Collation& collation, std::string_view text, std::string_view pattern,
            std::string_view escape);
// The name of the collation as a SQLite connection of the stand-in knows it ("BV_JAPANESE_CI_AS").
std::string storageCollationName(const Collation& collation);

}  // namespace standin::base
