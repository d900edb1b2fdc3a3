// The backup room's entries in the server's registry: each statement kind with the words that
// start it, its reader, its payload (statements.h), the code that runs it and its name in
// sys.dm_exec_requests; each procedure with the database it lives in.
#include "standin/backup/room.h"

#include "standin/backup/file_procedures.h"
#include "standin/backup/statements.h"

namespace standin::backup {

using server::named;
using server::StatementKind;

void addTo(server::Registry& registry) {
  auto& statements = registry.statements;
  statements.add(StatementKind<Backup>{
      .readings = {{"BACKUP", "", readBackup}},
      .run = backup,
      .command = [](const Backup& s) -> std::optional<server::RunningCommand> {
        return server::RunningCommand{s.log ? "BACKUP LOG" : "BACKUP DATABASE", "running", {}};
      }});
  statements.add(StatementKind<RestoreDatabase>{.readings = {{"RESTORE", "DATABASE", readRestoreDatabase},
                                                             {"RESTORE", "LOG", readRestoreDatabase}},
                                                .run = restoreDatabase,
                                                .command = named("RESTORE DATABASE")});
  statements.add(StatementKind<RestoreLog>{.run = restoreLog, .command = named("RESTORE LOG")});
  // SQL Server names these in sixteen characters.
  statements.add(StatementKind<RestoreVerifyOnly>{.readings = {{"RESTORE", "VERIFYONLY", readRestoreVerifyOnly}},
                                                  .run = restoreVerify,
                                                  .command = named("RESTORE VERIFYON")});
  statements.add(StatementKind<RestoreHeaderOnly>{.readings = {{"RESTORE", "HEADERONLY", readRestoreHeaderOnly}},
                                                  .run = restoreHeaderOnly,
                                                  .command = named("RESTORE HEADERON")});
  statements.add(
      StatementKind<RestoreFileListOnly>{.readings = {{"RESTORE", "FILELISTONLY", readRestoreFileListOnly}},
                                         .run = restoreFileListOnly,
                                         .command = named("RESTORE FILELIST")});
  statements.addReading({"RESTORE", "", refuseRestore});
  statements.add(StatementKind<Dbcc>{
      .readings = {{"DBCC", "", readDbcc}}, .run = otherDbcc, .command = named("DBCC")});
  statements.add(StatementKind<DbccShrinkDatabase>{.run = shrinkDatabase, .command = named("DbccFilesCompact")});
  statements.add(StatementKind<DbccCheckDb>{.run = checkDatabase, .command = named("DBCC TABLE CHECK")});
  statements.add(StatementKind<CreateDatabase>{.readings = {{"CREATE", "DATABASE", readCreateDatabase}},
                                               .run = createDatabase,
                                               .command = named("CREATE DATABASE")});
  statements.add(StatementKind<DropDatabase>{.readings = {{"DROP", "DATABASE", readDropDatabase}},
                                             .run = dropDatabase,
                                             .command = named("DROP DATABASE")});
  statements.add(StatementKind<AlterDatabase>{.readings = {{"ALTER", "DATABASE", readAlterDatabase}},
                                              .run = alterDatabase,
                                              .command = named("ALTER DATABASE")});
  statements.add(StatementKind<Checkpoint>{
      .readings = {{"CHECKPOINT", "", readCheckpoint}}, .run = checkpoint, .command = named("CHECKPOINT")});

  auto& procedures = registry.procedures;
  procedures.add({"xp_dirtree", "master", false, 2000, xpDirtree});
  procedures.add({"xp_fileexist", "master", false, 2000, xpFileexist});
  procedures.add({"xp_delete_file", "master", false, 2005, xpDeleteFile});
}

}  // namespace standin::backup
