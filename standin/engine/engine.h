// The stand-in's database engine: a data folder of SQLite files, the logins, and sessions that
// run T-SQL batches and procedure calls the way SQL Server answers them.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "standin/base/statement_faults.h"
#include "standin/base/version.h"
#include "standin/sql/parser.h"
#include "standin/sql/results.h"
#include "standin/sql/value.h"

namespace standin::engine {

// The file in the data folder that holds a generated sa password (0600, one line), as a
// client's password file would; master keeps only the password's hash.
inline constexpr const char* kPasswordFileName = "sa-password";

struct EngineConfig {
  std::filesystem::path dataDir;
  // The sa password. Empty: the one in the data folder's password file, or a generated one
  // (written to that file) when there is none.
  std::string saPassword;
  int serverVersion = 2005;
  // The edition played; empty: the release's default (base::defaultEdition). One the release
  // never had (Express for 2000, the Desktop Engine after it) is refused: std::invalid_argument.
  std::optional<base::Edition> edition;
  // Computer name used in @@SERVERNAME and message tokens; empty = this computer's name.
  std::string computerName;
  // Instance name; empty or MSSQLSERVER for the default instance.
  std::string instanceName;
  // Create the sample user database on the first start.
  bool createSample = true;
  // The time GETDATE() and the Agent go by; empty = this computer's local time.
  std::function<sql::DateTime()> clock;
  // Moves that clock, and every date the server gives or records (GETDATE(), backups, their
  // history, the Agent): negative for an earlier day.
  std::chrono::seconds clockOffset{0};
  // Faults on demand inside statements, for tests (base/statement_faults.h).
  std::vector<base::StatementFault> statementFaults;
  // Start the SQL Server Agent's thread with the engine (it runs due jobs once a second). An
  // edition without an Agent (Express) never has one.
  bool startAgent = true;
  // For comparing builds: every session's requests and replies go to this file (recorder.h);
  // empty = none.
  std::filesystem::path recordFile;
};

struct LoginRequest {
  std::string user;
  std::string password;
  std::string database;  // empty: the login's default database
  std::string language;
  std::string hostName;
  std::string appName;
  bool integrated = false;  // Windows authentication (SSPI)
};

class Session;

struct LoginResult {
  std::unique_ptr<Session> session;  // null when the login failed
  std::vector<sql::Message> errors;  // why it failed
};

// The statements the server reads: every kind the engine and its rooms register, for reading a
// batch outside a session (the parser's tests and fuzzer).
const sql::Grammar& statementGrammar();

// This computer's name as SQL Server tools show it: the first label of the host name,
// upper case, at most 15 characters.
std::string localComputerName();

class Engine {
 public:
  // Opens the data folder, creating it and the system databases on the first start.
  // Throws std::runtime_error when the folder cannot be used.
  explicit Engine(EngineConfig config);
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  const base::ProductVersion& version() const;
  base::Edition edition() const;
  std::string versionText() const;  // @@VERSION
  const std::string& saPassword() const;
  bool saPasswordGenerated() const;  // true when this start generated the password
  std::string serverName() const;    // @@SERVERNAME: COMPUTER or COMPUTER\INSTANCE
  const std::filesystem::path& dataDir() const;

  LoginResult login(const LoginRequest& request);

  // Database names in catalog order: master, tempdb, model, msdb, then user databases.
  std::vector<std::string> databases() const;
  std::optional<std::filesystem::path> databaseFile(const std::string& name) const;
  int activeSessions() const;

  // The clock offset of EngineConfig, changed while the server runs (for requests after this).
  void setClockOffset(std::chrono::seconds offset);
  std::chrono::seconds clockOffset() const;

  // Direct access to a database's SQLite file for set-up and inspection (SQLite dialect).
  // Throws std::runtime_error on failure.
  using TextRow = std::vector<std::optional<std::string>>;
  std::vector<TextRow> query(const std::string& database, const std::string& sqliteSql);
  void execute(const std::string& database, const std::string& sqliteSql);

  // The SQL Server Agent. runDueAgentJobs does what the Agent's thread does once a second:
  // runs every job due at the clock's time now (also without the thread, for tests); an edition
  // without an Agent runs none.
  void runDueAgentJobs();
  void wakeAgent();  // the thread looks for due jobs at once
  bool agentRunning() const;
  std::uint64_t agentJobRuns() const;  // job runs finished so far, by any trigger
  // Waits until at least `count` job runs have finished; false when `patience` ran out first.
  bool waitForAgentJobRuns(std::uint64_t count, std::chrono::milliseconds patience) const;
  // Waits until the thread has looked for due jobs `count` times (it plans before its first look).
  bool waitForAgentPasses(std::uint64_t count, std::chrono::milliseconds patience) const;

  // The hold fault (base/statement_faults.h): statements waiting before they run, for tests that
  // act while one waits. heldStatements() counts them now; releaseHeldStatements() lets every
  // one of them go at once; waitForHeldStatements waits until at least `count` are held (false
  // when `patience` ran out first); stopHoldingStatements() lets them go and holds none again
  // (the server is stopping).
  int heldStatements() const;
  void releaseHeldStatements();
  bool waitForHeldStatements(int count, std::chrono::milliseconds patience) const;
  void stopHoldingStatements();

  struct Impl;

 private:
  struct Agent;  // the Agent's thread
  std::shared_ptr<Impl> impl_;
  std::unique_ptr<Agent> agent_;  // stopped before impl_ goes
};

class Session {
 public:
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  int spid() const;
  const std::string& loginName() const;
  std::string currentDatabase() const;
  int tranCount() const;
  // The 8-byte descriptor of the open transaction (all zero outside one).
  std::string transactionDescriptor() const;

  // Called now and then while a request runs; returning true stops it (an attention).
  using CancelCheck = std::function<bool()>;

  // Runs a T-SQL batch.
  sql::BatchResult executeBatch(std::string_view sql, const CancelCheck& cancel = {});

  struct Parameter {
    std::string name;  // "@name" or empty for a positional parameter
    sql::SqlType type;
    sql::Value value;
    bool output = false;
  };
  // Runs a remote procedure call (sp_tables, sp_executesql, sp_prepexec, ...). The result ends
  // with RETURNSTATUS, any RETURNVALUEs, and ProcedureDone.
  sql::BatchResult callProcedure(std::string_view name, std::vector<Parameter> params,
                                 const CancelCheck& cancel = {});

  // Transaction manager requests (TDS 7.2 and later).
  sql::BatchResult beginTransaction();
  sql::BatchResult commitTransaction(bool beginNew);
  sql::BatchResult rollbackTransaction(bool beginNew);

  // While the engine records (EngineConfig::recordFile), the wire notes in this session's block
  // what it did itself: a request a fault dropped, one it refused before the engine saw it, a
  // reply cut short; recordAttentionReply: the last reply went out as an attention's
  // acknowledgement alone.
  void recordNote(std::string_view text);
  void recordAttentionReply();

  struct Impl;
  explicit Session(std::unique_ptr<Impl> impl);

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace standin::engine
