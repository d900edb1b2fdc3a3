#include "core/db/database.h"

#include <algorithm>
#include <charconv>
#include <iterator>

#include "core/db/odbc_api.h"
#include "core/db/odbc_connection_string.h"
#include "core/sys/wipe.h"
#include "core/text/ascii.h"
#include "core/text/utf16.h"

namespace bv::db {
namespace {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the ODBC wide type must be UTF-16");

// An ODBC handle that frees itself.
class OdbcHandle {
 public:
  OdbcHandle() = default;
  OdbcHandle(SQLSMALLINT type, SQLHANDLE handle) : type_(type), handle_(handle) {}
  ~OdbcHandle() { reset(); }
  OdbcHandle(OdbcHandle&& other) noexcept
      : type_(other.type_), handle_(std::exchange(other.handle_, nullptr)) {}
  OdbcHandle& operator=(OdbcHandle&& other) noexcept {
    if (this != &other) {
      reset();
      type_ = other.type_;
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  OdbcHandle(const OdbcHandle&) = delete;
  OdbcHandle& operator=(const OdbcHandle&) = delete;

  SQLHANDLE get() const noexcept { return handle_; }
  SQLSMALLINT type() const noexcept { return type_; }
  explicit operator bool() const noexcept { return handle_ != SQL_NULL_HANDLE; }
  void reset() noexcept {
    if (handle_ != SQL_NULL_HANDLE) SQLFreeHandle(type_, handle_);
    handle_ = SQL_NULL_HANDLE;
  }

 private:
  SQLSMALLINT type_ = 0;
  SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

bool succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

std::u16string wide(std::string_view text) { return text::utf8ToUtf16(text); }

SQLWCHAR* wideArg(std::u16string& text) { return reinterpret_cast<SQLWCHAR*>(text.data()); }

std::string narrow(const SQLWCHAR* text, std::size_t length) {
  return text::utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text), length));
}

// Diagnostics of one call, split into errors and informational messages.
struct Diagnostics {
  std::vector<ErrorEntry> errors;
  std::vector<ErrorEntry> infos;

  void collect(const OdbcHandle& handle) {
    if (!handle) return;
    for (SQLSMALLINT record = 1;; ++record) {
      SQLWCHAR state[6] = {};
      SQLINTEGER native = 0;
      SQLSMALLINT length = 0;
      std::u16string message(1024, u'\0');
      SQLRETURN rc = SQLGetDiagRecW(handle.type(), handle.get(), record, state, &native, wideArg(message),
                                    static_cast<SQLSMALLINT>(message.size()), &length);
      if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(message.size())) {
        message.assign(static_cast<std::size_t>(length) + 1, u'\0');
        rc = SQLGetDiagRecW(handle.type(), handle.get(), record, state, &native, wideArg(message),
                            static_cast<SQLSMALLINT>(message.size()), &length);
      }
      if (!succeeded(rc)) break;
      message.resize(
          std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)), message.size()));
      ErrorEntry entry{stripDriverPrefixes(text::utf16ToUtf8(message)), narrow(state, 5), native};
      // SQLSTATE class 01 is a warning: the server's informational messages arrive as such.
      (entry.sqlState.rfind("01", 0) == 0 ? infos : errors).push_back(std::move(entry));
    }
  }

  // Collects the records of a call that failed. When the driver gives the failure only as
  // warnings (FreeTDS's own "Unexpected EOF from the server", when the server goes away, is
  // SQLSTATE 01000), those warnings are the failure's text. False when the call added no error
  // record of its own.
  bool collectFailure(const OdbcHandle& handle) {
    const std::size_t errorsBefore = errors.size();
    const std::size_t infosBefore = infos.size();
    collect(handle);
    if (errors.size() != errorsBefore) return true;
    const auto warnings = infos.begin() + static_cast<std::ptrdiff_t>(infosBefore);
    errors.insert(errors.end(), std::make_move_iterator(warnings), std::make_move_iterator(infos.end()));
    infos.erase(warnings, infos.end());
    return false;
  }
};

std::string describe(const std::vector<ErrorEntry>& entries, const std::string& fallback) {
  std::string text;
  for (const auto& entry : entries) {
    if (!text.empty()) text += "\n";
    text += entry.message;
  }
  return text.empty() ? fallback : text;
}

