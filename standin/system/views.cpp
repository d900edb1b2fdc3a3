// The system views and functions, made from the server's state as a statement reads them.
#include "standin/system/views.h"

#include <algorithm>
#include <chrono>

#include "standin/base/private_files.h"
#include "standin/base/text.h"
#include "standin/server/guids.h"
#include "standin/server/result_table.h"
#include "standin/system/room.h"

namespace standin::system {

using base::equalsIgnoreCase;
using base::toLowerAscii;
using server::databaseGuid;
using server::ResultColumn;
using server::ResultTable;
using server::Server;
using server::SystemObjectCall;
using sql::SqlType;
using sql::TypedValue;
using sql::Value;
using storage::DatabaseState;
using storage::DbEntry;
using storage::RecoveryModel;

namespace {

using K = SqlType::Kind;
const SqlType kInt = SqlType::integer();
const SqlType kBig = SqlType::bigint();
const SqlType kSmall{K::SmallInt, 0};
const SqlType kTiny{K::TinyInt, 0};
const SqlType kBit{K::Bit, 0};
const SqlType kDate{K::DateTime, 0};
const SqlType kName = SqlType::nvarchar(128);
const SqlType kDesc = SqlType::nvarchar(60);
const SqlType kGuid = SqlType::nvarchar(36);
const SqlType kSid{K::VarBinary, 85};

// sys.databases in each release's columns ("sys.databases (Transact-SQL)"; a column listed
// with the release that brought it).
const std::vector<ResultColumn> kDatabases = {
    {"name", kName, 2005},
    {"database_id", kInt, 2005},
    {"source_database_id", kInt, 2005},
    {"owner_sid", kSid, 2005},
    {"create_date", kDate, 2005},
    {"compatibility_level", kTiny, 2005},
    {"collation_name", kName, 2005},
    {"user_access", kTiny, 2005},
    {"user_access_desc", kDesc, 2005},
    {"is_read_only", kBit, 2005},
    {"is_auto_close_on", kBit, 2005},
    {"is_auto_shrink_on", kBit, 2005},
    {"state", kTiny, 2005},
    {"state_desc", kDesc, 2005},
    {"is_in_standby", kBit, 2005},
    {"is_cleanly_shutdown", kBit, 2005},
    {"is_supplemental_logging_enabled", kBit, 2005},
    {"snapshot_isolation_state", kTiny, 2005},
    {"snapshot_isolation_state_desc", kDesc, 2005},
    {"is_read_committed_snapshot_on", kBit, 2005},
    {"recovery_model", kTiny, 2005},
    {"recovery_model_desc", kDesc, 2005},
    {"page_verify_option", kTiny, 2005},
    {"page_verify_option_desc", kDesc, 2005},
    {"is_auto_create_stats_on", kBit, 2005},
    {"is_auto_create_stats_incremental_on", kBit, 2014},
    {"is_auto_update_stats_on", kBit, 2005},
    {"is_auto_update_stats_async_on", kBit, 2005},
    {"is_ansi_null_default_on", kBit, 2005},
    {"is_ansi_nulls_on", kBit, 2005},
    {"is_ansi_padding_on", kBit, 2005},
    {"is_ansi_warnings_on", kBit, 2005},
    {"is_arithabort_on", kBit, 2005},
    {"is_concat_null_yields_null_on", kBit, 2005},
    {"is_numeric_roundabort_on", kBit, 2005},
    {"is_quoted_identifier_on", kBit, 2005},
    {"is_recursive_triggers_on", kBit, 2005},
    {"is_cursor_close_on_commit_on", kBit, 2005},
    {"is_local_cursor_default", kBit, 2005},
    {"is_fulltext_enabled", kBit, 2005},
    {"is_trustworthy_on", kBit, 2005},
    {"is_db_chaining_on", kBit, 2005},
    {"is_parameterization_forced", kBit, 2005},
    {"is_master_key_encrypted_by_server", kBit, 2005},
    {"is_query_store_on", kBit, 2016},
    {"is_published", kBit, 2005},
    {"is_subscribed", kBit, 2005},
    {"is_merge_published", kBit, 2005},
    {"is_distributor", kBit, 2005},
    {"is_sync_with_backup", kBit, 2005},
    {"service_broker_guid", kGuid, 2005},
    {"is_broker_enabled", kBit, 2005},
    {"log_reuse_wait", kTiny, 2005},
    {"log_reuse_wait_desc", kDesc, 2005},
    {"is_date_correlation_on", kBit, 2005},
    {"is_cdc_enabled", kBit, 2008},
    {"is_encrypted", kBit, 2008},
    {"is_honor_broker_priority_on", kBit, 2008},
    {"replica_id", kGuid, 2012},
    {"group_database_id", kGuid, 2012},
    {"default_language_lcid", kSmall, 2012},
    {"default_language_name", kName, 2012},
    {"default_fulltext_language_lcid", kInt, 2012},
    {"default_fulltext_language_name", kName, 2012},
    {"is_nested_triggers_on", kBit, 2012},
    {"is_transform_noise_words_on", kBit, 2012},
    {"two_digit_year_cutoff", kSmall, 2012},
    {"containment", kTiny, 2012},
    {"containment_desc", kDesc, 2012},
    {"target_recovery_time_in_seconds", kInt, 2012},
    {"delayed_durability", kInt, 2014},
    {"delayed_durability_desc", kDesc, 2014},
    {"is_memory_optimized_elevate_to_snapshot_on", kBit, 2014},
    {"is_federation_member", kBit, 2014},
    {"is_remote_data_archive_enabled", kBit, 2016},
    {"is_mixed_page_allocation_on", kBit, 2016},
    {"is_temporal_history_retention_enabled", kBit, 2017},
    {"catalog_collation_type", kInt, 2019},
    {"catalog_collation_type_desc", kDesc, 2019},
    {"physical_database_name", kName, 2019},
    {"is_result_set_caching_on", kBit, 2019},
    {"is_accelerated_database_recovery_on", kBit, 2019},
    {"is_tempdb_spill_to_remote_store", kBit, 2019},
    {"is_stale_page_detection_on", kBit, 2019},
    {"is_memory_optimized_enabled", kBit, 2019},
    {"is_data_retention_enabled", kBit, 2022},
    {"is_ledger_on", kBit, 2022},
    {"is_change_feed_enabled", kBit, 2022},
};

// The columns sys.master_files and sys.database_files share (the latter has no database_id).
const std::vector<ResultColumn> kFiles = {
    {"database_id", kInt, 2005},
    {"file_id", kInt, 2005},
    {"file_guid", kGuid, 2005},
    {"type", kTiny, 2005},
    {"type_desc", kDesc, 2005},
    {"data_space_id", kInt, 2005},
    {"name", kName, 2005},
    {"physical_name", SqlType::nvarchar(260), 2005},
    {"state", kTiny, 2005},
    {"state_desc", kDesc, 2005},
    {"size", kInt, 2005},
    {"max_size", kInt, 2005},
    {"growth", kInt, 2005},
    {"is_media_read_only", kBit, 2005},
    {"is_read_only", kBit, 2005},
    {"is_sparse", kBit, 2005},
    {"is_percent_growth", kBit, 2005},
    {"is_name_reserved", kBit, 2005},
    {"create_lsn", kBig, 2005},
    {"drop_lsn", kBig, 2005},
    {"read_only_lsn", kBig, 2005},
    {"read_write_lsn", kBig, 2005},
    {"differential_base_lsn", kBig, 2005},
    {"differential_base_guid", kGuid, 2005},
    {"differential_base_time", kDate, 2005},
    {"redo_start_lsn", kBig, 2005},
    {"redo_start_fork_guid", kGuid, 2005},
    {"redo_target_lsn", kBig, 2005},
    {"redo_target_fork_guid", kGuid, 2005},
    {"backup_lsn", kBig, 2005},
    {"credential_id", kInt, 2014},
};

// sysdatabases, in every release (a compatibility view from 2005).
const std::vector<ResultColumn> kSysDatabases = {
    {"name", kName},
    {"dbid", kSmall},
    {"sid", kSid},
    {"mode", kSmall},
    {"status", kInt},
    {"status2", kInt},
    {"crdate", kDate},
    {"reserved", kDate},
    {"category", kInt},
    {"cmptlevel", kTiny},
    {"filename", SqlType::nvarchar(260)},
    {"version", kSmall},
};

// sysaltfiles: its names are nchar, blank-padded to their length.
const std::vector<ResultColumn> kSysAltFiles = {
    {"fileid", kSmall},
    {"groupid", kSmall},
    {"size", kInt},
    {"maxsize", kInt},
    {"growth", kInt},
    {"status", kInt},
    {"perf", kInt},
    {"dbid", kSmall},
    {"name", SqlType::nvarchar(128)},
    {"filename", SqlType::nvarchar(260)},
    {"createlsn", SqlType{K::VarBinary, 10}},
    {"droplsn", SqlType{K::VarBinary, 10}},
};

// sys.dm_exec_requests in each release's columns ("sys.dm_exec_requests (Transact-SQL)").
const std::vector<ResultColumn> kRequests = {
    {"session_id", kSmall, 2005},
    {"request_id", kInt, 2005},
    {"start_time", kDate, 2005},
    {"status", SqlType::nvarchar(30), 2005},
    {"command", SqlType::nvarchar(32), 2005},
    {"sql_handle", SqlType{K::VarBinary, 64}, 2005},
    {"statement_start_offset", kInt, 2005},
    {"statement_end_offset", kInt, 2005},
    {"plan_handle", SqlType{K::VarBinary, 64}, 2005},
    {"database_id", kSmall, 2005},
    {"user_id", kInt, 2005},
    {"connection_id", kGuid, 2005},
    {"blocking_session_id", kSmall, 2005},
    {"wait_type", kDesc, 2005},
    {"wait_time", kInt, 2005},
    {"last_wait_type", kDesc, 2005},
    {"wait_resource", SqlType::nvarchar(256), 2005},
    {"open_transaction_count", kInt, 2005},
    {"open_resultset_count", kInt, 2005},
    {"transaction_id", kBig, 2005},
    {"context_info", SqlType{K::VarBinary, 128}, 2005},
    {"percent_complete", SqlType{K::Float, 0}, 2005},
    {"estimated_completion_time", kBig, 2005},
    {"cpu_time", kInt, 2005},
    {"total_elapsed_time", kInt, 2005},
    {"scheduler_id", kInt, 2005},
    {"task_address", SqlType{K::VarBinary, 8}, 2005},
    {"reads", kBig, 2005},
    {"writes", kBig, 2005},
    {"logical_reads", kBig, 2005},
    {"text_size", kInt, 2005},
    {"language", kName, 2005},
    {"date_format", SqlType::nvarchar(3), 2005},
    {"date_first", kSmall, 2005},
    {"quoted_identifier", kBit, 2005},
    {"arithabort", kBit, 2005},
    {"ansi_null_dflt_on", kBit, 2005},
    {"ansi_defaults", kBit, 2005},
    {"ansi_warnings", kBit, 2005},
    {"ansi_padding", kBit, 2005},
    {"ansi_nulls", kBit, 2005},
    {"concat_null_yields_null", kBit, 2005},
    {"transaction_isolation_level", kSmall, 2005},
    {"lock_timeout", kInt, 2005},
    {"deadlock_priority", kInt, 2005},
    {"row_count", kBig, 2005},
    {"prev_error", kInt, 2005},
    {"nest_level", kInt, 2005},
    {"granted_query_memory", kInt, 2005},
    {"executing_managed_code", kBit, 2005},
    {"group_id", kInt, 2008},
    {"query_hash", SqlType{K::VarBinary, 8}, 2008},
    {"query_plan_hash", SqlType{K::VarBinary, 8}, 2008},
    {"statement_sql_handle", SqlType{K::VarBinary, 64}, 2014},
    {"statement_context_id", kBig, 2014},
    {"dop", kInt, 2016},
    {"parallel_worker_count", kInt, 2016},
    {"external_script_request_id", kGuid, 2016},
    {"is_resumable", kBit, 2017},
    {"page_resource", SqlType{K::VarBinary, 8}, 2019},
};

// sys.dm_os_host_info (2017 on; "sys.dm_os_host_info (Transact-SQL)"), host_architecture from 2022.
const std::vector<ResultColumn> kHostInfo = {
    {"host_platform", SqlType::nvarchar(256), 2017},
    {"host_distribution", SqlType::nvarchar(256), 2017},
    {"host_release", SqlType::nvarchar(256), 2017},
    {"host_service_pack_level", SqlType::nvarchar(256), 2017},
    {"host_sku", kInt, 2017},
    {"os_language_version", kInt, 2017},
    {"host_architecture", SqlType::nvarchar(256), 2022},
};

bool isOneOf(std::string_view name, std::initializer_list<std::string_view> names) {
  return std::any_of(names.begin(), names.end(), [&](std::string_view n) { return name == n; });
}

Value guidOf(const DbEntry& e, char salt) {
  const std::string base = databaseGuid(e.name + salt, e.created);
  return Value{base};
}

std::int64_t pages(std::uint64_t bytes) { return static_cast<std::int64_t>((bytes + 8191) / 8192); }

std::uint64_t fileBytes(const std::filesystem::path& file) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(file, ec);
  return ec ? 0 : size;
}

std::string padded(std::string text, std::size_t length) {
  const std::size_t units = base::utf16Length(text);
  if (units < length) text.append(length - units, ' ');
  return text;
}

bool isSystemDatabase(const std::string& name) {
  return isOneOf(toLowerAscii(name), {"master", "tempdb", "model", "msdb"});
}

void databases(Server& server, const SystemObjectCall&, ResultTable& t) {
  const int year = server.version.year;
  const auto& catalog = server.catalog;
  for (const auto& e : catalog.databases()) {
    const bool restoring = e.state == DatabaseState::Restoring;
    const auto wait = catalog.logReuseWait(e);
    const bool express = server.edition == base::Edition::Express;
    const std::string lower = toLowerAscii(e.name);
    t.add(
        {{"name", e.name},
         {"database_id", std::int64_t{e.id}},
         {"owner_sid", sql::Binary{std::string(1, '\x01')}},
         {"create_date", e.created},
         {"compatibility_level", std::int64_t{server.version.compatibilityLevel}},
         {"collation_name", restoring ? Value{} : Value{e.collation}},
         {"user_access", std::int64_t{0}},
         {"user_access_desc", std::string("MULTI_USER")},
         {"is_read_only", std::int64_t{0}},
         // Express closes the databases it creates when their last user goes.
         {"is_auto_close_on", std::int64_t{express && !isSystemDatabase(e.name) ? 1 : 0}},
         {"is_auto_shrink_on", std::int64_t{0}},
         {"state", std::int64_t{restoring ? 1 : 0}},
         {"state_desc", std::string(restoring ? "RESTORING" : "ONLINE")},
         {"is_in_standby", std::int64_t{0}},
         {"is_cleanly_shutdown", std::int64_t{0}},
         {"is_supplemental_logging_enabled", std::int64_t{0}},
         {"snapshot_isolation_state", std::int64_t{lower == "master" || lower == "msdb" ? 1 : 0}},
         {"snapshot_isolation_state_desc", std::string(lower == "master" || lower == "msdb" ? "ON" : "OFF")},
         {"is_read_committed_snapshot_on", std::int64_t{0}},
         {"recovery_model", std::int64_t{static_cast<int>(e.recovery)}},
         {"recovery_model_desc", std::string(storage::recoveryModelName(e.recovery))},
         {"page_verify_option", std::int64_t{2}},
         {"page_verify_option_desc", std::string("CHECKSUM")},
         {"is_auto_create_stats_on", std::int64_t{1}},
         {"is_auto_create_stats_incremental_on", std::int64_t{0}},
         {"is_auto_update_stats_on", std::int64_t{1}},
         {"is_auto_update_stats_async_on", std::int64_t{0}},
         {"is_ansi_null_default_on", std::int64_t{0}},
         {"is_ansi_nulls_on", std::int64_t{0}},
         {"is_ansi_padding_on", std::int64_t{0}},
         {"is_ansi_warnings_on", std::int64_t{0}},
         {"is_arithabort_on", std::int64_t{0}},
         {"is_concat_null_yields_null_on", std::int64_t{0}},
         {"is_numeric_roundabort_on", std::int64_t{0}},
         {"is_quoted_identifier_on", std::int64_t{0}},
         {"is_recursive_triggers_on", std::int64_t{0}},
         {"is_cursor_close_on_commit_on", std::int64_t{0}},
         {"is_local_cursor_default", std::int64_t{0}},
         {"is_fulltext_enabled", std::int64_t{year >= 2008 ? 1 : 0}},
         {"is_trustworthy_on", std::int64_t{lower == "msdb" ? 1 : 0}},
         {"is_db_chaining_on",
          std::int64_t{lower == "master" || lower == "tempdb" || lower == "msdb" ? 1 : 0}},
         {"is_parameterization_forced", std::int64_t{0}},
         {"is_master_key_encrypted_by_server", std::int64_t{0}},
         {"is_query_store_on", std::int64_t{0}},
         {"is_published", std::int64_t{0}},
         {"is_subscribed", std::int64_t{0}},
         {"is_merge_published", std::int64_t{0}},
         {"is_distributor", std::int64_t{0}},
         {"is_sync_with_backup", std::int64_t{0}},
         {"service_broker_guid", guidOf(e, 'b')},
         {"is_broker_enabled", std::int64_t{lower == "msdb" ? 1 : 0}},
         {"log_reuse_wait", std::int64_t{static_cast<int>(wait)}},
         {"log_reuse_wait_desc", std::string(storage::logReuseWaitName(wait))},
         {"is_date_correlation_on", std::int64_t{0}},
         {"is_cdc_enabled", std::int64_t{0}},
         {"is_encrypted", std::int64_t{0}},
         {"is_honor_broker_priority_on", std::int64_t{0}},
         {"containment", std::int64_t{0}},
         {"containment_desc", std::string("NONE")},
         {"target_recovery_time_in_seconds",
          std::int64_t{year >= 2016 && !isSystemDatabase(e.name) ? 60 : 0}},
         {"delayed_durability", std::int64_t{0}},
         {"delayed_durability_desc", std::string("DISABLED")},
         {"is_memory_optimized_elevate_to_snapshot_on", std::int64_t{0}},
         {"is_federation_member", std::int64_t{0}},
         {"is_remote_data_archive_enabled", std::int64_t{0}},
         {"is_mixed_page_allocation_on", std::int64_t{isSystemDatabase(e.name) ? 1 : 0}},
         {"is_temporal_history_retention_enabled", std::int64_t{1}},
         {"catalog_collation_type", std::int64_t{0}},
         {"catalog_collation_type_desc", std::string("DATABASE_DEFAULT")},
         {"physical_database_name", e.name},
         {"is_result_set_caching_on", std::int64_t{0}},
         {"is_accelerated_database_recovery_on", std::int64_t{0}},
         {"is_tempdb_spill_to_remote_store", std::int64_t{0}},
         {"is_stale_page_detection_on", std::int64_t{0}},
         {"is_memory_optimized_enabled", std::int64_t{1}},
         {"is_data_retention_enabled", std::int64_t{0}},
         {"is_ledger_on", std::int64_t{0}},
         {"is_change_feed_enabled", std::int64_t{0}}});
  }
}

// sys.dm_os_volume_stats (SQL Server 2008 R2 SP1 on; here from 2012).
const std::vector<ResultColumn> kVolumeStats = {
    {"database_id", kInt, 2012},
    {"file_id", kInt, 2012},
    {"volume_mount_point", SqlType::nvarchar(512), 2012},
    {"volume_id", SqlType::nvarchar(512), 2012},
    {"logical_volume_name", SqlType::nvarchar(512), 2012},
    {"file_system_type", SqlType::nvarchar(512), 2012},
    {"total_bytes", kBig, 2012},
    {"available_bytes", kBig, 2012},
    {"supports_compression", kTiny, 2012},
    {"supports_alternate_streams", kTiny, 2012},
    {"supports_sparse_files", kTiny, 2012},
    {"is_read_only", kTiny, 2012},
    {"is_compressed", kTiny, 2012},
};

// One row per file of each database (of one, for sys.database_files).
void files(const Server& server, const std::optional<std::string>& only, ResultTable& t) {
  const int year = server.version.year;
  for (const auto& e : server.catalog.databases()) {
    if (only && !equalsIgnoreCase(*only, e.name)) continue;
    const bool restoring = e.state == DatabaseState::Restoring;
    for (const bool log : {false, true}) {
      const bool modern = year >= 2016;
      t.add({{"database_id", std::int64_t{e.id}},
             {"file_id", std::int64_t{log ? 2 : 1}},
             {"file_guid", guidOf(e, log ? 'l' : 'd')},
             {"type", std::int64_t{log ? 1 : 0}},
             {"type_desc", std::string(log ? "LOG" : "ROWS")},
             {"data_space_id", std::int64_t{log ? 0 : 1}},
             {"name", log ? e.logName : e.dataName},
             {"physical_name", (log ? e.logFile : e.file).string()},
             {"state", std::int64_t{restoring ? 1 : 0}},
             {"state_desc", std::string(restoring ? "RESTORING" : "ONLINE")},
             {"size", pages(log ? e.log.fileBytes : fileBytes(e.file))},
             {"max_size", std::int64_t{log ? 268435456 : -1}},
             // Growth as model has it: 1 MB and 10% up to 2014, 64 MB from 2016.
             {"growth", std::int64_t{modern ? 8192
                                     : log  ? 10
                                            : 128}},
             {"is_media_read_only", std::int64_t{0}},
             {"is_read_only", std::int64_t{0}},
             {"is_sparse", std::int64_t{0}},
             {"is_percent_growth", std::int64_t{!modern && log ? 1 : 0}},
             {"is_name_reserved", std::int64_t{0}},
             {"redo_start_lsn", restoring ? Value{static_cast<std::int64_t>(e.log.restoreLsn)} : Value{}}});
    }
  }
}

void masterFiles(Server& server, const SystemObjectCall&, ResultTable& t) { files(server, std::nullopt, t); }
void databaseFiles(Server& server, const SystemObjectCall& call, ResultTable& t) {
  files(server, call.database, t);
}

void sysDatabases(Server& server, const SystemObjectCall&, ResultTable& t) {
  const int year = server.version.year;
  for (const auto& e : server.catalog.databases()) {
    // status: 8 truncates the log on checkpoint (SIMPLE), 16 torn page detection (2000's page
    // check; 65536 checksums from 2005), 32 loading (restoring), 1024 read only...
    std::int64_t status = year == 2000 ? 16 : 65536;
    if (e.recovery == RecoveryModel::Simple) status |= 8;
    if (e.state == DatabaseState::Restoring) status |= 32;
    t.add({{"name", e.name},
           {"dbid", std::int64_t{e.id}},
           {"sid", sql::Binary{std::string(1, '\x01')}},
           {"mode", std::int64_t{0}},
           {"status", status},
           {"status2", std::int64_t{1090519040}},
           {"crdate", e.created},
           {"reserved", sql::DateTime{}},
           {"category", std::int64_t{0}},
           {"cmptlevel", std::int64_t{server.version.compatibilityLevel}},
           {"filename", e.file.string()},
           {"version", std::int64_t{server.version.databaseVersion}}});
  }
}

void sysAltFiles(Server& server, const SystemObjectCall&, ResultTable& t) {
  for (const auto& e : server.catalog.databases()) {
    for (const bool log : {false, true}) {
      // status: 2 a file on disk, 64 a log file, 1048576 growth in percent.
      std::int64_t status = 2;
      if (log) status |= 64 | 1048576;
      t.add({{"fileid", std::int64_t{log ? 2 : 1}},
             {"groupid", std::int64_t{log ? 0 : 1}},
             {"size", pages(log ? e.log.fileBytes : fileBytes(e.file))},
             {"maxsize", std::int64_t{log ? 268435456 : -1}},
             {"growth", std::int64_t{log ? 10 : 128}},
             {"status", status},
             {"perf", std::int64_t{0}},
             {"dbid", std::int64_t{e.id}},
             {"name", padded(log ? e.logName : e.dataName, 128)},
             {"filename", padded((log ? e.logFile : e.file).string(), 260)}});
    }
  }
}

// Every session's running request: the stand-in's login is sysadmin, so it sees them all (a login
// without VIEW SERVER STATE would see only its own).
void requests(Server& server, const SystemObjectCall&, ResultTable& t) {
  const auto now = std::chrono::steady_clock::now();
  for (const auto& r : server.requests.snapshot()) {
    // A request still being parsed is no statement of any kind yet: it shows from its first one.
    if (r.command.empty()) continue;
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - r.started).count();
    t.add({{"session_id", std::int64_t{r.sessionId}},
           {"request_id", std::int64_t{0}},
           {"start_time", r.startTime},
           {"status", r.status},
           {"command", r.command},
           {"database_id", std::int64_t{r.databaseId}},
           {"user_id", std::int64_t{1}},
           {"blocking_session_id", std::int64_t{0}},
           {"wait_type", r.waitType.empty() ? Value{} : Value{r.waitType}},
           {"wait_time", std::int64_t{0}},
           {"last_wait_type", r.waitType.empty() ? std::string("MISCELLANEOUS") : r.waitType},
           {"wait_resource", std::string()},
           {"open_transaction_count", std::int64_t{r.openTransactions}},
           {"open_resultset_count", std::int64_t{1}},
           {"transaction_id", static_cast<std::int64_t>(r.transactionId)},
           {"percent_complete", r.percentComplete},
           {"estimated_completion_time", r.estimatedCompletionMs},
           {"cpu_time", std::int64_t{0}},
           {"total_elapsed_time", static_cast<std::int64_t>(elapsed)},
           {"scheduler_id", std::int64_t{0}},
           {"reads", std::int64_t{0}},
           {"writes", std::int64_t{0}},
           {"logical_reads", std::int64_t{0}},
           {"text_size", std::int64_t{2147483647}},
           {"language", std::string("us_english")},
           {"date_format", std::string("mdy")},
           {"date_first", std::int64_t{7}},
           {"quoted_identifier", std::int64_t{1}},
           {"arithabort", std::int64_t{0}},
           {"ansi_null_dflt_on", std::int64_t{1}},
           {"ansi_defaults", std::int64_t{0}},
           {"ansi_warnings", std::int64_t{1}},
           {"ansi_padding", std::int64_t{1}},
           {"ansi_nulls", std::int64_t{1}},
           {"concat_null_yields_null", std::int64_t{1}},
           {"transaction_isolation_level", std::int64_t{2}},
           {"lock_timeout", std::int64_t{-1}},
           {"deadlock_priority", std::int64_t{0}},
           {"row_count", std::int64_t{0}},
           {"prev_error", std::int64_t{0}},
           {"nest_level", std::int64_t{0}},
           {"granted_query_memory", std::int64_t{0}},
           {"executing_managed_code", std::int64_t{0}},
           {"group_id", std::int64_t{2}},
           {"dop", std::int64_t{1}},
           {"parallel_worker_count", std::int64_t{0}},
           {"is_resumable", std::int64_t{0}}});
  }
}

