#include "core/maintenance/proof.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

#include "core/db/sql_text.h"
#include "core/maintenance/command_builder.h"
#include "core/maintenance/command_executor.h"
#include "core/maintenance/file_placement.h"
#include "core/maintenance/proof_record.h"
#include "core/text/ascii.h"

namespace bv::maintenance {
namespace {

// The server's time as yyyymmddhhmmss, and 32 random hexadecimal digits (upper case).
constexpr std::string_view kStampExpression =
    "REPLACE(REPLACE(REPLACE(CONVERT(nvarchar(19), GETDATE(), 120), N'-', N''), N' ', N''), N':', N'')";
constexpr std::string_view kRandomExpression = "REPLACE(CONVERT(nvarchar(36), NEWID()), N'-', N'')";
constexpr std::size_t kRandomDigits = 32;

// What the restore needs beyond the backup: room for the backup's size and a margin.
constexpr double kSpaceFactor = 1.1;
constexpr double kSpaceMarginBytes = 64.0 * 1024 * 1024;


// Lines of T-SQL as the other builders join them.
std::string batch(const std::vector<std::string>& lines) { return joinCommandLines(lines); }

// This run's backup, as the history names it, with the server's time and a random part for the
// scratch name.
std::string ownBackupQuery(std::string_view databaseName, std::string_view backupFile, const RunMark& mark,
                           NameRule rule) {
  std::vector<std::string> lines = {"SET NOCOUNT ON"};
  for (auto& line : nameRuleLines(rule)) lines.push_back(std::move(line));
  for (auto& line : ownSetLines(databaseName, backupFile, mark, rule)) lines.push_back(std::move(line));
  lines.push_back("SELECT @setId AS set_id, @newPath AS file_name, @position AS position, @size AS backup_size,");
  lines.push_back("  DB_ID(@db) AS database_id,");
  lines.push_back("  " + std::string(kStampExpression) + " AS stamp,");
  lines.push_back("  " + std::string(kRandomExpression) + " AS random");
  return batch(lines);
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
      "ORDER BY d.name",
  });
}

class ProofFailure : public std::runtime_error {
 public:
  ProofFailure(std::string message, std::vector<db::ErrorEntry> entries = {})
      : std::runtime_error(message), entries_(std::move(entries)) {}
  const std::vector<db::ErrorEntry>& entries() const { return entries_; }

 private:
  std::vector<db::ErrorEntry> entries_;
};

}  // namespace

bool isSystemDatabase(std::string_view databaseName) {
  const std::string name = text::asciiLower(databaseName);
  return name == "master" || name == "model" || name == "msdb" || name == "tempdb";
}

std::string scratchDatabaseName(std::string_view stamp, long databaseId, std::string_view random) {
  return std::string(kScratchPrefix) + std::string(stamp) + "_" + std::to_string(databaseId) + "_" + std::string(random);
}

bool isScratchDatabaseName(std::string_view name) {
  const auto only = [](std::string_view text, std::string_view allowed) {
    return !text.empty() && text.find_first_not_of(allowed) == std::string_view::npos;
  };
  constexpr std::string_view kDigits = "0123456789";
  if (name.rfind(kScratchPrefix, 0) != 0) return false;
  const std::string_view rest = name.substr(kScratchPrefix.size());
  if (rest.size() < 16 || rest[14] != '_' || !only(rest.substr(0, 14), kDigits)) return false;
  const std::string_view id = rest.substr(15);
  if (only(id, kDigits)) return true;  // the earlier shape, without the random part
  if (id.size() < kRandomDigits + 2 || id[id.size() - kRandomDigits - 1] != '_') return false;
  return only(id.substr(0, id.size() - kRandomDigits - 1), kDigits) &&
         only(id.substr(id.size() - kRandomDigits), "0123456789ABCDEF");
}

std::string scratchShapeCondition(std::string_view nameExpression) {
  // Compared exactly: the random part is upper-case hexadecimal, the rest ASCII.
  const std::string name = "(" + std::string(nameExpression) + ") COLLATE " + std::string(kExactCollation);
  const std::string digits14 = "[0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9]";
  const std::string length = "LEN(" + std::string(nameExpression) + ")";
  // SUBSTRING refuses a negative length, and T-SQL does not promise to stop at a false AND.
  const std::string idLength = "CASE WHEN " + length + " > 66 THEN " + length + " - 66 ELSE 0 END";
  return "(" + name + " LIKE N'Brackenvale[_]check[_]" + digits14 + "[_][0-9]%'" +
         " AND (SUBSTRING(" + name + ", 34, 128) NOT LIKE N'%[^0-9]%'" +
         " OR (" + length + " >= 67 AND SUBSTRING(" + name + ", 34, " + idLength + ") NOT LIKE N'%[^0-9]%'" +
         " AND SUBSTRING(" + name + ", " + length + " - 32, 1) = N'_'" +
         " AND RIGHT(" + name + ", 32) NOT LIKE N'%[^0-9A-F]%')))";
}

