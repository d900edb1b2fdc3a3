#include "core/maintenance/retention.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

#include "core/db/sql_text.h"
#include "core/maintenance/command_builder.h"
#include "core/maintenance/command_executor.h"
#include "core/maintenance/server_release.h"
#include "core/text/utf16.h"

namespace bv::maintenance {
namespace {


}  // namespace

bool retentionApplies(std::string_view backupFile) { return hasDateInFileNameOnly(backupFile); }

std::optional<std::string_view> generationsNote(std::string_view backupFile, BackupKind kind) {
  if (!backupFile.empty() && !retentionApplies(backupFile)) return kGenerationsNeedDateNote;
  if (kind != BackupKind::Full) return kChainGenerationsNote;
  return std::nullopt;
}

std::optional<std::string> generationsProblem(int generations, std::string_view backupFile) {
  if (generations == kKeepAllGenerations) return std::nullopt;
  if (!generationsInRange(generations)) return std::string(kGenerationsOutOfRange);
  if (!retentionApplies(backupFile)) return std::string(kGenerationsNeedDateMessage);
  return std::nullopt;
}

namespace {

// Declares @folder, @newName, @length, @separator and @message; finds this run's own set (of that
// type) and its file, @folder and @newName, and lists @folder into @files. Without its set in the
// history, or its file in the listing, the batch ends with an error and deletes nothing.
std::vector<std::string> ownFileLines(std::string_view databaseName, std::string_view backupFile, const RunMark& mark,
                                      NameRule rule, char setType) {
  std::vector<std::string> lines = {
      "DECLARE @folder nvarchar(1024), @newName nvarchar(512), @length int, @separator int, @message nvarchar(2048)",
  };
  for (auto& line : nameRuleLines(rule)) lines.push_back(std::move(line));
  // The file this run wrote: its own set in the history, never merely the newest.
  for (auto& line : ownSetLines(databaseName, backupFile, mark, rule, setType)) lines.push_back(std::move(line));
  const std::string listed = "f.[file] = 1 AND " + sameName("f.subdirectory", "@newName", rule);
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
      "DECLARE @files TABLE (subdirectory nvarchar(512), depth int, [file] int)",
      "INSERT INTO @files EXEC master..xp_dirtree @folder, 1, 1",
      "IF NOT EXISTS (SELECT * FROM @files f WHERE " + listed + ")",
      "BEGIN",
      "  SET @message = N'今回のバックアップファイル ' + @newPath + N' がフォルダの一覧にないため、古いバックアップファイルを削除しませんでした。'",
      "  RAISERROR(N'%s', 16, 1, @message)",
      "  RETURN",
      "END",
  };
  lines.insert(lines.end(), located.begin(), located.end());
  return lines;
}

// Each path of `table` in a message of its own, `text` before it, in the order of its bytes:
// a job's history keeps the messages.
std::vector<std::string> printEachLines(std::string_view table, std::string_view text) {
  return {
      "SET @name = N''",
      "WHILE 1 = 1",
      "BEGIN",
      "  SET @path = NULL",
      "  SELECT TOP 1 @path = path FROM " + std::string(table) + " WHERE path > @name COLLATE " +
          std::string(kExactCollation) + " ORDER BY path COLLATE " + std::string(kExactCollation),
      "  IF @path IS NULL BREAK",
      "  PRINT N'" + db::QuoteSqlString(text) + "' + @path",
      "  SET @name = @path",
      "END",
  };
}

// Each file of @doomed goes with xp_delete_file, first by `order`; what really went, as the folder
// lists it afterwards, is in @gone and named in the messages.
std::vector<std::string> deletionLines(std::string_view order) {
  std::vector<std::string> lines = {
      // Each one goes with xp_delete_file, which deletes only a backup file. The names came from
      // the listing itself, so the bookkeeping compares them exactly.
      "DECLARE @tried TABLE (name nvarchar(512))",
      "DECLARE @name nvarchar(512), @path nvarchar(1024)",
      "WHILE 1 = 1",
      "BEGIN",
      "  SET @name = NULL",
      "  SELECT TOP 1 @name = name FROM @doomed ORDER BY " + std::string(order),
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
  };
  for (auto& line : printEachLines("@gone", "古いバックアップファイルを削除しました: ")) lines.push_back(std::move(line));
  return lines;
}

}  // namespace