// One value of /etc/os-release (NAME="x" or NAME=x); empty when it has none.
std::string osReleaseValue(const std::string& content, const std::string& key) {
  std::size_t at = 0;
  while (at < content.size()) {
    const auto end = std::min(content.find('\n', at), content.size());
    const std::string_view line(content.data() + at, end - at);
    if (line.substr(0, key.size() + 1) == key + "=") {
      std::string value(line.substr(key.size() + 1));
      if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
          value.back() == value.front())
        value = value.substr(1, value.size() - 2);
      return value;
    }
    at = end + 1;
  }
  return {};
}

// SQL Server on Linux names the distribution ("Ubuntu") and its release ("22.04"): the words of
// PRETTY_NAME before its version, and VERSION_ID.
void hostInfo(Server&, const SystemObjectCall&, ResultTable& t) {
  const std::string release = base::readWholeFile("/etc/os-release").value_or("");
  std::string distribution = osReleaseValue(release, "PRETTY_NAME");
  for (std::size_t i = 0; i < distribution.size(); ++i)
    if (distribution[i] >= '0' && distribution[i] <= '9' && (i == 0 || distribution[i - 1] == ' ')) {
      distribution.resize(i);
      break;
    }
  while (!distribution.empty() && distribution.back() == ' ') distribution.pop_back();
  if (distribution.empty()) distribution = osReleaseValue(release, "NAME");
  if (distribution.empty()) distribution = "Linux";
  t.add({{"host_platform", std::string("Linux")},
         {"host_distribution", distribution},
         {"host_release", osReleaseValue(release, "VERSION_ID")},
         {"host_service_pack_level", std::string()},
         {"os_language_version", std::int64_t{0}},
         {"host_architecture", std::string("X64")}});
}

