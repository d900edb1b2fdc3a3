#include "standin/base/version.h"

#include <cstdio>
#include <stdexcept>

#include "standin/base/text.h"

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
    {2000, 8, 0, 2039, 0, kTds71, 80, 539},     {2005, 9, 0, 5000, 0, kTds72, 90, 611},
    {2008, 10, 0, 6000, 29, kTds73, 100, 655},  {2012, 11, 0, 7001, 0, kTds74, 110, 706},
    {2014, 12, 0, 6024, 0, kTds74, 120, 782},   {2016, 13, 0, 5026, 0, kTds74, 130, 852},
    {2017, 14, 0, 1000, 169, kTds74, 140, 869}, {2019, 15, 0, 2000, 5, kTds74, 150, 904},
    {2022, 16, 0, 1000, 6, kTds74, 160, 957},
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

namespace {

struct EditionRow {
  Edition edition;
  std::string_view option;
  std::string_view text;  // SERVERPROPERTY('Edition') without "(64-bit)"
};

constexpr EditionRow kEditions[] = {
    {Edition::Express, "express", "Express Edition"},
    {Edition::Standard, "standard", "Standard Edition"},
    {Edition::Enterprise, "enterprise", "Enterprise Edition"},
    {Edition::Developer, "developer", "Developer Edition"},
    {Edition::DesktopEngine, "desktop-engine", "Desktop Engine"},
};

const EditionRow& rowOf(Edition edition) {
  for (const auto& row : kEditions)
    if (row.edition == edition) return row;
  return kEditions[0];
}

}  // namespace

std::optional<Edition> editionNamed(std::string_view name) {
  for (const auto& row : kEditions)
    if (equalsIgnoreCase(row.option, name)) return row.edition;
  return std::nullopt;
}

std::string_view editionOptionName(Edition edition) { return rowOf(edition).option; }

Edition defaultEdition(int year) { return year == 2000 ? Edition::DesktopEngine : Edition::Developer; }

std::string editionProblem(int year, Edition edition) {
  if (year == 2000 && edition == Edition::Express)
    return "SQL Server 2000 has no Express Edition (its free edition is the Desktop Engine, MSDE 2000): "
           "use desktop-engine";
  if (year != 2000 && edition == Edition::DesktopEngine)
    return "the Desktop Engine (MSDE) is SQL Server 2000's; SQL Server " + std::to_string(year) +
           "'s free edition is Express: use express";
  return {};
}

std::string editionText(Edition edition, const ProductVersion& version) {
  std::string text(rowOf(edition).text);
  if (version.year >= 2008) text += " (64-bit)";
  return text;
}

int engineEdition(Edition edition) {
  switch (edition) {
    case Edition::DesktopEngine:
      return 1;
    case Edition::Standard:
      return 2;
    case Edition::Enterprise:
    case Edition::Developer:
      return 3;
    case Edition::Express:
      return 4;
  }
  return 3;
}

std::optional<std::int64_t> editionId(Edition edition) {
  switch (edition) {
    case Edition::Express:
      return -1592396055;
    case Edition::Standard:
      return -1534726760;
    case Edition::Enterprise:
      return 1804890536;
    case Edition::Developer:
      return -2117995310;
    case Edition::DesktopEngine:
      return std::nullopt;
  }
  return std::nullopt;
}

bool hasAgent(Edition edition) { return edition != Edition::Express; }

bool compressesBackups(Edition edition, int year) {
  switch (edition) {
    case Edition::Enterprise:
    case Edition::Developer:
      return year >= 2008;
    case Edition::Standard:
      return year >= 2012;
    default:
      return false;
  }
}

bool installsSimpleModel(Edition edition) {
  return edition == Edition::Express || edition == Edition::DesktopEngine;
}

std::string versionBanner(const ProductVersion& v, Edition edition) {
  const std::string head =
      v.year == 2000 ? "Microsoft SQL Server  2000" : "Microsoft SQL Server " + std::to_string(v.year);
  const std::string cpu = v.year <= 2005 ? "(Intel X86)" : "(X64)";
  return head + " - " + v.versionString() + " " + cpu + " \n\tJan  1 2024 00:00:00 \n\tCopyright (c) 1988-" +
         std::to_string(v.year) + " Microsoft Corporation\n\t" + editionText(edition, v) +
         " on Linux (Brackenvale stand-in)\n";
}

std::uint32_t negotiateTdsVersion(std::uint32_t client, std::uint32_t server) {
  return client < server ? client : server;
}

}  // namespace standin::base
