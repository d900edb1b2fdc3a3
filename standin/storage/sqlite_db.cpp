#include "standin/storage/sqlite_db.h"

#include <cstring>

#include "standin/base/private_files.h"

namespace standin::storage {

using sql::Binary;
using sql::DateTime;
using sql::Row;
using sql::Value;

Statement::Statement(sqlite3* db, std::string_view sql) : db_(db) {
  sqlite3_stmt* raw = nullptr;
  const char* tail = nullptr;
  const int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &raw, &tail);
  stmt_.reset(raw);
  if (rc != SQLITE_OK) throw Error(rc, sqlite3_errmsg(db));
  tail_ = tail ? sql.substr(static_cast<std::size_t>(tail - sql.data())) : std::string_view{};
}

bool Statement::step() {
  if (!stmt_) return false;  // an empty statement (only blanks or a comment)
  const int rc = sqlite3_step(stmt_.get());
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  throw Error(rc, sqlite3_errmsg(db_));
}

void Statement::bindText(int index, std::string_view text) {
  sqlite3_bind_text(stmt_.get(), index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void Statement::bindInt(int index, std::int64_t value) { sqlite3_bind_int64(stmt_.get(), index, value); }

void Statement::bind(int index, const Value& value) {
  if (std::holds_alternative<std::monostate>(value)) {
    sqlite3_bind_null(stmt_.get(), index);
  } else if (const auto* i = std::get_if<std::int64_t>(&value)) {
    bindInt(index, *i);
  } else if (const auto* d = std::get_if<double>(&value)) {
    sqlite3_bind_double(stmt_.get(), index, *d);
  } else if (const auto* s = std::get_if<std::string>(&value)) {
    bindText(index, *s);
  } else if (const auto* dt = std::get_if<DateTime>(&value)) {
    bindText(index, dt->iso());
  } else if (const auto* b = std::get_if<Binary>(&value)) {
    sqlite3_bind_blob(stmt_.get(), index, b->bytes.data(), static_cast<int>(b->bytes.size()),
                      SQLITE_TRANSIENT);
  }
}

std::string Statement::text(int column) const {
  const auto* p = sqlite3_column_text(stmt_.get(), column);
  const int n = sqlite3_column_bytes(stmt_.get(), column);
  return p ? std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n)) : std::string();
}

std::int64_t Statement::integer(int column) const { return sqlite3_column_int64(stmt_.get(), column); }

bool Statement::isNull(int column) const { return sqlite3_column_type(stmt_.get(), column) == SQLITE_NULL; }

Value Statement::value(int column) const {
  switch (sqlite3_column_type(stmt_.get(), column)) {
    case SQLITE_INTEGER:
      return integer(column);
    case SQLITE_FLOAT:
      return sqlite3_column_double(stmt_.get(), column);
    case SQLITE_TEXT:
      return text(column);
    case SQLITE_BLOB: {
      const auto* p = static_cast<const char*>(sqlite3_column_blob(stmt_.get(), column));
      return Binary{
          std::string(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt_.get(), column)))};
    }
    default:
      return std::monostate{};
  }
}

int Statement::columnCount() const { return stmt_ ? sqlite3_column_count(stmt_.get()) : 0; }

Database Database::open(const std::filesystem::path& file, bool create) {
  // SQLite would create a new file with the process's default mode; made here first, it is the
  // owner's only, and so is every journal SQLite makes beside it (journals take their database's mode).
  if (create) {
    if (const int err = base::createPrivateFile(file); err != 0)
      throw Error(SQLITE_CANTOPEN, "cannot create " + file.string() + ": " + std::strerror(err));
  }
  sqlite3* raw = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
  const int rc = sqlite3_open_v2(file.c_str(), &raw, flags, nullptr);
  Database db(raw);
  if (rc != SQLITE_OK) {
    const std::string msg = raw ? sqlite3_errmsg(raw) : "out of memory";
    throw Error(rc, "cannot open " + file.string() + ": " + msg);
  }
  sqlite3_busy_timeout(raw, 5000);
  sqlite3_extended_result_codes(raw, 0);
  return db;
}

