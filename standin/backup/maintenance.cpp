// The maintenance statements, each handed to its function: backup.cpp, restore.cpp,
// database_statements.cpp.
#include "standin/backup/maintenance.h"

#include "standin/sql/errors.h"

namespace standin::backup {

using server::Context;

void backup(Context& c, const sql::Statement& s);
void restoreDatabase(Context& c, const sql::Statement& s);
void restoreLog(Context& c, const sql::Statement& s);
void restoreVerify(Context& c, const sql::Statement& s);
void restoreHeaderOnly(Context& c, const sql::Statement& s);
void restoreFileListOnly(Context& c, const sql::Statement& s);
void createDatabase(Context& c, const sql::Statement& s);
void dropDatabase(Context& c, const sql::Statement& s);
void alterDatabase(Context& c, const sql::Statement& s);
void checkpoint(Context& c, const sql::Statement& s);
void shrinkDatabase(Context& c, const sql::Statement& s);
void checkDatabase(Context& c, const sql::Statement& s);

void runMaintenance(Context& c, const sql::Statement& s) {
  using K = sql::Statement::Kind;
  switch (s.kind) {
    case K::BackupDatabase:
    case K::BackupLog:
      return backup(c, s);
    case K::RestoreDatabase:
      return restoreDatabase(c, s);
    case K::RestoreLog:
      return restoreLog(c, s);
    case K::RestoreVerify:
      return restoreVerify(c, s);
    case K::RestoreHeaderOnly:
      return restoreHeaderOnly(c, s);
    case K::RestoreFileListOnly:
      return restoreFileListOnly(c, s);
    case K::DbccShrinkDatabase:
      return shrinkDatabase(c, s);
    case K::Dbcc:
      if (s.name == "CHECKDB") return checkDatabase(c, s);
      throw sql::SqlError(
          2526, 16,
          "Incorrect DBCC statement. Check the documentation for the correct DBCC syntax and options.");
    case K::CreateDatabase:
      return createDatabase(c, s);
    case K::DropDatabase:
      return dropDatabase(c, s);
    case K::AlterDatabase:
      return alterDatabase(c, s);
    case K::Checkpoint:
      return checkpoint(c, s);
    default:
      throw sql::SqlError(50000, 16, "The stand-in server does not support this statement.");
  }
}

}  // namespace standin::backup
