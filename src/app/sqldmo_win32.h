// Windows only: the SQL-DMO side of the server enumerator (server_enumerator_win32.cpp).
// Qt-free.
#pragma once

#include <cstdint>

namespace bv::servers {

// True for the results of CLSIDFromProgID / CoCreateInstance that mean SQL-DMO is not
// installed (or cannot be loaded into this process): the SSRP browser takes its place.
bool isSqlDmoMissing(std::int32_t hresult);

}  // namespace bv::servers
