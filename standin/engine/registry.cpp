// The server's registry: the engine's own entries and every room's. Each entry is one line
// beside its code's name; what a call or a statement finds, it finds here.
#include "standin/agent/room.h"
#include "standin/backup/room.h"
#include "standin/base/text.h"
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

// A statement of the language run by its session's function.
template <typename Payload, void (Session::Impl::*Run)(Session::Impl::Exec&, const Payload&)>
void inSession(server::Context& c, const Payload& s) {
  (StatementContext::session(c).*Run)(StatementContext::exec(c), s);
}

// What sys.dm_exec_requests calls a statement the storage engine runs: its command, or the first
// two words of a definition (CREATE TABLE, DROP INDEX).
std::optional<server::RunningCommand> passthroughCommand(const sql::Passthrough& s) {
  using C = sql::StatementDone::Command;
  std::string command = s.command == C::Insert   ? "INSERT"
                        : s.command == C::Update ? "UPDATE"
                        : s.command == C::Delete ? "DELETE"
                                                 : "SELECT";
  if (s.command == C::Other && s.tokens.size() > 1)
    command = base::toUpperAscii(s.tokens[0].text + " " + s.tokens[1].text);
  return server::RunningCommand{command, "running", {}};
}

void addStatements(server::Statements& statements) {
  using server::named;
  using server::StatementKind;
  using I = Session::Impl;
  statements.add(StatementKind<sql::Block>{.readings = {{"BEGIN", "", sql::readBlock}},
                                           .run = inSession<sql::Block, &I::runBlock>,
                                           .ownText = false,
                                           .keepsError = true});
  statements.add(StatementKind<sql::TryCatch>{
      .readings = {{"BEGIN", "TRY", sql::readTryCatch}, {"BEGIN", "CATCH", sql::readTryCatch}},
      .run = inSession<sql::TryCatch, &I::runTryCatch>,
      .ownText = false});
  for (const char* what : {"DISTRIBUTED", "CONVERSATION", "DIALOG"})
    statements.addReading({"BEGIN", what, sql::refuseBegin});
  statements.add(StatementKind<sql::If>{
      .readings = {{"IF", "", sql::readIf}}, .run = inSession<sql::If, &I::runIf>, .keepsError = true});
  statements.add(StatementKind<sql::While>{
      .readings = {{"WHILE", "", sql::readWhile}}, .run = inSession<sql::While, &I::runWhile>, .keepsError = true});
  statements.add(
      StatementKind<sql::Break>{.readings = {{"BREAK", "", sql::readBreak}}, .run = inSession<sql::Break, &I::runBreak>});
  statements.add(StatementKind<sql::Continue>{.readings = {{"CONTINUE", "", sql::readContinue}},
                                              .run = inSession<sql::Continue, &I::runContinue>});
  statements.add(StatementKind<sql::Return>{.readings = {{"RETURN", "", sql::readReturn}},
                                            .run = inSession<sql::Return, &I::runReturn>});
  statements.add(StatementKind<sql::Declare>{.readings = {{"DECLARE", "", sql::readDeclare}},
                                             .run = inSession<sql::Declare, &I::runDeclare>,
                                             .command = named("DECLARE")});
  statements.add(StatementKind<sql::SetVariable>{.readings = {{"SET", "", sql::readSet}},
                                                 .run = inSession<sql::SetVariable, &I::runSetVariable>,
                                                 .command = named("SELECT")});
  statements.add(StatementKind<sql::SetOption>{.run = inSession<sql::SetOption, &I::runSetOption>,
                                               .command = named("SET OPTION ON")});
  statements.add(StatementKind<sql::SelectWithoutTable>{
      .readings = {{"SELECT", "", sql::readSelect}},
      .run = inSession<sql::SelectWithoutTable, &I::runSelectWithoutTable>,
      .command = named("SELECT")});
  statements.add(StatementKind<sql::SelectAssign>{.run = inSession<sql::SelectAssign, &I::runSelectAssign>,
                                                  .command = named("SELECT")});
  statements.add(StatementKind<sql::Passthrough>{.readings = {{"UPDATE", "", sql::readUpdateOrDelete},
                                                              {"DELETE", "", sql::readUpdateOrDelete},
                                                              {"TRUNCATE", "", sql::readTruncate},
                                                              {"CREATE", "", sql::readCreate},
                                                              {"DROP", "", sql::readDrop},
                                                              {"ALTER", "", sql::readAlter}},
                                                 .run = inSession<sql::Passthrough, &I::runPassthrough>,
                                                 .command = passthroughCommand});
  statements.add(StatementKind<sql::Insert>{.readings = {{"INSERT", "", sql::readInsert}},
                                            .run = inSession<sql::Insert, &I::runInsert>,
                                            .command = named("INSERT")});
  statements.add(StatementKind<sql::Exec>{.readings = {{"EXEC", "", sql::readExec}, {"EXECUTE", "", sql::readExec}},
                                          .run = inSession<sql::Exec, &I::runExec>,
                                          .command = named("EXECUTE")});
  statements.add(StatementKind<sql::ExecString>{.run = inSession<sql::ExecString, &I::runExecString>});
  statements.add(StatementKind<sql::Use>{
      .readings = {{"USE", "", sql::readUse}}, .run = inSession<sql::Use, &I::runUse>, .command = named("USE")});
  statements.add(StatementKind<sql::Print>{.readings = {{"PRINT", "", sql::readPrint}},
                                           .run = inSession<sql::Print, &I::runPrint>,
                                           .command = named("PRINT")});
  statements.add(StatementKind<sql::Raiserror>{.readings = {{"RAISERROR", "", sql::readRaiserror}},
                                               .run = inSession<sql::Raiserror, &I::runRaiserror>,
                                               .command = named("RAISERROR")});
  statements.add(StatementKind<sql::Waitfor>{
      .readings = {{"WAITFOR", "", sql::readWaitfor}},
      .run = inSession<sql::Waitfor, &I::runWaitfor>,
      .command = [](const sql::Waitfor&) -> std::optional<server::RunningCommand> {
        return server::RunningCommand{"WAITFOR", "suspended", "WAITFOR"};
      }});
  statements.add(StatementKind<sql::BeginTransaction>{
      .readings = {{"BEGIN", "TRAN", sql::readBeginTransaction}, {"BEGIN", "TRANSACTION", sql::readBeginTransaction}},
      .run = inSession<sql::BeginTransaction, &I::runBeginTransaction>,
      .command = named("BEGIN TRANSACTION")});
  statements.add(StatementKind<sql::CommitTransaction>{.readings = {{"COMMIT", "", sql::readCommit}},
                                                       .run = inSession<sql::CommitTransaction, &I::runCommitTransaction>,
                                                       .command = named("COMMIT TRANSACTION")});
  statements.add(StatementKind<sql::RollbackTransaction>{
      .readings = {{"ROLLBACK", "", sql::readRollback}},
      .run = inSession<sql::RollbackTransaction, &I::runRollbackTransaction>,
      .command = named("ROLLBACK TRANSACTION")});
  // SQL Server's statements the stand-in refuses rather than half does.
  for (const char* word : {"SAVE", "GOTO", "MERGE", "OPEN", "CLOSE", "FETCH", "DEALLOCATE", "GRANT", "REVOKE", "DENY",
                           "KILL"})
    statements.addReading({word, "", sql::refuseStatement});
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
  addStatements(registry.statements);
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

const sql::Grammar& statementGrammar() { return registry().statements.grammar(); }

}  // namespace standin::engine
