// Whether a typed server name means this computer. Qt-free.
#pragma once

#include <string>
#include <string_view>

namespace bv::db {

// Only the letters a to z change; every other byte (multi-byte characters included) stays.
std::string upperAsciiLetters(std::string_view text);

// Whether the server typed as `server` runs on the computer named `computerName`:
// its upper-case form equals the computer name or "(LOCAL)"; otherwise the text as typed,
// up to its first "\", equals the computer name exactly. An empty text is remote.
bool isLocalServer(std::string_view server, std::string_view computerName);

}  // namespace bv::db
