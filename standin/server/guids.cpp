#include "standin/server/guids.h"

#include <cstdio>
#include <random>

#include "standin/base/crc32.h"
#include "standin/base/text.h"

namespace standin::server {

std::string newGuid() {
  std::random_device rd;
  char buf[40];
  std::snprintf(buf, sizeof buf, "%08X-%04X-%04X-%04X-%04X%08X", rd(), rd() & 0xFFFF,
                (rd() & 0x0FFF) | 0x4000, (rd() & 0x3FFF) | 0x8000, rd() & 0xFFFF, rd());
  return buf;
}

std::string databaseGuid(const std::string& name, const sql::DateTime& created) {
  const std::string seed = base::toUpperAscii(name) + "|" + created.iso();
  std::uint32_t parts[4];
  for (std::uint32_t i = 0; i < 4; ++i) parts[i] = base::crc32(seed + static_cast<char>('a' + i));
  char buf[40];
  std::snprintf(buf, sizeof buf, "%08X-%04X-%04X-%04X-%04X%08X", parts[0], parts[1] >> 16, parts[1] & 0xFFFF,
                parts[2] >> 16, parts[2] & 0xFFFF, parts[3]);
  return buf;
}

}  // namespace standin::server
