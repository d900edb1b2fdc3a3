// The @@ values and the functions whose answer comes from the server or the session running the
// expression; the evaluator of the sql folder asks for them.
#include <algorithm>

#include "standin/engine/engine_internal.h"
#include "standin/base/text.h"

namespace standin::engine {

using K = sql::SqlType::Kind;

sql::TypedValue Session::Impl::global(const sql::Expr& e) {
  const std::string& n = e.name;
  const auto integer = [](std::int64_t v) { return sql::TypedValue{sql::SqlType::integer(), v}; };
  if (n == "@@VERSION") {
    const std::string text = base::versionBanner(engine->version);
    return {sql::SqlType::nvarchar(std::max<int>(300, static_cast<int>(text.size()))), text};
  }
  if (n == "@@SERVERNAME") return {sql::SqlType::nvarchar(128), engine->serverName()};
  if (n == "@@SERVICENAME") {
    const auto& inst = engine->instanceName;
    return {sql::SqlType::nvarchar(128), inst.empty() ? std::string("MSSQLSERVER") : inst};
  }
  if (n == "@@SPID") return {sql::SqlType{K::SmallInt, 0}, std::int64_t{spid}};
  if (n == "@@TRANCOUNT") return integer(tranCount);
  if (n == "@@ROWCOUNT") return integer(rowcount);
  if (n == "@@ERROR") return integer(lastError);
  if (n == "@@IDENTITY") {
    if (!conn) return {sql::SqlType::bigint(), std::monostate{}};
    const auto id = sqlite3_last_insert_rowid(conn->get());
    if (id == 0) return {sql::SqlType::bigint(), std::monostate{}};
    return {sql::SqlType::bigint(), static_cast<std::int64_t>(id)};
  }
  if (n == "@@LANGUAGE") return {sql::SqlType::nvarchar(128), std::string("us_english")};
  if (n == "@@LOCK_TIMEOUT") return integer(-1);
  if (n == "@@TEXTSIZE") return integer(2147483647);
  if (n == "@@MAX_PRECISION") return {sql::SqlType{K::TinyInt, 0}, std::int64_t{38}};
  if (n == "@@DATEFIRST") return {sql::SqlType{K::TinyInt, 0}, std::int64_t{7}};
  if (n == "@@NESTLEVEL" || n == "@@PROCID" || n == "@@OPTIONS") return integer(0);
  if (n == "@@MAX_CONNECTIONS") return integer(32767);
  if (n == "@@MICROSOFTVERSION")
    return integer((static_cast<std::int64_t>(engine->version.major) << 24) | (engine->version.minor << 16) |
                   engine->version.build);
  throw sql::SqlError(137, 15, "Must declare the scalar variable \"" + n + "\".", e.line);
}

std::optional<sql::TypedValue> Session::Impl::sessionFunction(const sql::Expr& e, sql::Evaluator& evaluator) {
  const std::string& f = e.name;
  const std::size_t n = e.args.size();
  const sql::SqlType sysname = sql::SqlType::nvarchar(128);
  if (f == "GETDATE" || f == "CURRENT_TIMESTAMP" || f == "SYSDATETIME") {
    evaluator.requireArguments(e, 0, 0);
    return sql::TypedValue{sql::SqlType{K::DateTime, 0}, engine->now()};
  }
  if (f == "DB_NAME") {
    evaluator.requireArguments(e, 0, 1);
    if (n == 0) return sql::TypedValue{sysname, currentDb()};
    const auto id = evaluator.integerArgument(e, 0);
    if (!id) return sql::TypedValue{sysname, std::monostate{}};
    if (auto d = engine->catalog.findById(static_cast<int>(*id))) return sql::TypedValue{sysname, d->name};
    return sql::TypedValue{sysname, std::monostate{}};
  }
  if (f == "DB_ID") {
    evaluator.requireArguments(e, 0, 1);
    const std::string name = n == 0 ? currentDb() : evaluator.textArgument(e, 0).value_or("");
    if (auto d = engine->catalog.find(name)) return sql::TypedValue{sql::SqlType{K::SmallInt, 0}, std::int64_t{d->id}};
    return sql::TypedValue{sql::SqlType{K::SmallInt, 0}, std::monostate{}};
  }
  if (f == "SUSER_SNAME" || f == "SUSER_NAME" || f == "SYSTEM_USER") return sql::TypedValue{sysname, login};
  if (f == "HOST_NAME") return sql::TypedValue{sysname, hostName};
  if (f == "APP_NAME") return sql::TypedValue{sysname, appName};
  if (f == "SERVERPROPERTY") {
    evaluator.requireArguments(e, 1, 1);
    const std::string p = base::toUpperAscii(evaluator.textArgument(e, 0).value_or(""));
    const sql::SqlType t = sql::SqlType::nvarchar(128);
    const auto& v = engine->version;
    if (p == "PRODUCTVERSION") return sql::TypedValue{t, v.versionString()};
    if (p == "PRODUCTLEVEL") return sql::TypedValue{t, std::string(v.year == 2000 ? "SP4" : "RTM")};
    if (p == "EDITION") return sql::TypedValue{t, std::string("Express Edition")};
    if (p == "ENGINEEDITION") return sql::TypedValue{sql::SqlType::integer(), std::int64_t{4}};
    if (p == "MACHINENAME") return sql::TypedValue{t, engine->computerName};
    if (p == "SERVERNAME") return sql::TypedValue{t, engine->serverName()};
    if (p == "INSTANCENAME") {
      const auto& inst = engine->instanceName;
      if (inst.empty() || base::equalsIgnoreCase(inst, "MSSQLSERVER")) return sql::TypedValue{t, std::monostate{}};
      return sql::TypedValue{t, inst};
    }
    if (p == "COLLATION") return sql::TypedValue{t, std::string("Japanese_CI_AS")};
    if (p == "ISINTEGRATEDSECURITYONLY" || p == "ISCLUSTERED" || p == "ISFULLTEXTINSTALLED" || p == "ISSINGLEUSER")
      return sql::TypedValue{sql::SqlType::integer(), std::int64_t{0}};
    if (p == "PRODUCTMAJORVERSION") return sql::TypedValue{t, std::to_string(v.major)};
    return sql::TypedValue{t, std::monostate{}};
  }
  if (f == "OBJECT_ID") {
    evaluator.requireArguments(e, 1, 2);
    std::string name = evaluator.textArgument(e, 0).value_or("");
    if (const auto dot = name.rfind('.'); dot != std::string::npos) name = name.substr(dot + 1);
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
    storage::Statement st(connection().get(),
                         "SELECT rowid FROM sqlite_master WHERE name = ? COLLATE NOCASE AND type IN ('table', 'view')");
    st.bindText(1, name);
    if (st.step()) return sql::TypedValue{sql::SqlType::integer(), st.integer(0)};
    return sql::TypedValue{sql::SqlType::integer(), std::monostate{}};
  }
  return std::nullopt;
}

}  // namespace standin::engine
