// The Agent job dialog's one connection, to the server the main window names, and everything the
// dialog asks of it: the server version, the job list, whether a name is taken, the four msdb
// procedures of a registration inside one transaction, and the deletion of a job. Every failure
// is the provider's db::ProviderError; on a store that is not open, each call fails with the
// provider's "not open" error. Qt-free.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "core/agent/job_catalogue.h"
#include "core/db/connection_settings.h"
#include "core/db/database.h"

namespace bv::agent {

// The dialog's connection: the login's settings naming a database, the handed-over one under
// SQL Server authentication and master under Windows authentication.
db::ConnectionSettings agentConnectionSettings(const db::LoginSettings& login, std::string_view databaseName);

// SERVERPROPERTY('EngineEdition') read on a connection of its own: 4 is Express, which has no
// SQL Server Agent; nothing when it cannot be read.
inline constexpr int kExpressEngineEdition = 4;
std::optional<int> readEngineEdition(const db::ConnectionSettings& settings);
inline constexpr std::string_view kExpressOffersTask =
    "このサーバー（Express エディション）には SQL Server エージェントがないため、ジョブを登録しても実行されません。"
    "代わりにタスクとして登録しますか？";

class JobStore {
 public:
  // Opens the connection (closing one that is open); throws the provider's error.
  void open(const db::ConnectionSettings& settings);
  // Closes the connection; a transaction still open is rolled back.
  void close() noexcept;
  bool isOpen() const noexcept { return connection_.isOpen(); }

  // The year of the server's version text (parseServerVersion), -1 when no row came back or
  // the text names no year.
  std::int32_t serverVersion();

  // Reads the catalogue query of the version into `jobs`: emptied once the query has run, then
  // one entry per row, then the schedules that repeat within their day marked on their entries.
  // An error ends the reading and is thrown; the entries read before it stay.
  void loadJobs(std::int32_t serverVersion, std::vector<TJobEntry>& jobs);

  // DATABASEPROPERTYEX's Recovery of the database (FULL, BULK_LOGGED, SIMPLE); empty when the
  // server has no such database.
  std::string recoveryModel(std::string_view databaseName);

  // Whether a job of this name (trimmed) exists.
  bool jobExists(std::string_view jobName);

  // The registration's transaction around the four procedure calls below.
  void beginTransaction();
  void commitTransaction();
  void rollbackTransaction();
  void addJob(const TJobEntry& entry, std::string_view ownerLoginName);
  void addJobStep(const TJobEntry& entry, std::string_view databaseName);
  void addJobSchedule(const TJobEntry& entry);
  void addJobServer(const TJobEntry& entry);

  void deleteJob(std::string_view jobName);

 private:
  void execute(const std::vector<std::string>& lines);

  db::Connection connection_;
};

}  // namespace bv::agent
