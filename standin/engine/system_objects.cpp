// System views named in statements SQLite runs: each is put into a temporary table of the
// session's connection, filled from the server's state as the statement begins, and the
// statement reads that table in its place.
#include "standin/base/text.h"
#include "standin/engine/engine_internal.h"
#include "standin/storage/passthrough.h"

namespace standin::engine {

using base::equalsIgnoreCase;
using base::toLowerAscii;
using sql::SqlError;
using sql::SqlType;
using sql::Token;

namespace {

// Where a statement names a system object.
struct SystemObjectName {
  std::string database;  // the database part of a three-part name; empty: none given
  std::string schema;    // "sys", "dbo", or empty
  std::string name;      // as written
};

bool isName(const std::vector<Token>& toks, std::size_t k) {
  return k < toks.size() &&
         (toks[k].kind == Token::Kind::Identifier || toks[k].kind == Token::Kind::QuotedIdentifier);
}
bool isDot(const std::vector<Token>& toks, std::size_t k) { return k < toks.size() && toks[k].isSymbol("."); }

// The SQLite column type that reads back as the SQL Server type (storage::columnType).
std::string declaredType(const SqlType& t) {
  using K = SqlType::Kind;
  const std::string length = "(" + std::to_string(t.length < 0 ? 4000 : std::max(t.length, 1)) + ")";
  switch (t.kind) {
    case K::Int:
      return "INT";
    case K::BigInt:
      return "BIGINT";
    case K::SmallInt:
      return "SMALLINT";
    case K::TinyInt:
      return "TINYINT";
    case K::Bit:
      return "BIT";
    case K::Float:
      return "REAL";
    case K::VarChar:
      return "VARCHAR" + length;
    case K::NVarChar:
      return "NVARCHAR" + length;
    case K::DateTime:
      return "DATETIME";
    case K::VarBinary:
      return "VARBINARY" + length;
  }
  return "";
}

}  // namespace

// A system function's arguments, each a number, NULL or a variable, read after its name;
// `last` moves to the closing parenthesis.
std::vector<std::optional<std::int64_t>> Session::Impl::systemFunctionArguments(
    Exec& x, const server::SystemObject& function, const std::vector<Token>& toks, std::size_t& last) {
  const std::string written = "sys." + function.name;
  if (last + 1 >= toks.size() || !toks[last + 1].isSymbol("("))
    throw SqlError(216, 16, "Parameters were not supplied for the function '" + written + "'.");
  std::vector<std::optional<std::int64_t>> arguments;
  std::size_t k = last + 2;
  for (; k < toks.size() && !toks[k].isSymbol(")"); ++k) {
    if (toks[k].isSymbol(",")) continue;
    sql::Expr e;
    e.line = toks[k].line;
    if (toks[k].kind == Token::Kind::Variable) {
      e.kind = sql::Expr::Kind::Variable;
      e.name = toLowerAscii(toks[k].text);
      const auto v = sql::convert(eval(x, e), SqlType::bigint(), -1, e.line);
      arguments.push_back(sql::isNull(v.value) ? std::nullopt
                                               : std::optional(std::get<std::int64_t>(v.value)));
    } else if (toks[k].kind == Token::Kind::Number) {
      arguments.push_back(std::stoll(toks[k].text));
    } else if (toks[k].is("NULL")) {
      arguments.push_back(std::nullopt);
    } else {
      throw SqlError(
          50000, 16,
          "The stand-in server reads only numbers and variables as the arguments of " + written + ".");
    }
  }
  if (k >= toks.size() || arguments.size() != static_cast<std::size_t>(function.arguments))
    throw SqlError(216, 16, "Parameters were not supplied for the function '" + written + "'.");
  last = k;
  return arguments;
}

std::optional<Session::Impl::SystemObjectTable> Session::Impl::systemObjectAt(Exec& x,
                                                                              const std::vector<Token>& toks,
                                                                              std::size_t i) {
  if (i > 0 && isDot(toks, i - 1)) return std::nullopt;  // inside a longer name, read from its start
  SystemObjectName object;
  std::size_t last = i;
  std::string written;
  if (isDot(toks, i + 1) && isDot(toks, i + 2) && isName(toks, i + 3)) {
    object = {toks[i].text, "", toks[i + 3].text};  // database..name
    last = i + 3;
    written = toks[i].text + ".." + toks[i + 3].text;
  } else if (isDot(toks, i + 1) && isName(toks, i + 2) && isDot(toks, i + 3) && isName(toks, i + 4)) {
    object = {toks[i].text, toks[i + 2].text, toks[i + 4].text};  // database.schema.name
    last = i + 4;
    written = toks[i].text + "." + toks[i + 2].text + "." + toks[i + 4].text;
  } else if (isDot(toks, i + 1) && isName(toks, i + 2) && !isDot(toks, i + 3)) {
    object = {"", toks[i].text, toks[i + 2].text};  // schema.name
    last = i + 2;
    written = toks[i].text + "." + toks[i + 2].text;
  } else if (i > 0 && (toks[i - 1].is("FROM") || toks[i - 1].is("JOIN")) && !isDot(toks, i + 1) &&
             !(i + 1 < toks.size() && toks[i + 1].isSymbol("("))) {
    object = {"", "", toks[i].text};  // a name alone, in FROM or JOIN
    written = toks[i].text;
  } else {
    return std::nullopt;
  }
  const auto found = registry().systemObjects.find(engine->version.year, object.schema, object.name,
                                                   object.database.empty() ? currentDb() : object.database);
  switch (found.lookup) {
    case server::SystemObjects::Lookup::NotSystem:
      return std::nullopt;
    case server::SystemObjects::Lookup::Missing:
      throw SqlError(208, 16, "Invalid object name '" + written + "'.");
    case server::SystemObjects::Lookup::Unsupported:
      throw SqlError(50000, 16, "The stand-in server does not support the system view " + written + ".");
    case server::SystemObjects::Lookup::Found:
      break;
  }
  const server::SystemObject& systemObject = *found.object;
  server::SystemObjectCall call{currentDb(), {}};
  if (!object.database.empty()) {
    const auto entry = engine->catalog.find(object.database);
    if (!entry) throw SqlError(208, 16, "Invalid object name '" + written + "'.");
    call.database = entry->name;
  }
  if (systemObject.arguments > 0) call.arguments = systemFunctionArguments(x, systemObject, toks, last);
  server::ResultTable made(systemObject.columns, engine->version.year);
  systemObject.rows(*engine, call, made);
  const sql::ResultSet rows = made.take();
  // One table per object (and per database, for a database's own view), filled anew for each
  // statement.
  std::string table = "bv_sys_" + systemObject.name;
  if (systemObject.eachDatabase) table += "_" + std::to_string(engine->catalog.find(call.database)->id);
  const std::string quoted = "temp." + storage::quoteIdentifier(table);
  auto& c = connection();
  std::string columns, marks;
  for (const auto& col : rows.columns) {
    columns += (columns.empty() ? "" : ", ") + storage::quoteIdentifier(col.name) + " " +
               declaredType(col.type) + (col.type.isString() ? " COLLATE NOCASE" : "");
    marks += marks.empty() ? "?" : ", ?";
  }
  c.exec("DROP TABLE IF EXISTS " + quoted);
  c.exec("CREATE TEMP TABLE " + storage::quoteIdentifier(table) + " (" + columns + ")");
  storage::Statement insert(c.get(), "INSERT INTO " + quoted + " VALUES (" + marks + ")");
  for (const auto& row : rows.rows) {
    sqlite3_reset(insert.get());
    for (std::size_t k = 0; k < row.size(); ++k) insert.bind(static_cast<int>(k + 1), row[k]);
    insert.step();
  }
  return SystemObjectTable{quoted, last};
}

}  // namespace standin::engine