// sys.dm_os_volume_stats(database_id, file_id): the volume of that file (no row for a file or
// database that is not there, or a NULL argument).
void volumeStats(Server& server, const SystemObjectCall& call, ResultTable& t) {
  const auto databaseId = call.arguments.at(0);
  const auto fileId = call.arguments.at(1);
  if (!databaseId || !fileId || (*fileId != 1 && *fileId != 2)) return;
  for (const auto& e : server.catalog.databases()) {
    if (e.id != *databaseId) continue;
    const auto& file = *fileId == 2 ? e.logFile : e.file;
    const auto volume = server.databaseVolume(file);
    if (!volume) break;
    t.add({{"database_id", *databaseId},
           {"file_id", *fileId},
           {"volume_mount_point", volume->mountPoint},
           {"volume_id", volume->mountPoint},
           {"logical_volume_name", std::string()},
           {"file_system_type", volume->fileSystemType},
           {"total_bytes", static_cast<std::int64_t>(volume->totalBytes)},
           {"available_bytes", static_cast<std::int64_t>(volume->availableBytes)},
           {"supports_compression", std::int64_t{0}},
           {"supports_alternate_streams", std::int64_t{0}},
           {"supports_sparse_files", std::int64_t{1}},
           {"is_read_only", std::int64_t{0}},
           {"is_compressed", std::int64_t{0}}});
  }
}

}  // namespace

