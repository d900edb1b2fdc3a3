#include "core/maintenance/retention.h"

#include <cstdlib>

#include "core/db/sql_text.h"
#include "core/maintenance/command_builder.h"
#include "core/maintenance/command_executor.h"
#include "core/text/ascii.h"
#include "core/text/utf16.h"

namespace bv::maintenance {
namespace {

constexpr std::string_view kDateToken = "%date%";

// Where the token starts in the text, in any letter case, from `from` on.
std::size_t findDate(std::string_view text, std::size_t from) {
  for (std::size_t i = from; i + kDateToken.size() <= text.size(); ++i) {
    bool same = true;
    for (std::size_t k = 0; k < kDateToken.size() && same; ++k) same = text::asciiLower(text[i + k]) == kDateToken[k];
    if (same) return i;
  }
  return std::string_view::npos;
}

std::size_t fileNameStart(std::string_view path) {
  const std::size_t separator = path.find_last_of("\\/");
  return separator == std::string_view::npos ? 0 : separator + 1;
}

// The file-name part cut at each %date%: the literal pieces around the dates.
std::vector<std::string> literalPieces(std::string_view fileName) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (std::size_t at = findDate(fileName, 0); at != std::string_view::npos; at = findDate(fileName, start)) {
    pieces.emplace_back(fileName.substr(start, at - start));
    start = at + kDateToken.size();
  }
  pieces.emplace_back(fileName.substr(start));
  return pieces;
}

// Lengths and positions as the server counts them in an nvarchar: UTF-16 units.
std::size_t units(std::string_view text) { return text::utf8ToUtf16(text).size(); }

std::string literal(std::string_view text) { return "N'" + db::QuoteSqlString(text) + "'"; }

}  // namespace

bool retentionApplies(std::string_view backupFile) {
  const std::size_t name = fileNameStart(backupFile);
  return findDate(backupFile, name) != std::string_view::npos &&
         findDate(backupFile.substr(0, name), 0) == std::string_view::npos;
}

std::optional<std::string> generationsProblem(int generations, std::string_view backupFile) {
  if (generations == kKeepAllGenerations) return std::nullopt;
  if (generations < kMinGenerations || generations > kMaxGenerations) return std::string(kGenerationsOutOfRange);
  if (!retentionApplies(backupFile)) return std::string(kGenerationsNeedDateMessage);
  return std::nullopt;
}

std::optional<int> majorVersion(std::string_view productVersion) {
  const std::string text(productVersion.substr(0, productVersion.find('.')));
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  return std::atoi(text.c_str());
}

