#include "standin/backup/history.h"

#include <ctime>
#include <vector>

#include "standin/backup/backup_file.h"
#include "standin/base/text.h"
#include "standin/base/version.h"
#include "standin/server/guids.h"
#include "standin/sql/errors.h"
#include "standin/storage/passthrough.h"
#include "standin/storage/sqlite_db.h"

namespace standin::backup {

using server::databaseGuid;
using server::newGuid;
using server::Server;
using sql::DateTime;
using sql::Value;

namespace {

struct ColumnDef {
  const char* name;
  const char* type;  // text columns compare as the server's collation does
  int since;         // the first release that has it
};

// Columns of each table in SQL Server's order ("backupset (Transact-SQL)" and its siblings in
// Books Online of each release). numeric(20,0) and numeric(25,0) are kept as bigint and
// uniqueidentifier as its text, the stand-in's nearest types.
const std::vector<ColumnDef> kMediaSet = {
    {"media_set_id", "INTEGER PRIMARY KEY AUTOINCREMENT", 2000},
    {"media_uuid", "NVARCHAR(36) COLLATE NOCASE", 2000},
    {"media_family_count", "TINYINT", 2000},
    {"name", "NVARCHAR(128) COLLATE NOCASE", 2000},
    {"description", "NVARCHAR(255) COLLATE NOCASE", 2000},
    {"software_name", "NVARCHAR(128) COLLATE NOCASE", 2000},
    {"software_vendor_id", "INT", 2000},
    {"MTF_major_version", "TINYINT", 2000},
    {"mirror_count", "TINYINT", 2005},
    {"is_password_protected", "BIT", 2005},
    {"is_compressed", "BIT", 2008},
    {"is_encrypted", "BIT", 2014},
};

const std::vector<ColumnDef> kMediaFamily = {
    {"media_set_id", "INT NOT NULL", 2000},
    {"family_sequence_number", "TINYINT NOT NULL", 2000},
    {"media_family_id", "NVARCHAR(36) COLLATE NOCASE", 2000},
    {"media_count", "INT", 2000},
    {"logical_device_name", "NVARCHAR(128) COLLATE NOCASE", 2000},
    {"physical_device_name", "NVARCHAR(260) COLLATE NOCASE", 2000},
    {"device_type", "TINYINT", 2000},
    {"physical_block_size", "INT", 2000},
    {"mirror", "TINYINT", 2005},
};

const std::vector<ColumnDef> kBackupSet = {
    {"backup_set_id", "INTEGER PRIMARY KEY AUTOINCREMENT", 2000},
    {"backup_set_uuid", "NVARCHAR(36) COLLATE NOCASE NOT NULL", 2000},
    {"media_set_id", "INT NOT NULL", 2000},
    {"first_family_number", "TINYINT", 2000},
    {"first_media_number", "SMALLINT", 2000},
    {"last_family_number", "TINYINT", 2000},
    {"last_media_number", "SMALLINT", 2000},
    {"catalog_family_number", "TINYINT", 2000},
    {"catalog_media_number", "SMALLINT", 2000},
    {"position", "INT", 2000},
    {"expiration_date", "DATETIME", 2000},
    {"software_vendor_id", "INT", 2000},
    {"name", "NVARCHAR(128) COLLATE NOCASE", 2000},
    {"description", "NVARCHAR(255) COLLATE NOCASE", 2000},
    {"user_name", "NVARCHAR(128) COLLATE NOCASE", 2000},
    {"software_major_version", "TINYINT", 2000},
    {"software_minor_version", "TINYINT", 2000},
    {"software_build_version", "SMALLINT", 2000},
    {"time_zone", "SMALLINT", 2000},
    {"mtf_minor_version", "TINYINT", 2000},
    {"first_lsn", "BIGINT", 2000},
    {"last_lsn", "BIGINT", 2000},
    {"checkpoint_lsn", "BIGINT", 2000},
    {"database_backup_lsn", "BIGINT", 2000},
    {"database_creation_date", "DATETIME", 2000},
    {"backup_start_date", "DATETIME", 2000},
    {"backup_finish_date", "DATETIME", 2000},
    {"type", "CHAR(1) COLLATE NOCASE", 2000},
    {"sort_order", "SMALLINT", 2000},
    {"code_page", "SMALLINT", 2000},
    {"compatibility_level", "TINYINT", 2000},
    {"database_version", "INT", 2000},
    {"backup_size", "BIGINT", 2000},
    {"database_name", "NVARCHAR(128) COLLATE NOCASE", 2000},
    {"server_name", "NVARCHAR(128) COLLATE NOCASE", 2000},
    {"machine_name", "NVARCHAR(128) COLLATE NOCASE", 2000},
    {"flags", "INT", 2000},
    {"unicode_locale", "INT", 2000},
    {"unicode_compare_style", "INT", 2000},
    {"collation_name", "NVARCHAR(128) COLLATE NOCASE", 2000},
    {"is_password_protected", "BIT", 2005},
    {"recovery_model", "NVARCHAR(60) COLLATE NOCASE", 2005},
    {"has_bulk_logged_data", "BIT", 2005},
    {"is_snapshot", "BIT", 2005},
    {"is_readonly", "BIT", 2005},
    {"is_single_user", "BIT", 2005},
    {"has_backup_checksums", "BIT", 2005},
    {"is_damaged", "BIT", 2005},
    {"begins_log_chain", "BIT", 2005},
    {"has_incomplete_metadata", "BIT", 2005},
    {"is_force_offline", "BIT", 2005},
    {"is_copy_only", "BIT", 2005},
    {"first_recovery_fork_guid", "NVARCHAR(36) COLLATE NOCASE", 2005},
    {"last_recovery_fork_guid", "NVARCHAR(36) COLLATE NOCASE", 2005},
    {"fork_point_lsn", "BIGINT", 2005},
    {"database_guid", "NVARCHAR(36) COLLATE NOCASE", 2005},
    {"family_guid", "NVARCHAR(36) COLLATE NOCASE", 2005},
    {"differential_base_lsn", "BIGINT", 2005},
    {"differential_base_guid", "NVARCHAR(36) COLLATE NOCASE", 2005},
    {"compressed_backup_size", "BIGINT", 2008},
    {"key_algorithm", "NVARCHAR(32) COLLATE NOCASE", 2014},
    {"encryptor_thumbprint", "VARBINARY(20)", 2014},
    {"encryptor_type", "NVARCHAR(32) COLLATE NOCASE", 2014},
    {"last_valid_restore_time", "DATETIME", 2022},
    {"compression_algorithm", "NVARCHAR(32) COLLATE NOCASE", 2022},
};

// The same columns in every release from 2000.
const std::vector<ColumnDef> kRestoreHistory = {
    {"restore_history_id", "INTEGER PRIMARY KEY AUTOINCREMENT", 2000},
    {"restore_date", "DATETIME", 2000},
    {"destination_database_name", "NVARCHAR(128) COLLATE NOCASE", 2000},
    {"user_name", "NVARCHAR(128) COLLATE NOCASE", 2000},
    {"backup_set_id", "INT NOT NULL", 2000},
    {"restore_type", "CHAR(1) COLLATE NOCASE", 2000},
    {"replace", "BIT", 2000},
    {"recovery", "BIT", 2000},
    {"restart", "BIT", 2000},
    {"stop_at", "DATETIME", 2000},
    {"device_count", "TINYINT", 2000},
    {"stop_at_mark_name", "NVARCHAR(128) COLLATE NOCASE", 2000},
    {"stop_before", "BIT", 2000},
};

std::vector<const ColumnDef*> columnsOf(const std::vector<ColumnDef>& all, int year) {
  std::vector<const ColumnDef*> out;
  for (const auto& c : all)
    if (c.since <= year) out.push_back(&c);
  return out;
}

std::vector<std::string> existingColumns(sqlite3* db, const std::string& table) {
  std::vector<std::string> out;
  for (const auto& row : storage::select(db, "PRAGMA table_info(" + storage::quoteIdentifier(table) + ")"))
    out.push_back(sql::valueToText(row[1]));
  return out;
}

// The table in the release's columns: created, or rebuilt keeping the columns both have.
void ensureTable(sqlite3* db, const std::string& table, const std::vector<ColumnDef>& all, int year) {
  const auto wanted = columnsOf(all, year);
  const auto existing = existingColumns(db, table);
  bool same = existing.size() == wanted.size();
  for (std::size_t i = 0; same && i < wanted.size(); ++i) same = existing[i] == wanted[i]->name;
  if (same) return;
  const std::string target = existing.empty() ? table : "bv_new_" + table;
  std::string create = "CREATE TABLE " + storage::quoteIdentifier(target) + " (";
  for (std::size_t i = 0; i < wanted.size(); ++i)
    create += (i ? ", " : "") + storage::quoteIdentifier(wanted[i]->name) + " " + wanted[i]->type;
  storage::execute(db, create + ")");
  if (existing.empty()) return;
  std::string common;
  for (const auto* c : wanted)
    for (const auto& e : existing)
      if (e == c->name) common += (common.empty() ? "" : ", ") + storage::quoteIdentifier(e);
  storage::execute(db, "INSERT INTO " + storage::quoteIdentifier(target) + " (" + common + ") SELECT " +
                           common + " FROM " + storage::quoteIdentifier(table));
  storage::execute(db, "DROP TABLE " + storage::quoteIdentifier(table));
  storage::execute(db, "ALTER TABLE " + storage::quoteIdentifier(target) + " RENAME TO " +
                           storage::quoteIdentifier(table));
}

}  // namespace

namespace {

// This computer's offset from UTC in quarters of an hour, as backupset.time_zone gives it.
int timeZoneQuarters() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return static_cast<int>(local.tm_gmtoff / 900);
}

void insertRow(sqlite3* db, const std::string& table, const std::vector<ColumnDef>& all, int year,
               const std::vector<std::pair<const char*, Value>>& values) {
  std::string names, marks;
  std::vector<Value> binds;
  for (const auto& [name, value] : values) {
    bool present = false;
    for (const auto* c : columnsOf(all, year))
      if (std::string(c->name) == name) present = true;
    if (!present) continue;
    names += (names.empty() ? "" : ", ") + storage::quoteIdentifier(name);
    marks += marks.empty() ? "?" : ", ?";
    binds.push_back(value);
  }
  storage::execute(
      db, "INSERT INTO " + storage::quoteIdentifier(table) + " (" + names + ") VALUES (" + marks + ")",
      binds);
}

Value textOrNull(const std::string& s) { return s.empty() ? Value{} : Value{s}; }

}  // namespace

