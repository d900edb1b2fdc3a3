// What the server can do, as its rooms and the engine register it: the procedures a call by
// EXEC or by RPC reaches, each with the database it lives in (one table, so that both roads find
// a procedure the same way), and the system views and functions a query reads, each with its
// columns in every release and its rows. A new one is one entry beside its code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "standin/server/context.h"
#include "standin/server/result_table.h"
#include "standin/sql/results.h"

namespace standin::server {

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
  Procedures procedures;
  SystemObjects systemObjects;
};

}  // namespace standin::server
