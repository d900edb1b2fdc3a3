// Shared state of the engine and its sessions, and the session as the rooms see it.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "standin/base/password_hash.h"
#include "standin/engine/engine.h"
#include "standin/engine/recorder.h"
#include "standin/server/context.h"
#include "standin/server/registry.h"
#include "standin/sql/ast.h"
#include "standin/sql/statements.h"
#include "standin/sql/evaluator.h"
#include "standin/storage/catalog.h"
#include "standin/storage/sqlite_db.h"

namespace standin::engine {

struct Engine::Impl : server::Server, std::enable_shared_from_this<Engine::Impl> {
  EngineConfig config;
  std::string saPassword;  // in memory only: the data folder keeps its hash
  bool passwordGenerated = false;
  base::PasswordCheck passwords;
  std::unique_ptr<Recorder> recorder;  // EngineConfig::recordFile
  std::atomic<bool> stopping{false};   // the server is stopping: what it answers now races the stop

  std::atomic<int> nextSpid{51};
  std::atomic<int> sessions{0};
  std::atomic<std::uint64_t> nextTransaction{1};

  void open();
  sql::BatchResult runJobStep(const std::string& login, std::unique_ptr<storage::DbLease> database,
                              std::string_view batch) override;

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

// A table a statement reads (FROM, JOIN, UPDATE), by the name its columns are qualified with.
struct TableSource {
  std::string alias;     // empty: none given (the table's name qualifies its columns)
  std::string database;  // empty: the current one
  std::string table;
  std::string variable;  // a table variable's lower-case name
  bool known = true;     // false: a derived table, whose columns are not told
};
// The tables of a statement (every FROM, JOIN and UPDATE of it, subqueries included).
std::vector<TableSource> tableSources(const std::vector<sql::Token>& tokens);
// The text columns of tables read so far for one statement, by "database.table".
using ColumnCache = std::map<std::string, std::map<std::string, bool, std::less<>>>;

struct Session::Impl {
  std::shared_ptr<Engine::Impl> engine;
  int spid = 0;
  std::string login;
  std::string hostName;
  std::string appName;
  std::unique_ptr<storage::DbLease> db;
  std::optional<storage::Database> conn;  // connection to the current database, opened on demand
  // Other databases attached to conn (db.dbo.table names, msdb's procedures), each held as a
  // user while attached, so that a restore or a drop waits for them as for the current one.
  std::vector<std::unique_ptr<storage::DbLease>> attached;
  int tranCount = 0;
  std::string descriptor = std::string(8, '\0');
  bool nocount = false;
  sql::DateOrder dateOrder = sql::DateOrder::Mdy;  // SET DATEFORMAT
  std::int64_t rowcount = 0;
  int lastError = 0;
  // TRY ... CATCH: TRY blocks running now; an error met in one (not sent, ends the TRY block:
  // every statement returns until its CATCH runs); the error the running CATCH block handles
  // (ERROR_MESSAGE() and its siblings).
  int tryDepth = 0;
  std::optional<sql::Message> pendingCatch;
  std::optional<sql::Message> caughtError;
  std::map<int, Prepared> prepared;
  int nextHandle = 1;
  int nesting = 0;            // batches running inside batches (EXEC of a string, sp_executesql)
  int tableVariables = 0;     // declared and not yet dropped, in every running batch
  int nextTableVariable = 1;  // names their tables apart
  bool inInsertExec = false;  // INSERT ... EXEC is running (it cannot nest)
  std::string requestText;    // the request being run: a batch's text, a procedure call's name
  // Changes written since the statement began, for the databases' logs: rows by the schema
  // SQLite names (main, temp, an attached database), and changes of tables' definitions.
  std::map<std::string, std::uint64_t> changedRows;
  std::uint64_t changedDefinitions = 0;
  // The tables whose rows the statement changed, as "schema\ttable", and whether a table has a
  // primary key (the record of committed changes holds only those rows), by the same key.
  std::set<std::string> changedTables;
  std::map<std::string, bool> tableHasKey;
  // Databases the open transaction (or the statement) changed in a way no changeset holds: a
  // table's definition, or rows of a table without a primary key.
  std::set<std::string> unreplayableChanges;
  // Rows of a database were written since the committed changes were last kept: only then is
  // there anything to take (most statements write nothing).
  bool changesToKeep = false;
  std::optional<Recording> recording;  // while the engine records (EngineConfig::recordFile)
  // The reply to the request last recorded; one given while the server stops is noted as such,
  // as the client may or may not have had it.
  void recordReply(const sql::BatchResult& reply);