std::string buildPruneCommand(std::string_view databaseName, std::string_view backupFile, int generations,
                              const RunMark& mark) {
  // xp_delete_file, and so the prune, needs SQL Server 2005: the host's rule is found out.
  constexpr NameRule rule = NameRule::FromHost;
  const FileNamePattern pattern = fileNamePattern(backupFile);
  const std::string digits = "SUBSTRING(f.subdirectory, " + std::to_string(pattern.datesAt.front()) + ", 8)";

  std::vector<std::string> lines = {
      "SET NOCOUNT ON",
      "DECLARE @keep int, @newDigits nchar(8)",
      "SET @keep = " + std::to_string(generations),
  };
  for (auto& line : ownFileLines(databaseName, backupFile, mark, rule, 'D')) lines.push_back(std::move(line));
  const std::vector<std::string> located = {
      "SET @newDigits = SUBSTRING(@newName, " + std::to_string(pattern.datesAt.front()) + ", 8)",
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
    lines.push_back("    AND " + sameName(piece, db::unicodeLiteral(pattern.pieces[i]), rule));
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
  };
  lines.insert(lines.end(), rest.begin(), rest.end());
  for (auto& line : deletionLines("digits")) lines.push_back(std::move(line));
  lines.push_back("SELECT path AS deleted FROM @gone ORDER BY path COLLATE " + std::string(kExactCollation));
  return joinCommandLines(lines);
}

