// The main window's database list: the login's default database and the databases the server
// reports, read on a connection of its own. Qt-free.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/db/connection_settings.h"

namespace bv::maintenance {

// The list's first entry, standing for the login's default database.
inline constexpr std::string_view kDefaultDatabaseEntry = "<既定値>";

// The database to act on: the default entry resolved to the login's default database, any
// other text as it stands.
std::string resolveDatabaseName(std::string_view listText, std::string_view defaultDatabase);

// The login was refused or the server could not be reached; what() is the provider's text.
class LoginFailed : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct DatabaseList {
  // The database the login opens in (SELECT DB_NAME()); nothing when the server names none.
  std::optional<std::string> defaultDatabase;
  // The databases of the catalog enumeration, in the server's order.
  std::vector<std::string> databases;

  // What the box lists: the default entry first when there is a default database, then the
  // databases.
  std::vector<std::string> entries() const;
};

// Logs in with the login's settings (no database named) and reads the list. Throws LoginFailed
// when the connection cannot be opened, db::ProviderError for a failure after the login. The
// connection is closed on every path.
DatabaseList readDatabaseList(const db::LoginSettings& login);

}  // namespace bv::maintenance
