// The backup room's statements, each a type of its own with its reader and the code that runs
// it (room.cpp registers them): BACKUP DATABASE and LOG, RESTORE DATABASE, LOG, VERIFYONLY,
// HEADERONLY and FILELISTONLY, DBCC SHRINKDATABASE, CHECKDB and the others DBCC names, CREATE,
// DROP and ALTER DATABASE, and CHECKPOINT.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "standin/server/context.h"
#include "standin/sql/ast.h"
#include "standin/sql/parser.h"

namespace standin::backup {

struct OptionItem {
  std::string name;   // upper case
  sql::ExprPtr value;   // may be null (INIT, REPLACE, STATS without a value)
  sql::ExprPtr value2;  // MOVE 'a' TO 'b'
};

// A statement with WITH options (BACKUP, RESTORE, DBCC).
struct StatementWithOptions : sql::Statement {
  std::vector<OptionItem> options;
  const OptionItem* option(std::string_view upperName) const {
    for (const auto& o : options)
      if (o.name == upperName) return &o;
    return nullptr;
  }
};

// BACKUP DATABASE | LOG database TO DISK = ... WITH ...
struct Backup : StatementWithOptions {
  bool log = false;
  sql::ExprPtr database;
  sql::ExprPtr device;  // null: BACKUP LOG ... WITH TRUNCATE_ONLY | NO_LOG
};

// RESTORE DATABASE | LOG database [FROM DISK = ...] WITH ...
struct RestoreTo : StatementWithOptions {
  sql::ExprPtr database;
  sql::ExprPtr device;  // null: RESTORE DATABASE x WITH RECOVERY, which only recovers
};
struct RestoreDatabase : RestoreTo {};
struct RestoreLog : RestoreTo {};

// RESTORE VERIFYONLY | HEADERONLY | FILELISTONLY FROM DISK = ... WITH ...
struct RestoreFrom : StatementWithOptions {
  sql::ExprPtr device;
};
struct RestoreVerifyOnly : RestoreFrom {};
struct RestoreHeaderOnly : RestoreFrom {};
struct RestoreFileListOnly : RestoreFrom {};

// DBCC command [(arguments)] [WITH options]
struct Dbcc : StatementWithOptions {
  std::string command;  // upper case
  std::vector<sql::ExprPtr> arguments;
};
struct DbccShrinkDatabase : Dbcc {};
struct DbccCheckDb : Dbcc {};

// CREATE DATABASE name [ON ...] [LOG ON ...] [COLLATE collation]
struct CreateDatabase : sql::Statement {
  sql::ExprPtr name;
  std::string collation;  // empty: the server's
};
struct DropDatabase : sql::Statement {
  sql::ExprPtr name;
};
// ALTER DATABASE name | CURRENT SET RECOVERY model [WITH termination]
struct AlterDatabase : sql::Statement {
  sql::ExprPtr name;          // null: CURRENT
  std::string recoveryModel;  // FULL, SIMPLE, BULK_LOGGED
};
struct Checkpoint : sql::Statement {
  sql::ExprPtr duration;  // may be null
};

// The readers, each at the statement's first word (backup.cpp, restore.cpp,
// database_statements.cpp).
sql::StatementPtr readBackup(sql::Parser& p);
sql::StatementPtr readRestoreDatabase(sql::Parser& p);  // and RESTORE LOG
sql::StatementPtr readRestoreVerifyOnly(sql::Parser& p);
sql::StatementPtr readRestoreHeaderOnly(sql::Parser& p);
sql::StatementPtr readRestoreFileListOnly(sql::Parser& p);
sql::StatementPtr refuseRestore(sql::Parser& p);  // LABELONLY, REWINDONLY, and what is no RESTORE
sql::StatementPtr readDbcc(sql::Parser& p);
sql::StatementPtr readCreateDatabase(sql::Parser& p);
sql::StatementPtr readDropDatabase(sql::Parser& p);
sql::StatementPtr readAlterDatabase(sql::Parser& p);
sql::StatementPtr readCheckpoint(sql::Parser& p);

// The code that runs them.
void backup(server::Context& c, const Backup& s);
void restoreDatabase(server::Context& c, const RestoreDatabase& s);
void restoreLog(server::Context& c, const RestoreLog& s);
void restoreVerify(server::Context& c, const RestoreVerifyOnly& s);
void restoreHeaderOnly(server::Context& c, const RestoreHeaderOnly& s);
void restoreFileListOnly(server::Context& c, const RestoreFileListOnly& s);
void shrinkDatabase(server::Context& c, const DbccShrinkDatabase& s);
void checkDatabase(server::Context& c, const DbccCheckDb& s);
void otherDbcc(server::Context& c, const Dbcc& s);  // 2526: no DBCC the stand-in knows
void createDatabase(server::Context& c, const CreateDatabase& s);
void dropDatabase(server::Context& c, const DropDatabase& s);
void alterDatabase(server::Context& c, const AlterDatabase& s);
void checkpoint(server::Context& c, const Checkpoint& s);

}  // namespace standin::backup
