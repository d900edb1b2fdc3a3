// The system procedures that clients call: catalog enumeration and the prepared-statement
// procedures that ODBC drivers use.
#include <algorithm>

#include "standin/base/text.h"
#include "standin/engine/engine_internal.h"
#include "standin/sql/parser.h"

namespace standin::engine {

using base::compareIgnoreCase;
using base::equalsIgnoreCase;
using base::likeMatch;
using base::toLowerAscii;
using base::toUpperAscii;
using sql::BatchResult;
using sql::Column;
using sql::isNull;
using sql::Message;
using sql::ProcedureDone;
using sql::ResultSet;
using sql::ReturnStatus;
using sql::ReturnValue;
using sql::Row;
using sql::Scope;
using sql::SqlError;
using sql::SqlErrors;
using sql::SqlType;
using sql::StatementDone;
using sql::TypedValue;
using sql::Value;
using sql::Variable;

namespace {

const Session::CancelCheck kNever = [] { return false; };

// Parameter by name, else by position among the call's parameters.
const Session::Impl::ProcArg* argument(const std::vector<Session::Impl::ProcArg>& args, const char* name,
                                       std::size_t position) {
  for (const auto& a : args)
    if (!a.name.empty() && equalsIgnoreCase(a.name, name)) return &a;
  if (position < args.size() && args[position].name.empty()) return &args[position];
  return nullptr;
}

std::optional<std::string> textOf(const Session::Impl::ProcArg* a) {
  if (!a || a->isDefault || isNull(a->value.value)) return std::nullopt;
  return std::get<std::string>(sql::convert(a->value, SqlType::nvarchar(-1), -1, 1).value);
}

std::optional<std::int64_t> intOf(const Session::Impl::ProcArg* a) {
  if (!a || a->isDefault || isNull(a->value.value)) return std::nullopt;
  return std::get<std::int64_t>(sql::convert(a->value, SqlType::integer(), -1, 1).value);
}

// The database part of "db.schema.proc" or "db..proc"; empty when the name has none.
std::string databaseOf(std::string_view name) {
  std::vector<std::string> parts(1);
  for (const char c : name) {
    if (c == '.') {
      parts.emplace_back();
    } else {
      parts.back().push_back(c);
    }
  }
  if (parts.size() < 3) return {};
  std::string db = parts[parts.size() - 3];
  if (db.size() >= 2 && db.front() == '[' && db.back() == ']') db = db.substr(1, db.size() - 2);
  return db;
}

std::string normaliseName(std::string_view name) {
  std::string n(name);
  if (const auto dot = n.rfind('.'); dot != std::string::npos) n = n.substr(dot + 1);
  if (n.size() >= 2 && n.front() == '[' && n.back() == ']') n = n.substr(1, n.size() - 2);
  return toLowerAscii(n);
}

// "'TABLE','VIEW'" -> {"TABLE", "VIEW"}
std::vector<std::string> typeList(const std::string& text) {
  std::vector<std::string> out;
  std::string cur;
  bool inQuote = false;
  for (const char c : text) {
    if (c == '\'') {
      if (inQuote) {
        out.push_back(toUpperAscii(cur));
        cur.clear();
      }
      inQuote = !inQuote;
    } else if (inQuote) {
      cur.push_back(c);
    }
  }
  if (out.empty() && !text.empty()) {
    // also accept an unquoted comma-separated list
    std::string item;
    for (const char c : text + ",") {
      if (c == ',') {
        while (!item.empty() && item.front() == ' ') item.erase(0, 1);
        while (!item.empty() && item.back() == ' ') item.pop_back();
        if (!item.empty()) out.push_back(toUpperAscii(item));
        item.clear();
      } else {
        item.push_back(c);
      }
    }
  }
  return out;
}

}  // namespace

// sp_tables and sp_tableswc: the catalog list, or the tables of the current database.
int Session::Impl::spTables(Exec& x, std::vector<ProcArg>& args, std::vector<ReturnValue>&) {
  const SqlType sysname = SqlType::nvarchar(128);
  const std::string tableName = textOf(argument(args, "@table_name", 0)).value_or("%");
  const std::string owner = textOf(argument(args, "@table_owner", 1)).value_or("%");
  const std::string qualifier = textOf(argument(args, "@table_qualifier", 2)).value_or("");
  const std::string types = textOf(argument(args, "@table_type", 3)).value_or("");
  ResultSet rs;
  rs.columns = {Column{"TABLE_QUALIFIER", sysname, true}, Column{"TABLE_OWNER", sysname, true},
                Column{"TABLE_NAME", sysname, true}, Column{"TABLE_TYPE", SqlType::varchar(32), true},
                Column{"REMARKS", SqlType::varchar(254), true}};
  if (qualifier == "%" && owner.empty() && tableName.empty()) {
    // The ODBC special case: one row per database, every other column NULL.
    for (const auto& d : engine->catalog.databases())
      rs.rows.push_back(Row{d.name, Value{}, Value{}, Value{}, Value{}});
  } else {
    if (!qualifier.empty() && qualifier != "%" && !equalsIgnoreCase(qualifier, currentDb()))
      throw SqlError(
          15250, 16,
          "The database name component of the object qualifier must be the name of the current database.");
    const auto wanted = typeList(types);
    auto typeWanted = [&](const std::string& t) {
      return wanted.empty() || std::find(wanted.begin(), wanted.end(), t) != wanted.end();
    };
    struct Entry {
      std::string type, name;
    };
    std::vector<Entry> entries;
    storage::Statement st(
        connection().get(),
        "SELECT type, name FROM sqlite_master WHERE type IN ('table', 'view') AND name NOT LIKE "
        "'sqlite_%'");
    while (st.step()) entries.push_back(Entry{st.text(0) == "view" ? "VIEW" : "TABLE", st.text(1)});
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
      if (a.type != b.type) return a.type < b.type;
      return compareIgnoreCase(a.name, b.name) < 0;
    });
    for (const auto& e : entries) {
      if (!likeMatch(e.name, tableName.empty() ? "%" : tableName)) continue;
      if (!likeMatch("dbo", owner.empty() ? "%" : owner)) continue;
      if (!typeWanted(e.type)) continue;
      rs.rows.push_back(Row{currentDb(), std::string("dbo"), e.name, e.type, Value{}});
    }
  }
  const auto n = static_cast<std::int64_t>(rs.rows.size());
  x.out.items.push_back(std::move(rs));
  done(x, false, n, StatementDone::Command::Select);
  return 0;
}

