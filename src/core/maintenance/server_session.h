// One connection to a server for a series of requests of a maintenance road (a proof, a restore):
// rows by column name, statements whose informational messages come back, and the errors of the
// last failure. Qt-free.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/db/connection_settings.h"
#include "core/db/database.h"
#include "core/maintenance/server_release.h"

namespace bv::maintenance {

// One row as column name -> value (NULL as empty).
using Row = std::vector<std::pair<std::string, std::string>>;

// The value of a column, its name compared without regard to ASCII case; empty when absent.
std::string valueOf(const Row& row, std::string_view column);

class ServerSession {
 public:
  // Opens the connection and forgets the password; throws the provider's errors.
  explicit ServerSession(const db::ConnectionSettings& settings);

  std::vector<Row> rows(const std::string& text, const std::vector<std::string>& columns);
  // A statement that returns no rows; its informational messages come back.
  std::vector<db::ErrorEntry> execute(const std::string& text);
  const std::vector<db::ErrorEntry>& errors() const { return connection_.errors(); }
  db::Connection& connection() { return connection_; }

 private:
  db::Connection connection_;
};

// The server's release, by the select list every road reads it with (server_release.h).
ServerRelease readRelease(ServerSession& session);

// DATABASEPROPERTYEX's Status of a database (ONLINE, RESTORING, ...); empty when there is none.
std::string databaseState(ServerSession& session, std::string_view name);

// A box's text: the header, a blank line, then the server's texts, a line each.
std::string withServerTexts(std::string_view header, const std::vector<db::ErrorEntry>& entries);

}  // namespace bv::maintenance
