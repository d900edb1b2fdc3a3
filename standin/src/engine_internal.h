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
#include "sqlite_db.h"
#include "standin/engine.h"

namespace standin {

struct DbEntry {
  std::string name;
  int id = 0;
  std::filesystem::path file;
  sql::DateTime created;
  int users = 0;
  bool exclusive = false;  // being restored or dropped
};

struct Engine::Impl {
  EngineConfig config;
  base::ProductVersion version;
  std::string computerName;
  std::string saPassword;
  bool passwordGenerated = false;
  std::filesystem::path backupDir;

  mutable std::mutex mutex;  // guards dbs and the catalog connection
  std::vector<DbEntry> dbs;  // by id
  std::optional<sqlite::Database> catalog;  // master, for sysdatabases / syslogins

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
  std::string dataFileName(const std::string& db) const;  // logical file names as SQL Server makes them
  std::string logFileName(const std::string& db) const;

  std::optional<DbEntry> find(const std::string& name) const;  // a copy
  std::optional<DbEntry> findById(int id) const;

  enum class Acquire { Ok, Missing, Restoring };
  // Marks one more user of a database; gives its canonical name and file.
  Acquire acquire(const std::string& name, std::string& canonical, std::filesystem::path& file);
  void release(const std::string& name);
  enum class Exclusive { Ok, Missing, InUse };
  // A client that has just disconnected may not have released its database yet: waits up to
  // `patience` for the other users to go.
  Exclusive beginExclusive(const std::string& name, std::chrono::milliseconds patience = std::chrono::milliseconds(0));
  void endExclusive(const std::string& name);

  // Adds a database (file created from model's content, or empty); throws sql::SqlError.
  DbEntry createDatabase(const std::string& name, bool exclusive);
  void dropDatabase(const std::string& name);  // must hold exclusive access

  std::filesystem::path resolveBackupPath(const std::string& text) const;

 private:
  void createSystemDatabases();
  void createSampleDatabase(const std::filesystem::path& file);
  void loadCatalog();
  void setupPassword();
};

// One user of a database while it is some session's current database.
class DbLease {
 public:
  DbLease(std::shared_ptr<Engine::Impl> engine, std::string name, std::filesystem::path file)
      : engine_(std::move(engine)), name_(std::move(name)), file_(std::move(file)) {}
  ~DbLease() { engine_->release(name_); }
  DbLease(const DbLease&) = delete;
  DbLease& operator=(const DbLease&) = delete;
  const std::string& name() const { return name_; }
  const std::filesystem::path& file() const { return file_; }

 private:
  std::shared_ptr<Engine::Impl> engine_;
  std::string name_;
  std::filesystem::path file_;
};

// Exclusive access to a database for the length of a restore or drop.
class ExclusiveGuard {
 public:
  ExclusiveGuard(Engine::Impl& engine, std::string name) : engine_(engine), name_(std::move(name)) {}
  ~ExclusiveGuard() { engine_.endExclusive(name_); }
  ExclusiveGuard(const ExclusiveGuard&) = delete;
  ExclusiveGuard& operator=(const ExclusiveGuard&) = delete;

 private:
  Engine::Impl& engine_;
  std::string name_;
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
  std::unique_ptr<DbLease> db;
  std::optional<sqlite::Database> conn;  // connection to the current database, opened on demand
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
  sqlite::Database& connection();
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
