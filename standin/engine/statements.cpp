// The statements of the language a session runs itself, one function each (registry.cpp
// registers them; SELECT ... FROM, INSERT, UPDATE and DELETE go to SQLite through
// runPassthrough); dispatch runs any statement by its kind's code, the rooms' too.
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

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
using sql::StatementDone;
using sql::TypedValue;
using sql::valueToText;
using sql::Variable;

void Session::Impl::dispatch(Exec& x, const sql::Statement& s) {
  StatementContext c(*this, x);
  registry().statements.kindOf(s).run(c, s);
}

void Session::Impl::noteCommand(const server::Statements::Kind& kind, const sql::Statement& s) {
  // A block, IF, WHILE, ...: the statements they run say what is running.
  const auto running = kind.command ? kind.command(s) : std::nullopt;
  if (!running) return;
  auto& requests = engine->requests;
  requests.setCommand(spid, running->command, running->status, running->waitType);
  requests.setTransactions(spid, tranCount, tranCount > 0 ? engine->nextTransaction.load() : 0);
  if (auto d = engine->catalog.find(currentDb())) requests.setDatabase(spid, d->id);
}

void Session::Impl::runBlock(Exec& x, const sql::Block& s) {
  for (const auto& inner : s.body) {
    if (x.stop || x.jump != Exec::Jump::None || pendingCatch) break;
    runStatement(x, *inner);
  }
}

void Session::Impl::runWhile(Exec& x, const sql::While& s) {
  // SQL Server bounds no loop; an attention ends one, so each turn looks for it.
  while (!x.stop && !pendingCatch) {
    checkCancel(x);
    if (!sql::truthy(eval(x, *s.condition))) break;
    runStatement(x, *s.body);
    const auto jump = std::exchange(x.jump, Exec::Jump::None);
    if (jump == Exec::Jump::Break) break;
  }
}

void Session::Impl::runSelectAssign(Exec& x, const sql::SelectAssign& s) {
  const ResultSet rows = query(x, s.tokens);
  // Each row is assigned in turn: the variables keep the last row's values, or their own when
  // no row comes.
  for (const auto& row : rows.rows)
    for (std::size_t i = 0; i < s.items.size() && i < row.size(); ++i)
      assign(x, s.items[i].assignTo, TypedValue{rows.columns[i].type, row[i]}, s.line);
  rowcount = static_cast<std::int64_t>(rows.rows.size());
  done(x, false, rowcount, StatementDone::Command::Select);
}

void Session::Impl::runIf(Exec& x, const sql::If& s) {
  if (sql::truthy(eval(x, *s.condition))) {
    runStatement(x, *s.then);
  } else if (s.otherwise) {
    runStatement(x, *s.otherwise);
  }
}

void Session::Impl::runDeclare(Exec& x, const sql::Declare& s) {
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

void Session::Impl::runSetVariable(Exec& x, const sql::SetVariable& s) {
  auto it = x.vars.find(s.name);
  if (it == x.vars.end()) throw SqlError(137, 15, "Must declare the scalar variable \"" + s.name + "\".");
  TypedValue v = eval(x, *s.value);
  if (s.op != "=")
    v = sql::binaryOp(s.op.substr(0, 1), TypedValue{it->second.type, it->second.value}, v, s.line);
  assign(x, s.name, v, s.line);
  rowcount = 1;
}

void Session::Impl::runSetOption(Exec&, const sql::SetOption& s) {
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

void Session::Impl::runSelectWithoutTable(Exec& x, const sql::SelectWithoutTable& s) {
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

void Session::Impl::runPrint(Exec& x, const sql::Print& s) {
  const TypedValue v = eval(x, *s.value);
  message(
      x, 0, 0,
      isNull(v.value) ? std::string() : valueToText(sql::convert(v, SqlType::nvarchar(-1), 0, s.line).value));
}

void Session::Impl::runRaiserror(Exec& x, const sql::Raiserror& s) {
  const std::string format = evalText(x, *s.arguments[0]);
  const TypedValue sev = sql::convert(eval(x, *s.arguments[1]), SqlType::integer(), 0, s.line);
  const TypedValue st = sql::convert(eval(x, *s.arguments[2]), SqlType::integer(), 0, s.line);
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
        if (argIndex < s.arguments.size())
          text += valueToText(eval(x, *s.arguments[argIndex++]).value);
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

void Session::Impl::runWaitfor(Exec& x, const sql::Waitfor& s) {
  const std::string text = evalText(x, *s.value);
  int h = 0, m = 0, sec = 0, ms = 0;
  const int n = std::sscanf(text.c_str(), "%d:%d:%d.%d", &h, &m, &sec, &ms);
  if (n < 2 || h < 0 || m < 0 || m > 59 || sec < 0 || sec > 59)
    throw SqlError(148, 15, "Incorrect time syntax in time string '" + text + "' used with WAITFOR.");
  auto delay = std::chrono::milliseconds(((h * 60LL + m) * 60LL + sec) * 1000LL + ms);
  if (s.time) {
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

void Session::Impl::runExec(Exec& x, const sql::Exec& s) {
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
  const auto [procedure, reached] = findProcedure(procName, s.database);
  // master's extended procedures named from another database (msdb..xp_dirtree) are not there.
  if (procedure && !reached && procedure->database == "master")
    throw SqlError(2812, 16, "Could not find stored procedure '" + s.name + "'.");
  // A call into another database reaches only msdb's procedures there.
  if (!(reached && procedure->database == "msdb") && !s.database.empty() && !equalsIgnoreCase(s.database, currentDb()) &&
      !equalsIgnoreCase(s.database, "master"))
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

void Session::Impl::runUse(Exec& x, const sql::Use& s) {
  rowcount = 0;
  useDatabase(x, evalText(x, *s.database));
}

void Session::Impl::runBeginTransaction(Exec& x, const sql::BeginTransaction&) {
  rowcount = 0;
  begin(x);
}

void Session::Impl::runCommitTransaction(Exec& x, const sql::CommitTransaction&) {
  rowcount = 0;
  commit(x);
}

void Session::Impl::runRollbackTransaction(Exec& x, const sql::RollbackTransaction&) { rollback(x); }

void Session::Impl::runReturn(Exec& x, const sql::Return&) {
  rowcount = 1;
  x.stop = true;
}

void Session::Impl::runBreak(Exec& x, const sql::Break&) { x.jump = Exec::Jump::Break; }

void Session::Impl::runContinue(Exec& x, const sql::Continue&) { x.jump = Exec::Jump::Continue; }

void Session::Impl::runExecString(Exec& x, const sql::ExecString& s) {
  const std::string text = evalText(x, *s.value);
  Scope inner;
  Exec nested{x.out, x.cancel, inner, x.inProcedure, text};
  runBatchText(nested, text);
}

}  // namespace standin::engine