bool connectionLost(const std::vector<ErrorEntry>& errors) {
  return std::any_of(errors.begin(), errors.end(), [](const ErrorEntry& e) { return e.sqlState == "08S01"; });
}

}  // namespace

std::string stripDriverPrefixes(std::string_view message) {
  while (!message.empty() && message.front() == '[') {
    const std::size_t close = message.find(']');
    if (close == std::string_view::npos) break;
    message.remove_prefix(close + 1);
  }
  return std::string(message);
}

ProviderError::ProviderError(const std::string& what, std::vector<ErrorEntry> entries)
    : std::runtime_error(what), entries_(std::move(entries)) {}

struct Connection::Handles {
  OdbcHandle environment;
  OdbcHandle connection;
};

Connection::Connection(ConnectionSettings settings) : settings_(std::move(settings)) {}

Connection::~Connection() { close(); }

void Connection::setSettings(ConnectionSettings settings) { settings_ = std::move(settings); }

bool Connection::isOpen() const noexcept { return handles_ != nullptr; }

Connection::Handles& Connection::handles() {
  if (!handles_) {
    recordOutcome({{"The connection is not open.", "08003", 0}}, {});
    fail("The connection is not open.");
  }
  return *handles_;
}

void Connection::recordOutcome(std::vector<ErrorEntry> errors, std::vector<ErrorEntry> infos) {
  errors_ = std::move(errors);
  infoMessages_ = std::move(infos);
}

void Connection::fail(const std::string& what) { throw ProviderError(describe(errors_, what), errors_); }

void Connection::open() {
  close();
  recordOutcome({}, {});
  std::string odbcString = renderOdbcConnectionString(settings_, defaultOdbcTarget());

  auto handles = std::make_unique<Handles>();
  SQLHANDLE raw = SQL_NULL_HANDLE;
  if (!succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &raw))) {
    recordOutcome({{"The ODBC driver manager is not available.", "HY000", 0}}, {});
    fail("The ODBC driver manager is not available.");
  }
  handles->environment = OdbcHandle(SQL_HANDLE_ENV, raw);
  SQLSetEnvAttr(raw, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);

  if (!succeeded(SQLAllocHandle(SQL_HANDLE_DBC, handles->environment.get(), &raw))) {
    Diagnostics diagnostics;
    diagnostics.collect(handles->environment);
    recordOutcome(std::move(diagnostics.errors), std::move(diagnostics.infos));
    fail("Could not allocate a connection handle.");
  }
  handles->connection = OdbcHandle(SQL_HANDLE_DBC, raw);
  SQLSetConnectAttrW(raw, SQL_ATTR_LOGIN_TIMEOUT,
                     reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(kLoginTimeoutSeconds)), 0);

  std::u16string in = wide(odbcString);
  sys::wipe(odbcString);
  const SQLRETURN rc =
      SQLDriverConnectW(raw, nullptr, wideArg(in), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  sys::wipe(in);  // the driver string holds the password
  Diagnostics diagnostics;
  if (succeeded(rc)) {
    diagnostics.collect(handles->connection);
  } else {
    diagnostics.collectFailure(handles->connection);
    if (diagnostics.errors.empty()) {
      diagnostics.errors.push_back({"Could not connect to the server.", "08001", 0});
    }
    recordOutcome(std::move(diagnostics.errors), std::move(diagnostics.infos));
    fail("Could not connect to the server.");
  }
  recordOutcome({}, std::move(diagnostics.infos));
  handles_ = std::move(handles);
}

