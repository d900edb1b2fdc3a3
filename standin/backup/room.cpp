// The backup room's entries in the server's registry.
#include "standin/backup/room.h"

#include "standin/backup/file_procedures.h"

namespace standin::backup {

void addTo(server::Registry& registry) {
  auto& procedures = registry.procedures;
  procedures.add({"xp_dirtree", "master", false, 2000, xpDirtree});
  procedures.add({"xp_delete_file", "master", false, 2005, xpDeleteFile});
}

}  // namespace standin::backup
