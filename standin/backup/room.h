// What the backup room gives the server: its statements and its procedures (room.cpp lists
// them).
#pragma once

#include "standin/server/registry.h"

namespace standin::backup {

void addTo(server::Registry& registry);

}  // namespace standin::backup