Database Database::openMemory() {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(":memory:", &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  Database db(raw);
  if (rc != SQLITE_OK) throw Error(rc, "cannot open an in-memory database");
  return db;
}

void Database::recordChanges(const std::string& schema) {
  sqlite3_session* raw = nullptr;
  const int rc = sqlite3session_create(db_.get(), schema.c_str(), &raw);
  std::unique_ptr<sqlite3_session, SessionDeleter> session(raw);
  if (rc != SQLITE_OK) throw Error(rc, "cannot record the changes of " + schema);
  if (const int attached = sqlite3session_attach(raw, nullptr); attached != SQLITE_OK)
    throw Error(attached, "cannot record the changes of " + schema);
  sessions_[schema] = std::move(session);
}

std::string Database::takeChanges(const std::string& schema) {
  const auto it = sessions_.find(schema);
  if (it == sessions_.end() || sqlite3session_isempty(it->second.get())) return {};
  int size = 0;
  void* bytes = nullptr;
  const int rc = sqlite3session_changeset(it->second.get(), &size, &bytes);
  std::unique_ptr<void, SqliteFree> guard(bytes);
  if (rc != SQLITE_OK) throw Error(rc, "cannot read the changes of " + schema);
  std::string changes(static_cast<const char*>(bytes), static_cast<std::size_t>(size));
  recordChanges(schema);  // a session has no reset: a new one begins where this one ends
  return changes;
}

std::vector<std::string> Database::recordedSchemas() const {
  std::vector<std::string> schemas;
  for (const auto& [schema, session] : sessions_) schemas.push_back(schema);
  return schemas;
}

bool applyChanges(sqlite3* db, std::string_view changeset) {
  struct Outcome {
    bool conflict = false;
  } outcome;
  const auto onConflict = [](void* context, int, sqlite3_changeset_iter*) {
    static_cast<Outcome*>(context)->conflict = true;
    return SQLITE_CHANGESET_ABORT;
  };
  const int rc = sqlite3changeset_apply(db, static_cast<int>(changeset.size()), const_cast<char*>(changeset.data()),
                                        nullptr, onConflict, &outcome);
  if (outcome.conflict) return false;
  if (rc != SQLITE_OK) throw Error(rc, sqlite3_errmsg(db));
  return true;
}

void Database::exec(std::string_view sql) {
  std::string owned(sql);
  char* err = nullptr;
  const int rc = sqlite3_exec(db_.get(), owned.c_str(), nullptr, nullptr, &err);
  std::unique_ptr<char, SqliteFree> guard(err);
  if (rc != SQLITE_OK) throw Error(rc, err ? err : sqlite3_errmsg(db_.get()));
}

void settleJournal(const std::filesystem::path& file) {
  const std::filesystem::path journal = file.string() + "-journal";
  std::error_code ec;
  if (!std::filesystem::exists(journal, ec)) return;
  {
    // The first read of the file rolls a hot journal back and deletes it.
    auto db = Database::open(file, false);
    Statement st(db.get(), "SELECT count(*) FROM sqlite_master");
    st.step();
  }
  std::filesystem::remove(journal, ec);
}

void execute(sqlite3* db, const std::string& text, const std::vector<Value>& binds) {
  Statement st(db, text);
  for (std::size_t i = 0; i < binds.size(); ++i) st.bind(static_cast<int>(i + 1), binds[i]);
  while (st.step()) {
  }
}

std::vector<Row> select(sqlite3* db, const std::string& text, const std::vector<Value>& binds) {
  Statement st(db, text);
  for (std::size_t i = 0; i < binds.size(); ++i) st.bind(static_cast<int>(i + 1), binds[i]);
  std::vector<Row> rows;
  while (st.step()) {
    Row r;
    for (int c = 0; c < st.columnCount(); ++c) r.push_back(st.value(c));
    rows.push_back(std::move(r));
  }
  return rows;
}

}  // namespace standin::storage
