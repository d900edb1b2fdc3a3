// What the stand-in reports about itself for each emulated SQL Server release.
#pragma once

#include <cstdint>
#include <string>

namespace standin::base {

// TDS protocol versions as they appear in LOGINACK (big-endian on the wire there).
inline constexpr std::uint32_t kTds70 = 0x70000000;
inline constexpr std::uint32_t kTds71 = 0x71000001;
inline constexpr std::uint32_t kTds72 = 0x72090002;
inline constexpr std::uint32_t kTds73 = 0x730B0003;
inline constexpr std::uint32_t kTds74 = 0x74000004;

struct ProductVersion {
  int year = 2005;  // the release year the stand-in emulates (2000, 2005, 2008, ...)
  int major = 9;
  int minor = 0;
  int build = 5000;
  int revision = 0;
  std::uint32_t tdsVersion = kTds72;  // highest TDS version the release speaks
  std::string versionString() const;  // "9.00.5000.00" (two-digit minor as SQL Server prints it)
};

// Known years: 2000, 2005, 2008, 2012, 2014, 2016, 2017, 2019, 2022. Throws
// std::invalid_argument for anything else.
ProductVersion productVersionFor(int year);
bool isSupportedYear(int year);

// The text of @@VERSION: "Microsoft SQL Server 2005 - 9.00.5000.00 (Intel X86) ...", with the
// year at characters 22-25; the 2000 release prints two blanks before its year.
std::string versionBanner(const ProductVersion& version);

// The lower of two TDS versions (the one both sides speak).
std::uint32_t negotiateTdsVersion(std::uint32_t client, std::uint32_t server);

}  // namespace standin::base