void Connection::close() noexcept {
  if (!handles_) return;
  if (inTransaction_ && handles_->connection) {
    // A transaction nobody committed is rolled back here, so that it never stays open on the
    // server (holding its locks) after the program has let go of the connection.
    SQLEndTran(SQL_HANDLE_DBC, handles_->connection.get(), SQL_ROLLBACK);
    SQLSetConnectAttrW(handles_->connection.get(), SQL_ATTR_AUTOCOMMIT,
                       reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
  }
  if (handles_->connection) SQLDisconnect(handles_->connection.get());
  handles_.reset();  // frees the connection handle, then the environment
  inTransaction_ = false;
}

std::vector<std::string> Connection::catalogs() {
  Handles& h = handles();
  SQLHANDLE raw = SQL_NULL_HANDLE;
  Diagnostics diagnostics;
  if (!succeeded(SQLAllocHandle(SQL_HANDLE_STMT, h.connection.get(), &raw))) {
    diagnostics.collect(h.connection);
    recordOutcome(std::move(diagnostics.errors), {});
    fail("Could not allocate a statement handle.");
  }
  OdbcHandle statement(SQL_HANDLE_STMT, raw);
  SQLSetStmtAttrW(raw, SQL_ATTR_QUERY_TIMEOUT,
                  reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(kDefaultCommandTimeoutSeconds)), 0);
  std::u16string all = u"%";
  std::u16string none;
  none.push_back(u'\0');
  SQLRETURN rc = SQLTablesW(raw, wideArg(all), SQL_NTS, wideArg(none), 0, wideArg(none), 0, nullptr, 0);
  diagnostics.collect(statement);
  std::vector<std::string> names;
  if (succeeded(rc)) {
    for (;;) {
      rc = SQLFetch(raw);
      if (rc == SQL_NO_DATA) break;
      if (!succeeded(rc)) {
        diagnostics.collect(statement);
        break;
      }
      std::u16string value(256, u'\0');
      SQLLEN indicator = 0;
      const SQLRETURN get = SQLGetData(raw, 1, SQL_C_WCHAR, value.data(),
                                       static_cast<SQLLEN>(value.size() * sizeof(char16_t)), &indicator);
      if (!succeeded(get)) {
        diagnostics.collect(statement);
        break;
      }
      if (indicator == SQL_NULL_DATA) continue;
      const auto units =
          std::min<std::size_t>(static_cast<std::size_t>(indicator) / sizeof(char16_t), value.size() - 1);
      names.push_back(text::utf16ToUtf8(std::u16string_view(value.data(), units)));
    }
    while (SQLMoreResults(raw) != SQL_NO_DATA) {
      diagnostics.collect(statement);
      if (connectionLost(diagnostics.errors)) break;
    }
  } else if (diagnostics.errors.empty()) {
    diagnostics.errors.push_back({"The database list could not be read.", "HY000", 0});
  }
  recordOutcome(diagnostics.errors, std::move(diagnostics.infos));
  if (!errors_.empty()) fail("The database list could not be read.");
  return names;
}

void Connection::beginTransaction() {
  Handles& h = handles();
  const SQLRETURN rc = SQLSetConnectAttrW(h.connection.get(), SQL_ATTR_AUTOCOMMIT,
                                          reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0);
  Diagnostics diagnostics;
  diagnostics.collect(h.connection);
  recordOutcome(std::move(diagnostics.errors), std::move(diagnostics.infos));
  if (!succeeded(rc)) fail("The transaction could not be started.");
  inTransaction_ = true;
}

namespace {

// Ends the transaction and goes back to autocommit. The driver starts a new transaction after
// each commit or rollback while autocommit is off; switching autocommit on rolls that empty
// one back.
SQLRETURN endTransaction(SQLHANDLE connection, SQLSMALLINT completion, Diagnostics& diagnostics,
                         const OdbcHandle& handle) {
  const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, connection, completion);
  diagnostics.collect(handle);
  const SQLRETURN back =
      SQLSetConnectAttrW(connection, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
  diagnostics.collect(handle);
  return succeeded(rc) ? back : rc;
}

}  // namespace

void Connection::commitTransaction() {
  Handles& h = handles();
  Diagnostics diagnostics;
  const SQLRETURN rc = endTransaction(h.connection.get(), SQL_COMMIT, diagnostics, h.connection);
  inTransaction_ = false;
  recordOutcome(std::move(diagnostics.errors), std::move(diagnostics.infos));
  if (!succeeded(rc)) fail("The transaction could not be committed.");
}

void Connection::rollbackTransaction() {
  Handles& h = handles();
  Diagnostics diagnostics;
  const SQLRETURN rc = endTransaction(h.connection.get(), SQL_ROLLBACK, diagnostics, h.connection);
  inTransaction_ = false;
  recordOutcome(std::move(diagnostics.errors), std::move(diagnostics.infos));
  if (!succeeded(rc)) fail("The transaction could not be rolled back.");
}

Query::Query(Connection& connection) : connection_(connection) {}

