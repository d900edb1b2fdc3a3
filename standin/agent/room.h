// What the Agent's room gives the server: msdb's Agent procedures (room.cpp lists them).
#pragma once

#include "standin/server/registry.h"

namespace standin::agent {

void addTo(server::Registry& registry);

}  // namespace standin::agent
