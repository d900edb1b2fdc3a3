// Rules of the login group that need no widget. Qt-free.
#pragma once

#include <string>
#include <string_view>

namespace bv::db {

// The database list's first entry, standing for the login's default database.
inline constexpr std::string_view kDefaultDatabaseEntry = "<既定値>";

// Only the letters a to z change; every other byte (multi-byte characters included) stays.
std::string upperAsciiLetters(std::string_view text);

// Whether the server typed as `server` runs on the computer named `computerName`:
// its upper-case form equals the computer name or "(LOCAL)"; otherwise the text as typed,
// up to its first "\", equals the computer name exactly. An empty text is remote.
bool isLocalServer(std::string_view server, std::string_view computerName);

// The database to act on: the default entry resolved to the login's default database.
std::string resolveDatabaseName(std::string_view listText, std::string_view defaultDatabase);

}  // namespace bv::db
