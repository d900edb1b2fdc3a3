// The ODBC driver's connection string, rendered from a connection's settings: Data Source ->
// Server, User ID -> UID, Password -> PWD, Trusted_Connection -> Trusted_Connection, Initial
// Catalog / Database -> Database; provider-only keys are left out. Values are carried the way the
// target driver reads them. Qt-free.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/db/connection_settings.h"

namespace bv::db {

// How the target driver reads a braced value.
enum class BraceRule {
  // FreeTDS 1.3: a braced value runs to the first "}" followed by ";"; "}}" is not undone.
  FirstCloseBeforeSemicolon,
  // The ODBC rule of the system drivers: "}" inside a braced value is written "}}".
  DoubledClose,
};

struct OdbcTarget {
  std::string driver;  // driver name (odbcinst.ini) or a library path
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

// The driver's string, ending with ";". Throws ConnectionStringError for a value the driver
// cannot carry.
std::string renderOdbcConnectionString(const ConnectionSettings& settings, const OdbcTarget& target);

}  // namespace bv::db
