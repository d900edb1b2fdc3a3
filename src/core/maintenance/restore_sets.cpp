#include "core/maintenance/restore_sets.h"

#include <algorithm>
#include <cstdlib>

#include "core/db/sql_text.h"
#include "core/maintenance/command_builder.h"
#include "core/maintenance/server_release.h"
#include "core/text/ascii.h"

namespace bv::maintenance {
namespace {

// HEADERONLY's BackupType: 1 database, 2 log, 5 differential database.
char typeOfHeader(const std::string& backupType) {
  return backupType == "2" ? 'L' : backupType == "5" ? 'I' : 'D';
}

// "2026-12-08 14:00:00" of what the driver gives for a datetime ("2026-12-08 14:00:00.000").
std::string serverTimeOf(std::string text) { return text.substr(0, 19); }

}  // namespace

std::vector<BackupSetEntry> readHistorySets(ServerSession& session, std::string_view databaseName) {
  const std::string query = joinCommandLines({
      "SELECT s.database_name AS database_name, s.type AS type, s.position AS position,",
      "  CONVERT(nvarchar(19), s.backup_start_date, 120) AS started,",
      "  CONVERT(nvarchar(19), s.backup_finish_date, 120) AS finished,",
      "  CONVERT(nvarchar(30), s.first_lsn) AS first_lsn, CONVERT(nvarchar(30), s.last_lsn) AS last_lsn,",
      "  CONVERT(nvarchar(30), s.checkpoint_lsn) AS checkpoint_lsn,",
      "  CONVERT(nvarchar(30), s.differential_base_lsn) AS base_lsn,",
      "  CONVERT(nvarchar(36), s.backup_set_uuid) AS set_guid, CONVERT(nvarchar(36), s.differential_base_guid) AS base_guid,",
      "  CONVERT(nvarchar(36), s.first_recovery_fork_guid) AS first_fork,",
      "  CONVERT(nvarchar(36), s.last_recovery_fork_guid) AS last_fork,",
      "  CONVERT(int, s.is_copy_only) AS copy_only, CONVERT(int, s.has_bulk_logged_data) AS bulk_logged,",
      "  CONVERT(float, s.backup_size) AS size, m.physical_device_name AS file_name,",
      "  ms.media_family_count AS families",
      "FROM msdb.dbo.backupset s",
      "  JOIN msdb.dbo.backupmediafamily m ON m.media_set_id = s.media_set_id AND m.family_sequence_number = 1 "
      "AND m.mirror = 0",
      "  JOIN msdb.dbo.backupmediaset ms ON ms.media_set_id = s.media_set_id",
      "WHERE s.database_name = " + db::unicodeLiteral(databaseName),
      "ORDER BY s.backup_set_id",
  });
  std::vector<BackupSetEntry> sets;
  for (const Row& row : session.rows(query, {"database_name", "type", "position", "started", "finished", "first_lsn",
                                             "last_lsn", "checkpoint_lsn", "base_lsn", "set_guid", "base_guid",
                                             "first_fork", "last_fork", "copy_only", "bulk_logged", "size",
                                             "file_name", "families"})) {
    BackupSetEntry set;
    set.database = valueOf(row, "database_name");
    const std::string type = valueOf(row, "type");
    set.type = type.empty() ? 'D' : type[0];
    set.position = std::atoi(valueOf(row, "position").c_str());
    set.started = valueOf(row, "started");
    set.finished = valueOf(row, "finished");
    set.firstLsn = Lsn(valueOf(row, "first_lsn"));
    set.lastLsn = Lsn(valueOf(row, "last_lsn"));
    set.checkpointLsn = Lsn(valueOf(row, "checkpoint_lsn"));
    set.differentialBaseLsn = Lsn(valueOf(row, "base_lsn"));
    set.setGuid = valueOf(row, "set_guid");
    set.baseGuid = valueOf(row, "base_guid");
    set.firstForkGuid = valueOf(row, "first_fork");
    set.forkGuid = valueOf(row, "last_fork");
    set.copyOnly = valueOf(row, "copy_only") == "1";
    set.bulkLogged = valueOf(row, "bulk_logged") == "1";
    set.sizeBytes = std::atof(valueOf(row, "size").c_str());
    set.file = valueOf(row, "file_name");
    set.allFamilies = valueOf(row, "families") == "1";
    sets.push_back(std::move(set));
  }
  return sets;
}

std::vector<std::string> listServerFolder(ServerSession& session, const std::string& folder) {
  std::string base = folder;
  while (base.size() > 1 && (base.back() == '\\' || base.back() == '/')) base.pop_back();
  const char separator = base.find('\\') != std::string::npos ? '\\' : '/';
  std::vector<std::string> files;
  for (const Row& row : session.rows("EXEC master.dbo.xp_dirtree " + db::unicodeLiteral(base) + ", 1, 1",
                                     {"subdirectory", "file"})) {
    if (valueOf(row, "file") == "1") files.push_back(base + separator + valueOf(row, "subdirectory"));
  }
  std::sort(files.begin(), files.end());
  return files;
}

FileSets readFileSets(ServerSession& session, const std::vector<std::string>& files,
                      const std::function<bool(std::size_t, std::size_t)>& progress) {
  FileSets out;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (progress && !progress(i, files.size())) {
      out.cancelled = true;
      break;
    }
    std::vector<Row> rows;
    try {
      rows = session.rows("RESTORE HEADERONLY FROM DISK = " + db::unicodeLiteral(files[i]),
                          {"DatabaseName", "BackupType", "Position", "BackupStartDate", "BackupFinishDate", "FirstLSN",
                           "LastLSN", "CheckpointLSN", "DifferentialBaseLSN", "BackupSetGUID", "DifferentialBaseGUID",
                           "FirstRecoveryForkID", "RecoveryForkID", "IsCopyOnly", "HasBulkLoggedData", "BackupSize"});
    } catch (const db::ProviderError&) {
      const auto& errors = session.errors();
      out.unreadable.push_back(files[i] + (errors.empty() ? std::string() : "：" + errors.front().message));
      continue;
    }
    for (const Row& row : rows) {
      BackupSetEntry set;
      set.database = valueOf(row, "DatabaseName");
      set.type = typeOfHeader(valueOf(row, "BackupType"));
      set.position = std::atoi(valueOf(row, "Position").c_str());
      set.started = serverTimeOf(valueOf(row, "BackupStartDate"));
      set.finished = serverTimeOf(valueOf(row, "BackupFinishDate"));
      set.firstLsn = Lsn(valueOf(row, "FirstLSN"));
      set.lastLsn = Lsn(valueOf(row, "LastLSN"));
      set.checkpointLsn = Lsn(valueOf(row, "CheckpointLSN"));
      set.differentialBaseLsn = Lsn(valueOf(row, "DifferentialBaseLSN"));
      set.setGuid = valueOf(row, "BackupSetGUID");
      set.baseGuid = valueOf(row, "DifferentialBaseGUID");
      set.firstForkGuid = valueOf(row, "FirstRecoveryForkID");
      set.forkGuid = valueOf(row, "RecoveryForkID");
      set.copyOnly = valueOf(row, "IsCopyOnly") == "1";
      set.bulkLogged = valueOf(row, "HasBulkLoggedData") == "1";
      set.sizeBytes = std::atof(valueOf(row, "BackupSize").c_str());
      set.file = files[i];  // one device: a set of several families is not read from one file
      out.sets.push_back(std::move(set));
    }
  }
  return out;
}

