// The data-access layer: every exchange with the database server passes through here.
// A Connection is opened from the program's OLE DB-form connection string and speaks ODBC
// (wide entry points) underneath. Qt-free.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/db/connection_settings.h"

namespace bv::db {

// One entry of the provider's error list: the server's (or driver's) own text, with the
// driver's bracketed prefixes taken off.
struct ErrorEntry {
  std::string message;
  std::string sqlState;
  long nativeCode = 0;
};

// Raised by every failing operation; carries the entries of that failure in the order the
// driver reported them.
class ProviderError : public std::runtime_error {
 public:
  ProviderError(const std::string& what, std::vector<ErrorEntry> entries);
  const std::vector<ErrorEntry>& entries() const noexcept { return entries_; }

 private:
  std::vector<ErrorEntry> entries_;
};

// The login timeout of every connection, as the OLE DB provider's default: seconds.
inline constexpr int kLoginTimeoutSeconds = 15;
// The command timeout of a query that names none, as ADO's default: seconds.
inline constexpr int kDefaultCommandTimeoutSeconds = 30;

class Query;

class Connection {
 public:
  explicit Connection(ConnectionSettings settings = {});
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void setSettings(ConnectionSettings settings);
  // Wipes the password this connection keeps (after it opened, nothing needs it again).
  void forgetPassword() noexcept { settings_.forgetPassword(); }
  const ConnectionSettings& settings() const noexcept { return settings_; }

  // Opens the connection; throws ProviderError (or ConnectionStringError for a string that
  // cannot be read or carried to the driver).
  void open();
  void close() noexcept;
  bool isOpen() const noexcept;

  // The provider error list: the error entries of the last operation on this connection or
  // on a query attached to it (empty after a success).
  const std::vector<ErrorEntry>& errors() const noexcept { return errors_; }
  // The server's informational messages of the last operation (BACKUP progress, PRINT, ...),
  // kept apart from errors.
  const std::vector<ErrorEntry>& infoMessages() const noexcept { return infoMessages_; }

  // The databases the server reports to this login (the catalog enumeration), in its order.
  std::vector<std::string> catalogs();

  void beginTransaction();
  void commitTransaction();
  void rollbackTransaction();
  bool inTransaction() const noexcept { return inTransaction_; }

 private:
  friend class Query;
  struct Handles;
  Handles& handles();
  void recordOutcome(std::vector<ErrorEntry> errors, std::vector<ErrorEntry> infos);
  [[noreturn]] void fail(const std::string& what);

  ConnectionSettings settings_;
  std::unique_ptr<Handles> handles_;
  std::vector<ErrorEntry> errors_;
  std::vector<ErrorEntry> infoMessages_;
  bool inTransaction_ = false;
};

// A statement on an open connection: lines of T-SQL sent as one batch, each line followed by
// CR LF. Either opened to read the first result set's rows, or executed for no rows. Every
// result and message of the batch is read to the end before the call returns.
class Query {
 public:
  explicit Query(Connection& connection);
  ~Query();
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  void clear();
  void addLine(std::string line);
  // The text the server receives.
  std::string text() const;

  void setCommandTimeout(int seconds) noexcept { commandTimeoutSeconds_ = seconds; }
  // Receives each informational message of a run as soon as the driver hands it over (as each
  // statement of the batch ends), on the thread that runs the query.
  void setMessageSink(std::function<void(const ErrorEntry&)> sink) { messageSink_ = std::move(sink); }
  int commandTimeout() const noexcept { return commandTimeoutSeconds_; }

  // Runs the text and keeps the rows of its first result set; positioned on the first row.
  void open();
  // Runs the text as a statement that returns no rows.
  void execute();
  void close() noexcept;

  bool isOpen() const noexcept { return open_; }
  bool eof() const noexcept;
  void next();
  std::size_t rowCount() const noexcept { return rows_.size(); }

  // Fields of the current row by name (the name compared ignoring case). A NULL reads as
  // empty text / 0. Throws ProviderError for an unknown name or when there is no current row.
  std::string fieldAsText(std::string_view name) const;
  std::int64_t fieldAsInteger(std::string_view name) const;
  bool fieldIsNull(std::string_view name) const;
  // The position of a column (found once for a long result), and a field by that position;
  // both throw as the fields by name do.
  std::size_t columnIndex(std::string_view name) const;
  const std::optional<std::string>& fieldAt(std::size_t index) const;

 private:
  const std::optional<std::string>& field(std::string_view name) const;
  void run(bool keepRows);

  Connection& connection_;
  std::vector<std::string> lines_;
  int commandTimeoutSeconds_ = kDefaultCommandTimeoutSeconds;
  std::function<void(const ErrorEntry&)> messageSink_;
  bool open_ = false;
  std::vector<std::string> columns_;
  std::vector<std::vector<std::optional<std::string>>> rows_;
  std::size_t position_ = 0;
};

// Takes the driver's bracketed prefixes off a diagnostic text:
// "[FreeTDS][SQL Server]Login failed ..." -> "Login failed ...".
std::string stripDriverPrefixes(std::string_view message);

}  // namespace bv::db