  ~Impl();

  // --- running ---
  struct Exec {
    sql::BatchResult& out;
    const CancelCheck& cancel;
    sql::Scope& vars;
    bool inProcedure = false;
    std::string_view text = {};  // the batch's own text (a batch EXEC runs has its own)
    bool stop = false;
    int line = 1;
    // BREAK or CONTINUE met: the statements around it end up to their WHILE.
    enum class Jump { None, Break, Continue } jump = Jump::None;
  };
  void runBatchText(Exec& x, std::string_view sql);
  // A request of the client's (or an Agent job step): listed in sys.dm_exec_requests while it runs.
  struct RequestScope {
    RequestScope(Session::Impl& session, std::string_view text);
    ~RequestScope();
    RequestScope(const RequestScope&) = delete;
    RequestScope& operator=(const RequestScope&) = delete;
    Session::Impl& session;
  };
  void runStatement(Exec& x, const sql::Statement& s);
  // The hold fault: a statement whose own text matches waits before it runs.
  void holdIfAsked(Exec& x, const sql::Statement& s);
  // sys.dm_exec_requests' command for the statement the request is on (statements.cpp).
  void noteCommand(const server::Statements::Kind& kind, const sql::Statement& s);
  // Runs a statement by its kind's code (INSERT ... EXEC runs its EXEC so).
  void dispatch(Exec& x, const sql::Statement& s);
  // The language's statements, one function each (statements.cpp; registry.cpp registers them).
  void runBlock(Exec& x, const sql::Block& s);
  void runTryCatch(Exec& x, const sql::TryCatch& s);
  // In a TRY block: the errors the statement added since `start` are taken out of the reply and
  // the last of them waits for the CATCH block.
  void catchErrors(Exec& x, std::size_t start);
  void runIf(Exec& x, const sql::If& s);
  void runWhile(Exec& x, const sql::While& s);
  void runBreak(Exec& x, const sql::Break& s);
  void runContinue(Exec& x, const sql::Continue& s);
  void runReturn(Exec& x, const sql::Return& s);
  void runDeclare(Exec& x, const sql::Declare& s);
  void runSetVariable(Exec& x, const sql::SetVariable& s);
  void runSetOption(Exec& x, const sql::SetOption& s);
  void runSelectWithoutTable(Exec& x, const sql::SelectWithoutTable& s);
  void runSelectAssign(Exec& x, const sql::SelectAssign& s);
  void runInsert(Exec& x, const sql::Insert& s);
  void runUse(Exec& x, const sql::Use& s);
  void runPrint(Exec& x, const sql::Print& s);
  void runRaiserror(Exec& x, const sql::Raiserror& s);
  void runWaitfor(Exec& x, const sql::Waitfor& s);
  void runExec(Exec& x, const sql::Exec& s);
  void runExecString(Exec& x, const sql::ExecString& s);
  void runBeginTransaction(Exec& x, const sql::BeginTransaction& s);
  void runCommitTransaction(Exec& x, const sql::CommitTransaction& s);
  void runRollbackTransaction(Exec& x, const sql::RollbackTransaction& s);
  void checkCancel(Exec& x);

  void message(Exec& x, int number, int severity, std::string text, int state = 1);
  void done(Exec& x, bool error, std::optional<std::int64_t> count = std::nullopt,
            sql::StatementDone::Command command = sql::StatementDone::Command::Other);

  // --- expressions: the evaluator over the request's variables, and the session's own values
  // (session_functions.cpp) ---
  sql::TypedValue eval(Exec& x, const sql::Expr& e);
  std::string evalText(Exec& x, const sql::Expr& e);
  void assign(Exec& x, const std::string& name, const sql::TypedValue& v, int line);
  sql::TypedValue global(const sql::Expr& e);
  std::optional<sql::TypedValue> sessionFunction(const sql::Expr& e, sql::Evaluator& evaluator);

