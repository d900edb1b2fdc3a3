// The statements a session runs itself, one function each; dispatch hands every statement to
// its function (SELECT ... FROM, INSERT, UPDATE and DELETE go to SQLite through runPassthrough,
// the maintenance statements to the backup room).
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

#include "standin/backup/maintenance.h"
#include "standin/base/text.h"
#include "standin/engine/engine_internal.h"

namespace standin::engine {

using base::equalsIgnoreCase;
using base::toLowerAscii;
using sql::DateTime;
using sql::Expr;
using sql::isNull;
using sql::Message;
using sql::ProcedureDone;
using sql::ResultSet;
using sql::ReturnStatus;
using sql::ReturnValue;
using sql::Row;
using sql::Scope;
using sql::SqlError;
using sql::SqlType;
using sql::Statement;
using sql::StatementDone;
using sql::TypedValue;
using sql::valueToText;
using sql::Variable;

void Session::Impl::dispatch(Exec& x, const Statement& s) {
  using K = Statement::Kind;
  switch (s.kind) {
    case K::Block:
      return runBlock(x, s);
    case K::If:
      return runIf(x, s);
    case K::Declare:
      return runDeclare(x, s);
    case K::SetVariable:
      return runSetVariable(x, s);
    case K::SetOption:
      return runSetOption(x, s);
    case K::Select:
      return runSelectWithoutTable(x, s);
    case K::Passthrough:
      return runPassthrough(x, s);
    case K::Use:
      rowcount = 0;
      return useDatabase(x, evalText(x, *s.target));
    case K::Print:
      return runPrint(x, s);
    case K::Raiserror:
      return runRaiserror(x, s);
    case K::Waitfor:
      return runWaitfor(x, s);
    case K::Exec:
      return runExec(x, s);
    case K::ExecString:
      return runExecString(x, s);
    case K::BeginTran:
      rowcount = 0;
      return begin(x);
    case K::CommitTran:
      rowcount = 0;
      return commit(x);
    case K::RollbackTran:
      return rollback(x);
    case K::BackupDatabase:
    case K::BackupLog:
    case K::RestoreDatabase:
    case K::RestoreLog:
    case K::RestoreVerify:
    case K::RestoreHeaderOnly:
    case K::RestoreFileListOnly:
    case K::DbccShrinkDatabase:
    case K::Dbcc:
    case K::CreateDatabase:
    case K::DropDatabase:
    case K::AlterDatabase:
    case K::Checkpoint: {
      StatementContext c(*this, x);
      return backup::runMaintenance(c, s);
    }
    case K::Return:
      rowcount = 1;
      x.stop = true;
      return;
    case K::While:
      return runWhile(x, s);
    case K::TryCatch:
      return runTryCatch(x, s);
    case K::Break:
      x.jump = Exec::Jump::Break;
      return;
    case K::Continue:
      x.jump = Exec::Jump::Continue;
      return;
    case K::SelectAssign:
      return runSelectAssign(x, s);
    case K::Insert:
      return runInsert(x, s);
    case K::Unsupported:
      throw SqlError(50000, 16, "The stand-in server does not support this statement.");
  }
}

void Session::Impl::noteCommand(const Statement& s) {
  using K = Statement::Kind;
  std::string command;
  std::string status = "running";
  std::string wait;
  switch (s.kind) {
    case K::Block:
    case K::If:
    case K::While:
    case K::TryCatch:
    case K::ExecString:
    case K::Return:
    case K::Break:
    case K::Continue:
      return;  // the statements they run say what is running
    case K::Passthrough:
      if (s.command == StatementDone::Command::Other) {
        // CREATE TABLE, DROP INDEX, ...: the statement's first two words.
        command =
            s.tokens.size() > 1 ? base::toUpperAscii(s.tokens[0].text + " " + s.tokens[1].text) : "SELECT";
        break;
      }
      [[fallthrough]];
    case K::Select:
    case K::SelectAssign:
    case K::SetVariable:
    case K::Insert:
      command = s.command == StatementDone::Command::Insert   ? "INSERT"
                : s.command == StatementDone::Command::Update ? "UPDATE"
                : s.command == StatementDone::Command::Delete ? "DELETE"
                                                              : "SELECT";
      break;
    case K::Declare:
      command = "DECLARE";
      break;
    case K::SetOption:
      command = "SET OPTION ON";
      break;
    case K::Use:
      command = "USE";
      break;
    case K::Print:
      command = "PRINT";
      break;
    case K::Raiserror:
      command = "RAISERROR";
      break;
    case K::Waitfor:
      command = "WAITFOR";
      status = "suspended";
      wait = "WAITFOR";
      break;
    case K::Exec:
      command = "EXECUTE";
      break;
    case K::BeginTran:
      command = "BEGIN TRANSACTION";
      break;
    case K::CommitTran:
      command = "COMMIT TRANSACTION";
      break;
    case K::RollbackTran:
      command = "ROLLBACK TRANSACTION";
      break;
    case K::BackupDatabase:
      command = "BACKUP DATABASE";
      break;
    case K::BackupLog:
      command = "BACKUP LOG";
      break;
    case K::RestoreDatabase:
      command = "RESTORE DATABASE";
      break;
    case K::RestoreLog:
      command = "RESTORE LOG";
      break;
    // SQL Server names these in sixteen characters.
    case K::RestoreVerify:
      command = "RESTORE VERIFYON";
      break;
    case K::RestoreHeaderOnly:
      command = "RESTORE HEADERON";
      break;
    case K::RestoreFileListOnly:
      command = "RESTORE FILELIST";
      break;
    case K::DbccShrinkDatabase:
      command = "DbccFilesCompact";
      break;
    case K::Dbcc:
      command = s.name == "CHECKDB" ? "DBCC TABLE CHECK" : "DBCC";
      break;
    case K::CreateDatabase:
      command = "CREATE DATABASE";
      break;
    case K::DropDatabase:
      command = "DROP DATABASE";
      break;
    case K::AlterDatabase:
      command = "ALTER DATABASE";
      break;
    case K::Checkpoint:
      command = "CHECKPOINT";
      break;
    case K::Unsupported:
      command = "SELECT";
      break;
  }
  auto& requests = engine->requests;
  requests.setCommand(spid, std::move(command), std::move(status), std::move(wait));
  requests.setTransactions(spid, tranCount, tranCount > 0 ? engine->nextTransaction.load() : 0);
  if (auto d = engine->catalog.find(currentDb())) requests.setDatabase(spid, d->id);
}

void Session::Impl::runBlock(Exec& x, const Statement& s) {
  for (const auto& inner : s.body) {
    if (x.stop || x.jump != Exec::Jump::None || pendingCatch) break;
    runStatement(x, *inner);
  }
}

void Session::Impl::runWhile(Exec& x, const Statement& s) {
  // SQL Server bounds no loop; an attention ends one, so each turn looks for it.
  while (!x.stop && !pendingCatch) {
    checkCancel(x);
    if (!sql::truthy(eval(x, *s.condition))) break;
    runStatement(x, *s.body[0]);
    const auto jump = std::exchange(x.jump, Exec::Jump::None);
    if (jump == Exec::Jump::Break) break;
  }
}

void Session::Impl::runSelectAssign(Exec& x, const Statement& s) {
  const ResultSet rows = query(x, s.tokens);
  // Each row is assigned in turn: the variables keep the last row's values, or their own when
  // no row comes.
  for (const auto& row : rows.rows)
    for (std::size_t i = 0; i < s.items.size() && i < row.size(); ++i)
      assign(x, s.items[i].assignTo, TypedValue{rows.columns[i].type, row[i]}, s.line);
  rowcount = static_cast<std::int64_t>(rows.rows.size());
  done(x, false, rowcount, StatementDone::Command::Select);
}

void Session::Impl::runIf(Exec& x, const Statement& s) {
  if (sql::truthy(eval(x, *s.condition))) {
    runStatement(x, *s.body[0]);
  } else if (s.body.size() > 1) {
    runStatement(x, *s.body[1]);
  }
}

void Session::Impl::runDeclare(Exec& x, const Statement& s) {
  for (const auto& d : s.declarations) {
    if (x.vars.count(d.name))
      throw SqlError(134, 15,
                     "The variable name '" + d.name +
                         "' has already been declared. Variable names must be unique within a query batch or "
                         "stored procedure.");
    if (d.isTable) {
      declareTable(x, d);
      continue;
    }
    x.vars[d.name] = Variable{d.type, std::monostate{}, false, {}, {}, {}};
    if (d.init) assign(x, d.name, eval(x, *d.init), s.line);
  }
}

void Session::Impl::runSetVariable(Exec& x, const Statement& s) {
  auto it = x.vars.find(s.name);
  if (it == x.vars.end()) throw SqlError(137, 15, "Must declare the scalar variable \"" + s.name + "\".");
  TypedValue v = eval(x, *s.value);
  if (s.op != "=")
    v = sql::binaryOp(s.op.substr(0, 1), TypedValue{it->second.type, it->second.value}, v, s.line);
  assign(x, s.name, v, s.line);
  rowcount = 1;
}

void Session::Impl::runSetOption(Exec&, const Statement& s) {
  rowcount = 0;
  const bool on = !s.tokens.empty() && s.tokens[0].is("ON");
  if (s.name == "NOCOUNT") nocount = on;
  if (s.name == "IMPLICIT_TRANSACTIONS" && on)
    throw SqlError(50000, 16, "The stand-in server does not support SET IMPLICIT_TRANSACTIONS ON.");
  if (s.name == "DATEFORMAT") {
    const auto order = s.tokens.empty() ? std::nullopt : sql::dateOrderNamed(s.tokens[0].text);
    if (!order)
      throw SqlError(2741, 16,
                     "SET DATEFORMAT date order '" + (s.tokens.empty() ? std::string() : s.tokens[0].text) +
                         "' is invalid.");
    dateOrder = *order;
    sql::DateOrderScope::set(*order);
  }
  if (s.name == "LANGUAGE") {
    dateOrder = sql::DateOrder::Mdy;  // us_english's
    sql::DateOrderScope::set(dateOrder);
  }
  if (s.name == "LANGUAGE" && !s.tokens.empty() && !equalsIgnoreCase(s.tokens[0].text, "us_english") &&
      !equalsIgnoreCase(s.tokens[0].text, "english"))
    throw SqlError(
        2732, 16,
        "Error number 2732: the language '" + s.tokens[0].text + "' is not installed on the stand-in.");
}

void Session::Impl::runSelectWithoutTable(Exec& x, const Statement& s) {
  const bool pass = !s.condition || sql::truthy(eval(x, *s.condition));
  if (!s.items.empty() && !s.items[0].assignTo.empty()) {
    if (pass) {
      for (const auto& item : s.items) assign(x, item.assignTo, eval(x, *item.expr), s.line);
    }
    rowcount = pass ? 1 : 0;
    done(x, false, rowcount, StatementDone::Command::Select);
    return;
  }
  ResultSet rs;
  Row row;
  for (const auto& item : s.items) {
    TypedValue v = eval(x, *item.expr);
    sql::Column c;
    c.name = item.hasAlias ? item.alias : std::string();
    c.type = v.type;
    if (c.type.isString() && c.type.length == 0) c.type.length = 1;
    c.nullable = true;
    rs.columns.push_back(c);
    row.push_back(v.value);
  }
  if (pass) rs.rows.push_back(std::move(row));
  rowcount = static_cast<std::int64_t>(rs.rows.size());
  x.out.items.push_back(std::move(rs));
  done(x, false, rowcount, StatementDone::Command::Select);
}

void Session::Impl::runPrint(Exec& x, const Statement& s) {
  const TypedValue v = eval(x, *s.value);
  message(
      x, 0, 0,
      isNull(v.value) ? std::string() : valueToText(sql::convert(v, SqlType::nvarchar(-1), 0, s.line).value));
}

void Session::Impl::runRaiserror(Exec& x, const Statement& s) {
  const std::string format = evalText(x, *s.values[0]);
  const TypedValue sev = sql::convert(eval(x, *s.values[1]), SqlType::integer(), 0, s.line);
  const TypedValue st = sql::convert(eval(x, *s.values[2]), SqlType::integer(), 0, s.line);
  int severity = isNull(sev.value) ? 16 : static_cast<int>(std::get<std::int64_t>(sev.value));
  severity = std::clamp(severity, 0, 18);
  const int state = isNull(st.value) ? 1 : static_cast<int>(std::get<std::int64_t>(st.value));
  // printf-style substitution of %s, %d, %i, %u with the remaining arguments
  std::string text;
  std::size_t argIndex = 3;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size()) {
      std::size_t j = i + 1;
      while (j < format.size() && std::strchr("-+ #0123456789.lh", format[j])) ++j;
      if (j < format.size() && std::strchr("sdiuxXo", format[j])) {
        if (argIndex < s.values.size())
          text += valueToText(eval(x, *s.values[argIndex++]).value);
        else
          text += "(null)";
        i = j;
        continue;
      }
      if (format[i + 1] == '%') {
        text.push_back('%');
        ++i;
        continue;
      }
    }
    text.push_back(format[i]);
  }
  message(x, 50000, severity == 10 ? 0 : severity, text, state);
  if (severity > 10) {
    done(x, true);
    lastError = 50000;
  }
}