namespace {

db::ConnectionSettings fromMaster(db::ConnectionSettings settings) {
  settings.set("Database", "master");
  return settings;
}

}  // namespace

RestoreSource readRestoreSource(const db::ConnectionSettings& settings, std::string_view databaseName) {
  ServerSession session(fromMaster(settings));
  RestoreSource source;
  const auto rows = session.rows("SELECT CONVERT(nvarchar(128), SERVERPROPERTY('ProductVersion')) AS version, "
                                 "CONVERT(nvarchar(60), DATABASEPROPERTYEX(" + db::unicodeLiteral(databaseName) +
                                     ", 'Recovery')) AS recovery",
                                 {"version", "recovery"});
  const auto release = parseRelease(rows.empty() ? std::string() : valueOf(rows[0], "version"));
  source.tooOld = release && beforeSqlServer2005(release->major);
  if (source.tooOld) return source;
  source.simpleRecovery = !rows.empty() && text::equalsIgnoringAsciiCase(valueOf(rows[0], "recovery"), "SIMPLE");
  source.sets = readHistorySets(session, databaseName);
  return source;
}

FileSets readFolderSets(const db::ConnectionSettings& settings, const std::string& folder,
                        const std::function<bool(std::size_t, std::size_t)>& progress) {
  ServerSession session(fromMaster(settings));
  return readFileSets(session, listServerFolder(session, folder), progress);
}

}  // namespace bv::maintenance
