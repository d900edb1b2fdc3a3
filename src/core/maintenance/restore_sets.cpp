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
      // The columns as they are (the driver gives each as text), converted nowhere.
      "SELECT s.database_name AS database_name, s.type AS type, s.position AS position,",
      "  s.backup_finish_date AS finished, s.first_lsn AS first_lsn, s.last_lsn AS last_lsn,",
      "  s.checkpoint_lsn AS checkpoint_lsn, s.differential_base_lsn AS base_lsn, s.backup_set_uuid AS set_guid,",
      "  s.differential_base_guid AS base_guid, s.first_recovery_fork_guid AS first_fork,",
      "  s.last_recovery_fork_guid AS last_fork, s.is_copy_only AS copy_only, s.has_bulk_logged_data AS bulk_logged,",
      "  s.backup_size AS size, m.physical_device_name AS file_name, ms.media_family_count AS families",
      "FROM msdb.dbo.backupset s",
      "  JOIN msdb.dbo.backupmediafamily m ON m.media_set_id = s.media_set_id AND m.family_sequence_number = 1 "
      "AND m.mirror = 0",
      "  JOIN msdb.dbo.backupmediaset ms ON ms.media_set_id = s.media_set_id",
      "WHERE s.database_name = " + db::unicodeLiteral(databaseName),
      "ORDER BY s.backup_set_id",
  });
  // The columns in the order they are read below (a long history: no lookup by name per value).
  enum Column { Database, Type, Position, Finished, FirstLsn, LastLsn, CheckpointLsn, BaseLsn, SetGuid, BaseGuid,
                FirstFork, LastFork, CopyOnly, BulkLogged, Size, FileName, Families };
  std::vector<BackupSetEntry> sets;
  for (const Row& row : session.rows(query, {"database_name", "type", "position", "finished", "first_lsn", "last_lsn",
                                             "checkpoint_lsn", "base_lsn", "set_guid", "base_guid", "first_fork",
                                             "last_fork", "copy_only", "bulk_logged", "size", "file_name",
                                             "families"})) {
    const auto value = [&](Column column) -> const std::string& { return row[column].second; };
    BackupSetEntry set;
    set.database = value(Database);
    set.type = value(Type).empty() ? 'D' : value(Type)[0];
    set.position = std::atoi(value(Position).c_str());
    set.finished = serverTimeOf(value(Finished));
    set.firstLsn = Lsn(value(FirstLsn));
    set.lastLsn = Lsn(value(LastLsn));
    set.checkpointLsn = Lsn(value(CheckpointLsn));
    set.differentialBaseLsn = Lsn(value(BaseLsn));
    set.setGuid = value(SetGuid);
    set.baseGuid = value(BaseGuid);
    set.firstForkGuid = value(FirstFork);
    set.forkGuid = value(LastFork);
    set.copyOnly = value(CopyOnly) == "1";
    set.bulkLogged = value(BulkLogged) == "1";
    set.sizeBytes = std::atof(value(Size).c_str());
    set.file = value(FileName);
    set.allFamilies = value(Families) == "1";
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
  db::Query query(session.connection());
  query.addLine("SELECT " + releaseSelectList() + ", CONVERT(nvarchar(60), DATABASEPROPERTYEX(" +
                db::unicodeLiteral(databaseName) + ", 'Recovery')) AS recovery");
  query.open();
  if (query.eof()) return source;
  source.tooOld = beforeSqlServer2005(releaseOf(query).major);
  if (source.tooOld) return source;
  source.simpleRecovery = text::equalsIgnoringAsciiCase(query.fieldAsText("recovery"), "SIMPLE");
  source.sets = readHistorySets(session, databaseName);
  return source;
}

FileSets readFolderSets(const db::ConnectionSettings& settings, const std::string& folder,
                        const std::function<bool(std::size_t, std::size_t)>& progress) {
  ServerSession session(fromMaster(settings));
  return readFileSets(session, listServerFolder(session, folder), progress);
}

}  // namespace bv::maintenance