void addTo(server::Registry& registry) {
  auto& objects = registry.systemObjects;
  objects.add({"databases", kDatabases, databases});
  objects.add({"master_files", kFiles, masterFiles});
  server::SystemObject databaseFilesView("database_files", {kFiles.begin() + 1, kFiles.end()}, databaseFiles);
  databaseFilesView.eachDatabase = true;  // and without database_id
  objects.add(databaseFilesView);
  server::SystemObject sysdatabases("sysdatabases", kSysDatabases, sysDatabases);
  sysdatabases.compatibilityView = true;
  objects.add(sysdatabases);
  server::SystemObject sysaltfiles("sysaltfiles", kSysAltFiles, sysAltFiles);
  sysaltfiles.compatibilityView = true;
  objects.add(sysaltfiles);
  objects.add({"dm_exec_requests", kRequests, requests});
  server::SystemObject volumeStatsFunction("dm_os_volume_stats", kVolumeStats, volumeStats);
  volumeStatsFunction.sysSince = 2012;  // SQL Server 2008 R2 SP1 brought it; here 2012
  volumeStatsFunction.arguments = 2;
  objects.add(volumeStatsFunction);
  server::SystemObject hostInfoView("dm_os_host_info", kHostInfo, hostInfo);
  hostInfoView.sysSince = 2017;
  objects.add(hostInfoView);
}