int Session::Impl::spDatabases(Exec& x, std::vector<ProcArg>&, std::vector<ReturnValue>&) {
  const SqlType sysname = SqlType::nvarchar(128);
  ResultSet rs;
  rs.columns = {Column{"DATABASE_NAME", sysname, true}, Column{"DATABASE_SIZE", SqlType::integer(), true},
                Column{"REMARKS", SqlType::varchar(254), true}};
  for (const auto& d : engine->catalog.databases()) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(d.file, ec);
    rs.rows.push_back(Row{d.name, static_cast<std::int64_t>(ec ? 0 : (size + 1023) / 1024), Value{}});
  }
  const auto n = static_cast<std::int64_t>(rs.rows.size());
  x.out.items.push_back(std::move(rs));
  done(x, false, n, StatementDone::Command::Select);
  return 0;
}

int Session::Impl::spExecuteSql(Exec& x, std::vector<ProcArg>& args, std::vector<ReturnValue>& outputs) {
  // SQL Server takes the statement and the declarations by position whatever their names
  // (@stmt and @params, or @statement and @params as some clients send them).
  const auto stmt = args.empty() ? std::nullopt : textOf(&args[0]);
  if (!stmt)
    throw SqlError(
        201, 16,
        "Procedure or function 'sp_executesql' expects parameter '@statement', which was not supplied.");
  const std::string decls = args.size() > 1 ? textOf(&args[1]).value_or("") : std::string();
  runWithParameters(x, *stmt, decls, args, 2, outputs);
  return 0;
}

