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

bool isSupportedYear(int year) {
  switch (year) {
    case 2000:
    case 2005:
    case 2008:
    case 2012:
    case 2014:
    case 2016:
    case 2017:
    case 2019:
    case 2022:
      return true;
    default:
      return false;
  }
}

ProductVersion productVersionFor(int year) {
  ProductVersion v;
  v.year = year;
  switch (year) {
    case 2000:
      v.major = 8;
      v.minor = 0;
      v.build = 2039;
      v.revision = 0;
      v.tdsVersion = kTds71;
      break;
    case 2005:
      v.major = 9;
      v.minor = 0;
      v.build = 5000;
      v.revision = 0;
      v.tdsVersion = kTds72;
      break;
    case 2008:
      v.major = 10;
      v.minor = 0;
      v.build = 6000;
      v.revision = 29;
      v.tdsVersion = kTds73;
      break;
    case 2012:
      v.major = 11;
      v.minor = 0;
      v.build = 7001;
      v.revision = 0;
      v.tdsVersion = kTds74;
      break;
    case 2014:
      v.major = 12;
      v.minor = 0;
      v.build = 6024;
      v.revision = 0;
      v.tdsVersion = kTds74;
      break;
    case 2016:
      v.major = 13;
      v.minor = 0;
      v.build = 5026;
      v.revision = 0;
      v.tdsVersion = kTds74;
      break;
    case 2017:
      v.major = 14;
      v.minor = 0;
      v.build = 1000;
      v.revision = 169;
      v.tdsVersion = kTds74;
      break;
    case 2019:
      v.major = 15;
      v.minor = 0;
      v.build = 2000;
      v.revision = 5;
      v.tdsVersion = kTds74;
      break;
    case 2022:
      v.major = 16;
      v.minor = 0;
      v.build = 1000;
      v.revision = 6;
      v.tdsVersion = kTds74;
      break;
    default:
      throw std::invalid_argument("unsupported server version " + std::to_string(year));
  }
  return v;
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