std::string buildPruneCommand(std::string_view databaseName, std::string_view backupFile, int generations) {
  const std::string_view fileName = backupFile.substr(fileNameStart(backupFile));
  const std::vector<std::string> pieces = literalPieces(fileName);
  // Where each piece and each date stands in a matching name (1-based, in UTF-16 units).
  std::vector<std::size_t> piecePositions;
  std::vector<std::size_t> datePositions;
  std::size_t position = 1;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    piecePositions.push_back(position);
    position += units(pieces[i]);
    if (i + 1 < pieces.size()) {
      datePositions.push_back(position);
      position += 8;
    }
  }
  const std::size_t nameLength = position - 1;
  const std::string digits = "SUBSTRING(f.subdirectory, " + std::to_string(datePositions.front()) + ", 8)";

  std::vector<std::string> lines = {
      "SET NOCOUNT ON",
      "DECLARE @keep int, @db sysname, @newPath nvarchar(1024), @folder nvarchar(1024), @newName nvarchar(512)",
      "DECLARE @newDigits nchar(8), @length int, @separator int, @message nvarchar(2048)",
      "SET @keep = " + std::to_string(generations),
      "SET @db = " + literal(databaseName),
      // The file just written: the newest of this program's backups of the database.
      "SELECT TOP 1 @newPath = m.physical_device_name",
      "  FROM msdb.dbo.backupset s JOIN msdb.dbo.backupmediafamily m ON m.media_set_id = s.media_set_id",
      "  WHERE s.database_name = @db AND s.description = N'Build by Brackenvale' AND s.type = 'D'",
      "  ORDER BY s.backup_set_id DESC",
      "IF @newPath IS NULL",
      "BEGIN",
      "  RAISERROR(N'今回のバックアップがバックアップ履歴に見つからないため、古いバックアップファイルを削除しませんでした。', 16, 1)",
      "  RETURN",
      "END",
      "SET @length = DATALENGTH(@newPath) / 2",
      "SET @separator = @length + 1 - CHARINDEX(N'\\', REVERSE(@newPath))",
      "IF CHARINDEX(N'\\', REVERSE(@newPath)) = 0 SET @separator = 0",
      "IF CHARINDEX(N'/', REVERSE(@newPath)) > 0 AND @length + 1 - CHARINDEX(N'/', REVERSE(@newPath)) > @separator",
      "  SET @separator = @length + 1 - CHARINDEX(N'/', REVERSE(@newPath))",
      "SET @folder = LEFT(@newPath, @separator)",
      "SET @newName = SUBSTRING(@newPath, @separator + 1, @length - @separator)",
      "SET @newDigits = SUBSTRING(@newName, " + std::to_string(datePositions.front()) + ", 8)",
      "DECLARE @files TABLE (subdirectory nvarchar(512), depth int, [file] int)",
      "INSERT INTO @files EXEC master..xp_dirtree @folder, 1, 1",
      "IF NOT EXISTS (SELECT * FROM @files WHERE [file] = 1 AND subdirectory = @newName)",
      "BEGIN",
      "  SET @message = N'今回のバックアップファイル ' + @newPath + N' がフォルダの一覧にないため、古いバックアップファイルを削除しませんでした。'",
      "  RAISERROR(N'%s', 16, 1, @message)",
      "  RETURN",
      "END",
      // The candidates: the pattern with one real date, not later than the new file's, in every
      // %date%'s place, and this program's backup of this database at that very path.
      "DECLARE @doomed TABLE (name nvarchar(512), digits nchar(8))",
      "INSERT INTO @doomed (name, digits)",
      "SELECT c.name, c.digits FROM (",
      "  SELECT f.subdirectory AS name, " + digits + " AS digits,",
      "         ROW_NUMBER() OVER (ORDER BY " + digits + " DESC) AS newer",
      "  FROM @files f",
      "  WHERE f.[file] = 1 AND DATALENGTH(f.subdirectory) = " + std::to_string(2 * nameLength),
  };
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (pieces[i].empty()) continue;
    lines.push_back("    AND SUBSTRING(f.subdirectory, " + std::to_string(piecePositions[i]) + ", " +
                    std::to_string(units(pieces[i])) + ") = " + literal(pieces[i]));
  }
  lines.push_back("    AND " + digits + " NOT LIKE N'%[^0-9]%'");
  for (std::size_t i = 1; i < datePositions.size(); ++i) {
    lines.push_back("    AND SUBSTRING(f.subdirectory, " + std::to_string(datePositions[i]) + ", 8) = " + digits);
  }
  const std::vector<std::string> rest = {
      "    AND ISDATE(" + digits + ") = 1 AND " + digits + " <= @newDigits AND f.subdirectory <> @newName",
      "    AND EXISTS (SELECT * FROM msdb.dbo.backupset s",
      "                JOIN msdb.dbo.backupmediafamily m ON m.media_set_id = s.media_set_id",
      "                WHERE s.database_name = @db AND s.description = N'Build by Brackenvale'",
      "                  AND s.name = N'Brackenvale_' + " + digits,
      "                  AND m.physical_device_name = @folder + f.subdirectory)",
      ") c",
      "WHERE c.newer >= @keep",
      // Each one goes with xp_delete_file, which deletes only a backup file.
      "DECLARE @tried TABLE (name nvarchar(512))",
      "DECLARE @name nvarchar(512), @path nvarchar(1024)",
      "WHILE 1 = 1",
      "BEGIN",
      "  SET @name = NULL",
      "  SELECT TOP 1 @name = name FROM @doomed ORDER BY digits",
      "  IF @name IS NULL BREAK",
      "  SET @path = @folder + @name",
      "  EXEC master..xp_delete_file 0, @path",
      "  DELETE FROM @doomed WHERE name = @name",
      "  INSERT INTO @tried (name) VALUES (@name)",
      "END",
      // What really went, as the folder lists it now.
      "DELETE FROM @files",
      "INSERT INTO @files EXEC master..xp_dirtree @folder, 1, 1",
      "DECLARE @gone TABLE (path nvarchar(1024))",
      "INSERT INTO @gone (path) SELECT @folder + t.name FROM @tried t",
      "  WHERE NOT EXISTS (SELECT * FROM @files f WHERE f.[file] = 1 AND f.subdirectory = t.name)",
      // Named in the messages too, which a job's history keeps.
      "SET @name = N''",
      "WHILE 1 = 1",
      "BEGIN",
      "  SET @path = NULL",
      "  SELECT TOP 1 @path = path FROM @gone WHERE path > @name ORDER BY path",
      "  IF @path IS NULL BREAK",
      "  PRINT N'古いバックアップファイルを削除しました: ' + @path",
      "  SET @name = @path",
      "END",
      "SELECT path AS deleted FROM @gone ORDER BY path",
  };
  lines.insert(lines.end(), rest.begin(), rest.end());
  return joinCommandLines(lines);
}

