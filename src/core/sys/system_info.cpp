// The parts of the system facts that are the same on every platform.
#include "core/sys/system_info.h"

namespace bv::sys {

bool isWindowsVista(OsVersion version) { return version.major == 6 && version.minor == 0; }

}  // namespace bv::sys