Query::~Query() { close(); }

void Query::clear() { lines_.clear(); }

void Query::addLine(std::string line) { lines_.push_back(std::move(line)); }

std::string Query::text() const {
  std::string out;
  for (const auto& line : lines_) {
    out += line;
    out += "\r\n";
  }
  return out;
}

void Query::open() { run(true); }

void Query::execute() { run(false); }

void Query::close() noexcept {
  open_ = false;
  columns_.clear();
  rows_.clear();
  position_ = 0;
}

bool Query::eof() const noexcept { return position_ >= rows_.size(); }

void Query::next() {
  if (position_ < rows_.size()) ++position_;
}

namespace {

// Reads one column of the current row as text; NULL gives nullopt. `chunk` is the caller's buffer,
// kept from cell to cell: a long result is read without a buffer made for each of its values.
std::optional<std::string> readColumn(SQLHANDLE statement, SQLUSMALLINT column, Diagnostics& diagnostics,
                                      const OdbcHandle& handle, bool& failed, std::u16string& chunk) {
  std::u16string value;
  if (chunk.size() != 2048) chunk.assign(2048, u'\0');
  for (;;) {
    SQLLEN indicator = 0;
    const SQLRETURN rc = SQLGetData(statement, column, SQL_C_WCHAR, chunk.data(),
                                    static_cast<SQLLEN>(chunk.size() * sizeof(char16_t)), &indicator);
    if (rc == SQL_NO_DATA) break;
    if (!succeeded(rc)) {
      diagnostics.collect(handle);
      failed = true;
      return std::nullopt;
    }
    if (indicator == SQL_NULL_DATA) return std::nullopt;
    const std::size_t capacity = chunk.size() - 1;  // room for the terminator
    if (rc == SQL_SUCCESS_WITH_INFO &&
        (indicator == SQL_NO_TOTAL || static_cast<std::size_t>(indicator) / sizeof(char16_t) > capacity)) {
      value.append(chunk.data(), capacity);  // truncated: more follows
      continue;
    }
    value.append(chunk.data(), static_cast<std::size_t>(indicator) / sizeof(char16_t));
    break;
  }
  return text::utf16ToUtf8(value);
}

std::vector<std::string> columnNames(SQLHANDLE statement, SQLSMALLINT columnCount) {
  std::vector<std::string> names;
  for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(columnCount); ++c) {
    SQLWCHAR name[256] = {};
    SQLSMALLINT nameLength = 0, dataType = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    SQLDescribeColW(statement, c, name, 255, &nameLength, &dataType, &size, &digits, &nullable);
    names.push_back(narrow(name, static_cast<std::size_t>(std::clamp<SQLSMALLINT>(nameLength, 0, 255))));
  }
  return names;
}

// Fetches the current result's rows to its end, or up to a failure (the row being read when a
// column fails is kept).
void fetchRows(SQLHANDLE statement, SQLSMALLINT columnCount, Diagnostics& diagnostics,
               const OdbcHandle& handle, std::vector<std::vector<std::optional<std::string>>>& rows,
               bool& failed) {
  std::u16string chunk;
  for (;;) {
    const SQLRETURN fetch = SQLFetch(statement);
    if (fetch == SQL_NO_DATA) break;
    if (fetch == SQL_SUCCESS_WITH_INFO) diagnostics.collect(handle);
    if (!succeeded(fetch)) {
      diagnostics.collect(handle);
      failed = true;
      break;
    }
    std::vector<std::optional<std::string>> row;
    row.reserve(static_cast<std::size_t>(columnCount));
    for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(columnCount); ++c) {
      row.push_back(readColumn(statement, c, diagnostics, handle, failed, chunk));
    }
    rows.push_back(std::move(row));
    if (failed) break;
  }
}

}  // namespace

