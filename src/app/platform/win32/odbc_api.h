// The ODBC API as the Windows SDK declares it: its headers need the Windows types first. The
// POSIX form of this header is platform/posix/odbc_api.h; CMake puts the platform's folder on
// the include path.
#pragma once

#include <windows.h>

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