std::string damagedBackupText(std::string_view file) {
  return std::string(kProofFoundDamage) + std::string(kDamagedBackupBefore) + std::string(file) +
         std::string(kDamagedBackupAfter);
}

std::string leftoverNotDroppedNote(std::string_view name, std::string_view serverText) {
  return "以前のテストレストアで残ったデータベース " + std::string(name) + " を削除できませんでした。" +
         (serverText.empty() ? std::string() : " " + std::string(serverText));
}

namespace {

std::string joinedMessages(const std::vector<db::ErrorEntry>& entries) {
  std::string text;
  for (const auto& entry : entries) text += (text.empty() ? "" : " ") + entry.message;
  return text;
}

// Leftovers of killed proofs go first, each tried once in name order; one that cannot go (a
// session still in it) is named and the proof goes on.
std::vector<std::string> dropLeftovers(ServerSession& session, const ServerRelease& release) {
  std::vector<std::string> notes;
  for (const Row& row : session.rows(leftoversQuery(release.hasCatalogViews()), {"name"})) {
    const std::string leftover = valueOf(row, "name");
    if (!isScratchDatabaseName(leftover)) continue;
    try {
      session.execute("DROP DATABASE " + db::bracketName(leftover));
    } catch (const db::ProviderError&) {
      notes.push_back(leftoverNotDroppedNote(leftover, joinedMessages(session.errors())));
    }
  }
  return notes;
}

// Whether the scratch database is one a failed restore left RESTORING (so this proof's own).
bool leftRestoring(ServerSession& session, const std::string& scratch) {
  return text::equalsIgnoringAsciiCase(databaseState(session, scratch), "RESTORING");
}

// The proof's record (proof_record.h): started before the restore, completed at the end. A login
// that may not write it leaves a line, and the proof goes on.
bool startRecord(ServerSession& session, const std::string& scratch, const std::string& setId,
                 std::vector<std::string>& notes) {
  try {
    for (const std::string& statement : proofRecordStartStatements(db::unicodeLiteral(scratch), setId)) session.execute(statement);
    return true;
  } catch (const db::ProviderError&) {
    notes.push_back(std::string(kProofNotRecorded) + " " + joinedMessages(session.errors()));
    return false;
  }
}

void finishRecord(ServerSession& session, const std::string& scratch, ProofVerdict verdict,
                  std::vector<std::string>& notes) {
  try {
    session.execute(proofRecordFinishStatement(db::unicodeLiteral(scratch), "N'" + std::string(verdictWord(verdict)) + "'"));
  } catch (const db::ProviderError&) {
    notes.push_back(std::string(kProofNotRecorded) + " " + joinedMessages(session.errors()));
  }
}

ProofVerdict verdictOf(ProofOutcome::Result result) {
  switch (result) {
    case ProofOutcome::Result::Proven:
      return ProofVerdict::Passed;
    case ProofOutcome::Result::Damaged:
      return ProofVerdict::Damage;
    default:
      return ProofVerdict::Failed;
  }
}

bool hasCheckSummary(const std::vector<db::ErrorEntry>& errors) {
  return std::any_of(errors.begin(), errors.end(),
                     [](const db::ErrorEntry& e) { return e.nativeCode == kCheckSummaryError; });
}

}  // namespace

