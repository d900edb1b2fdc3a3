// How a connection is described: ordered key/value pairs in the OLE DB provider's vocabulary
// ("Provider", "Data Source", "User ID", ...), built once from the login inputs. Their OLE DB-form
// text ("Provider=SQLOLEDB.1;...;Data Source=...") is a rendering, with every value quoted by that
// syntax's rules so a typed value can never add a key; the data-access layer renders the driver's
// own string from the pairs (odbc_connection_string.h). Qt-free.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace bv::db {

using KeyValuePairs = std::vector<std::pair<std::string, std::string>>;

// What the user chose in the login group, as typed.
struct LoginSettings {
  std::string server;
  bool useSqlAuth = false;
  std::string userName;  // SQL Server authentication only
  std::string password;  // SQL Server authentication only
};

// Thrown when a connection string cannot be read or cannot be carried to the driver.
class ConnectionStringError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ConnectionSettings {
 public:
  ConnectionSettings() = default;
  explicit ConnectionSettings(KeyValuePairs pairs) : pairs_(std::move(pairs)) {}

  // Reads a connection string that comes from outside the program, in the OLE DB form:
  // ";"-separated pairs, blanks around keys and unquoted values trimmed, quoted values taken
  // literally with the doubled quote undone, "==" in a key standing for "=". A later duplicate
  // of a key replaces the earlier one in place (keys match ignoring case), as OLE DB does.
  // Throws ConnectionStringError for text it cannot read.
  static ConnectionSettings parse(std::string_view oleDbText);

  const KeyValuePairs& pairs() const noexcept { return pairs_; }
  // The value of a key (ignoring case); empty when the key is absent.
  std::string value(std::string_view key) const;
  // Sets a key: an existing one (ignoring case) keeps its place, a new one is appended.
  void set(std::string_view key, std::string value);

  // Wipes the password's bytes (Password, PWD) and removes it; the settings can no longer log in.
  void forgetPassword() noexcept;

  // The OLE DB-form text: "key=value" pairs joined by ";", no trailing ";". A value comes out
  // as it stands when it reads back the same (no ";", no edge blank, not starting with a quote
  // or "="); otherwise between double quotes (single ones when it holds double ones), the
  // enclosing quote doubled. "=" in a key is written "==".
  std::string text() const;

  friend bool operator==(const ConnectionSettings&, const ConnectionSettings&) = default;

 private:
  KeyValuePairs pairs_;
};

// The settings of a login, in the provider's order:
//   Windows authentication:    Provider=SQLOLEDB.1, Persist Security Info=False,
//                              Trusted_Connection=yes, Pooling=false, Data Source=<server>
//   SQL Server authentication: Provider=SQLOLEDB.1, Persist Security Info=False, Pooling=false,
//                              User ID=<user>, Password=<password>, Data Source=<server>
// With a database named, "Initial Catalog" follows "Pooling". Without one the connection opens in
// the login's default database. Values come out exactly as typed when they need no quotes.
ConnectionSettings loginConnectionSettings(const LoginSettings& login,
                                           std::optional<std::string_view> initialCatalog = {});

}  // namespace bv::db
