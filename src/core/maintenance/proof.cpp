#include "core/maintenance/proof.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

#include "core/db/sql_text.h"
#include "core/maintenance/command_builder.h"
#include "core/maintenance/command_executor.h"
#include "core/text/ascii.h"

namespace bv::maintenance {
namespace {

// What the restore needs beyond the backup: room for the backup's size and a margin.
constexpr double kSpaceFactor = 1.1;
constexpr double kSpaceMarginBytes = 64.0 * 1024 * 1024;

std::string literal(std::string_view text) { return "N'" + db::QuoteSqlString(text) + "'"; }

// Lines of T-SQL as the other builders join them.
std::string batch(const std::vector<std::string>& lines) { return joinCommandLines(lines); }

// The newest backup of the database that this program wrote, as the history names it.
std::string newestBackupQuery(std::string_view databaseName) {
  return batch({
      "SELECT TOP 1 m.physical_device_name AS file_name, s.position AS position,",
      "  CONVERT(float, s.backup_size) AS backup_size, DB_ID(" + literal(databaseName) + ") AS database_id,",
      "  REPLACE(REPLACE(REPLACE(CONVERT(nvarchar(19), GETDATE(), 120), N'-', N''), N' ', N''), N':', N'') AS stamp",
      "FROM msdb.dbo.backupset s JOIN msdb.dbo.backupmediafamily m ON m.media_set_id = s.media_set_id",
      "WHERE s.database_name = " + literal(databaseName) + " AND s.description = N'Build by Brackenvale' AND s.type = 'D'",
      "ORDER BY s.backup_set_id DESC",
  });
}

// Scratch databases a killed proof left: the prefix, older than a day, and restored from one of
// this program's backups (the name's exact shape is checked by the caller).
std::string leftoversQuery(bool catalogViews) {
  const std::string databases = catalogViews ? "sys.databases d" : "master..sysdatabases d";
  const std::string created = catalogViews ? "d.create_date" : "d.crdate";
  return batch({
      "SELECT d.name AS name FROM " + databases,
      "WHERE d.name LIKE N'Brackenvale[_]check[_]%' AND " + created + " < DATEADD(hour, -24, GETDATE())",
      "  AND EXISTS (SELECT * FROM msdb.dbo.restorehistory r",
      "              JOIN msdb.dbo.backupset s ON s.backup_set_id = r.backup_set_id",
      "              WHERE r.destination_database_name = d.name AND s.description = N'Build by Brackenvale')",
  });
}

std::string folderOf(const std::string& path) {
  const std::size_t separator = path.find_last_of("\\/");
  return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

char separatorOf(const std::string& folder) { return folder.find('\\') != std::string::npos ? '\\' : '/'; }

struct ListedFile {
  std::string logicalName;
  std::string type;  // D data, L log, F full-text catalogue, S FILESTREAM
  long fileId = 0;
};

// The new physical name of one file of the scratch database.
std::string movedPath(const ListedFile& file, std::string_view stamp, const std::string& dataFolder,
                      const std::string& logFolder, bool firstData) {
  const bool log = file.type == "L";
  const std::string& folder = log ? logFolder : dataFolder;
  std::string name = std::string(kScratchPrefix) + std::string(stamp) + "_" + std::to_string(file.fileId);
  if (file.type == "D") name += firstData ? ".mdf" : ".ndf";
  if (log) name += ".ldf";
  // Full-text catalogues and FILESTREAM data are folders: no extension.
  return folder.empty() ? name : folder + separatorOf(folder) + name;
}

class ProofFailure : public std::runtime_error {
 public:
  ProofFailure(std::string message, std::vector<db::ErrorEntry> entries = {})
      : std::runtime_error(message), entries_(std::move(entries)) {}
  const std::vector<db::ErrorEntry>& entries() const { return entries_; }

 private:
  std::vector<db::ErrorEntry> entries_;
};

// One request on the proof's connection; its rows as name -> value per row.
using Row = std::vector<std::pair<std::string, std::string>>;

class ProofSession {
 public:
  explicit ProofSession(const db::ConnectionSettings& settings) : connection_(settings) {
    connection_.open();
    connection_.forgetPassword();
  }

  std::vector<Row> rows(const std::string& text, const std::vector<std::string>& columns) {
    db::Query query(connection_);
    query.addLine(text);
    query.setCommandTimeout(kMaintenanceCommandTimeoutSeconds);
    query.open();
    std::vector<Row> out;
    for (; !query.eof(); query.next()) {
      Row row;
      for (const std::string& column : columns) {
        row.emplace_back(column, query.fieldIsNull(column) ? std::string() : query.fieldAsText(column));
      }
      out.push_back(std::move(row));
    }
    return out;
  }
  // A statement that returns no rows; its informational messages come back.
  std::vector<db::ErrorEntry> execute(const std::string& text) {
    db::Query query(connection_);
    query.addLine(text);
    query.setCommandTimeout(kMaintenanceCommandTimeoutSeconds);
    query.execute();
    return connection_.infoMessages();
  }
  const std::vector<db::ErrorEntry>& errors() const { return connection_.errors(); }

 private:
  db::Connection connection_;
};

std::string valueOf(const Row& row, std::string_view column) {
  for (const auto& [name, value] : row) {
    if (text::asciiLower(name) == text::asciiLower(column)) return value;
  }
  return {};
}

std::string withEntries(std::string_view header, const std::vector<db::ErrorEntry>& entries) {
  std::string message = std::string(header) + "\r\n\r\n";
  for (const auto& entry : entries) message += entry.message + "\r\n";
  return message;
}

// The folders the scratch files go to: the server's defaults where the release has them, else
// the folders of the source database's own data and log files.
std::pair<std::string, std::string> targetFolders(ProofSession& session, const ServerRelease& release,
                                                  const std::string& databaseId) {
  std::string data, log;
  if (release.tellsDefaultPaths()) {
    const auto paths =
        session.rows("SELECT CONVERT(nvarchar(1024), SERVERPROPERTY('InstanceDefaultDataPath')) AS data_path, "
                     "CONVERT(nvarchar(1024), SERVERPROPERTY('InstanceDefaultLogPath')) AS log_path",
                     {"data_path", "log_path"});
    if (!paths.empty()) {
      data = valueOf(paths[0], "data_path");
      log = valueOf(paths[0], "log_path");
      // The properties end in a separator.
      while (!data.empty() && (data.back() == '\\' || data.back() == '/')) data.pop_back();
      while (!log.empty() && (log.back() == '\\' || log.back() == '/')) log.pop_back();
    }
  }
  if (data.empty() || log.empty()) {
    const bool catalogViews = release.major >= 9;
    const std::string query =
        catalogViews
            ? "SELECT physical_name AS file_name, CASE WHEN type = 1 THEN 1 ELSE 0 END AS is_log "
              "FROM sys.master_files WHERE database_id = " + databaseId + " ORDER BY file_id"
            : "SELECT RTRIM(filename) AS file_name, CASE WHEN status & 64 = 64 THEN 1 ELSE 0 END AS is_log "
              "FROM master..sysaltfiles WHERE dbid = " + databaseId + " ORDER BY fileid";
    for (const Row& row : session.rows(query, {"file_name", "is_log"})) {
      std::string file = valueOf(row, "file_name");
      while (!file.empty() && file.back() == ' ') file.pop_back();  // an nchar(260) of 2000
      const bool isLog = valueOf(row, "is_log") == "1";
      if (isLog && log.empty()) log = folderOf(file);
      if (!isLog && data.empty()) data = folderOf(file);
    }
  }
  if (log.empty()) log = data;
  if (data.empty()) data = log;
  return {data, log};
}

}  // namespace

bool isSystemDatabase(std::string_view databaseName) {
  const std::string name = text::asciiLower(databaseName);
  return name == "master" || name == "model" || name == "msdb" || name == "tempdb";
}

std::string scratchDatabaseName(std::string_view stamp, long databaseId) {
  return std::string(kScratchPrefix) + std::string(stamp) + "_" + std::to_string(databaseId);
}

bool isScratchDatabaseName(std::string_view name) {
  if (name.rfind(kScratchPrefix, 0) != 0) return false;
  const std::string_view rest = name.substr(kScratchPrefix.size());
  if (rest.size() < 16 || rest[14] != '_') return false;
  const auto digits = [](std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
  };
  return digits(rest.substr(0, 14)) && digits(rest.substr(15));
}

bool ServerRelease::tellsFreeSpace() const {
  if (major != 10) return major > 10;
  return minor > 50 || (minor == 50 && build >= 2500);
}

std::optional<ServerRelease> parseRelease(std::string_view productVersion) {
  ServerRelease release;
  const std::string text(productVersion);
  char* end = nullptr;
  release.major = static_cast<int>(std::strtol(text.c_str(), &end, 10));
  if (end == text.c_str() || release.major <= 0) return std::nullopt;
  if (*end == '.') release.minor = static_cast<int>(std::strtol(end + 1, &end, 10));
  if (*end == '.') release.build = static_cast<int>(std::strtol(end + 1, &end, 10));
  return release;
}

ProofOutcome runProof(const db::ConnectionSettings& settings, std::string_view databaseName) {
  ProofOutcome outcome;
  if (isSystemDatabase(databaseName)) {
    outcome.result = ProofOutcome::Result::Skipped;
    outcome.message = std::string(kSystemDatabaseProof);
    return outcome;
  }
  db::ConnectionSettings fromMaster = settings;
  fromMaster.set("Database", "master");
  std::optional<ProofSession> session;
  std::string scratch;
  bool restored = false;
  try {
    session.emplace(fromMaster);
    fromMaster.forgetPassword();
    const auto version =
        session->rows("SELECT CONVERT(nvarchar(128), SERVERPROPERTY('ProductVersion')) AS version", {"version"});
    const ServerRelease release =
        version.empty() ? ServerRelease{} : parseRelease(valueOf(version[0], "version")).value_or(ServerRelease{});

    const auto newest =
        session->rows(newestBackupQuery(databaseName), {"file_name", "position", "backup_size", "database_id", "stamp"});
    if (newest.empty()) throw ProofFailure("今回のバックアップがバックアップ履歴に見つかりません。");
    const std::string file = valueOf(newest[0], "file_name");
    const std::string position = valueOf(newest[0], "position");
    const std::string databaseId = valueOf(newest[0], "database_id");
    const std::string stamp = valueOf(newest[0], "stamp");
    scratch = scratchDatabaseName(stamp, std::atol(databaseId.c_str()));

    // Never a database this proof did not make: a name in use stops everything.
    if (!valueOf(session->rows("SELECT DB_ID(" + literal(scratch) + ") AS id", {"id"})[0], "id").empty()) {
      throw ProofFailure("テストレストア用のデータベース名 " + scratch + " が既に使われているため、何も変更しませんでした。");
    }
    for (const Row& row : session->rows(leftoversQuery(release.major >= 9), {"name"})) {
      const std::string leftover = valueOf(row, "name");
      if (isScratchDatabaseName(leftover)) session->execute("DROP DATABASE " + db::bracketName(leftover));
    }

    if (release.tellsFreeSpace()) {
      const auto space = session->rows(
          "SELECT CONVERT(float, available_bytes) AS available FROM sys.dm_os_volume_stats(" + databaseId + ", 1)",
          {"available"});
      const double needed = std::atof(valueOf(newest[0], "backup_size").c_str()) * kSpaceFactor + kSpaceMarginBytes;
      const double available = space.empty() ? 0 : std::atof(valueOf(space[0], "available").c_str());
      if (!space.empty() && available < needed) {
        throw ProofFailure("テストレストアに必要な空き容量がありません（必要: " +
                           std::to_string(static_cast<long long>(needed / 1048576)) + " MB、空き: " +
                           std::to_string(static_cast<long long>(available / 1048576)) + " MB）。");
      }
    }

    std::vector<ListedFile> files;
    const std::string list = "RESTORE FILELISTONLY FROM DISK = " + literal(file) + " WITH FILE = " + position;
    const bool hasFileId = release.major >= 9;
    std::vector<std::string> columns = {"LogicalName", "Type"};
    if (hasFileId) columns.push_back("FileId");
    for (const Row& row : session->rows(list, columns)) {
      files.push_back({valueOf(row, "LogicalName"), valueOf(row, "Type"),
                       hasFileId ? std::atol(valueOf(row, "FileId").c_str()) : static_cast<long>(files.size() + 1)});
    }
    const auto [dataFolder, logFolder] = targetFolders(*session, release, databaseId);
    std::string restore = "RESTORE DATABASE " + db::bracketName(scratch) + " FROM DISK = " + literal(file) +
                          " WITH FILE = " + position;
    bool firstData = true;
    for (const ListedFile& listed : files) {
      restore += ", MOVE " + literal(listed.logicalName) + " TO " +
                 literal(movedPath(listed, stamp, dataFolder, logFolder, firstData && listed.type == "D"));
      if (listed.type == "D") firstData = false;
    }
    outcome.scratchName = scratch;
    restored = true;  // from here the scratch database may exist, even after a failed restore
    session->execute(restore);
    try {
      session->execute("DBCC CHECKDB (" + db::bracketName(scratch) + ") WITH NO_INFOMSGS, ALL_ERRORMSGS");
      outcome.result = ProofOutcome::Result::Proven;
      outcome.message = std::string(kProofSucceeded);
    } catch (const db::ProviderError&) {
      outcome.result = ProofOutcome::Result::Damaged;
      outcome.errors = session->errors();
      outcome.message = withEntries(kProofFoundDamage, outcome.errors);
    }
  } catch (const ProofFailure& failure) {
    outcome.result = ProofOutcome::Result::Failed;
    outcome.errors = failure.entries();
    outcome.errors.push_back({failure.what(), "", 0});
    outcome.message = withEntries(kProofFailed, outcome.errors);
  } catch (const db::ProviderError&) {
    outcome.result = ProofOutcome::Result::Failed;
    if (session) outcome.errors = session->errors();
    outcome.message = withEntries(kProofFailed, outcome.errors);
  } catch (const db::ConnectionStringError& error) {
    outcome.result = ProofOutcome::Result::Failed;
    outcome.errors = {{error.what(), "08001", 0}};
    outcome.message = withEntries(kProofFailed, outcome.errors);
  }
  // The scratch database goes in a request of its own, whatever came of the check; only the one
  // this proof restored, and only when it is there.
  if (restored && session) {
    try {
      const auto there = session->rows("SELECT DB_ID(" + literal(scratch) + ") AS id", {"id"});
      if (!there.empty() && !valueOf(there[0], "id").empty()) session->execute("DROP DATABASE " + db::bracketName(scratch));
    } catch (const db::ProviderError&) {
      if (outcome.result == ProofOutcome::Result::Proven) outcome.result = ProofOutcome::Result::Failed;
      outcome.errors.insert(outcome.errors.end(), session->errors().begin(), session->errors().end());
      outcome.message = withEntries(outcome.result == ProofOutcome::Result::Damaged ? kProofFoundDamage : kProofFailed,
                                    outcome.errors);
    }
  }
  return outcome;
}

std::string buildProofJobStep(std::string_view databaseName, int serverYear) {
  // RESTORE FILELISTONLY's columns by release, so that INSERT ... EXEC takes its rows.
  std::string listColumns =
      "LogicalName nvarchar(128), PhysicalName nvarchar(260), Type char(1), FileGroupName nvarchar(128), "
      "Size numeric(20,0), MaxSize numeric(20,0), FileId bigint, CreateLSN numeric(25,0), DropLSN numeric(25,0), "
      "UniqueId uniqueidentifier, ReadOnlyLSN numeric(25,0), ReadWriteLSN numeric(25,0), BackupSizeInBytes bigint, "
      "SourceBlockSize int, FileGroupId int, LogGroupGUID uniqueidentifier, DifferentialBaseLSN numeric(25,0), "
      "DifferentialBaseGUID uniqueidentifier, IsReadOnly bit, IsPresent bit";
  if (serverYear >= 2008) listColumns += ", TDEThumbprint varbinary(32)";
  if (serverYear >= 2016) listColumns += ", SnapshotUrl nvarchar(360)";
  const bool defaultPaths = serverYear >= 2012;
  const bool freeSpace = serverYear >= 2012;  // 2008 R2 SP1 cannot be told from the year alone

  std::vector<std::string> lines = {
      "SET NOCOUNT ON",
      "DECLARE @db sysname, @file nvarchar(1024), @position int, @size float, @dbid int, @stamp nvarchar(14)",
      "DECLARE @scratch sysname, @sql nvarchar(4000), @data nvarchar(1024), @log nvarchar(1024), @error nvarchar(2048)",
      "DECLARE @logical nvarchar(128), @type char(1), @fileId bigint, @target nvarchar(1024), @firstData int",
      "DECLARE @old sysname, @available float",
      "SET @db = " + literal(databaseName),
  };
  const std::vector<std::string> history = {
      "SELECT TOP 1 @file = m.physical_device_name, @position = s.position, @size = CONVERT(float, s.backup_size)",
      "  FROM msdb.dbo.backupset s JOIN msdb.dbo.backupmediafamily m ON m.media_set_id = s.media_set_id",
      "  WHERE s.database_name = @db AND s.description = N'Build by Brackenvale' AND s.type = 'D'",
      "  ORDER BY s.backup_set_id DESC",
      "IF @file IS NULL BEGIN RAISERROR(N'今回のバックアップがバックアップ履歴に見つかりません。', 16, 1) RETURN END",
      "SET @dbid = DB_ID(@db)",
      "SET @stamp = REPLACE(REPLACE(REPLACE(CONVERT(nvarchar(19), GETDATE(), 120), N'-', N''), N' ', N''), N':', N'')",
      "SET @scratch = N'Brackenvale_check_' + @stamp + N'_' + CONVERT(nvarchar(10), @dbid)",
      "IF DB_ID(@scratch) IS NOT NULL",
      "BEGIN",
      "  SET @error = N'テストレストア用のデータベース名 ' + @scratch + N' が既に使われているため、何も変更しませんでした。'",
      "  RAISERROR(N'%s', 16, 1, @error)",
      "  RETURN",
      "END",
      // Leftovers of a killed proof: the exact shape, older than a day, restored from our backup.
      "WHILE 1 = 1",
      "BEGIN",
      "  SET @old = NULL",
      "  SELECT TOP 1 @old = d.name FROM sys.databases d",
      "    WHERE d.name LIKE N'Brackenvale[_]check[_][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][_][0-9]%'",
      "      AND SUBSTRING(d.name, 34, 128) NOT LIKE N'%[^0-9]%'",
      "      AND d.create_date < DATEADD(hour, -24, GETDATE())",
      "      AND EXISTS (SELECT * FROM msdb.dbo.restorehistory r JOIN msdb.dbo.backupset s ON s.backup_set_id = r.backup_set_id",
      "                  WHERE r.destination_database_name = d.name AND s.description = N'Build by Brackenvale')",
      "  IF @old IS NULL BREAK",
      "  SET @sql = N'DROP DATABASE ' + QUOTENAME(@old)",
      "  EXEC (@sql)",
      "END",
  };
  lines.insert(lines.end(), history.begin(), history.end());
  if (freeSpace) {
    lines.push_back("SELECT @available = CONVERT(float, available_bytes) FROM sys.dm_os_volume_stats(@dbid, 1)");
    lines.push_back("IF @available < @size * " + std::to_string(kSpaceFactor) + " + " +
                    std::to_string(static_cast<long long>(kSpaceMarginBytes)));
    lines.push_back("BEGIN RAISERROR(N'テストレストアに必要な空き容量がありません。', 16, 1) RETURN END");
  }
  if (defaultPaths) {
    lines.push_back("SET @data = CONVERT(nvarchar(1024), SERVERPROPERTY('InstanceDefaultDataPath'))");
    lines.push_back("SET @log = CONVERT(nvarchar(1024), SERVERPROPERTY('InstanceDefaultLogPath'))");
  }
  const std::vector<std::string> rest = {
      // Else the folders of the source database's own files, with their separator.
      "IF @data IS NULL SELECT TOP 1 @data = LEFT(physical_name, LEN(physical_name) + 1 - CHARINDEX(N'\\', REVERSE(physical_name)))",
      "  FROM sys.master_files WHERE database_id = @dbid AND type = 0 AND CHARINDEX(N'\\', physical_name) > 0 ORDER BY file_id",
      "IF @data IS NULL SELECT TOP 1 @data = LEFT(physical_name, LEN(physical_name) + 1 - CHARINDEX(N'/', REVERSE(physical_name)))",
      "  FROM sys.master_files WHERE database_id = @dbid AND type = 0 ORDER BY file_id",
      "IF @log IS NULL SELECT TOP 1 @log = LEFT(physical_name, LEN(physical_name) + 1 - CHARINDEX(N'\\', REVERSE(physical_name)))",
      "  FROM sys.master_files WHERE database_id = @dbid AND type = 1 AND CHARINDEX(N'\\', physical_name) > 0 ORDER BY file_id",
      "IF @log IS NULL SELECT TOP 1 @log = LEFT(physical_name, LEN(physical_name) + 1 - CHARINDEX(N'/', REVERSE(physical_name)))",
      "  FROM sys.master_files WHERE database_id = @dbid AND type = 1 ORDER BY file_id",
      "IF @log IS NULL SET @log = @data",
      "IF RIGHT(@data, 1) NOT IN (N'\\', N'/') SET @data = @data + CASE WHEN CHARINDEX(N'\\', @data) > 0 THEN N'\\' ELSE N'/' END",
      "IF RIGHT(@log, 1) NOT IN (N'\\', N'/') SET @log = @log + CASE WHEN CHARINDEX(N'\\', @log) > 0 THEN N'\\' ELSE N'/' END",
      "DECLARE @files TABLE (" + listColumns + ")",
      "SET @sql = N'RESTORE FILELISTONLY FROM DISK = N''' + REPLACE(@file, N'''', N'''''') + N''' WITH FILE = ' + CONVERT(nvarchar(10), @position)",
      "INSERT INTO @files EXEC (@sql)",
      "SET @sql = N'RESTORE DATABASE ' + QUOTENAME(@scratch) + N' FROM DISK = N''' + REPLACE(@file, N'''', N'''''') + N''' WITH FILE = ' + CONVERT(nvarchar(10), @position)",
      "SET @firstData = 1",
      "SET @fileId = -1",
      "WHILE 1 = 1",
      "BEGIN",
      "  SET @logical = NULL",
      "  SELECT TOP 1 @logical = LogicalName, @type = Type, @fileId = FileId FROM @files WHERE FileId > @fileId ORDER BY FileId",
      "  IF @logical IS NULL BREAK",
      "  SET @target = CASE WHEN @type = 'L' THEN @log ELSE @data END + N'Brackenvale_check_' + @stamp + N'_' + CONVERT(nvarchar(20), @fileId)",
      "    + CASE WHEN @type = 'L' THEN N'.ldf' WHEN @type = 'D' AND @firstData = 1 THEN N'.mdf' WHEN @type = 'D' THEN N'.ndf' ELSE N'' END",
      "  IF @type = 'D' SET @firstData = 0",
      "  SET @sql = @sql + N', MOVE N''' + REPLACE(@logical, N'''', N'''''') + N''' TO N''' + REPLACE(@target, N'''', N'''''') + N''''",
      "END",
      "BEGIN TRY",
      "  EXEC (@sql)",
      "  SET @sql = N'DBCC CHECKDB (' + QUOTENAME(@scratch) + N') WITH NO_INFOMSGS, ALL_ERRORMSGS'",
      "  EXEC (@sql)",
      "END TRY",
      "BEGIN CATCH",
      "  SET @error = ERROR_MESSAGE()",
      "END CATCH",
      // The scratch database goes whatever came of the check; only the one this step restored.
      "IF DB_ID(@scratch) IS NOT NULL",
      "BEGIN",
      "  SET @sql = N'DROP DATABASE ' + QUOTENAME(@scratch)",
      "  EXEC (@sql)",
      "END",
      "IF @error IS NOT NULL",
      "BEGIN",
      "  SET @error = N'テストレストア中にエラーが発生しました。 ' + @error",
      "  RAISERROR(N'%s', 16, 1, @error)",
      "  RETURN",
      "END",
      "PRINT N'テストレストアに成功しました。'",
  };
  lines.insert(lines.end(), rest.begin(), rest.end());
  return joinCommandLines(lines);
}

}  // namespace bv::maintenance
