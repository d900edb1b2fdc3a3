// Thin RAII wrappers around sqlite3 and sqlite3_stmt.
#pragma once

#include <sqlite3.h>

#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "standin/sql/value.h"

namespace standin::storage {

struct Error : std::runtime_error {
  Error(int rc, const std::string& what) : std::runtime_error(what), code(rc) {}
  int code;
};

struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct SessionDeleter {
  void operator()(sqlite3_session* session) const { sqlite3session_delete(session); }
};
struct StmtFinalizer {
  void operator()(sqlite3_stmt* st) const { sqlite3_finalize(st); }
};

class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql);
  sqlite3_stmt* get() const { return stmt_.get(); }
  // True when a row is ready, false at the end; throws Error on failure.
  bool step();
  void bind(int index, const sql::Value& value);
  void bindText(int index, std::string_view text);
  void bindInt(int index, std::int64_t value);
  std::string text(int column) const;
  std::int64_t integer(int column) const;
  bool isNull(int column) const;
  sql::Value value(int column) const;  // by the column's storage class: integer, real, text, blob or NULL
  int columnCount() const;
  std::string_view tail() const { return tail_; }

 private:
  sqlite3* db_;
  std::unique_ptr<sqlite3_stmt, StmtFinalizer> stmt_;
  std::string_view tail_;
};

class Database {
 public:
  // Opens (creating when asked) a database file; sets a busy timeout.
  static Database open(const std::filesystem::path& file, bool create);
  static Database openMemory();
  sqlite3* get() const { return db_.get(); }
  void exec(std::string_view sql);
  std::string errorMessage() const { return sqlite3_errmsg(db_.get()); }

  // Records the changes to the rows of `schema`'s tables (main or an attached database) that have
  // a primary key, through SQLite's session extension, until stopped. Throws Error.
  void recordChanges(const std::string& schema);
  // The changes recorded in `schema` since recording began or they were last taken, as a SQLite
  // changeset (empty when none or not recording), and recording begins anew. Changes rolled back
  // are in none. Throws Error.
  std::string takeChanges(const std::string& schema);
  // Every schema recorded; the changes recorded and not taken are dropped.
  std::vector<std::string> recordedSchemas() const;
  void stopRecording(const std::string& schema) { sessions_.erase(schema); }

 private:
  explicit Database(sqlite3* db) : db_(db) {}
  std::unique_ptr<sqlite3, DbCloser> db_;
  // Declared after the connection, so that they are deleted before it closes.
  std::map<std::string, std::unique_ptr<sqlite3_session, SessionDeleter>> sessions_;
};

// Applies a changeset to a connection's main database; false when a change finds its row not as
// the changeset expects (the changeset is then not applied at all). Throws Error.
bool applyChanges(sqlite3* db, std::string_view changeset);

// Rolls back a journal a crashed writer left beside a database file, so that it cannot be
// applied to another file put in its place; a journal that is not hot is removed. Only for a
// file nothing else has open. Throws Error.
void settleJournal(const std::filesystem::path& file);

// Plain statements on a connection, values bound in order.
void execute(sqlite3* db, const std::string& text, const std::vector<sql::Value>& binds = {});
std::vector<sql::Row> select(sqlite3* db, const std::string& text, const std::vector<sql::Value>& binds = {});

// sqlite3_free for memory SQLite hands out.
struct SqliteFree {
  void operator()(void* p) const { sqlite3_free(p); }
};

}  // namespace standin::storage
