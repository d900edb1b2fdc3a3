// The ODBC API as the platform declares it: unixODBC's headers on POSIX; on Windows the SDK's,
// which need the Windows types first. Only the data-access layer includes it.
#pragma once

#ifdef _WIN32
#include <windows.h>
#endif

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
