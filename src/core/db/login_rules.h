// Whether a typed server name means this computer. Qt-free.
#pragma once

#include <string_view>

namespace bv::db {

// Whether the server typed as `server` runs on the computer named `computerName`:
// its upper-case form (only a to z change) equals the computer name or "(LOCAL)"; otherwise the
// text as typed, up to its first "\", equals the computer name exactly. An empty text is remote.
bool isLocalServer(std::string_view server, std::string_view computerName);

}  // namespace bv::db
