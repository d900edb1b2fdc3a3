// The server's registry: the engine's own entries and every room's. Each entry is one line
// beside its code's name; what a call or a statement finds, it finds here.
#include "standin/agent/room.h"
#include "standin/backup/room.h"
#include "standin/engine/engine_internal.h"
#include "standin/system/room.h"

namespace standin::engine {

namespace {

using ProcedureOfSession = int (Session::Impl::*)(Session::Impl::Exec&, std::vector<server::ProcArg>&,
                                                  std::vector<sql::ReturnValue>&);

// An engine procedure run in the session the context stands for.
template <ProcedureOfSession Procedure>
int inSession(server::Context& c, std::vector<server::ProcArg>& args,
              std::vector<sql::ReturnValue>& outputs) {
  return (StatementContext::session(c).*Procedure)(StatementContext::exec(c), args, outputs);
}

void addProcedures(server::Procedures& procedures) {
  // master's system procedures, which every database sees.
  procedures.add({"sp_tables", "master", true, 2000, inSession<&Session::Impl::spTables>});
  procedures.add({"sp_tableswc", "master", true, 2000, inSession<&Session::Impl::spTables>});
  procedures.add({"sp_databases", "master", true, 2000, inSession<&Session::Impl::spDatabases>});
  procedures.add({"sp_executesql", "master", true, 2000, inSession<&Session::Impl::spExecuteSql>});
  procedures.add({"sp_prepare", "master", true, 2000, inSession<&Session::Impl::spPrepare>});
  procedures.add({"sp_prepexec", "master", true, 2000, inSession<&Session::Impl::spPrepExec>});
  procedures.add({"sp_execute", "master", true, 2000, inSession<&Session::Impl::spExecute>});
  procedures.add({"sp_unprepare", "master", true, 2000, inSession<&Session::Impl::spUnprepare>});
}

server::Registry everything() {
  server::Registry registry;
  addProcedures(registry.procedures);
  backup::addTo(registry);
  agent::addTo(registry);
  system::addTo(registry);
  return registry;
}

}  // namespace

const server::Registry& registry() {
  static const server::Registry all = everything();
  return all;
}

}  // namespace standin::engine
