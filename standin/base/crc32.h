// CRC-32 (the polynomial of zlib and PNG): the checksums of backup files, and the seed of a
// database's GUID.
#pragma once

#include <cstdint>
#include <string_view>

namespace standin::base {

std::uint32_t crc32(std::string_view data);

}  // namespace standin::base
