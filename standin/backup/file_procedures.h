// master's extended procedures over the server's file system that backup retention uses:
// xp_dirtree (a folder's listing), xp_fileexist (whether a file is there) and xp_delete_file
// (removing one backup file). SQL Server
// documents neither; what the stand-in does is modelled on what their users report
// (docs/standin.md, "Folder listing and deletion").
#pragma once

#include <vector>

#include "standin/server/context.h"
#include "standin/sql/results.h"

namespace standin::backup {

// Each runs with its arguments by position; its rows go to the session; 0 is its status. They
// live in master (room.cpp); xp_delete_file came with SQL Server 2005.
int xpDirtree(server::Context& c, std::vector<server::ProcArg>& args, std::vector<sql::ReturnValue>& outputs);
int xpFileexist(server::Context& c, std::vector<server::ProcArg>& args, std::vector<sql::ReturnValue>& outputs);
int xpDeleteFile(server::Context& c, std::vector<server::ProcArg>& args,
                 std::vector<sql::ReturnValue>& outputs);

}  // namespace standin::backup