void Session::Impl::runWaitfor(Exec& x, const Statement& s) {
  const std::string text = evalText(x, *s.value);
  int h = 0, m = 0, sec = 0, ms = 0;
  const int n = std::sscanf(text.c_str(), "%d:%d:%d.%d", &h, &m, &sec, &ms);
  if (n < 2 || h < 0 || m < 0 || m > 59 || sec < 0 || sec > 59)
    throw SqlError(148, 15, "Incorrect time syntax in time string '" + text + "' used with WAITFOR.");
  auto delay = std::chrono::milliseconds(((h * 60LL + m) * 60LL + sec) * 1000LL + ms);
  if (s.waitForTime) {
    const DateTime now = engine->now();
    const std::int64_t nowMs = (static_cast<std::int64_t>(now.ticks) * 1000) / 300;
    std::int64_t target = ((h * 60LL + m) * 60LL + sec) * 1000LL;
    if (target < nowMs) target += 24LL * 3600 * 1000;
    delay = std::chrono::milliseconds(target - nowMs);
  }
  const auto until = std::chrono::steady_clock::now() + delay;
  while (std::chrono::steady_clock::now() < until) {
    checkCancel(x);
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
        std::chrono::milliseconds(20), until - std::chrono::steady_clock::now()));
  }
}