std::optional<TypedValue> databaseProperty(const Server& server, const std::string& database,
                                           const std::string& property) {
  const auto e = server.catalog.find(database);
  if (!e) return std::nullopt;
  const std::string p = base::toUpperAscii(property);
  const SqlType text = SqlType::nvarchar(128);
  if (p == "RECOVERY") return TypedValue{text, std::string(storage::recoveryModelName(e->recovery))};
  if (p == "STATUS")
    return TypedValue{text, std::string(e->state == DatabaseState::Restoring ? "RESTORING" : "ONLINE")};
  if (p == "UPDATEABILITY") return TypedValue{text, std::string("READ_WRITE")};
  if (p == "USERACCESS") return TypedValue{text, std::string("MULTI_USER")};
  if (p == "COLLATION") return TypedValue{text, e->collation};
  if (p == "VERSION") return TypedValue{kInt, std::int64_t{server.version.databaseVersion}};
  if (p == "ISAUTOSHRINK" || p == "ISINSTANDBY" || p == "ISTORNPAGEDETECTIONENABLED")
    return TypedValue{kInt,
                      std::int64_t{p == "ISTORNPAGEDETECTIONENABLED" && server.version.year == 2000 ? 1 : 0}};
  return std::nullopt;
}

}  // namespace standin::system
