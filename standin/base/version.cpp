#include "standin/base/version.h"

#include <cstdio>
#include <stdexcept>

namespace standin::base {

std::string ProductVersion::versionString() const {
  char buf[64];
  if (major >= 10) {
    std::snprintf(buf, sizeof buf, "%d.%d.%d.%d", major, minor, build, revision);
  } else {
    std::snprintf(buf, sizeof buf, "%d.%02d.%d.%02d", major, minor, build, revision);
  }
  return buf;
}

namespace {

// Each emulated release: one row, the only place its numbers are written.
constexpr ProductVersion kReleases[] = {
    {2000, 8, 0, 2039, 0, kTds71},    {2005, 9, 0, 5000, 0, kTds72},  {2008, 10, 0, 6000, 29, kTds73},
    {2012, 11, 0, 7001, 0, kTds74},   {2014, 12, 0, 6024, 0, kTds74}, {2016, 13, 0, 5026, 0, kTds74},
    {2017, 14, 0, 1000, 169, kTds74}, {2019, 15, 0, 2000, 5, kTds74}, {2022, 16, 0, 1000, 6, kTds74},
};

const ProductVersion* findRelease(int year) {
  for (const ProductVersion& release : kReleases) {
    if (release.year == year) return &release;
  }
  return nullptr;
}

}  // namespace

bool isSupportedYear(int year) { return findRelease(year) != nullptr; }

ProductVersion productVersionFor(int year) {
  if (const ProductVersion* release = findRelease(year)) return *release;
  throw std::invalid_argument("unsupported server version " + std::to_string(year));
}

std::string versionBanner(const ProductVersion& v) {
  const std::string head =
      v.year == 2000 ? "Microsoft SQL Server  2000" : "Microsoft SQL Server " + std::to_string(v.year);
  const std::string cpu = v.year <= 2005 ? "(Intel X86)" : "(X64)";
  return head + " - " + v.versionString() + " " + cpu + " \n\tJan  1 2024 00:00:00 \n\tCopyright (c) 1988-" +
         std::to_string(v.year) + " Microsoft Corporation\n\tBrackenvale stand-in Edition on Linux\n";
}

std::uint32_t negotiateTdsVersion(std::uint32_t client, std::uint32_t server) {
  return client < server ? client : server;
}

}  // namespace standin::base
