// What the stand-in reports about itself for each emulated SQL Server release.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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
  int compatibilityLevel = 90;        // of the databases it creates (sys.databases)
  int databaseVersion = 611;          // the on-disk version of its databases (backup headers)
  std::string versionString() const;  // "9.00.5000.00" (two-digit minor as SQL Server prints it)
};

// Known years: 2000, 2005, 2008, 2012, 2014, 2016, 2017, 2019, 2022. Throws
// std::invalid_argument for anything else.
ProductVersion productVersionFor(int year);
bool isSupportedYear(int year);

// The editions the stand-in plays. An edition decides what SERVERPROPERTY('Edition') and
// ('EngineEdition') answer, whether the instance has a SQL Server Agent, the recovery model
// model is installed with, and whether backups may be compressed.
enum class Edition { Express, Standard, Enterprise, Developer, DesktopEngine };

// "express", "standard", "enterprise", "developer", "desktop-engine" (as --edition spells them,
// case ignored); nullopt for anything else.
std::optional<Edition> editionNamed(std::string_view name);
std::string_view editionOptionName(Edition edition);
// What an instance of a release plays unless told otherwise: an edition with an Agent, the
// Desktop Engine (MSDE) for 2000 and the Developer Edition for the later releases.
Edition defaultEdition(int year);
// Why a release has no such edition (empty when it has): Express came with 2005 and replaced
// the Desktop Engine, which was 2000's.
std::string editionProblem(int year, Edition edition);
// SERVERPROPERTY('Edition'): "Express Edition", "Developer Edition (64-bit)" (the 64-bit
// releases, 2008 on, say so), "Desktop Engine".
std::string editionText(Edition edition, const ProductVersion& version);
// SERVERPROPERTY('EngineEdition'): 1 Desktop Engine, 2 Standard, 3 Enterprise and Developer,
// 4 Express.
int engineEdition(Edition edition);
// SERVERPROPERTY('EditionID') (2005 on); nullopt for the Desktop Engine, which has none.
std::optional<std::int64_t> editionId(Edition edition);
// Express has no SQL Server Agent; every other edition, the Desktop Engine included, has one.
bool hasAgent(Edition edition);
// BACKUP ... WITH COMPRESSION: Enterprise and Developer from 2008, Standard from 2008 R2 (so
// from the stand-in's 2012), never Express.
bool compressesBackups(Edition edition, int year);
// The databases an edition installs model with use the SIMPLE recovery model on Express and the
// Desktop Engine, FULL on the others.
bool installsSimpleModel(Edition edition);

// The text of @@VERSION: "Microsoft SQL Server 2005 - 9.00.5000.00 (Intel X86) ...", with the
// year at characters 22-25; the 2000 release prints two blanks before its year. Its last line
// names the edition, as SQL Server's does.
std::string versionBanner(const ProductVersion& version, Edition edition);

// The lower of two TDS versions (the one both sides speak).
std::uint32_t negotiateTdsVersion(std::uint32_t client, std::uint32_t server);

}  // namespace standin::base