ProofOutcome runProof(const db::ConnectionSettings& settings, std::string_view databaseName,
                      std::string_view backupFile, const RunMark& mark, const ServerRelease& release) {
  ProofOutcome outcome;
  if (isSystemDatabase(databaseName)) {
    outcome.result = ProofOutcome::Result::Skipped;
    outcome.message = std::string(kSystemDatabaseProof);
    return outcome;
  }
  db::ConnectionSettings fromMaster = settings;
  fromMaster.set("Database", "master");
  std::optional<ServerSession> session;
  std::string scratch;
  bool restoreSent = false;   // from here the scratch name may hold a database
  bool restoreDone = false;   // this proof's restore brought it online
  bool recorded = false;      // the proof's record was started
  try {
    session.emplace(fromMaster);
    fromMaster.forgetPassword();
    const auto own = session->rows(ownBackupQuery(databaseName, backupFile, mark, nameRuleFor(release.major)),
                                   {"set_id", "file_name", "position", "backup_size", "database_id", "stamp", "random"});
    if (own.empty() || valueOf(own[0], "file_name").empty()) throw ProofFailure(std::string(kOwnSetNotFound));
    const std::string file = valueOf(own[0], "file_name");
    outcome.file = file;
    const std::string position = valueOf(own[0], "position");
    const std::string databaseId = valueOf(own[0], "database_id");
    scratch = scratchDatabaseName(valueOf(own[0], "stamp"), std::atol(databaseId.c_str()), valueOf(own[0], "random"));

    // Never a database this proof did not make: a name in use stops everything.
    if (!valueOf(session->rows("SELECT DB_ID(" + db::unicodeLiteral(scratch) + ") AS id", {"id"})[0], "id").empty()) {
      throw ProofFailure("テストレストア用のデータベース名 " + scratch + " が既に使われているため、何も変更しませんでした。");
    }
    outcome.notes = dropLeftovers(*session, release);

    if (release.tellsFreeSpace()) {
      const auto space = session->rows(
          "SELECT CONVERT(float, available_bytes) AS available FROM sys.dm_os_volume_stats(" + databaseId + ", 1)",
          {"available"});
      const double needed = std::atof(valueOf(own[0], "backup_size").c_str()) * kSpaceFactor + kSpaceMarginBytes;
      const double available = space.empty() ? 0 : std::atof(valueOf(space[0], "available").c_str());
      if (!space.empty() && available < needed) {
        throw ProofFailure("テストレストアに必要な空き容量がありません（必要: " +
                           std::to_string(static_cast<long long>(needed / 1048576)) + " MB、空き: " +
                           std::to_string(static_cast<long long>(available / 1048576)) + " MB）。");
      }
    }

    const std::vector<ListedFile> files = listFiles(*session, file, position, release);
    const auto [dataFolder, logFolder] = placementFolders(*session, release, databaseId);
    const std::string restore = "RESTORE DATABASE " + db::bracketName(scratch) + " FROM DISK = " +
                                db::unicodeLiteral(file) + " WITH FILE = " + position +
                                moveClauses(files, scratch, dataFolder, logFolder);
    outcome.scratchName = scratch;
    recorded = startRecord(*session, scratch, valueOf(own[0], "set_id"), outcome.notes);
    restoreSent = true;
    session->execute(restore);
    restoreDone = true;
    try {
      session->execute("DBCC CHECKDB (" + db::bracketName(scratch) + ") WITH NO_INFOMSGS, ALL_ERRORMSGS");
      outcome.result = ProofOutcome::Result::Proven;
      outcome.message = std::string(kProofSucceeded);
    } catch (const db::ProviderError&) {
      // Damage only where CHECKDB said so in its summary; any other error means it could not run.
      outcome.errors = session->errors();
      const bool damaged = hasCheckSummary(outcome.errors);
      outcome.result = damaged ? ProofOutcome::Result::Damaged : ProofOutcome::Result::Failed;
      outcome.message = withServerTexts(damaged ? damagedBackupText(file) : std::string(kProofFailed), outcome.errors);
    }
  } catch (const ProofFailure& failure) {
    outcome.result = ProofOutcome::Result::Failed;
    outcome.errors = failure.entries();
    outcome.errors.push_back({failure.what(), "", 0});
    outcome.message = withServerTexts(kProofFailed, outcome.errors);
  } catch (const db::ProviderError&) {
    outcome.result = ProofOutcome::Result::Failed;
    if (session) outcome.errors = session->errors();
    outcome.message = withServerTexts(kProofFailed, outcome.errors);
  } catch (const db::ConnectionStringError& error) {
    outcome.result = ProofOutcome::Result::Failed;
    outcome.errors = {{error.what(), "08001", 0}};
    outcome.message = withServerTexts(kProofFailed, outcome.errors);
  }
  // The scratch database goes in a request of its own, whatever came of the check, and only the
  // one this proof's restore made: restored, or left RESTORING by its failed restore. An online
  // database under the name that its restore did not bring online is someone else's.
  if (restoreSent && session) {
    try {
      const auto there = session->rows("SELECT DB_ID(" + db::unicodeLiteral(scratch) + ") AS id", {"id"});
      const bool exists = !there.empty() && !valueOf(there[0], "id").empty();
      if (exists && (restoreDone || leftRestoring(*session, scratch))) {
        session->execute("DROP DATABASE " + db::bracketName(scratch));
      }
    } catch (const db::ProviderError&) {
      if (outcome.result == ProofOutcome::Result::Proven) outcome.result = ProofOutcome::Result::Failed;
      outcome.errors.insert(outcome.errors.end(), session->errors().begin(), session->errors().end());
      outcome.message = withServerTexts(outcome.result == ProofOutcome::Result::Damaged ? damagedBackupText(outcome.file)
                                                                                    : std::string(kProofFailed),
                                    outcome.errors);
    }
  }
  if (recorded) finishRecord(*session, scratch, verdictOf(outcome.result), outcome.notes);
  for (const std::string& note : outcome.notes) outcome.message += (outcome.message.empty() ? "" : "\r\n") + note;
  return outcome;
}