std::string prunedText(const std::vector<std::string>& deleted) {
  if (deleted.empty()) return {};
  std::string text = "古いバックアップファイルを " + std::to_string(deleted.size()) + " 個削除しました。";
  for (const std::string& path : deleted) text += "\n" + path;
  return text;
}

PruneOutcome runPrune(const db::ConnectionSettings& settings, std::string_view databaseName,
                      std::string_view backupFile, int generations) {
  PruneOutcome outcome;
  db::Connection connection(settings);
  try {
    connection.open();
    connection.forgetPassword();
    db::Query query(connection);
    query.addLine(buildPruneCommand(databaseName, backupFile, generations));
    query.setCommandTimeout(kMaintenanceCommandTimeoutSeconds);
    query.open();
    for (; !query.eof(); query.next()) outcome.deleted.push_back(query.fieldAsText("deleted"));
    query.close();
    connection.close();
    outcome.succeeded = true;
  } catch (const db::ProviderError&) {
    outcome.errors = connection.errors();
  } catch (const db::ConnectionStringError& error) {
    outcome.errors = {{error.what(), "08001", 0}};
  }
  if (!outcome.succeeded) {
    outcome.errorMessage = std::string(kPruneFailed) + "\r\n\r\n";
    for (const auto& entry : outcome.errors) outcome.errorMessage += entry.message + "\r\n";
  }
  return outcome;
}

std::optional<int> readMajorVersion(const db::ConnectionSettings& settings) {
  try {
    db::Connection connection(settings);
    connection.open();
    connection.forgetPassword();
    db::Query query(connection);
    query.addLine("SELECT CONVERT(nvarchar(128), SERVERPROPERTY('ProductVersion')) AS version");
    query.open();
    if (query.eof()) return std::nullopt;
    return majorVersion(query.fieldAsText("version"));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::optional<std::string> retentionServerProblem(const db::ConnectionSettings& settings) {
  const std::optional<int> version = readMajorVersion(settings);
  if (version && *version < kFirstVersionWithDeleteFile) return std::string(kRetentionNeedsNewerServer);
  return std::nullopt;
}

}  // namespace bv::maintenance
