// Table variables and the INSERT statements the session runs itself. A table variable's rows
// live in a temporary table of the session's connection, named apart from every other one
// (@name#n), so that queries join it with real tables as SQL Server does; the table goes when
// the batch that declared it ends. Rows are converted to the columns' types by the engine's
// rules on the way in, as an INSERT converts them.
#include "standin/base/text.h"
#include "standin/engine/engine_internal.h"
#include "standin/sql/functions.h"
#include "standin/storage/passthrough.h"
#include "standin/storage/rewrite.h"

namespace standin::engine {

using base::equalsIgnoreCase;
using sql::isNull;
using sql::Message;
using sql::ResultSet;
using sql::SqlError;
using sql::SqlType;
using sql::StatementDone;
using sql::TableColumn;
using sql::TypedValue;
using sql::Value;
using sql::Variable;

namespace {

// The value an INSERT stores in a column: converted to its type; a string that does not fit
// (trailing blanks aside) is refused, as SQL Server refuses it.
Value storedValue(const TypedValue& v, const TableColumn& column, const std::string& table, int year,
                  int line) {
  if (isNull(v.value)) return std::monostate{};
  const TypedValue converted = sql::convert(v, column.type, -1, line);
  if (column.type.isString() && column.type.length > 0) {
    const std::string whole = std::get<std::string>(sql::convert(v, SqlType::nvarchar(-1), -1, line).value);
    const std::string kept = sql::trimBlanks(whole, false, true);
    const std::size_t length = column.type.kind == SqlType::Kind::VarChar ? base::serverCodePageLength(kept)
                                                                          : base::utf16Length(kept);
    if (length > static_cast<std::size_t>(column.type.length)) {
      if (year >= 2019)
        throw SqlError(2628, 16,
                       "String or binary data would be truncated in table '" + table + "', column '" +
                           column.name + "'. Truncated value: '" + std::get<std::string>(converted.value) +
                           "'.",
                       line);
      throw SqlError(8152, 16, "String or binary data would be truncated.", line);
    }
  }
  return converted.value;
}

// The columns an INSERT names, as indexes into the table's; all of them when it names none.
std::vector<std::size_t> namedColumns(const std::vector<TableColumn>& table,
                                      const std::vector<std::string>& names, int line) {
  std::vector<std::size_t> out;
  if (names.empty()) {
    for (std::size_t i = 0; i < table.size(); ++i) out.push_back(i);
    return out;
  }
  for (const auto& name : names) {
    std::size_t k = 0;
    while (k < table.size() && !equalsIgnoreCase(table[k].name, name)) ++k;
    if (k == table.size()) throw SqlError(207, 16, "Invalid column name '" + name + "'.", line);
    out.push_back(k);
  }
  return out;
}

}  // namespace

void Session::Impl::declareTable(Exec& x, const sql::Declaration& d) {
  Variable v;
  v.isTable = true;
  v.columns = d.columns;
  v.storageTable = d.name + "#" + std::to_string(nextTableVariable++);
  v.collation = databaseCollation().name;
  std::string text = "CREATE TEMP TABLE " + storage::quoteIdentifier(v.storageTable) + " (";
  for (std::size_t i = 0; i < d.columns.size(); ++i) {
    const auto& col = d.columns[i];
    if (i > 0) text += ", ";
    text += storage::quoteIdentifier(col.name) + " " + base::toUpperAscii(col.type.name());
    // Its text columns take the current database's collation, as SQL Server's do.
    if (col.type.isString()) text += " COLLATE " + base::storageCollationName(databaseCollation());
    if (!col.nullable) text += " NOT NULL";
  }
  text += ")";
  connection().exec(text);
  ++tableVariables;
  x.vars[d.name] = std::move(v);
}

void Session::Impl::dropTables(sql::Scope& vars) {
  for (auto& [name, v] : vars) {
    if (!v.isTable) continue;
    v.isTable = false;
    --tableVariables;
    if (!conn) continue;
    try {
      conn->exec("DROP TABLE IF EXISTS temp." + storage::quoteIdentifier(v.storageTable));
    } catch (const storage::Error&) {
      // Still in use by a statement that is ending with an error: the connection keeps it
      // until it closes, under a name nothing else uses.
    }
  }
}

std::int64_t Session::Impl::insertRows(Exec& x, const std::string& variable,
                                       const std::vector<std::string>& columns,
                                       const std::vector<TypedValue>& values, std::size_t width, int line) {
  const auto it = x.vars.find(variable);
  if (it == x.vars.end() || !it->second.isTable)
    throw SqlError(1087, 15, "Must declare the table variable \"" + variable + "\".", line);
  const Variable& table = it->second;
  const auto targets = namedColumns(table.columns, columns, line);
  std::string text = "INSERT INTO temp." + storage::quoteIdentifier(table.storageTable) + " VALUES (";
  for (std::size_t i = 0; i < table.columns.size(); ++i) text += i == 0 ? "?" : ", ?";
  text += ")";
  // Every row is converted and checked before the first is stored: a failing INSERT adds none.
  std::vector<sql::Row> rows;
  for (std::size_t start = 0; start + width <= values.size() && width > 0; start += width) {
    sql::Row row(table.columns.size());
    for (std::size_t k = 0; k < targets.size(); ++k)
      row[targets[k]] =
          storedValue(values[start + k], table.columns[targets[k]], variable, engine->version.year, line);
    for (std::size_t c = 0; c < table.columns.size(); ++c)
      if (!table.columns[c].nullable && isNull(row[c]))
        throw SqlError(515, 16,
                       "Cannot insert the value NULL into column '" + table.columns[c].name + "', table '" +
                           variable + "'; column does not allow nulls. INSERT fails.",
                       line);
    rows.push_back(std::move(row));
  }
  auto& c = connection();
  storage::Statement insert(c.get(), text);
  for (const auto& row : rows) {
    for (std::size_t k = 0; k < row.size(); ++k) insert.bind(static_cast<int>(k + 1), row[k]);
    insert.step();
    sqlite3_reset(insert.get());
    checkCancel(x);
  }
  return static_cast<std::int64_t>(rows.size());
}

void Session::Impl::runInsert(Exec& x, const sql::Insert& s) {
  std::vector<TypedValue> values;
  std::size_t width = 0;
  switch (s.source) {
    case sql::Insert::Source::Query: {
      const ResultSet rows = query(x, s.query);
      width = rows.columns.size();
      for (const auto& row : rows.rows)
        for (std::size_t c = 0; c < width; ++c) values.push_back(TypedValue{rows.columns[c].type, row[c]});
      break;
    }
    case sql::Insert::Source::Values:
      width = s.rows.front().size();
      for (const auto& row : s.rows) {
        if (row.size() != width)
          throw SqlError(10709, 16,
                         "The number of columns for each row in a table value constructor must be the same.");
        for (const auto& e : row) values.push_back(eval(x, *e));
      }
      break;
    case sql::Insert::Source::Exec: {
      // The procedure's rows go into the table, not to the client; its messages still do.
      if (inInsertExec) throw SqlError(8164, 16, "An INSERT EXEC statement cannot be nested.");
      sql::BatchResult captured;
      Exec inner{captured, x.cancel, x.vars, x.inProcedure};
      struct Running {
        bool& flag;
        explicit Running(bool& f) : flag(f) { flag = true; }
        ~Running() { flag = false; }
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;
      } running(inInsertExec);
      dispatch(inner, *s.exec);
      bool failed = false;
      for (auto& item : captured.items) {
        if (auto* m = std::get_if<Message>(&item)) {
          failed = failed || m->isError();
          x.out.items.push_back(std::move(*m));
        } else if (const auto* rows = std::get_if<ResultSet>(&item)) {
          if (width != 0 && rows->columns.size() != width)
            throw SqlError(213, 16,
                           "Column name or number of supplied values does not match table definition.");
          width = rows->columns.size();
          for (const auto& row : rows->rows)
            for (std::size_t c = 0; c < width; ++c)
              values.push_back(TypedValue{rows->columns[c].type, row[c]});
        }
      }
      if (captured.cancelled) checkCancel(x);
      if (failed) {
        done(x, true);
        return;
      }
      break;
    }
  }
  const std::size_t targets = s.targetIsVariable ? [&] {
    const auto it = x.vars.find(s.variable);
    if (it == x.vars.end() || !it->second.isTable)
      throw SqlError(1087, 15, "Must declare the table variable \"" + s.variable + "\".", s.line);
    return s.columns.empty() ? it->second.columns.size() : s.columns.size();
  }()
                                                 : s.columns.size();
  if (width != 0 && targets != 0 && width != targets) {
    if (!s.columns.empty() && s.source == sql::Insert::Source::Query)
      throw SqlError(
          width < targets ? 120 : 121, 15,
          std::string("The select list for the INSERT statement contains ") +
              (width < targets ? "fewer" : "more") +
              " items than the insert list. The number of SELECT values must match the number of INSERT "
              "columns.");
    if (!s.columns.empty() && s.source == sql::Insert::Source::Values)
      throw SqlError(
          targets > width ? 109 : 110, 15,
          std::string("There are ") + (targets > width ? "more" : "fewer") +
              " columns in the INSERT statement than values specified in the VALUES clause. The number of "
              "values in the VALUES clause must match the number of columns specified in the INSERT "
              "statement.");
    throw SqlError(213, 16, "Column name or number of supplied values does not match table definition.");
  }
  const std::int64_t inserted = s.targetIsVariable ? insertRows(x, s.variable, s.columns, values, width, s.line)
                                                   : insertIntoTable(x, s, values, width);
  rowcount = inserted;
  done(x, false, inserted, StatementDone::Command::Insert);
}

std::int64_t Session::Impl::insertIntoTable(Exec& x, const sql::Insert& s,
                                            const std::vector<TypedValue>& values, std::size_t width) {
  if (width == 0) return 0;
  const StorageText target = storageText(x, s.targetTokens, StatementDone::Command::Insert);
  std::string text = "INSERT INTO " + target.text;
  if (!s.columns.empty()) {
    text += " (";
    for (std::size_t i = 0; i < s.columns.size(); ++i)
      text += (i ? ", " : "") + storage::quoteIdentifier(s.columns[i]);
    text += ")";
  }
  text += " VALUES (";
  for (std::size_t i = 0; i < width; ++i) text += i == 0 ? "?" : ", ?";
  text += ")";
  auto& c = connection();
  storage::ProgressGuard progress(c.get(), x.cancel);
  storage::Statement insert(c.get(), text);
  std::int64_t n = 0;
  for (std::size_t start = 0; start + width <= values.size(); start += width) {
    for (std::size_t k = 0; k < width; ++k) {
      Value v = values[start + k].value;
      insert.bind(static_cast<int>(k + 1), v);
    }
    insert.step();
    sqlite3_reset(insert.get());
    ++n;
  }
  return n;
}

}  // namespace standin::engine
