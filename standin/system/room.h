// What the system room gives the server: its views and functions, each with its columns in
// every release and its rows (views.cpp lists them).
#pragma once

#include "standin/server/registry.h"

namespace standin::system {

void addTo(server::Registry& registry);

}  // namespace standin::system
