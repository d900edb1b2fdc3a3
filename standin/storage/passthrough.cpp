#include "standin/storage/passthrough.h"

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "standin/base/text.h"
#include "standin/sql/parser.h"
#include "standin/storage/rewrite.h"

namespace standin::storage {

using base::toUpperAscii;
using base::utf16Length;
using sql::Binary;
using sql::DateTime;
using sql::isNull;
using sql::Message;
using sql::Row;
using sql::SqlType;
using sql::Value;
using sql::valueToText;

namespace {

int progressHandler(void* context) {
  const auto* cancel = static_cast<const ProgressGuard::CancelCheck*>(context);
  return (*cancel)() ? 1 : 0;
}

}  // namespace

std::string quoteString(const std::string& s) {
  std::string out = "'";
  for (const char c : s) {
    if (c == '\'') out.push_back('\'');
    out.push_back(c);
  }
  out.push_back('\'');
  return out;
}

std::string quoteIdentifier(const std::string& s) {
  std::string out = "\"";
  for (const char c : s) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

Message messageFor(const Error& e, const std::string& db) {
  if (auto raised = takeStorageFunctionError()) return *raised;
  const std::string what = e.what();
  auto after = [&](const std::string& prefix) -> std::optional<std::string> {
    const auto pos = what.find(prefix);
    if (pos == std::string::npos) return std::nullopt;
    return what.substr(pos + prefix.size());
  };
  Message m;
  m.severity = 16;
  // A table variable's table (@name#n) is named as the variable.
  auto variableName = [](std::string name) {
    if (!name.empty() && name.front() == '@') name = name.substr(0, name.find('#'));
    return name;
  };
  if (auto t = after("no such table: ")) {
    m.number = 208;
    std::string name = *t;
    if (const auto dot = name.rfind('.'); dot != std::string::npos) name = name.substr(dot + 1);
    m.text = "Invalid object name '" + variableName(name) + "'.";
  } else if (auto c = after("no such column: ")) {
    m.number = 207;
    // SQL Server names the column without its table's alias.
    const auto dot = c->rfind('.');
    m.text = "Invalid column name '" + (dot == std::string::npos ? *c : c->substr(dot + 1)) + "'.";
  } else if (auto u = after("UNIQUE constraint failed: ")) {
    m.number = 2627;
    const std::string table = u->substr(0, u->find('.'));
    m.text = "Violation of PRIMARY KEY constraint 'PK_" + table +
             "'. Cannot insert duplicate key in object 'dbo." + table + "'.";
  } else if (auto n = after("NOT NULL constraint failed: ")) {
    m.number = 515;
    const auto dot = n->find('.');
    const std::string table = variableName(n->substr(0, dot));
    const std::string column = dot == std::string::npos ? *n : n->substr(dot + 1);
    m.text = "Cannot insert the value NULL into column '" + column + "', table '" +
             (!table.empty() && table.front() == '@' ? table : db + ".dbo." + table) +
             "'; column does not allow nulls. INSERT fails.";
  } else if (what.find(" values were supplied") != std::string::npos) {
    m.number = 213;
    m.text = "Column name or number of supplied values does not match table definition.";
  } else if (what.find("FOREIGN KEY constraint failed") != std::string::npos) {
    m.number = 547;
    m.text = "The statement conflicted with a FOREIGN KEY constraint.";
  } else if (what.find("already exists") != std::string::npos && what.rfind("table ", 0) == 0) {
    m.number = 2714;
    std::string name = what.substr(6, what.find(" already") - 6);
    if (name.size() >= 2 && name.front() == '"') name = name.substr(1, name.size() - 2);
    m.text = "There is already an object named '" + name + "' in the database.";
  } else if (auto near = after("near \"")) {
    const std::string token = near->substr(0, near->find('"'));
    m.severity = 15;
    if (sql::isReservedKeyword(token)) {
      m.number = 156;
      m.text = "Incorrect syntax near the keyword '" + token + "'.";
    } else {
      m.number = 102;
      m.text = "Incorrect syntax near '" + token + "'.";
    }
  } else if (e.code == SQLITE_BUSY || e.code == SQLITE_LOCKED) {
    m.number = 1222;
    m.text = "Lock request time out period exceeded.";
  } else {
    m.number = 50000;
    m.text = "The stand-in's storage reported: " + what;
  }
  return m;
}

ProgressGuard::ProgressGuard(sqlite3* db, const CancelCheck& cancel) : db_(db) {
  sqlite3_progress_handler(db_, 2000, &progressHandler, const_cast<CancelCheck*>(&cancel));
}

ProgressGuard::~ProgressGuard() { sqlite3_progress_handler(db_, 0, nullptr, nullptr); }

SqlType columnType(const char* decl, const std::vector<Row>& rows, std::size_t col) {
  const std::string d = decl ? toUpperAscii(decl) : std::string();
  int declaredLength = 0;
  if (const auto open = d.find('('); open != std::string::npos)
    declaredLength = std::atoi(d.c_str() + open + 1);
  bool anyText = false, anyFloat = false, anyInt = false, anyBlob = false, bigInt = false;
  std::size_t longest = 1;
  for (const auto& r : rows) {
    const Value& v = r[col];
    if (const auto* s = std::get_if<std::string>(&v)) {
      anyText = true;
      longest = std::max(longest, utf16Length(*s));
    } else if (const auto* i = std::get_if<std::int64_t>(&v)) {
      anyInt = true;
      if (*i > 2147483647LL || *i < -2147483648LL) bigInt = true;
    } else if (std::holds_alternative<double>(v)) {
      anyFloat = true;
    } else if (std::holds_alternative<Binary>(v)) {
      anyBlob = true;
    }
  }
  using K = SqlType::Kind;
  auto text = [&] {
    int len = std::max<int>(declaredLength, static_cast<int>(longest));
    if (len <= 0) len = 1;
    return SqlType{K::NVarChar, std::min(len, 4000)};
  };
  if (anyBlob) return SqlType{K::VarBinary, 8000};
  if (d.find("DATE") != std::string::npos || d.find("TIME") != std::string::npos) {
    bool allDates = true;
    for (const auto& r : rows) {
      const Value& v = r[col];
      if (isNull(v)) continue;
      const auto* s = std::get_if<std::string>(&v);
      if (!s || !DateTime::parse(*s)) allDates = false;
    }
    if (allDates) return SqlType{K::DateTime, 0};
    return text();
  }
  if (anyText) return text();
  if (d.find("BIT") != std::string::npos && !anyFloat) return SqlType{K::Bit, 0};
  if (d.find("INT") != std::string::npos && !anyFloat)
    return (bigInt || d.find("BIGINT") != std::string::npos) ? SqlType{K::BigInt, 0} : SqlType{K::Int, 0};
  if (d.find("CHAR") != std::string::npos || d.find("TEXT") != std::string::npos ||
      d.find("CLOB") != std::string::npos)
    return text();
  if (anyFloat || d.find("REAL") != std::string::npos || d.find("FLOA") != std::string::npos ||
      d.find("DOUB") != std::string::npos || d.find("DEC") != std::string::npos ||
      d.find("NUM") != std::string::npos || d.find("MONEY") != std::string::npos)
    return SqlType{K::Float, 0};
  if (anyInt) return bigInt ? SqlType{K::BigInt, 0} : SqlType{K::Int, 0};
  if (d.find("BLOB") != std::string::npos || d.find("BINARY") != std::string::npos)
    return SqlType{K::VarBinary, 8000};
  return SqlType{K::Int, 0};
}

Value conformValue(const Value& v, const SqlType& t) {
  if (isNull(v)) return v;
  switch (t.kind) {
    case SqlType::Kind::DateTime:
      if (const auto* s = std::get_if<std::string>(&v))
        if (auto dt = DateTime::parse(*s)) return *dt;
      return v;
    case SqlType::Kind::Float:
      if (const auto* i = std::get_if<std::int64_t>(&v)) return static_cast<double>(*i);
      return v;
    case SqlType::Kind::NVarChar:
    case SqlType::Kind::VarChar:
      if (!std::holds_alternative<std::string>(v)) return valueToText(v);
      return v;
    default:
      return v;
  }
}

}  // namespace standin::storage