// sp_prepare, and sp_prepexec, which runs the statement at once.
int Session::Impl::prepare(Exec& x, std::vector<ProcArg>& args, std::vector<ReturnValue>& outputs,
                           const std::string& name, bool execute) {
  const std::string decls = args.size() > 1 ? textOf(&args[1]).value_or("") : std::string();
  const auto stmt = args.size() > 2 ? textOf(&args[2]) : std::nullopt;
  if (!stmt)
    throw SqlError(8144, 16,
                   "Procedure or function " + name + " expects parameter '@stmt', which was not supplied.");
  const int handle = nextHandle++;
  prepared[handle] = Prepared{decls, *stmt};
  outputs.push_back(
      ReturnValue{0, args.empty() ? std::string() : args[0].name, SqlType::integer(), std::int64_t{handle}});
  if (!args.empty()) args[0].value = TypedValue{SqlType::integer(), std::int64_t{handle}};
  if (execute) runWithParameters(x, *stmt, decls, args, 3, outputs);
  return 0;
}

int Session::Impl::spPrepare(Exec& x, std::vector<ProcArg>& args, std::vector<ReturnValue>& outputs) {
  return prepare(x, args, outputs, "sp_prepare", false);
}

int Session::Impl::spPrepExec(Exec& x, std::vector<ProcArg>& args, std::vector<ReturnValue>& outputs) {
  return prepare(x, args, outputs, "sp_prepexec", true);
}

int Session::Impl::spExecute(Exec& x, std::vector<ProcArg>& args, std::vector<ReturnValue>& outputs) {
  const auto handle = args.empty() ? std::nullopt : intOf(&args[0]);
  const auto it = handle ? prepared.find(static_cast<int>(*handle)) : prepared.end();
  if (it == prepared.end())
    throw SqlError(
        8179, 16,
        "Could not find prepared statement with handle " + std::to_string(handle.value_or(0)) + ".");
  const Prepared p = it->second;
  runWithParameters(x, p.statement, p.declarations, args, 1, outputs);
  return 0;
}

int Session::Impl::spUnprepare(Exec&, std::vector<ProcArg>& args, std::vector<ReturnValue>&) {
  const auto handle = args.empty() ? std::nullopt : intOf(&args[0]);
  if (handle) prepared.erase(static_cast<int>(*handle));
  return 0;
}

void Session::Impl::runWithParameters(Exec& x, const std::string& statement, const std::string& declarations,
                                      std::vector<ProcArg>& args, std::size_t firstValue,
                                      std::vector<ReturnValue>& outputs) {
  std::vector<sql::Declaration> decls;
  if (!declarations.empty()) decls = sql::parseDeclarationList(sql::tokenize(declarations));
  Scope scope;
  std::vector<int> argForDecl(decls.size(), -1);
  std::size_t positional = 0;
  for (std::size_t i = firstValue; i < args.size(); ++i) {
    int target = -1;
    if (!args[i].name.empty()) {
      for (std::size_t d = 0; d < decls.size(); ++d)
        if (equalsIgnoreCase(decls[d].name, args[i].name)) target = static_cast<int>(d);
    } else if (positional < decls.size()) {
      target = static_cast<int>(positional);
    }
    ++positional;
    if (target < 0)
      throw SqlError(8145, 16, args[i].name + " is not a parameter for procedure sp_executesql.");
    argForDecl[static_cast<std::size_t>(target)] = static_cast<int>(i);
  }
  for (std::size_t d = 0; d < decls.size(); ++d) {
    Variable v;
    v.type = decls[d].type;
    if (argForDecl[d] >= 0) {
      const auto& a = args[static_cast<std::size_t>(argForDecl[d])];
      if (!a.isDefault) v.value = sql::convert(a.value, decls[d].type, -1, 1).value;
    }
    scope[decls[d].name] = v;
  }
  Exec inner{x.out, x.cancel ? x.cancel : kNever, scope, true};
  runBatchText(inner, statement);
  for (std::size_t d = 0; d < decls.size(); ++d) {
    if (argForDecl[d] < 0) continue;
    auto& a = args[static_cast<std::size_t>(argForDecl[d])];
    if (!a.output) continue;
    const auto& v = scope[decls[d].name];
    a.value = TypedValue{v.type, v.value};
    outputs.push_back(ReturnValue{argForDecl[d], a.name, v.type, v.value});
  }
}

