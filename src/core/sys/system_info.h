// Facts about this computer and its user, behind one header; one source file per platform.
// Qt-free.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace bv::sys {

// The computer's NetBIOS-style name: upper case, at most 15 characters (on POSIX the first
// label of the host name).
std::string computerName();

// Names by which this computer may be typed as a server: the computer name and, on POSIX, the
// full host name. Used to reach a local server on the loopback address.
std::vector<std::string> localHostNames();

// The name of the user running the program.
std::string userName();

// The folder of the running program's own executable (/proc/self/exe, GetModuleFileNameW), in
// which the programs installed beside it lie; empty when it cannot be read.
std::filesystem::path executableFolder();

// The runner a task starts, as it lies in the folder given: "Brackenrun" ("Brackenrun.exe" on
// Windows). Beside the program (executableFolder()) in the build tree and when installed.
std::filesystem::path runnerProgram(const std::filesystem::path& folder);

struct OsVersion {
  unsigned long major = 0;
  unsigned long minor = 0;
};
// The operating system's version as the platform reports it: GetVersionExA on Windows; on POSIX
// the kernel release, never 6.0.
OsVersion osVersion();

// Windows Vista (and Server 2008): exactly version 6.0, whose task scheduler cannot be edited
// from here. Any other version, 6.1 and 5.0 included, is not.
bool isWindowsVista(OsVersion version);

// The ODBC driver that reaches SQL Server on this platform when none is configured: FreeTDS on
// POSIX, the system's own "SQL Server" driver on Windows.
std::string defaultOdbcDriver();

}  // namespace bv::sys