std::string buildChainPruneCommand(std::string_view databaseName, std::string_view backupFile, BackupKind kind,
                                   const RunMark& mark) {
  constexpr NameRule rule = NameRule::FromHost;
  const FileNamePattern pattern = fileNamePattern(backupFile);
  if (pattern.timesAt.empty()) throw std::invalid_argument("a chain road's file name holds %time%");
  const char type = kind == BackupKind::Log ? 'L' : 'I';
  const auto part = [](std::size_t at, std::size_t length) {
    return "SUBSTRING(f.subdirectory, " + std::to_string(at) + ", " + std::to_string(length) + ")";
  };
  std::vector<std::string> lines = {"SET NOCOUNT ON"};
  for (auto& line : ownFileLines(databaseName, backupFile, mark, rule, type)) lines.push_back(std::move(line));
  const std::vector<std::string> kept = {
      // The full backups that still count: every full of the database in the history that is not
      // copy-only, whoever made it, unless its file is proven gone (not there while its folder is).
      "DECLARE @fulls TABLE (id int, path nvarchar(1024), gone int)",
      "INSERT INTO @fulls (id, path, gone)",
      "  SELECT s.backup_set_id, m.physical_device_name, 0",
      "  FROM msdb.dbo.backupset s JOIN msdb.dbo.backupmediafamily m ON m.media_set_id = s.media_set_id",
      "  WHERE s.database_name = @db AND s.type = 'D' AND s.is_copy_only = 0",
      "DECLARE @exists TABLE (fileExists int, isFolder int, parentExists int)",
      "DECLARE @fullId int, @fullPath nvarchar(1024)",
      "SET @fullId = 0",
      "WHILE 1 = 1",
      "BEGIN",
      "  SET @fullPath = NULL",
      "  SELECT TOP 1 @fullId = id, @fullPath = path FROM @fulls WHERE id > @fullId ORDER BY id",
      "  IF @fullPath IS NULL BREAK",
      "  DELETE FROM @exists",
      "  INSERT INTO @exists EXEC master..xp_fileexist @fullPath",
      "  IF EXISTS (SELECT * FROM @exists WHERE fileExists = 0 AND isFolder = 0 AND parentExists = 1)",
      "    UPDATE @fulls SET gone = 1 WHERE id = @fullId",
      "END",
      // This road's own files: its pattern in its folder (plain equality with the history's paths
      // first, in msdb's collation, which a long history can be searched by, then the file
      // system's rule: the first can only leave out a file, never add one)...
      "DECLARE @listed TABLE (name nvarchar(512), mediaSet int)",
      "INSERT INTO @listed (name, mediaSet)",
      "  SELECT f.subdirectory, m.media_set_id FROM @files f",
      "  JOIN msdb.dbo.backupmediafamily m ON m.physical_device_name = @folder + f.subdirectory",
      "    AND " + sameName("m.physical_device_name", "@folder + f.subdirectory", rule),
      "  WHERE f.[file] = 1 AND DATALENGTH(f.subdirectory) = " + std::to_string(2 * pattern.nameLength),
      "    AND NOT (" + sameName("f.subdirectory", "@newName", rule) + ")",
  };
  lines.insert(lines.end(), kept.begin(), kept.end());
  for (std::size_t i = 0; i < pattern.pieces.size(); ++i) {
    if (pattern.pieces[i].empty()) continue;
    lines.push_back("    AND " + sameName(part(pattern.piecesAt[i], text::utf8ToUtf16(pattern.pieces[i]).size()),
                                          db::unicodeLiteral(pattern.pieces[i]), rule));
  }
  for (const std::size_t at : pattern.timesAt) {
    lines.push_back("    AND " + realTimeDigits(part(at, 6), rule) + " AND " + sameText(part(at, 6), part(pattern.timesAt.front(), 6)));
  }
  // ... each the only set on its media, this program's backup of this type of this database,
  // written before this run's, its set named by the file's date and time.
  const auto listedPart = [](std::size_t at, std::size_t length) {
    return "SUBSTRING(f.name, " + std::to_string(at) + ", " + std::to_string(length) + ")";
  };
  const std::vector<std::string> own = {
      "DECLARE @own TABLE (name nvarchar(512), id int, needed int)",
      "INSERT INTO @own (name, id, needed)",
      "  SELECT f.name, s.backup_set_id,",
  };
  lines.insert(lines.end(), own.begin(), own.end());
  // Whether a kept full needs the set: 1 yes, 0 no, NULL when it cannot be told.
  if (type == 'L') {
    // A log holding anything after a kept full's checkpoint is a link of that full's chain. The
    // LSNs are compared where msdb keeps them, never through a variable.
    lines.push_back("    CASE WHEN s.last_lsn IS NULL OR NOT EXISTS (SELECT * FROM @fulls k WHERE k.gone = 0) THEN NULL");
    lines.push_back("      WHEN EXISTS (SELECT * FROM @fulls k JOIN msdb.dbo.backupset b ON b.backup_set_id = k.id");
    lines.push_back("                   WHERE k.gone = 0 AND s.last_lsn > b.checkpoint_lsn) THEN 1");
    lines.push_back("      ELSE 0 END");
  } else {
    // A differential is needed while its base is kept.
    lines.push_back("    CASE WHEN s.differential_base_guid IS NULL THEN NULL");
    lines.push_back("      WHEN EXISTS (SELECT * FROM @fulls k JOIN msdb.dbo.backupset b ON b.backup_set_id = k.id");
    lines.push_back("                   WHERE k.gone = 0 AND b.backup_set_uuid = s.differential_base_guid) THEN 1");
    lines.push_back("      WHEN EXISTS (SELECT * FROM @fulls k JOIN msdb.dbo.backupset b ON b.backup_set_id = k.id");
    lines.push_back("                   WHERE b.backup_set_uuid = s.differential_base_guid) THEN 0");
    lines.push_back("      ELSE NULL END");
  }
  const std::vector<std::string> sets = {
      "  FROM @listed f JOIN msdb.dbo.backupset s ON s.media_set_id = f.mediaSet",
      "  WHERE s.database_name = @db AND s.description = N'Build by Brackenvale' AND s.type = '" + std::string(1, type) +
          "' AND s.backup_set_id < @setId",
      "    AND NOT EXISTS (SELECT * FROM msdb.dbo.backupset o WHERE o.media_set_id = s.media_set_id",
      "                    AND o.backup_set_id <> s.backup_set_id)",
      "    AND DATALENGTH(s.name) = 52 AND " + sameText("SUBSTRING(s.name, 21, 6)", listedPart(pattern.timesAt.front(), 6)),
  };
  lines.insert(lines.end(), sets.begin(), sets.end());
  for (const std::size_t at : pattern.datesAt) {
    lines.push_back("    AND " + sameText("SUBSTRING(s.name, 13, 8)", listedPart(at, 8)));
  }
  const std::vector<std::string> rest = {
      "DECLARE @doomed TABLE (name nvarchar(512), id int)",
      "INSERT INTO @doomed (name, id) SELECT name, id FROM @own WHERE needed = 0",
      // Where the need cannot be told (the history of its base purged, no full kept), nothing goes.
      "DECLARE @undecided TABLE (path nvarchar(1024))",
      "INSERT INTO @undecided (path) SELECT @folder + name FROM @own WHERE needed IS NULL",
  };
  lines.insert(lines.end(), rest.begin(), rest.end());
  for (auto& line : deletionLines("id")) lines.push_back(std::move(line));
  for (auto& line : printEachLines("@undecided", "必要かどうかを判断できないため削除しませんでした: ")) {
    lines.push_back(std::move(line));
  }
  lines.push_back("SELECT path AS deleted, 0 AS undecided FROM @gone UNION ALL SELECT path, 1 FROM @undecided");
  return joinCommandLines(lines);
}