void Session::Impl::runExec(Exec& x, const Statement& s) {
  std::vector<ProcArg> args;
  for (const auto& a : s.args) {
    ProcArg pa;
    pa.name = a.name;
    pa.output = a.output;
    pa.isDefault = a.isDefault;
    if (a.value) {
      if (a.output && a.value->kind == Expr::Kind::Variable) {
        auto it = x.vars.find(a.value->name);
        if (it == x.vars.end())
          throw SqlError(137, 15, "Must declare the scalar variable \"" + a.value->name + "\".");
        pa.value = TypedValue{it->second.type, it->second.value};
      } else {
        pa.value = eval(x, *a.value);
      }
    }
    args.push_back(std::move(pa));
  }
  const std::string procName = toLowerAscii(s.name);
  const auto [procedure, reached] = findProcedure(procName, s.op);
  // master's extended procedures named from another database (msdb..xp_dirtree) are not there.
  if (procedure && !reached && procedure->database == "master")
    throw SqlError(2812, 16, "Could not find stored procedure '" + s.name + "'.");
  // A call into another database reaches only msdb's procedures there.
  if (!(reached && procedure->database == "msdb") && !s.op.empty() && !equalsIgnoreCase(s.op, currentDb()) &&
      !equalsIgnoreCase(s.op, "master"))
    throw SqlError(50000, 16, "The stand-in server runs procedures only in the current database.");
  if (!reached) throw SqlError(2812, 16, "Could not find stored procedure '" + procName + "'.");
  std::vector<ReturnValue> outputs;
  const bool wasInProc = x.inProcedure;
  x.inProcedure = true;
  const std::size_t before = x.out.items.size();
  int status = 0;
  try {
    StatementContext c(*this, x);
    status = procedure->call(c, args, outputs);
  } catch (...) {
    x.inProcedure = wasInProc;
    throw;
  }
  x.inProcedure = wasInProc;
  bool failed = false;
  for (std::size_t i = before; i < x.out.items.size(); ++i)
    if (const auto* m = std::get_if<Message>(&x.out.items[i]); m && m->isError()) failed = true;
  // Output parameters go back into the caller's variables.
  for (std::size_t i = 0; i < s.args.size(); ++i) {
    if (!s.args[i].output || !s.args[i].value || s.args[i].value->kind != Expr::Kind::Variable) continue;
    assign(x, s.args[i].value->name, args[i].value, s.line);
  }
  if (!s.returnVariable.empty())
    assign(x, s.returnVariable, TypedValue{SqlType::integer(), std::int64_t{status}}, s.line);
  x.out.items.push_back(ReturnStatus{status});
  x.out.items.push_back(ProcedureDone{failed});
}

void Session::Impl::runExecString(Exec& x, const Statement& s) {
  const std::string text = evalText(x, *s.value);
  Scope inner;
  Exec nested{x.out, x.cancel, inner, x.inProcedure, text};
  runBatchText(nested, text);
}

}  // namespace standin::engine
