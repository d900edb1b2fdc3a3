// Connection strings: the program describes every connection in the OLE DB provider's form
// ("Provider=SQLOLEDB.1;...;Data Source=..."), built from key/value pairs so that typed values
// are quoted and can never add a key. The data-access layer parses that form and renders the
// string that the ODBC driver understands. Qt-free.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace bv::db {

using KeyValuePairs = std::vector<std::pair<std::string, std::string>>;

// What the user chose in the login group.
struct LoginSettings {
  std::string server;
  bool useSqlAuth = false;
  std::string userName;
  std::string password;
};

// A value as the OLE DB syntax writes it: as it stands when that reads back the same (no ";",
// no edge blank, not starting with a quote or "="), otherwise
// between double quotes (or single quotes when it holds double ones), the enclosing quote doubled.
std::string quoteOleDbValue(std::string_view value);

// "key=value" pairs joined by ";", each value through quoteOleDbValue; no trailing ";".
std::string renderOleDbConnectionString(const KeyValuePairs& pairs);

// The two forms the program uses for its connections:
//   Windows authentication: Provider=SQLOLEDB.1;Persist Security Info=False;
//                           Trusted_Connection=yes;Pooling=false;Data Source=<server>
//   SQL Server authentication: Provider=SQLOLEDB.1;Persist Security Info=False;Pooling=false;
//                           User ID=<user>;Password=<password>;Data Source=<server>
// Values without quotes, semicolons or edge blanks come out exactly as typed.
std::string buildConnectionString(const LoginSettings& login);

// The same, naming a database with an "Initial Catalog" key after the server.
std::string buildConnectionString(const LoginSettings& login, std::string_view initialCatalog);

// Thrown when a connection string cannot be read or cannot be carried to the driver.
class ConnectionStringError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads the OLE DB form: ";"-separated pairs, blanks around keys and unquoted values trimmed,
// quoted values taken literally with the doubled quote undone, "==" in a key standing for "=".
// Later duplicates of a key replace earlier ones (key match ignores case), as OLE DB does.
KeyValuePairs parseOleDbConnectionString(std::string_view text);

// How the target driver reads a braced value.
enum class BraceRule {
  // FreeTDS 1.3: a braced value runs to the first "}" followed by ";"; "}}" is not undone.
  FirstCloseBeforeSemicolon,
  // The ODBC rule of the system drivers: "}" inside a braced value is written "}}".
  DoubledClose,
};

struct OdbcTarget {
  std::string driver;             // driver name (odbcinst.ini) or a library path
  BraceRule braceRule = BraceRule::FirstCloseBeforeSemicolon;
  std::vector<std::string> localNames;  // host names that mean this computer, matched ignoring case
  // The port of a default instance named without one; 0 leaves it to the driver. FreeTDS
  // knows none of its own (with "tds version = auto" it refuses the login).
  int defaultInstancePort = 0;
};

// The driver the data-access layer uses here: the platform's (sys::defaultOdbcDriver(): FreeTDS
// on POSIX, "SQL Server" on Windows) unless BRACKENVALE_ODBC_DRIVER names another; local names
// "(local)", ".", "localhost" and this computer's names.
OdbcTarget defaultOdbcTarget();

// "(local)", "." and the local names become 127.0.0.1 ("host\instance" and "host,port" keep
// their tail): the driver understands neither "(local)" nor ".", and this computer's own name
// may resolve to an address where a loopback-only server does not listen. A plain host gets
// the target's default instance port, as SQL Server's own providers assume 1433.
std::string mapServerForDriver(std::string_view server, const OdbcTarget& target);

// The ODBC connection string for an OLE DB one: Data Source -> Server, User ID -> UID,
// Password -> PWD, Trusted_Connection -> Trusted_Connection, Initial Catalog / Database ->
// Database; provider-only keys (Provider, Persist Security Info, Pooling, Connect Timeout) are
// left out. Ends with ";". Throws ConnectionStringError for a value the driver cannot carry.
std::string renderOdbcConnectionString(const KeyValuePairs& oleDbPairs, const OdbcTarget& target);

// The value of a key (ignoring case), or empty.
std::string findValue(const KeyValuePairs& pairs, std::string_view key);

}  // namespace bv::db
