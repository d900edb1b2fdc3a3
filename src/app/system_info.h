// Facts about this computer and its user, behind one header; one source file per platform.
// Qt-free.
#pragma once

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

struct OsVersion {
  unsigned long major = 0;
  unsigned long minor = 0;
};
// The operating system's version as the platform reports it (on POSIX never 6.0, the version
// whose task scheduler cannot be edited from here).
OsVersion osVersion();

}  // namespace bv::sys
