// Shared state of the engine and its sessions.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "standin/sql/ast.h"
#include "standin/sql/evaluator.h"
#include "standin/storage/catalog.h"
#include "standin/storage/sqlite_db.h"
#include "standin/engine.h"

namespace standin {

struct Engine::Impl {
  EngineConfig config;
  base::ProductVersion version;
  std::string computerName;
  std::string saPassword;
  bool passwordGenerated = false;
  storage::Catalog catalog;  // the data folder's databases and logins

  // GETDATE() and the Agent's time.
  sql::DateTime now() const { return config.clock ? config.clock() : sql::DateTime::now(); }
  // The Agent: jobs running now (job_id -> who asked), finished runs, finished passes.
  mutable std::mutex agentMutex;
  mutable std::condition_variable agentChanged;
  std::map<std::string, std::string> runningJobs;
  std::uint64_t finishedRuns = 0;
  std::uint64_t agentPasses = 0;

  std::atomic<int> nextSpid{51};
  std::atomic<int> sessions{0};
  std::atomic<std::uint64_t> nextTransaction{1};

  void open();
  std::string serverName() const;

 private:
  void setupPassword();
};

struct Cancelled : std::exception {
  const char* what() const noexcept override { return "cancelled"; }
};

struct Prepared {
  std::string declarations;
  std::string statement;
};

struct Session::Impl : sql::Environment {
  std::shared_ptr<Engine::Impl> engine;
  int spid = 0;
  std::string login;
  std::string hostName;
  std::string appName;
  std::unique_ptr<storage::DbLease> db;
  std::optional<storage::Database> conn;  // connection to the current database, opened on demand
  std::vector<std::string> attached;     // other databases attached to conn for db.dbo.table names
  int tranCount = 0;
  std::string descriptor = std::string(8, '\0');
  bool nocount = false;
  std::int64_t rowcount = 0;
  int lastError = 0;
  std::map<int, Prepared> prepared;
  int nextHandle = 1;
  int nesting = 0;  // batches running inside batches (EXEC of a string, sp_executesql)

  ~Impl() override;

  // --- running ---
  struct Exec {
    sql::BatchResult& out;
    const CancelCheck& cancel;
    sql::Scope& vars;
    bool inProcedure = false;
    bool stop = false;
    int line = 1;
  };
  void runBatchText(Exec& x, std::string_view sql);
  void runStatement(Exec& x, const sql::Statement& s);
  void dispatch(Exec& x, const sql::Statement& s);
  void checkCancel(Exec& x);

  void message(Exec& x, int number, int severity, std::string text, int state = 1);
  void done(Exec& x, bool error, std::optional<std::int64_t> count = std::nullopt,
            sql::StatementDone::Command command = sql::StatementDone::Command::Other);

  // --- expressions: the evaluator over the request's variables, and the session's own values
  // (session_functions.cpp) ---
  sql::TypedValue eval(Exec& x, const sql::Expr& e) { return sql::Evaluator(x.vars, *this).eval(e); }
  std::string evalText(Exec& x, const sql::Expr& e) { return sql::Evaluator(x.vars, *this).evalText(e); }
  void assign(Exec& x, const std::string& name, const sql::TypedValue& v, int line) {
    sql::Evaluator(x.vars, *this).assign(name, v, line);
  }
  sql::TypedValue global(const sql::Expr& e) override;
  std::optional<sql::TypedValue> sessionFunction(const sql::Expr& e, sql::Evaluator& evaluator) override;

  // --- storage ---
  storage::Database& connection();
  void runPassthrough(Exec& x, const sql::Statement& s);
  void useDatabase(Exec& x, const std::string& name);
  std::string currentDb() const { return db ? db->name() : std::string("master"); }

  // --- transactions ---
  void begin(Exec& x);
  void commit(Exec& x);
  void rollback(Exec& x);

  // --- maintenance statements (maintenance.cpp) ---
  void backupDatabase(Exec& x, const sql::Statement& s);
  void backupLog(Exec& x, const sql::Statement& s);
  void restoreDatabase(Exec& x, const sql::Statement& s);
  void restoreVerify(Exec& x, const sql::Statement& s);
  void restoreHeaderOnly(Exec& x, const sql::Statement& s);
  void restoreFileListOnly(Exec& x, const sql::Statement& s);
  void shrinkDatabase(Exec& x, const sql::Statement& s);
  void dbcc(Exec& x, const sql::Statement& s);
  void createDatabase(Exec& x, const sql::Statement& s);
  void dropDatabase(Exec& x, const sql::Statement& s);

  // --- procedures (procedures.cpp) ---
  struct ProcArg {
    std::string name;  // lower case "@x" or empty
    sql::TypedValue value;
    bool output = false;
    bool isDefault = false;
  };
  // Runs a procedure; inner statements report with inProcedure. Returns the return status;
  // outputs are filled with output parameters to send back.
  int callProc(Exec& x, const std::string& name, std::vector<ProcArg>& args, std::vector<sql::ReturnValue>& outputs);
  void runWithParameters(Exec& x, const std::string& statement, const std::string& declarations,
                         std::vector<ProcArg>& args, std::size_t firstValue, std::vector<sql::ReturnValue>& outputs);
};

// errno of a failed file operation -> "3(The system cannot find the path specified.)"
std::string osErrorText(int err, bool reading, const std::filesystem::path& path);

}  // namespace standin
