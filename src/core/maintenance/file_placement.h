// Where a restore under another name puts the database's files, one rule for the proof and the
// restore: the server's default data and log folders where the release tells them (2012 on),
// else the folders of a database's own files; each file named after the new database and its file
// id. Qt-free.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "core/maintenance/server_release.h"
#include "core/maintenance/server_session.h"

namespace bv::maintenance {

// One file of a backup set, as RESTORE FILELISTONLY lists it.
struct ListedFile {
  std::string logicalName;
  std::string type;  // D data, L log, F full-text catalogue, S FILESTREAM
  long fileId = 0;
};

// RESTORE FILELISTONLY of the set at `position` in `file`.
std::vector<ListedFile> listFiles(ServerSession& session, const std::string& file, const std::string& position,
                                  const ServerRelease& release);

// The data and log folders; `databaseId` names the database whose files' folders are taken
// where the release tells no defaults (master's when empty).
std::pair<std::string, std::string> placementFolders(ServerSession& session, const ServerRelease& release,
                                                     std::string databaseId);

// The new physical name of one file: <name>_<file id> with .mdf for the first data file, .ndf
// for the others and .ldf for the log (folders of full-text catalogues and FILESTREAM data have
// none), in the folder of its kind.
std::string movedPath(const ListedFile& file, const std::string& name, const std::string& dataFolder,
                      const std::string& logFolder, bool firstData);

// ", MOVE N'logical' TO N'path'" for every file, in the list's order.
std::string moveClauses(const std::vector<ListedFile>& files, const std::string& name, const std::string& dataFolder,
                        const std::string& logFolder);

}  // namespace bv::maintenance
