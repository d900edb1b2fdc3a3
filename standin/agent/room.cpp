// The Agent room's entries in the server's registry.
#include "standin/agent/room.h"

#include "standin/agent/msdb.h"

namespace standin::agent {

void addTo(server::Registry& registry) {
  auto& procedures = registry.procedures;
  procedures.add({"sp_add_job", "msdb", false, 2000, spAddJob});
  procedures.add({"sp_add_jobstep", "msdb", false, 2000, spAddJobStep});
  procedures.add({"sp_add_jobschedule", "msdb", false, 2000, spAddJobSchedule});
  procedures.add({"sp_add_jobserver", "msdb", false, 2000, spAddJobServer});
  procedures.add({"sp_delete_job", "msdb", false, 2000, spDeleteJob});
  procedures.add({"sp_start_job", "msdb", false, 2000, spStartJob});
}

}  // namespace standin::agent
