// Prints what the system facts report about the Windows version, for the tests that tell Wine
// which version to report to this program: "MAJOR.MINOR VISTA", VISTA being 1 or 0.
#include <cstdio>

#include "core/sys/system_info.h"

int main() {
  const bv::sys::OsVersion version = bv::sys::osVersion();
  std::printf("%lu.%lu %d\n", version.major, version.minor, bv::sys::isWindowsVista(version) ? 1 : 0);
  return 0;
}