void Query::run(bool keepRows) {
  close();
  Connection::Handles& h = connection_.handles();
  Diagnostics diagnostics;
  SQLHANDLE raw = SQL_NULL_HANDLE;
  if (!succeeded(SQLAllocHandle(SQL_HANDLE_STMT, h.connection.get(), &raw))) {
    diagnostics.collect(h.connection);
    if (diagnostics.errors.empty())
      diagnostics.errors.push_back({"Could not allocate a statement.", "HY001", 0});
    connection_.recordOutcome(std::move(diagnostics.errors), {});
    connection_.fail("Could not allocate a statement.");
  }
  OdbcHandle statement(SQL_HANDLE_STMT, raw);
  SQLSetStmtAttrW(raw, SQL_ATTR_QUERY_TIMEOUT,
                  reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(std::max(commandTimeoutSeconds_, 0))), 0);

  std::u16string sql = wide(text());
  SQLRETURN rc = SQLExecDirectW(raw, wideArg(sql), static_cast<SQLINTEGER>(sql.size()));
  bool haveResult = rc != SQL_NO_DATA;
  bool failed = !(succeeded(rc) || rc == SQL_NO_DATA);
  if (failed) {
    diagnostics.collectFailure(statement);
  } else {
    diagnostics.collect(statement);
  }
  // The messages so far go to the sink at once, so a long batch reports as it goes.
  std::size_t reported = 0;
  const auto report = [&] {
    if (!messageSink_) return;
    for (; reported < diagnostics.infos.size(); ++reported) messageSink_(diagnostics.infos[reported]);
  };
  report();

  bool rowsTaken = !keepRows;
  // Every result and message of the batch is read to the end: a client that stops reading
  // makes the server abandon the rest of the batch (a BACKUP among it).
  for (int guard = 0; guard < 1'000'000; ++guard) {
    if (haveResult && !failed && !rowsTaken) {
      SQLSMALLINT columnCount = 0;
      SQLNumResultCols(raw, &columnCount);
      if (columnCount > 0) {
        rowsTaken = true;
        columns_ = columnNames(raw, columnCount);
        fetchRows(raw, columnCount, diagnostics, statement, rows_, failed);
      }
    }
    rc = SQLMoreResults(raw);
    if (rc == SQL_NO_DATA || rc == SQL_INVALID_HANDLE) break;
    if (rc == SQL_ERROR) {
      failed = true;
      const bool serverError = diagnostics.collectFailure(statement);
      report();
      // A failure without an error record of its own (the driver's, the link gone), or a lost
      // link, ends the reading.
      if (!serverError || connectionLost(diagnostics.errors)) break;
      haveResult = false;
      continue;
    }
    diagnostics.collect(statement);
    report();
    haveResult = true;
  }
  if (failed && diagnostics.errors.empty()) {
    diagnostics.errors.push_back({"The statement failed without a message from the server.", "HY000", 0});
  }
  connection_.recordOutcome(diagnostics.errors, std::move(diagnostics.infos));
  if (failed) {
    close();
    connection_.fail("The statement failed.");
  }
  open_ = keepRows;
}

std::size_t Query::columnIndex(std::string_view name) const {
  const auto column = std::find_if(columns_.begin(), columns_.end(), [&](const std::string& c) {
    return text::equalsIgnoringAsciiCase(c, name);
  });
  if (column == columns_.end()) {
    const std::string message = "Field '" + std::string(name) + "' not found.";
    throw ProviderError(message, {{message, "07009", 0}});
  }
  return static_cast<std::size_t>(column - columns_.begin());
}

const std::optional<std::string>& Query::fieldAt(std::size_t index) const {
  if (eof()) {
    const std::string message = "There is no current row.";
    throw ProviderError(message, {{message, "24000", 0}});
  }
  return rows_[position_].at(index);
}

const std::optional<std::string>& Query::field(std::string_view name) const { return fieldAt(columnIndex(name)); }

std::string Query::fieldAsText(std::string_view name) const { return field(name).value_or(std::string()); }

bool Query::fieldIsNull(std::string_view name) const { return !field(name).has_value(); }

std::int64_t Query::fieldAsInteger(std::string_view name) const {
  const auto& value = field(name);
  if (!value || value->empty()) return 0;
  std::int64_t number = 0;
  const char* begin = value->data();
  const char* end = begin + value->size();
  while (begin != end && *begin == ' ') ++begin;
  const auto [ptr, ec] = std::from_chars(begin, end, number);
  if (ec != std::errc() || ptr != end) {
    const std::string message = "Field '" + std::string(name) + "' does not hold an integer: " + *value;
    throw ProviderError(message, {{message, "22018", 0}});
  }
  return number;
}

}  // namespace bv::db
