// Handing a T-SQL statement to SQLite and reading its answer the way SQL Server gives it: quoting,
// SQL Server's message for a failed statement, result columns typed as SQL Server types them,
// and stopping a statement when the client sends an attention.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "standin/sql/results.h"
#include "standin/sql/value.h"
#include "standin/storage/sqlite_db.h"

namespace standin::storage {

// 'it''s' and "a""b": a text and a name as SQLite reads them.
std::string quoteString(const std::string& s);
std::string quoteIdentifier(const std::string& s);

// The SQL Server message for a statement that failed on database `db`: the error one of the
// stand-in's own functions raised, else SQLite's failure in SQL Server's numbers and words.
sql::Message messageFor(const Error& e, const std::string& db);

// A result column's type from SQLite's declared type and the values the column holds.
sql::SqlType columnType(const char* declared, const std::vector<sql::Row>& rows, std::size_t column);
// A value as a column of that type holds it (dates parsed, numbers widened, text for text).
sql::Value conformValue(const sql::Value& v, const sql::SqlType& type);

// While it lives, SQLite asks `cancel` now and then and stops the running statement when it
// says so (SQLITE_INTERRUPT).
class ProgressGuard {
 public:
  using CancelCheck = std::function<bool()>;
  ProgressGuard(sqlite3* db, const CancelCheck& cancel);
  ~ProgressGuard();
  ProgressGuard(const ProgressGuard&) = delete;
  ProgressGuard& operator=(const ProgressGuard&) = delete;

 private:
  sqlite3* db_;
};

}  // namespace standin::storage
