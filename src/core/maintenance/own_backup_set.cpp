#include "core/maintenance/own_backup_set.h"

#include <algorithm>

#include "core/db/sql_text.h"
#include "core/text/ascii.h"
#include "core/text/utf16.h"

namespace bv::maintenance {
namespace {

constexpr std::string_view kDateToken = "%date%";
constexpr std::string_view kTimeToken = "%time%";
constexpr std::size_t kDateDigits = 8;
constexpr std::size_t kTimeDigits = 6;

bool tokenAt(std::string_view text, std::size_t i, std::string_view token) {
  if (i + token.size() > text.size()) return false;
  for (std::size_t k = 0; k < token.size(); ++k) {
    if (text::asciiLower(text[i + k]) != token[k]) return false;
  }
  return true;
}

// Where the token starts in the text, in any letter case, from `from` on.
std::size_t findToken(std::string_view text, std::size_t from, std::string_view token) {
  for (std::size_t i = from; i + token.size() <= text.size(); ++i) {
    if (tokenAt(text, i, token)) return i;
  }
  return std::string_view::npos;
}

std::size_t findDate(std::string_view text, std::size_t from) { return findToken(text, from, kDateToken); }

// The first %date% or %time% from `from` on.
std::size_t findDateOrTime(std::string_view text, std::size_t from) {
  return std::min(findToken(text, from, kDateToken), findToken(text, from, kTimeToken));
}

std::size_t fileNameStart(std::string_view path) {
  const std::size_t separator = path.find_last_of("\\/");
  return separator == std::string_view::npos ? 0 : separator + 1;
}

std::size_t units(std::string_view text) { return text::utf8ToUtf16(text).size(); }


std::string collated(std::string_view expression, std::string_view collation) {
  return "(" + std::string(expression) + ") COLLATE " + std::string(collation);
}

}  // namespace

NameRule nameRuleFor(int serverMajorVersion) {
  return serverMajorVersion > 0 && serverMajorVersion < 9 ? NameRule::Windows : NameRule::FromHost;
}

FileNamePattern fileNamePattern(std::string_view backupFile) {
  FileNamePattern pattern;
  const std::size_t nameStart = fileNameStart(backupFile);
  pattern.folder = std::string(backupFile.substr(0, nameStart));
  pattern.folderLength = units(pattern.folder);
  const std::string_view fileName = backupFile.substr(nameStart);
  std::size_t start = 0;
  std::size_t position = 1;
  for (std::size_t at = findDateOrTime(fileName, 0);; at = findDateOrTime(fileName, start)) {
    const std::string_view piece = fileName.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start);
    pattern.pieces.emplace_back(piece);
    pattern.piecesAt.push_back(position);
    position += units(piece);
    if (at == std::string_view::npos) break;
    const bool date = tokenAt(fileName, at, kDateToken);
    (date ? pattern.datesAt : pattern.timesAt).push_back(position);
    position += date ? kDateDigits : kTimeDigits;
    start = at + kDateToken.size();
  }
  pattern.nameLength = position - 1;
  return pattern;
}

bool hasDateInFileNameOnly(std::string_view backupFile) {
  const std::size_t name = fileNameStart(backupFile);
  return findDate(backupFile, name) != std::string_view::npos &&
         findDate(backupFile.substr(0, name), 0) == std::string_view::npos;
}

std::string sameName(std::string_view a, std::string_view b, NameRule rule) {
  const std::string windows = std::string(a) + " = " + collated(b, kWindowsCollation);
  if (rule == NameRule::Windows) return windows;
  return "((@linux = 1 AND " + std::string(a) + " = " + collated(b, kExactCollation) + ") OR (@linux = 0 AND " +
         windows + "))";
}

std::string sameText(std::string_view a, std::string_view b, NameRule rule) {
  return std::string(a) + " = " + collated(b, exactCollation(rule));
}

std::string_view exactCollation(NameRule rule) {
  return rule == NameRule::Windows ? kExactCollation2000 : kExactCollation;
}

std::vector<std::string> nameRuleLines(NameRule rule) {
  if (rule == NameRule::Windows) return {};
  return {
      "DECLARE @linux int, @release nvarchar(128)",
      "DECLARE @host TABLE (platform nvarchar(256))",
      "SET @linux = 0",
      "SET @release = CONVERT(nvarchar(128), SERVERPROPERTY('ProductVersion'))",
      // sys.dm_os_host_info is there from SQL Server 2017 (14) on; before, the server runs on Windows.
      "IF CONVERT(int, LEFT(@release, CHARINDEX(N'.', @release) - 1)) >= 14",
      "  INSERT INTO @host (platform) EXEC (N'SELECT host_platform FROM sys.dm_os_host_info')",
      "IF EXISTS (SELECT * FROM @host WHERE platform = N'Linux') SET @linux = 1",
  };
}

