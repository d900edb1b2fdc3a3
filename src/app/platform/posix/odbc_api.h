// The ODBC API as unixODBC declares it (POSIX). The Windows form of this header is
// platform/win32/odbc_api.h; CMake puts the platform's folder on the include path.
#pragma once

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
