// What the server can do, as its rooms and the engine register it: the statements it reads and
// runs, each kind with the words that start it, its reader, its own payload type and the code
// that runs it; the procedures a call by EXEC or by RPC reaches, each with the database it lives
// in (one table, so that both roads find a procedure the same way); and the system views and
// functions a query reads, each with its columns in every release and its rows. A new one is
// one entry beside its code.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <typeindex>
#include <unordered_map>
#include <string_view>
#include <vector>

#include "standin/server/context.h"
#include "standin/server/result_table.h"
#include "standin/sql/ast.h"
#include "standin/sql/parser.h"
#include "standin/sql/results.h"

namespace standin::server {

// What sys.dm_exec_requests says a request is doing while it runs a statement.
struct RunningCommand {
  std::string command;  // as SQL Server names it: SELECT, BACKUP DATABASE, RESTORE HEADERON, ...
  std::string status = "running";
  std::string waitType;
};

// A command of a fixed name, for StatementKind::command.
inline auto named(std::string command) {
  return [command](const auto&) -> std::optional<RunningCommand> { return RunningCommand{command, "running", {}}; };
}

// Where a statement's reader is found: its first word and a second word that tells it apart
// from others of the first (empty: every other statement of the first word).
struct Reading {
  std::string first;
  std::string second;
  sql::StatementReader reader = nullptr;
};

// One kind of statement: Payload is its own type (derived from sql::Statement), which its reader
// makes and its code runs on.
template <typename Payload>
struct StatementKind {
  std::vector<Reading> readings = {};  // none: another kind's reader makes it (SELECT's makes three)
  void (*run)(Context& c, const Payload& statement) = nullptr;
  // What sys.dm_exec_requests calls it; empty: nothing of its own (the statements in it say).
  std::function<std::optional<RunningCommand>(const Payload&)> command = {};
  // False for a block: it has no text of its own for a hold fault to match, its statements do.
  bool ownText = true;
  // True where @@ERROR stays what the statements in it left (BEGIN ... END, IF, WHILE).
  bool keepsError = false;
};

class Statements {
 public:
  struct Kind {
    std::function<void(Context&, const sql::Statement&)> run;
    std::function<std::optional<RunningCommand>(const sql::Statement&)> command;
    bool ownText = true;
    bool keepsError = false;
  };

  // Throws std::logic_error for a kind without code to run it, a payload type registered twice
  // or words another reader has.
  template <typename Payload>
  void add(StatementKind<Payload> kind) {
    static_assert(std::is_base_of_v<sql::Statement, Payload>, "a statement's payload is a sql::Statement");
    if (!kind.run) throw std::logic_error("a statement kind without code to run it");
    Kind k;
    k.run = [run = kind.run](Context& c, const sql::Statement& s) { run(c, static_cast<const Payload&>(s)); };
    if (kind.command)
      k.command = [command = std::move(kind.command)](const sql::Statement& s) {
        return command(static_cast<const Payload&>(s));
      };
    k.ownText = kind.ownText;
    k.keepsError = kind.keepsError;
    insert(typeid(Payload), std::move(k));
    for (auto& r : kind.readings) addReading(std::move(r));
  }
  // A reader of its own: one that refuses what it reads (RESTORE LABELONLY), or makes kinds
  // registered without words.
  void addReading(Reading reading);

  const sql::Grammar& grammar() const { return grammar_; }
  // The kind of a statement a reader made; throws std::logic_error for a type not registered.
  const Kind& kindOf(const sql::Statement& statement) const;

 private:
  void insert(std::type_index type, Kind kind);
  std::unordered_map<std::type_index, Kind> kinds_;
  sql::Grammar grammar_;
};

// Runs the procedure in the session `c` stands for; returns its return status. Errors are
// sql::SqlError with SQL Server's numbers and texts; output parameters go into `outputs`.
using ProcedureCall = int (*)(Context& c, std::vector<ProcArg>& args, std::vector<sql::ReturnValue>& outputs);

struct Procedure {
  std::string name;      // lower case
  std::string database;  // where it lives: master or msdb
  // master's system procedures (sp_tables, sp_executesql, ...), which every database sees.
  bool everyDatabase = false;
  int since = 2000;  // the first release that has it
  ProcedureCall call = nullptr;
};

// Whether a call made in `database` (the call's database qualifier, else the current
// database) reaches the procedure: the rule both roads follow.
bool reachesFrom(const Procedure& procedure, std::string_view database);

class Procedures {
 public:
  // Throws std::logic_error for a procedure without a call or a name given twice.
  void add(Procedure procedure);
  // The procedure of that (lower-case) name the release has; null when it has none.
  const Procedure* find(std::string_view name, int year) const;

 private:
  std::vector<Procedure> all_;
};

// What a system object's rows are made for: the database whose object it is (the current one,
// or the one a three-part name gives) and a function's arguments (NULL: nullopt).
struct SystemObjectCall {
  std::string database;
  std::vector<std::optional<std::int64_t>> arguments;
};
// Adds the object's rows now to `rows`, which has the release's columns (a value for a column
// the release lacks is left out).
using SystemObjectRows = void (*)(Server& server, const SystemObjectCall& call, ResultTable& rows);

struct SystemObject {
  // The rows go with the name and the columns, so that no name can read another's.
  SystemObject(std::string objectName, std::vector<ResultColumn> allColumns, SystemObjectRows makeRows)
      : name(std::move(objectName)), columns(std::move(allColumns)), rows(makeRows) {}
  std::string name;                   // lower case: databases, dm_os_volume_stats
  std::vector<ResultColumn> columns;  // each with the first release that has it
  SystemObjectRows rows;
  int sysSince = 2005;             // sys.NAME from this release on
  bool compatibilityView = false;  // also NAME and dbo.NAME, on 2000 in master only
  int arguments = 0;               // a function's (sys.dm_os_volume_stats(database_id, file_id)); 0: a view
  bool eachDatabase = false;       // each database has its own (sys.database_files)
};

class SystemObjects {
 public:
  // Throws std::logic_error for an object without rows or columns, or a name given twice.
  void add(SystemObject object);

  enum class Lookup {
    Found,
    NotSystem,    // no system object of that name: a table of the database's own
    Missing,      // one the release does not have (the statement fails with 208)
    Unsupported,  // a sys. object SQL Server has that the stand-in does not (50000)
  };
  struct Found {
    Lookup lookup = Lookup::NotSystem;
    const SystemObject* object = nullptr;
  };
  // What [schema.]name names in the release, read in `database` (the one the name gives, else
  // the current one).
  Found find(int year, std::string_view schema, std::string_view name, std::string_view database) const;

 private:
  std::vector<SystemObject> all_;
};

struct Registry {
  Statements statements;
  Procedures procedures;
  SystemObjects systemObjects;
};

}  // namespace standin::server