std::string pruneCommandOf(std::string_view databaseName, std::string_view backupFile, int generations,
                           const RunMark& mark, BackupKind kind) {
  return kind == BackupKind::Full ? buildPruneCommand(databaseName, backupFile, generations, mark)
                                  : buildChainPruneCommand(databaseName, backupFile, kind, mark);
}

std::string undecidedText(const std::vector<std::string>& undecided) {
  if (undecided.empty()) return {};
  std::string text = "次のバックアップファイルは、必要かどうかをバックアップ履歴から判断できないため削除しませんでした。";
  for (const std::string& path : undecided) text += "\n" + path;
  return text;
}

std::string prunedText(const std::vector<std::string>& deleted) {
  if (deleted.empty()) return {};
  std::string text = "古いバックアップファイルを " + std::to_string(deleted.size()) + " 個削除しました。";
  for (const std::string& path : deleted) text += "\n" + path;
  return text;
}

PruneOutcome runPrune(const db::ConnectionSettings& settings, std::string_view databaseName,
                      std::string_view backupFile, int generations, const RunMark& mark, BackupKind kind) {
  PruneOutcome outcome;
  db::ConnectionSettings inMaster = settings;
  inMaster.set("Database", "master");
  db::Connection connection(inMaster);
  inMaster.forgetPassword();
  try {
    connection.open();
    connection.forgetPassword();
    db::Query query(connection);
    query.addLine(pruneCommandOf(databaseName, backupFile, generations, mark, kind));
    query.setCommandTimeout(kMaintenanceCommandTimeoutSeconds);
    query.open();
    for (; !query.eof(); query.next()) {
      const bool undecided = kind != BackupKind::Full && query.fieldAsInteger("undecided") != 0;
      (undecided ? outcome.undecided : outcome.deleted).push_back(query.fieldAsText("deleted"));
    }
    if (kind != BackupKind::Full) {  // the chain prune's rows come unordered
      std::sort(outcome.deleted.begin(), outcome.deleted.end());
      std::sort(outcome.undecided.begin(), outcome.undecided.end());
    }
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