std::string buildProofJobStep(std::string_view databaseName, std::string_view backupFile, const RunMark& mark) {
  // RESTORE FILELISTONLY's columns as 2016 and later give them; earlier releases give the first 20
  // (2005) or 21 (2008), and the step inserts those as the running server's release has them.
  const std::vector<std::pair<std::string, std::string>> listColumns = {
      {"LogicalName", "nvarchar(128)"}, {"PhysicalName", "nvarchar(260)"}, {"Type", "char(1)"},
      {"FileGroupName", "nvarchar(128)"}, {"Size", "numeric(20,0)"}, {"MaxSize", "numeric(20,0)"},
      {"FileId", "bigint"}, {"CreateLSN", "numeric(25,0)"}, {"DropLSN", "numeric(25,0)"},
      {"UniqueId", "uniqueidentifier"}, {"ReadOnlyLSN", "numeric(25,0)"}, {"ReadWriteLSN", "numeric(25,0)"},
      {"BackupSizeInBytes", "bigint"}, {"SourceBlockSize", "int"}, {"FileGroupId", "int"},
      {"LogGroupGUID", "uniqueidentifier"}, {"DifferentialBaseLSN", "numeric(25,0)"},
      {"DifferentialBaseGUID", "uniqueidentifier"}, {"IsReadOnly", "bit"}, {"IsPresent", "bit"},
      {"TDEThumbprint", "varbinary(32)"}, {"SnapshotUrl", "nvarchar(360)"},
  };
  std::string declared;
  const auto names = [&](std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += (i ? ", " : "") + listColumns[i].first;
    return text;
  };
  for (const auto& [name, type] : listColumns) declared += (declared.empty() ? "" : ", ") + name + " " + type;

  std::vector<std::string> lines = {
      "SET NOCOUNT ON",
      "DECLARE @file nvarchar(1024), @dbid int, @stamp nvarchar(14), @major int, @minor int, @build int",
      "DECLARE @scratch sysname, @sql nvarchar(max), @data nvarchar(1024), @log nvarchar(1024), @error nvarchar(2048)",
      "DECLARE @logical nvarchar(128), @type char(1), @fileId bigint, @target nvarchar(1024), @firstData int",
      "DECLARE @old sysname, @next sysname, @available float, @restored int, @version nvarchar(128), @rest nvarchar(128)",
      "DECLARE @recorded int, @damage int",
      "DECLARE @space TABLE (available float)",
      "DECLARE @files TABLE (" + declared + ")",
  };
  for (auto& line : nameRuleLines(NameRule::FromHost)) lines.push_back(std::move(line));
  for (auto& line : ownSetLines(databaseName, backupFile, mark, NameRule::FromHost)) {
    lines.push_back(std::move(line));
  }
  const std::vector<std::string> rest = {
      "IF @setId IS NULL BEGIN RAISERROR(N'" + std::string(kOwnSetNotFound) + "', 16, 1) RETURN END",
      "SET @file = @newPath",
      "SET @dbid = DB_ID(@db)",
      "SET @stamp = " + std::string(kStampExpression),
      "SET @scratch = N'Brackenvale_check_' + @stamp + N'_' + CONVERT(nvarchar(10), @dbid) + N'_' + " +
          std::string(kRandomExpression),
      "IF DB_ID(@scratch) IS NOT NULL",
      "BEGIN",
      "  SET @error = N'テストレストア用のデータベース名 ' + @scratch + N' が既に使われているため、何も変更しませんでした。'",
      "  RAISERROR(N'%s', 16, 1, @error)",
      "  RETURN",
      "END",
      // Leftovers of a killed proof: one of the two shapes, older than a day, restored from our
      // backup; each tried once, in name order, and one that cannot go is named.
      "SET @old = N''",
      "WHILE 1 = 1",
      "BEGIN",
      "  SET @next = NULL",
      "  SELECT TOP 1 @next = d.name FROM sys.databases d",
      "    WHERE " + scratchShapeCondition("d.name") + " AND d.name > @old COLLATE " + std::string(kExactCollation),
      "      AND d.create_date < DATEADD(hour, -24, GETDATE())",
      "      AND EXISTS (SELECT * FROM msdb.dbo.restorehistory r JOIN msdb.dbo.backupset s ON s.backup_set_id = r.backup_set_id",
      "                  WHERE r.destination_database_name = d.name AND s.description = N'Build by Brackenvale')",
      "    ORDER BY d.name COLLATE " + std::string(kExactCollation),
      "  IF @next IS NULL BREAK",
      "  SET @old = @next",
      "  BEGIN TRY",
      "    SET @sql = N'DROP DATABASE ' + QUOTENAME(@next)",
      "    EXEC (@sql)",
      "  END TRY",
      "  BEGIN CATCH",
      "    PRINT N'以前のテストレストアで残ったデータベース ' + @next + N' を削除できませんでした。 ' + ERROR_MESSAGE()",
      "  END CATCH",
      "END",
      // What depends on the release is decided now, from the running server, not at registration.
      "SET @version = CONVERT(nvarchar(128), SERVERPROPERTY('ProductVersion'))",
      "SET @major = CONVERT(int, LEFT(@version, CHARINDEX(N'.', @version) - 1))",
      "SET @rest = SUBSTRING(@version, CHARINDEX(N'.', @version) + 1, 128)",
      "SET @minor = CONVERT(int, LEFT(@rest, CHARINDEX(N'.', @rest) - 1))",
      "SET @rest = SUBSTRING(@rest, CHARINDEX(N'.', @rest) + 1, 128)",
      "SET @build = CONVERT(int, LEFT(@rest, CHARINDEX(N'.', @rest + N'.') - 1))",
      // sys.dm_os_volume_stats: SQL Server 2008 R2 SP1 (10.50.2500) and later.
      "IF @major > 10 OR (@major = 10 AND (@minor > 50 OR (@minor = 50 AND @build >= 2500)))",
      "BEGIN",
      "  SET @sql = N'SELECT CONVERT(float, available_bytes) FROM sys.dm_os_volume_stats(' + CONVERT(nvarchar(10), @dbid) + N', 1)'",
      "  INSERT INTO @space (available) EXEC (@sql)",
      "  SELECT @available = available FROM @space",
      "  IF @available < @size * " + std::to_string(kSpaceFactor) + " + " +
          std::to_string(static_cast<long long>(kSpaceMarginBytes)),
      "  BEGIN RAISERROR(N'テストレストアに必要な空き容量がありません。', 16, 1) RETURN END",
      "END",
      "IF @major >= 11",
      "BEGIN",
      "  SET @data = CONVERT(nvarchar(1024), SERVERPROPERTY('InstanceDefaultDataPath'))",
      "  SET @log = CONVERT(nvarchar(1024), SERVERPROPERTY('InstanceDefaultLogPath'))",
      "END",
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
      "SET @sql = N'RESTORE FILELISTONLY FROM DISK = N''' + REPLACE(@file, N'''', N'''''') + N''' WITH FILE = ' + CONVERT(nvarchar(10), @position)",
      "IF @major >= 13 INSERT INTO @files (" + names(22) + ") EXEC (@sql)",
      "ELSE IF @major >= 10 INSERT INTO @files (" + names(21) + ") EXEC (@sql)",
      "ELSE INSERT INTO @files (" + names(20) + ") EXEC (@sql)",
      "SET @sql = N'RESTORE DATABASE ' + QUOTENAME(@scratch) + N' FROM DISK = N''' + REPLACE(@file, N'''', N'''''') + N''' WITH FILE = ' + CONVERT(nvarchar(10), @position)",
      "SET @firstData = 1",
      "SET @fileId = -1",
      "WHILE 1 = 1",
      "BEGIN",
      "  SET @logical = NULL",
      "  SELECT TOP 1 @logical = LogicalName, @type = Type, @fileId = FileId FROM @files WHERE FileId > @fileId ORDER BY FileId",
      "  IF @logical IS NULL BREAK",
      "  SET @target = CASE WHEN @type = 'L' THEN @log ELSE @data END + @scratch + N'_' + CONVERT(nvarchar(20), @fileId)",
      "    + CASE WHEN @type = 'L' THEN N'.ldf' WHEN @type = 'D' AND @firstData = 1 THEN N'.mdf' WHEN @type = 'D' THEN N'.ndf' ELSE N'' END",
      "  IF @type = 'D' SET @firstData = 0",
      "  SET @sql = @sql + N', MOVE N''' + REPLACE(@logical, N'''', N'''''') + N''' TO N''' + REPLACE(@target, N'''', N'''''') + N''''",
      "END",
  };
  lines.insert(lines.end(), rest.begin(), rest.end());
  // The proof's record, written before the restore; a login that may not write it is told.
  lines.push_back("SET @recorded = 1");
  lines.push_back("BEGIN TRY");
  for (const std::string& statement : proofRecordStartStatements("@scratch", "@setId")) lines.push_back("  " + statement);
  lines.push_back("END TRY");
  lines.push_back("BEGIN CATCH");
  lines.push_back("  SET @recorded = 0");
  lines.push_back("  PRINT N'" + std::string(kProofNotRecorded) + " ' + ERROR_MESSAGE()");
  lines.push_back("END CATCH");
  const std::vector<std::string> proof = {
      "SET @restored = 0",
      "SET @damage = 0",
      "BEGIN TRY",
      "  EXEC (@sql)",
      "  SET @restored = 1",
      "  SET @sql = N'DBCC CHECKDB (' + QUOTENAME(@scratch) + N') WITH NO_INFOMSGS, ALL_ERRORMSGS'",
      "  EXEC (@sql)",
      "END TRY",
      "BEGIN CATCH",
      "  SET @error = ERROR_MESSAGE()",
      // Damage only where CHECKDB said so in its summary; any other error means it could not run.
      "  IF @restored = 1 AND ERROR_NUMBER() = " + std::to_string(kCheckSummaryError) + " SET @damage = 1",
      "END CATCH",
      // The scratch database goes whatever came of the check, and only the one this step's restore
      // made: restored, or left RESTORING by its failed restore.
      "IF DB_ID(@scratch) IS NOT NULL AND (@restored = 1 OR CONVERT(nvarchar(128), DATABASEPROPERTYEX(@scratch, 'Status')) = N'RESTORING')",
      "BEGIN",
      "  BEGIN TRY",
      "    SET @sql = N'DROP DATABASE ' + QUOTENAME(@scratch)",
      "    EXEC (@sql)",
      "  END TRY",
      "  BEGIN CATCH",
      "    SET @error = ISNULL(@error + N' ', N'') + ERROR_MESSAGE()",
      "  END CATCH",
      "END",
      "IF @recorded = 1",
      "BEGIN",
      "BEGIN TRY",
      "  " + proofRecordFinishStatement("@scratch", "CASE WHEN @error IS NULL THEN N'" +
                                                      std::string(verdictWord(ProofVerdict::Passed)) +
                                                      "' WHEN @damage = 1 THEN N'" +
                                                      std::string(verdictWord(ProofVerdict::Damage)) + "' ELSE N'" +
                                                      std::string(verdictWord(ProofVerdict::Failed)) + "' END"),
      "END TRY",
      "BEGIN CATCH",
      "  PRINT N'" + std::string(kProofNotRecorded) + " ' + ERROR_MESSAGE()",
      "END CATCH",
      "END",
      "IF @error IS NOT NULL",
      "BEGIN",
      "  SET @error = CASE WHEN @damage = 1 THEN N'" + std::string(kProofFoundDamage) + std::string(kDamagedBackupBefore) +
          "' + @file + N'" + std::string(kDamagedBackupAfter) + " ' ELSE N'" + std::string(kProofFailed) +
          " ' END + @error",
      "  RAISERROR(N'%s', 16, 1, @error)",
      "  RETURN",
      "END",
      "PRINT N'" + std::string(kProofSucceeded) + "'",
  };
  lines.insert(lines.end(), proof.begin(), proof.end());
  return joinCommandLines(lines);
}

}  // namespace bv::maintenance
