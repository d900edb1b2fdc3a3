// The @@ values and the functions whose answer comes from the server or the session running the
// expression; the evaluator of the sql folder asks for them.
#include <algorithm>

#include "standin/base/text.h"
#include "standin/engine/engine_internal.h"
#include "standin/storage/rewrite.h"
#include "standin/system/views.h"

namespace standin::engine {

using base::equalsIgnoreCase;
using base::toUpperAscii;
using sql::Expr;
using sql::SqlError;
using sql::SqlType;
using sql::TypedValue;
using K = SqlType::Kind;

TypedValue Session::Impl::global(const Expr& e) {
  const std::string& n = e.name;
  const auto integer = [](std::int64_t v) { return TypedValue{SqlType::integer(), v}; };
  if (n == "@@VERSION") {
    const std::string text = base::versionBanner(engine->version, engine->edition);
    return {SqlType::nvarchar(std::max<int>(300, static_cast<int>(text.size()))), text};
  }
  if (n == "@@SERVERNAME") return {SqlType::nvarchar(128), engine->serverName()};
  if (n == "@@SERVICENAME") {
    const auto& inst = engine->instanceName;
    return {SqlType::nvarchar(128), inst.empty() ? std::string("MSSQLSERVER") : inst};
  }
  if (n == "@@SPID") return {SqlType{K::SmallInt, 0}, std::int64_t{spid}};
  if (n == "@@TRANCOUNT") return integer(tranCount);
  if (n == "@@ROWCOUNT") return integer(rowcount);
  if (n == "@@ERROR") return integer(lastError);
  if (n == "@@IDENTITY") {
    if (!conn) return {SqlType::bigint(), std::monostate{}};
    const auto id = sqlite3_last_insert_rowid(conn->get());
    if (id == 0) return {SqlType::bigint(), std::monostate{}};
    return {SqlType::bigint(), static_cast<std::int64_t>(id)};
  }
  if (n == "@@LANGUAGE") return {SqlType::nvarchar(128), std::string("us_english")};
  if (n == "@@LOCK_TIMEOUT") return integer(-1);
  if (n == "@@TEXTSIZE") return integer(2147483647);
  if (n == "@@MAX_PRECISION") return {SqlType{K::TinyInt, 0}, std::int64_t{38}};
  if (n == "@@DATEFIRST") return {SqlType{K::TinyInt, 0}, std::int64_t{7}};
  if (n == "@@NESTLEVEL" || n == "@@PROCID" || n == "@@OPTIONS") return integer(0);
  if (n == "@@MAX_CONNECTIONS") return integer(32767);
  if (n == "@@MICROSOFTVERSION")
    return integer((static_cast<std::int64_t>(engine->version.major) << 24) | (engine->version.minor << 16) |
                   engine->version.build);
  throw SqlError(137, 15, "Must declare the scalar variable \"" + n + "\".", e.line);
}

std::optional<TypedValue> Session::Impl::sessionFunction(const Expr& e, sql::Evaluator& evaluator) {
  const std::string& f = e.name;
  const std::size_t n = e.args.size();
  const SqlType sysname = SqlType::nvarchar(128);
  if (f == "GETDATE" || f == "CURRENT_TIMESTAMP" || f == "SYSDATETIME") {
    evaluator.requireArguments(e, 0, 0);
    return TypedValue{SqlType{K::DateTime, 0}, engine->now()};
  }
  if (f == "GETUTCDATE" || f == "SYSUTCDATETIME") {
    evaluator.requireArguments(e, 0, 0);
    return TypedValue{SqlType{K::DateTime, 0}, engine->utcNow()};
  }
  if (f == "DB_NAME") {
    evaluator.requireArguments(e, 0, 1);
    if (n == 0) return TypedValue{sysname, currentDb()};
    const auto id = evaluator.integerArgument(e, 0);
    if (!id) return TypedValue{sysname, std::monostate{}};
    if (auto d = engine->catalog.findById(static_cast<int>(*id))) return TypedValue{sysname, d->name};
    return TypedValue{sysname, std::monostate{}};
  }
  if (f == "DB_ID") {
    evaluator.requireArguments(e, 0, 1);
    const std::string name = n == 0 ? currentDb() : evaluator.textArgument(e, 0).value_or("");
    if (auto d = engine->catalog.find(name)) return TypedValue{SqlType{K::SmallInt, 0}, std::int64_t{d->id}};
    return TypedValue{SqlType{K::SmallInt, 0}, std::monostate{}};
  }
  if (f == "DATABASEPROPERTYEX") {
    evaluator.requireArguments(e, 2, 2);
    const auto database = evaluator.textArgument(e, 0);
    const auto property = evaluator.textArgument(e, 1);
    if (!database || !property) return TypedValue{SqlType::nvarchar(128), std::monostate{}};
    if (auto v = system::databaseProperty(*engine, *database, *property)) return *v;
    return TypedValue{SqlType::nvarchar(128), std::monostate{}};
  }
  if (f == "SUSER_SNAME" || f == "SUSER_NAME" || f == "SYSTEM_USER") return TypedValue{sysname, login};
  if (f == "HOST_NAME") return TypedValue{sysname, hostName};
  if (f == "APP_NAME") return TypedValue{sysname, appName};
  // The error the running CATCH block handles; NULL outside one.
  if (f == "ERROR_MESSAGE" || f == "ERROR_NUMBER" || f == "ERROR_SEVERITY" || f == "ERROR_STATE" ||
      f == "ERROR_LINE" || f == "ERROR_PROCEDURE") {
    evaluator.requireArguments(e, 0, 0);
    const bool text = f == "ERROR_MESSAGE" || f == "ERROR_PROCEDURE";
    const SqlType type = f == "ERROR_MESSAGE" ? SqlType::nvarchar(4000)
                         : text               ? SqlType::nvarchar(128)
                                              : SqlType::integer();
    if (!caughtError || (f == "ERROR_PROCEDURE" && caughtError->procedure.empty()))
      return TypedValue{type, std::monostate{}};
    const auto& m = *caughtError;
    if (f == "ERROR_MESSAGE") return TypedValue{type, m.text};
    if (f == "ERROR_PROCEDURE") return TypedValue{type, m.procedure};
    return TypedValue{type, std::int64_t{f == "ERROR_NUMBER"     ? m.number
                                         : f == "ERROR_SEVERITY" ? m.severity
                                         : f == "ERROR_STATE"    ? m.state
                                                                 : m.line}};
  }
  if (f == "SERVERPROPERTY") {
    evaluator.requireArguments(e, 1, 1);
    const std::string p = toUpperAscii(evaluator.textArgument(e, 0).value_or(""));
    const SqlType t = SqlType::nvarchar(128);
    const auto& v = engine->version;
    if (p == "PRODUCTVERSION") return TypedValue{t, v.versionString()};
    if (p == "PRODUCTLEVEL") return TypedValue{t, std::string(v.year == 2000 ? "SP4" : "RTM")};
    if (p == "EDITION") return TypedValue{t, base::editionText(engine->edition, v)};
    if (p == "ENGINEEDITION")
      return TypedValue{SqlType::integer(), std::int64_t{base::engineEdition(engine->edition)}};
    if (p == "EDITIONID") {
      const auto id = v.year >= 2005 ? base::editionId(engine->edition) : std::nullopt;
      return id ? TypedValue{SqlType::bigint(), *id} : TypedValue{SqlType::bigint(), std::monostate{}};
    }
    if (p == "MACHINENAME") return TypedValue{t, engine->computerName};
    if (p == "SERVERNAME") return TypedValue{t, engine->serverName()};
    if (p == "INSTANCENAME") {
      const auto& inst = engine->instanceName;
      if (inst.empty() || equalsIgnoreCase(inst, "MSSQLSERVER")) return TypedValue{t, std::monostate{}};
      return TypedValue{t, inst};
    }
    if (p == "COLLATION") return TypedValue{t, std::string("Japanese_CI_AS")};
    if (p == "ISINTEGRATEDSECURITYONLY" || p == "ISCLUSTERED" || p == "ISFULLTEXTINSTALLED" ||
        p == "ISSINGLEUSER")
      return TypedValue{SqlType::integer(), std::int64_t{0}};
    // The data folder, where new databases' files go (2012 on), with its separator.
    if ((p == "INSTANCEDEFAULTDATAPATH" || p == "INSTANCEDEFAULTLOGPATH") && v.year >= 2012)
      return TypedValue{SqlType::nvarchar(512), (engine->catalog.dataDir() / "").string()};
    if (p == "PRODUCTMAJORVERSION") return TypedValue{t, std::to_string(v.major)};
    return TypedValue{t, std::monostate{}};
  }
  if (f == "OBJECT_ID") {
    evaluator.requireArguments(e, 1, 2);
    // [database.][schema.]name, each part bracketed or not; a database part looks in that database.
    std::vector<std::string> parts;
    const std::string written = evaluator.textArgument(e, 0).value_or("");
    std::string part;
    for (std::size_t i = 0; i < written.size(); ++i) {
      if (written[i] == '[') {
        for (++i;
             i < written.size() && !(written[i] == ']' && (i + 1 >= written.size() || written[i + 1] != ']'));
             ++i) {
          part += written[i];
          if (written[i] == ']') ++i;
        }
      } else if (written[i] == '.') {
        parts.push_back(std::move(part));
        part.clear();
      } else {
        part += written[i];
      }
    }
    parts.push_back(std::move(part));
    const std::string& name = parts.back();
    const auto lookUp = [&](sqlite3* handle) -> TypedValue {
      storage::Statement st(
          handle,
          "SELECT rowid FROM sqlite_master WHERE name = ? COLLATE NOCASE AND type IN ('table', 'view')");
      st.bindText(1, name);
      if (st.step()) return TypedValue{SqlType::integer(), st.integer(0)};
      return TypedValue{SqlType::integer(), std::monostate{}};
    };
    if (parts.size() == 3 && !equalsIgnoreCase(parts[0], currentDb())) {
      const auto entry = engine->catalog.find(parts[0]);
      if (!entry) return TypedValue{SqlType::integer(), std::monostate{}};
      auto other = storage::Database::open(entry->file, false);
      return lookUp(other.get());
    }
    return lookUp(connection().get());
  }
  return std::nullopt;
}

void Session::Impl::registerSessionFunctions(sqlite3* connectionHandle) {
  // Each runs as it would in the stand-in's own evaluation, over its arguments' values.
  for (const char* name : {"DB_ID", "DB_NAME", "SERVERPROPERTY", "DATABASEPROPERTYEX", "SUSER_SNAME",
                           "SUSER_NAME", "HOST_NAME", "APP_NAME"}) {
    storage::registerFunction(
        connectionHandle, name, [this, function = std::string(name)](const std::vector<TypedValue>& args) {
          Expr call;
          call.kind = Expr::Kind::Function;
          call.name = function;
          for (const auto& a : args) {
            auto literal = std::make_unique<Expr>();
            literal->kind = Expr::Kind::Literal;
            literal->literal = a.value;
            literal->type = a.type;
            literal->hasType = true;
            call.args.push_back(std::move(literal));
          }
          static const CancelCheck never = [] { return false; };
          sql::BatchResult out;
          sql::Scope vars;
          Exec x{out, never, vars};
          BatchEnvironment environment(*this, x);
          sql::Evaluator evaluator(vars, environment);
          return sessionFunction(call, evaluator).value_or(TypedValue{SqlType::integer(), std::monostate{}});
        });
  }
}

}  // namespace standin::engine