namespace {

// A procedure call as a recording shows it: the name, then each parameter with its type.
std::string recordedCall(std::string_view name, const std::vector<Session::Parameter>& params) {
  std::string text(name);
  for (const auto& p : params)
    text += "\n" + (p.name.empty() ? std::string("(positional)") : p.name) + " " + p.type.name() + " = " +
            recordedValue(p.value) + (p.output ? " output" : "");
  return text;
}

BatchResult runProcedureCall(Session::Impl& session, std::string_view name,
                             std::vector<Session::Parameter> params, const Session::CancelCheck& cancel) {
  const sql::DateOrderScope order(session.dateOrder);
  const Session::Impl::RequestScope request(session, name);
  session.engine->requests.setCommand(session.spid, "EXECUTE");
  BatchResult out;
  Scope vars;
  Session::Impl::Exec x{out, cancel ? cancel : kNever, vars, true};
  std::vector<Session::Impl::ProcArg> args;
  for (auto& p : params) {
    Session::Impl::ProcArg a;
    a.name = toLowerAscii(p.name);
    a.value = TypedValue{p.type, std::move(p.value)};
    a.output = p.output;
    args.push_back(std::move(a));
  }
  std::vector<ReturnValue> outputs;
  int status = 0;
  try {
    const auto [procedure, reached] = session.findProcedure(normaliseName(name), databaseOf(name));
    if (!reached) throw SqlError(2812, 16, "Could not find stored procedure '" + std::string(name) + "'.");
    StatementContext c(session, x);
    status = procedure->call(c, args, outputs);
  } catch (const Cancelled&) {
    out.cancelled = true;
    return out;
  } catch (const SqlError& e) {
    Message m = e.message;
    if (m.number == 2812) m.text = "Could not find stored procedure '" + std::string(name) + "'.";
    out.items.push_back(m);
    out.items.push_back(ProcedureDone{true});
    return out;
  } catch (const SqlErrors& e) {
    for (const auto& m : e.messages) out.items.push_back(m);
    out.items.push_back(ProcedureDone{true});
    return out;
  } catch (const storage::Error& e) {
    out.items.push_back(
        Message{50000, 1, 16, std::string("The stand-in's storage reported: ") + e.what(), 1, {}});
    out.items.push_back(ProcedureDone{true});
    return out;
  } catch (const std::exception& e) {
    out.items.push_back(Message{50000, 1, 16, std::string("The stand-in server failed: ") + e.what(), 1, {}});
    out.items.push_back(ProcedureDone{true});
    return out;
  }
  out.items.push_back(ReturnStatus{status});
  for (auto& o : outputs) out.items.push_back(std::move(o));
  out.items.push_back(ProcedureDone{out.failed()});
  return out;
}

}  // namespace

Session::Impl::ProcedureLookup Session::Impl::findProcedure(const std::string& name,
                                                            const std::string& qualifier) const {
  const auto* procedure = registry().procedures.find(name, engine->version.year);
  return {procedure,
          procedure && server::reachesFrom(*procedure, qualifier.empty() ? currentDb() : qualifier)};
}

BatchResult Session::callProcedure(std::string_view name, std::vector<Parameter> params,
                                   const CancelCheck& cancel) {
  if (impl_->recording) impl_->recording->request("rpc", recordedCall(name, params));
  BatchResult out = runProcedureCall(*impl_, name, std::move(params), cancel);
  impl_->recordReply(out);
  return out;
}

}  // namespace standin::engine
