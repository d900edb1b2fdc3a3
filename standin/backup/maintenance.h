// The maintenance statements: BACKUP DATABASE and BACKUP LOG, RESTORE DATABASE, LOG, VERIFYONLY,
// HEADERONLY and FILELISTONLY, DBCC SHRINKDATABASE and CHECKDB, CREATE, DROP and ALTER DATABASE
// and CHECKPOINT, with SQL Server's messages and errors.
#pragma once

#include "standin/server/context.h"
#include "standin/sql/ast.h"

namespace standin::backup {

// Runs one of them (a statement of those kinds) in the session `c` stands for.
void runMaintenance(server::Context& c, const sql::Statement& s);

}  // namespace standin::backup