void ensureBackupHistoryTables(sqlite3* db, int year) {
  storage::execute(db, "BEGIN");
  try {
    ensureTable(db, "backupmediaset", kMediaSet, year);
    ensureTable(db, "backupmediafamily", kMediaFamily, year);
    ensureTable(db, "backupset", kBackupSet, year);
    ensureTable(db, "restorehistory", kRestoreHistory, year);
    // msdb's own indexes that a long history needs: a media set's family and its sets.
    storage::execute(db, "CREATE INDEX IF NOT EXISTS backupmediafamilymediaset ON backupmediafamily (media_set_id)");
    storage::execute(db, "CREATE INDEX IF NOT EXISTS backupsetmediaset ON backupset (media_set_id)");
    storage::execute(db, "COMMIT");
  } catch (...) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

std::int64_t recordBackup(Server& server, const BackupRecord& b) {
  std::string canonical;
  std::filesystem::path file;
  if (server.catalog.acquire("msdb", canonical, file) != storage::Catalog::Acquire::Ok)
    throw sql::SqlError(50000, 16,
                        "The backup was written, but msdb, which keeps its history, cannot be opened.");
  const storage::DbLease lease(server.catalog, canonical, file);
  auto msdb = storage::Database::open(lease.file(), false);
  sqlite3* db = msdb.get();
  const int year = server.version.year;
  storage::execute(db, "BEGIN IMMEDIATE");
  try {
    std::optional<std::int64_t> mediaSet;
    if (b.position > 1) {
      // Appended: the media set the file's earlier sets belong to.
      const auto rows =
          storage::select(db,
                          "SELECT media_set_id FROM backupmediafamily WHERE physical_device_name = ? "
                          "ORDER BY media_set_id DESC LIMIT 1",
                          {Value{b.physicalDevice}});
      if (!rows.empty()) mediaSet = std::get<std::int64_t>(rows[0][0]);
    }
    if (!mediaSet) {
      insertRow(db, "backupmediaset", kMediaSet, year,
                {{"media_uuid", newGuid()},
                 {"media_family_count", std::int64_t{1}},
                 {"software_name", std::string("Microsoft SQL Server")},
                 {"software_vendor_id", std::int64_t{4608}},
                 {"MTF_major_version", std::int64_t{1}},
                 {"mirror_count", std::int64_t{1}},
                 {"is_password_protected", std::int64_t{0}},
                 {"is_compressed", std::int64_t{b.compressed ? 1 : 0}},
                 {"is_encrypted", std::int64_t{0}}});
      mediaSet = sqlite3_last_insert_rowid(db);
      insertRow(db, "backupmediafamily", kMediaFamily, year,
                {{"media_set_id", *mediaSet},
                 {"family_sequence_number", std::int64_t{1}},
                 {"media_family_id", newGuid()},
                 {"media_count", std::int64_t{1}},
                 {"logical_device_name", Value{}},
                 {"physical_device_name", b.physicalDevice},
                 {"device_type", std::int64_t{2}},
                 {"physical_block_size", std::int64_t{512}},
                 {"mirror", std::int64_t{0}}});
    }
    const auto v = b.serverYear ? base::productVersionFor(b.serverYear) : server.version;
    const auto size = static_cast<std::int64_t>(b.size);
    const std::string guid =
        b.databaseGuid.empty() ? databaseGuid(b.databaseName, b.databaseCreated) : b.databaseGuid;
    const auto lsn = [](std::uint64_t n) { return n ? Value{static_cast<std::int64_t>(n)} : Value{}; };
    Value baseGuid;
    if (b.differentialBaseLsn != 0 && year >= 2005) {  // the columns came with SQL Server 2005
      const auto base = storage::select(db,
                                        "SELECT backup_set_uuid FROM backupset WHERE database_name = ? AND type = 'D' "
                                        "AND is_copy_only = 0 AND checkpoint_lsn = ? "
                                        "ORDER BY backup_set_id DESC LIMIT 1",
                                        {Value{b.databaseName}, Value{static_cast<std::int64_t>(b.differentialBaseLsn)}});
      if (!base.empty()) baseGuid = base[0][0];
    }
    insertRow(
        db, "backupset", kBackupSet, year,
        {{"backup_set_uuid", b.setGuid.empty() ? newGuid() : b.setGuid},
         {"media_set_id", *mediaSet},
         {"first_family_number", std::int64_t{1}},
         {"first_media_number", std::int64_t{1}},
         {"last_family_number", std::int64_t{1}},
         {"last_media_number", std::int64_t{1}},
         {"catalog_family_number", std::int64_t{1}},
         {"catalog_media_number", std::int64_t{1}},
         {"position", std::int64_t{b.position}},
         {"software_vendor_id", std::int64_t{4608}},
         {"name", textOrNull(b.name)},
         {"description", textOrNull(b.description)},
         {"user_name", b.userName},
         {"software_major_version", std::int64_t{v.major}},
         {"software_minor_version", std::int64_t{v.minor}},
         {"software_build_version", std::int64_t{v.build}},
         {"time_zone", std::int64_t{timeZoneQuarters()}},
         {"mtf_minor_version", std::int64_t{0}},
         {"first_lsn", lsn(b.firstLsn)},
         {"last_lsn", lsn(b.lastLsn)},
         {"checkpoint_lsn", lsn(b.checkpointLsn)},
         {"database_backup_lsn", lsn(b.databaseBackupLsn)},
         {"differential_base_lsn", lsn(b.differentialBaseLsn)},
         {"differential_base_guid", baseGuid},
         {"database_creation_date", b.databaseCreated},
         {"backup_start_date", b.start},
         {"backup_finish_date", b.finish},
         {"type", std::string(1, b.type)},
         {"sort_order", std::int64_t{0}},
         {"code_page", std::int64_t{932}},
         {"compatibility_level", std::int64_t{v.compatibilityLevel}},
         {"database_version", std::int64_t{v.databaseVersion}},
         {"backup_size", size},
         {"database_name", b.databaseName},
         {"server_name", b.serverName.empty() ? server.serverName() : b.serverName},
         {"machine_name", b.machineName.empty() ? server.computerName : b.machineName},
         {"flags", std::int64_t{b.checksums ? 16 : 0}},
         {"unicode_locale", std::int64_t{1041}},
         {"unicode_compare_style", std::int64_t{196609}},
         {"collation_name", b.collation},
         {"is_password_protected", std::int64_t{0}},
         {"recovery_model", b.recoveryModel},
         {"has_bulk_logged_data", std::int64_t{0}},
         {"is_snapshot", std::int64_t{0}},
         {"is_readonly", std::int64_t{0}},
         {"is_single_user", std::int64_t{0}},
         {"has_backup_checksums", std::int64_t{b.checksums ? 1 : 0}},
         {"is_damaged", std::int64_t{0}},
         {"begins_log_chain", std::int64_t{b.beginsLogChain ? 1 : 0}},
         {"has_incomplete_metadata", std::int64_t{0}},
         {"is_force_offline", std::int64_t{0}},
         {"is_copy_only", std::int64_t{b.copyOnly ? 1 : 0}},
         {"database_guid", guid},
         {"family_guid", guid},
         {"compressed_backup_size", static_cast<std::int64_t>(b.compressedSize ? b.compressedSize : b.size)},
         {"key_algorithm", Value{}},
         {"encryptor_type", Value{}}});
    const std::int64_t id = sqlite3_last_insert_rowid(db);
    storage::execute(db, "COMMIT");
    return id;
  } catch (...) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

void recordRestore(Server& server, const RestoreRecord& r) {
  const auto setId = [&]() -> std::optional<std::int64_t> {
    if (r.set.setGuid.empty()) return std::nullopt;
    std::string canonical;
    std::filesystem::path file;
    if (server.catalog.acquire("msdb", canonical, file) != storage::Catalog::Acquire::Ok) return std::nullopt;
    const storage::DbLease lease(server.catalog, canonical, file);
    auto msdb = storage::Database::open(lease.file(), false);
    const auto rows = storage::select(
        msdb.get(),
        "SELECT backup_set_id FROM backupset WHERE backup_set_uuid = ? ORDER BY backup_set_id DESC LIMIT 1",
        {Value{r.set.setGuid}});
    if (rows.empty()) return std::nullopt;
    return std::get<std::int64_t>(rows[0][0]);
  }();
  const std::int64_t backupSetId = setId ? *setId : recordBackup(server, r.set);
  std::string canonical;
  std::filesystem::path file;
  if (server.catalog.acquire("msdb", canonical, file) != storage::Catalog::Acquire::Ok)
    throw sql::SqlError(50000, 16,
                        "The restore was done, but msdb, which keeps its history, cannot be opened.");
  const storage::DbLease lease(server.catalog, canonical, file);
  auto msdb = storage::Database::open(lease.file(), false);
  insertRow(msdb.get(), "restorehistory", kRestoreHistory, server.version.year,
            {{"restore_date", r.date},
             {"destination_database_name", r.destination},
             {"user_name", r.userName},
             {"backup_set_id", backupSetId},
             {"restore_type", std::string(1, r.type)},
             {"replace", std::int64_t{r.replace ? 1 : 0}},
             {"recovery", std::int64_t{r.recovery ? 1 : 0}},
             {"restart", std::int64_t{0}},
             {"stop_at", Value{}},
             {"device_count", std::int64_t{1}},
             {"stop_at_mark_name", Value{}},
             {"stop_before", std::int64_t{0}}});
}

}  // namespace standin::backup
