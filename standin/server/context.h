// What the rooms' statements and procedures (backup, agent, system), and the Agent, need of the
// server and of the session they run in. The engine provides both; the rooms never see it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "standin/base/statement_faults.h"
#include "standin/base/version.h"
#include "standin/base/volumes.h"
#include "standin/server/requests.h"
#include "standin/sql/ast.h"
#include "standin/sql/evaluator.h"
#include "standin/sql/results.h"
#include "standin/storage/catalog.h"
#include "standin/storage/sqlite_db.h"

namespace standin::server {

// An argument of a procedure call.
struct ProcArg {
  std::string name;  // lower case "@x" or empty
  sql::TypedValue value;
  bool output = false;
  bool isDefault = false;
};

// The server that every session and the Agent share.
class Server {
 public:
  virtual ~Server() = default;

  base::ProductVersion version;
  base::Edition edition = base::Edition::Developer;
  std::string computerName;
  std::string instanceName;              // empty or MSSQLSERVER for the default instance
  std::function<sql::DateTime()> clock;  // empty: this computer's local time
  // Seconds the server's clock is moved by (tests: backups made on earlier days); every date
  // the server gives or records goes by it.
  std::atomic<std::int64_t> clockOffsetSeconds{0};
  storage::Catalog catalog;
  // The requests running now (sys.dm_exec_requests), and faults on demand inside statements.
  Requests requests;
  base::StatementFaults faults;

  // The Agent: jobs running now (job_id -> who asked), finished runs, finished passes.
  mutable std::mutex agentMutex;
  mutable std::condition_variable agentChanged;
  std::map<std::string, std::string> runningJobs;
  std::uint64_t finishedRuns = 0;
  std::uint64_t agentPasses = 0;
  int agentSession = 0;  // msdb.dbo.syssessions' row of this start of the Agent; 0: none yet

  // GETDATE() and the Agent's time.
  sql::DateTime now() const {
    return (clock ? clock() : sql::DateTime::now()).plusSeconds(clockOffsetSeconds);
  }
  // GETUTCDATE().
  sql::DateTime utcNow() const { return sql::DateTime::utcNow().plusSeconds(clockOffsetSeconds); }
  // @@SERVERNAME: COMPUTER, or COMPUTER\INSTANCE for a named instance.
  std::string serverName() const;
  // The volume a database file lies on, as the server sees it: fuller than it is where a
  // volume-free fault says so.
  std::optional<base::VolumeInfo> databaseVolume(const std::filesystem::path& file);

  // Runs an Agent job step: `batch` in a new session of `login` on the database `database`
  // holds, as any client's batch would run.
  virtual sql::BatchResult runJobStep(const std::string& login, std::unique_ptr<storage::DbLease> database,
                                      std::string_view batch) = 0;
};

// A statement or procedure call running in a session: what it reads of the session, and where
// its results go (in the order they are given).
class Context {
 public:
  virtual ~Context() = default;

  virtual Server& server() = 0;
  virtual int sessionId() const = 0;  // @@SPID
  // The texts the running statement came in: the request's (a client's batch or procedure call,
  // an Agent job step's command) and the batch's it runs in (EXEC of a string), for the faults
  // on demand that match them.
  virtual std::vector<std::string_view> requestTexts() const = 0;
  virtual const std::string& loginName() const = 0;
  virtual std::string currentDatabase() const = 0;
  virtual int tranCount() const = 0;

  // The session's connection to its current database, opened on demand; its writes belong to
  // the session's transaction.
  virtual storage::Database& connection() = 0;
  // Attaches another database to that connection under its own name (once).
  virtual void attachDatabase(const storage::DbEntry& database) = 0;
  // Detaches it again, unless a transaction is open that may hold its writes.
  virtual void detachDatabase(const std::string& name) = 0;

  // An expression over the variables of the running batch.
  virtual sql::TypedValue eval(const sql::Expr& e) = 0;
  virtual std::string evalText(const sql::Expr& e) = 0;  // empty for NULL

  // Ends the statement here, unwinding it as cancelled, when its client has sent an attention
  // or gone away. A statement asks just before it makes its work permanent.
  virtual void checkCancel() = 0;

  virtual void message(int number, int severity, std::string text, int state = 1) = 0;
  virtual void send(sql::ResultSet rows) = 0;
  virtual void setRowCount(std::int64_t count) = 0;  // @@ROWCOUNT
  // The end of the statement (DONE, or DONEINPROC inside a procedure).
  virtual void done(bool error, std::optional<std::int64_t> count = std::nullopt,
                    sql::StatementDone::Command command = sql::StatementDone::Command::Other) = 0;
};

}  // namespace standin::server
