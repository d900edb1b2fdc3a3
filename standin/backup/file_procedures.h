// master's extended procedures over the server's file system that backup retention uses:
// xp_dirtree (a folder's listing) and xp_delete_file (removing one backup file). SQL Server
// documents neither; what the stand-in does is modelled on what their users report
// (docs/standin.md, "Folder listing and deletion").
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "standin/server/context.h"

namespace standin::backup {

// Whether a (lower-case) procedure name is one of them in the emulated release (xp_delete_file
// came with SQL Server 2005).
bool isFileProcedure(std::string_view name, int year);

// Runs one of them (arguments by position); its rows go to the session. Returns the status.
int callFileProcedure(server::Context& c, const std::string& name, const std::vector<server::ProcArg>& args);

}  // namespace standin::backup