  // --- storage ---
  storage::Database& connection();
  // What the last statements wrote goes into the logs of the databases they wrote to.
  void logChanges();
  // Outside a transaction, the changes of user databases' rows committed since the last call go
  // to their logs' record of committed changes (those of a rolled-back transaction are in none).
  void keepCommittedChanges();
  // A user database's rows are recorded on this connection under `schema` (main or its name).
  void recordChangesOf(const std::string& schema, const std::string& database);
  // Another database on this connection, for db.dbo.table names and msdb's procedures.
  void attachDatabase(const storage::DbEntry& database);
  void detachDatabase(const std::string& name);  // not while a transaction is open
  void detachAll();                              // likewise
  void runPassthrough(Exec& x, const sql::Passthrough& s);
  // A query on this connection (tokens rewritten for SQLite first): its rows, typed as SQL
  // Server types them.
  sql::ResultSet query(Exec& x, const std::vector<sql::Token>& tokens);
  // A statement's tokens as SQLite text, variables bound, table variables named by their tables.
  struct StorageText {
    std::string text;
    std::vector<sql::Value> binds;
  };
  StorageText storageText(Exec& x, const std::vector<sql::Token>& tokens,
                          sql::StatementDone::Command command);
  void useDatabase(Exec& x, const std::string& name);
  // --- collations (collations.cpp) ---
  // The current database's collation: literals and variables compare in it.
  const base::Collation& databaseCollation() const;
  // A column a statement names (its name's parts): its table's collation, for a text column of
  // a table (its database's) or of a table variable (the one it was declared with); null when it
  // is no text column or its table cannot be told.
  const base::Collation* columnCollation(Exec& x, const std::vector<TableSource>& sources, ColumnCache& cache,
                                         const std::vector<std::string>& parts);
  // A system view or function a statement names at toks[i] (system_objects.cpp): the table its
  // rows were put in for the statement, and the index of the name's last token; nullopt when
  // the name is not one. Throws 208 for one the release does not have.
  struct SystemObjectTable {
    std::string table;
    std::size_t last = 0;
  };
  std::vector<std::optional<std::int64_t>> systemFunctionArguments(Exec& x,
                                                                   const server::SystemObject& function,
                                                                   const std::vector<sql::Token>& toks,
                                                                   std::size_t& last);
  std::optional<SystemObjectTable> systemObjectAt(Exec& x, const std::vector<sql::Token>& toks,
                                                  std::size_t i);
  // The session's functions (DB_ID, DB_NAME, SERVERPROPERTY, ...) made known to its connection,
  // so that statements SQLite runs call them too (session_functions.cpp).
  void registerSessionFunctions(sqlite3* connectionHandle);

  // --- table variables (table_variables.cpp) ---
  void declareTable(Exec& x, const sql::Declaration& d);
  // Drops the tables of the table variables of a batch's scope as the batch ends.
  void dropTables(sql::Scope& vars);
  // Adds rows to a table variable: each value converted to its column as an INSERT does.
  std::int64_t insertRows(Exec& x, const std::string& variable, const std::vector<std::string>& columns,
                          const std::vector<sql::TypedValue>& values, std::size_t width, int line);
  // INSERT ... EXEC into a table of a database: each row bound to one INSERT on the connection.
  std::int64_t insertIntoTable(Exec& x, const sql::Insert& s, const std::vector<sql::TypedValue>& values,
                               std::size_t width);
  std::string currentDb() const { return db ? db->name() : std::string("master"); }

  // --- transactions ---
  void begin(Exec& x);
  void commit(Exec& x);
  void rollback(Exec& x);

