#include "core/maintenance/retention.h"

#include <cstdlib>

#include "core/db/sql_text.h"
#include "core/maintenance/command_builder.h"
#include "core/maintenance/command_executor.h"
#include "core/maintenance/server_release.h"
#include "core/text/utf16.h"

namespace bv::maintenance {
namespace {

std::string literal(std::string_view text) { return "N'" + db::QuoteSqlString(text) + "'"; }

}  // namespace

bool retentionApplies(std::string_view backupFile) { return hasDateInFileNameOnly(backupFile); }

std::optional<std::string> generationsProblem(int generations, std::string_view backupFile) {
  if (generations == kKeepAllGenerations) return std::nullopt;
  if (!generationsInRange(generations)) return std::string(kGenerationsOutOfRange);
  if (!retentionApplies(backupFile)) return std::string(kGenerationsNeedDateMessage);
  return std::nullopt;
}

std::string buildPruneCommand(std::string_view databaseName, std::string_view backupFile, int generations,
                              const RunMark& mark) {
  // xp_delete_file, and so the prune, needs SQL Server 2005: the host's rule is found out.
  constexpr NameRule rule = NameRule::FromHost;
  const FileNamePattern pattern = fileNamePattern(backupFile);
  const std::string digits = "SUBSTRING(f.subdirectory, " + std::to_string(pattern.datesAt.front()) + ", 8)";
  const std::string listed = "f.[file] = 1 AND " + sameName("f.subdirectory", "@newName", rule);

  std::vector<std::string> lines = {
      "SET NOCOUNT ON",
      "DECLARE @keep int, @folder nvarchar(1024), @newName nvarchar(512)",
      "DECLARE @newDigits nchar(8), @length int, @separator int, @message nvarchar(2048)",
      "SET @keep = " + std::to_string(generations),
  };
  for (auto& line : nameRuleLines(rule)) lines.push_back(std::move(line));
  // The file this run wrote: its own set in the history, never merely the newest.
  for (auto& line : ownSetLines(databaseName, backupFile, mark, rule)) lines.push_back(std::move(line));
  const std::vector<std::string> located = {
      "IF @setId IS NULL",
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
      "SET @newDigits = SUBSTRING(@newName, " + std::to_string(pattern.datesAt.front()) + ", 8)",
      "DECLARE @files TABLE (subdirectory nvarchar(512), depth int, [file] int)",
      "INSERT INTO @files EXEC master..xp_dirtree @folder, 1, 1",
      "IF NOT EXISTS (SELECT * FROM @files f WHERE " + listed + ")",
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
      "  WHERE f.[file] = 1 AND DATALENGTH(f.subdirectory) = " + std::to_string(2 * pattern.nameLength),
  };
  lines.insert(lines.end(), located.begin(), located.end());
  for (std::size_t i = 0; i < pattern.pieces.size(); ++i) {
    if (pattern.pieces[i].empty()) continue;
    const std::string piece = "SUBSTRING(f.subdirectory, " + std::to_string(pattern.piecesAt[i]) + ", " +
                              std::to_string(text::utf8ToUtf16(pattern.pieces[i]).size()) + ")";
    lines.push_back("    AND " + sameName(piece, literal(pattern.pieces[i]), rule));
  }
  lines.push_back("    AND (" + digits + ") COLLATE " + std::string(exactCollation(rule)) + " NOT LIKE N'%[^0-9]%'");
  for (std::size_t i = 1; i < pattern.datesAt.size(); ++i) {
    lines.push_back("    AND " + sameText("SUBSTRING(f.subdirectory, " + std::to_string(pattern.datesAt[i]) + ", 8)", digits));
  }
  const std::vector<std::string> rest = {
      "    AND ISDATE(" + digits + ") = 1 AND " + digits + " <= @newDigits AND NOT (" +
          sameName("f.subdirectory", "@newName", rule) + ")",
      "    AND EXISTS (SELECT * FROM msdb.dbo.backupset s",
      "                JOIN msdb.dbo.backupmediafamily m ON m.media_set_id = s.media_set_id",
      "                WHERE s.database_name = @db AND s.description = N'Build by Brackenvale'",
      "                  AND s.name = N'Brackenvale_' + " + digits,
      "                  AND " + sameName("m.physical_device_name", "@folder + f.subdirectory", rule) + ")",
      ") c",
      "WHERE c.newer >= @keep",
      // Each one goes with xp_delete_file, which deletes only a backup file. The names came from
      // the listing itself, so the bookkeeping compares them exactly.
      "DECLARE @tried TABLE (name nvarchar(512))",
      "DECLARE @name nvarchar(512), @path nvarchar(1024)",
      "WHILE 1 = 1",
      "BEGIN",
      "  SET @name = NULL",
      "  SELECT TOP 1 @name = name FROM @doomed ORDER BY digits",
      "  IF @name IS NULL BREAK",
      "  SET @path = @folder + @name",
      "  EXEC master..xp_delete_file 0, @path",
      "  DELETE FROM @doomed WHERE " + sameText("name", "@name"),
      "  INSERT INTO @tried (name) VALUES (@name)",
      "END",
      // What really went, as the folder lists it now.
      "DELETE FROM @files",
      "INSERT INTO @files EXEC master..xp_dirtree @folder, 1, 1",
      "DECLARE @gone TABLE (path nvarchar(1024))",
      "INSERT INTO @gone (path) SELECT @folder + t.name FROM @tried t",
      "  WHERE NOT EXISTS (SELECT * FROM @files f WHERE f.[file] = 1 AND " + sameText("f.subdirectory", "t.name") + ")",
      // Named in the messages too, which a job's history keeps.
      "SET @name = N''",
      "WHILE 1 = 1",
      "BEGIN",
      "  SET @path = NULL",
      "  SELECT TOP 1 @path = path FROM @gone WHERE path > @name COLLATE " + std::string(kExactCollation) +
          " ORDER BY path COLLATE " + std::string(kExactCollation),
      "  IF @path IS NULL BREAK",
      "  PRINT N'古いバックアップファイルを削除しました: ' + @path",
      "  SET @name = @path",
      "END",
      "SELECT path AS deleted FROM @gone ORDER BY path COLLATE " + std::string(kExactCollation),
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
                      std::string_view backupFile, int generations, const RunMark& mark) {
  PruneOutcome outcome;
  db::ConnectionSettings inMaster = settings;
  inMaster.set("Database", "master");
  db::Connection connection(inMaster);
  inMaster.forgetPassword();
  try {
    connection.open();
    connection.forgetPassword();
    db::Query query(connection);
    query.addLine(buildPruneCommand(databaseName, backupFile, generations, mark));
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

std::optional<std::string> retentionServerProblem(const db::ConnectionSettings& settings) {
  const std::optional<ServerRelease> release = readServerRelease(settings);
  if (release && beforeSqlServer2005(release->major)) return std::string(kRetentionNeedsNewerServer);
  return std::nullopt;
}

}  // namespace bv::maintenance