std::string realTimeDigits(std::string_view digits, NameRule rule) {
  const std::string d(digits);
  return collated(d, exactCollation(rule)) + " NOT LIKE N'%[^0-9]%' AND LEFT(" + d + ", 2) <= N'23' AND SUBSTRING(" +
         d + ", 3, 1) <= N'5' AND SUBSTRING(" + d + ", 5, 1) <= N'5'";
}

std::vector<std::string> ownSetLines(std::string_view databaseName, std::string_view backupFile, const RunMark& mark,
                                     NameRule rule, char setType) {
  const FileNamePattern pattern = fileNamePattern(backupFile);
  const std::string path = "m.physical_device_name";
  // Where the file name starts in the recorded path: after the typed folder, or, with none typed,
  // wherever the server put it.
  const bool typedFolder = !pattern.folder.empty();
  const std::string nameStart = typedFolder ? std::to_string(pattern.folderLength)
                                            : "(DATALENGTH(" + path + ") / 2 - " + std::to_string(pattern.nameLength) + ")";
  const auto at = [&](std::size_t position) { return nameStart + " + " + std::to_string(position); };
  const auto part = [&](std::size_t position, std::size_t length) {
    return "SUBSTRING(" + path + ", " + at(position) + ", " + std::to_string(length) + ")";
  };

  std::vector<std::string> lines = {
      "DECLARE @db sysname, @setId int, @newPath nvarchar(1024), @position int, @size float, @jobStart datetime",
      "SET @db = " + db::unicodeLiteral(databaseName),
  };
  std::string after;
  if (mark.jobName.empty()) {
    // A history that could not be read before the backup leaves nothing this run's.
    after = mark.lastSetBefore ? "s.backup_set_id > " + std::to_string(*mark.lastSetBefore) : "1 = 0";
  } else {
    lines.push_back("SELECT TOP 1 @jobStart = a.start_execution_date FROM msdb.dbo.sysjobactivity a");
    lines.push_back("  JOIN msdb.dbo.sysjobs j ON j.job_id = a.job_id");
    lines.push_back("  WHERE j.name = " + db::unicodeLiteral(mark.jobName) + " AND a.stop_execution_date IS NULL");
    lines.push_back("    AND a.session_id = (SELECT MAX(x.session_id) FROM msdb.dbo.syssessions x)");
    lines.push_back("  ORDER BY a.start_execution_date DESC");
    after = "s.backup_start_date >= @jobStart";
  }
  lines.push_back(
      "SELECT TOP 1 @setId = s.backup_set_id, @newPath = m.physical_device_name, @position = s.position, "
      "@size = CONVERT(float, s.backup_size)");
  lines.push_back("  FROM msdb.dbo.backupset s JOIN msdb.dbo.backupmediafamily m ON m.media_set_id = s.media_set_id");
  lines.push_back("  WHERE s.database_name = @db AND s.description = N'Build by Brackenvale' AND s.type = '" +
                  std::string(1, setType) + "'");
  lines.push_back("    AND " + after);
  if (typedFolder) {
    lines.push_back("    AND DATALENGTH(" + path + ") = " + std::to_string(2 * (pattern.folderLength + pattern.nameLength)));
    lines.push_back("    AND " + sameName("LEFT(" + path + ", " + std::to_string(pattern.folderLength) + ")",
                                          db::unicodeLiteral(pattern.folder), rule));
  } else {
    lines.push_back("    AND DATALENGTH(" + path + ") > " + std::to_string(2 * pattern.nameLength));
    lines.push_back("    AND SUBSTRING(" + path + ", " + nameStart + ", 1) IN (N'\\', N'/')");
  }
  for (std::size_t i = 0; i < pattern.pieces.size(); ++i) {
    if (pattern.pieces[i].empty()) continue;
    lines.push_back("    AND " + sameName(part(pattern.piecesAt[i], units(pattern.pieces[i])), db::unicodeLiteral(pattern.pieces[i]), rule));
  }
  for (std::size_t i = 0; i < pattern.datesAt.size(); ++i) {
    const std::string digits = part(pattern.datesAt[i], kDateDigits);
    lines.push_back(i == 0 ? "    AND " + collated(digits, exactCollation(rule)) + " NOT LIKE N'%[^0-9]%'"
                           : "    AND " + sameText(digits, part(pattern.datesAt[0], kDateDigits), rule));
  }
  for (std::size_t i = 0; i < pattern.timesAt.size(); ++i) {
    const std::string digits = part(pattern.timesAt[i], kTimeDigits);
    lines.push_back(i == 0 ? "    AND " + realTimeDigits(digits, rule)
                           : "    AND " + sameText(digits, part(pattern.timesAt[0], kTimeDigits), rule));
  }
  lines.push_back("  ORDER BY s.backup_set_id DESC");
  return lines;
}

}  // namespace bv::maintenance