  // --- procedures (procedures.cpp) ---
  using ProcArg = server::ProcArg;
  // The system procedures (registry.cpp lists them); inner statements report with inProcedure.
  // Each returns the return status; outputs are filled with output parameters to send back.
  int spTables(Exec& x, std::vector<ProcArg>& args, std::vector<sql::ReturnValue>& outputs);
  int spDatabases(Exec& x, std::vector<ProcArg>& args, std::vector<sql::ReturnValue>& outputs);
  int spExecuteSql(Exec& x, std::vector<ProcArg>& args, std::vector<sql::ReturnValue>& outputs);
  int spPrepare(Exec& x, std::vector<ProcArg>& args, std::vector<sql::ReturnValue>& outputs);
  int spPrepExec(Exec& x, std::vector<ProcArg>& args, std::vector<sql::ReturnValue>& outputs);
  int spExecute(Exec& x, std::vector<ProcArg>& args, std::vector<sql::ReturnValue>& outputs);
  int spUnprepare(Exec& x, std::vector<ProcArg>& args, std::vector<sql::ReturnValue>& outputs);
  int prepare(Exec& x, std::vector<ProcArg>& args, std::vector<sql::ReturnValue>& outputs,
              const std::string& name, bool execute);
  // The procedure a call names (lower case), and whether the call reaches it from where it is
  // made: its database qualifier, else the current database. The one rule of both roads, EXEC
  // and RPC.
  struct ProcedureLookup {
    const server::Procedure* procedure = nullptr;
    bool reached = false;
  };
  ProcedureLookup findProcedure(const std::string& name, const std::string& qualifier) const;
  void runWithParameters(Exec& x, const std::string& statement, const std::string& declarations,
                         std::vector<ProcArg>& args, std::size_t firstValue,
                         std::vector<sql::ReturnValue>& outputs);
};

// What the evaluator asks of the session, for one running batch (its variables and output).
class BatchEnvironment final : public sql::Environment {
 public:
  BatchEnvironment(Session::Impl& session, Session::Impl::Exec& x) : session_(session), x_(x) {}
  sql::TypedValue global(const sql::Expr& e) override { return session_.global(e); }
  std::optional<sql::TypedValue> sessionFunction(const sql::Expr& e, sql::Evaluator& evaluator) override {
    return session_.sessionFunction(e, evaluator);
  }
  sql::ResultSet subquery(const sql::Expr& e) override { return session_.query(x_, e.query); }
  const base::Collation& defaultCollation() override { return session_.databaseCollation(); }

 private:
  Session::Impl& session_;
  Session::Impl::Exec& x_;
};

// A statement or procedure of a room running in a session.
class StatementContext final : public server::Context {
 public:
  StatementContext(Session::Impl& session, Session::Impl::Exec& x) : session_(session), x_(x) {}
  // The engine's own statements and procedures, registered as the rooms' are, run on these.
  static Session::Impl& session(server::Context& c) { return static_cast<StatementContext&>(c).session_; }
  static Session::Impl::Exec& exec(server::Context& c) { return static_cast<StatementContext&>(c).x_; }

  server::Server& server() override { return *session_.engine; }
  int sessionId() const override { return session_.spid; }
  std::vector<std::string_view> requestTexts() const override { return {session_.requestText, x_.text}; }
  const std::string& loginName() const override { return session_.login; }
  std::string currentDatabase() const override { return session_.currentDb(); }
  int tranCount() const override { return session_.tranCount; }
  storage::Database& connection() override { return session_.connection(); }
  void attachDatabase(const storage::DbEntry& database) override { session_.attachDatabase(database); }
  void detachDatabase(const std::string& name) override { session_.detachDatabase(name); }
  sql::TypedValue eval(const sql::Expr& e) override { return session_.eval(x_, e); }
  std::string evalText(const sql::Expr& e) override { return session_.evalText(x_, e); }
  void checkCancel() override { session_.checkCancel(x_); }
  void message(int number, int severity, std::string text, int state) override {
    session_.message(x_, number, severity, std::move(text), state);
  }
  void send(sql::ResultSet rows) override { x_.out.items.push_back(std::move(rows)); }
  void setRowCount(std::int64_t count) override { session_.rowcount = count; }
  void done(bool error, std::optional<std::int64_t> count, sql::StatementDone::Command command) override {
    session_.done(x_, error, count, command);
  }

 private:
  Session::Impl& session_;
  Session::Impl::Exec& x_;
};

// Every statement, procedure and system object the server has: the engine's own and its
// rooms' (registry.cpp).
const server::Registry& registry();

}  // namespace standin::engine
