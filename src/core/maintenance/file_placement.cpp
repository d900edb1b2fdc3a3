#include "core/maintenance/file_placement.h"

#include <cstdlib>

#include "core/db/sql_text.h"

namespace bv::maintenance {
namespace {

std::string folderOf(const std::string& path) {
  const std::size_t separator = path.find_last_of("\\/");
  return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

char separatorOf(const std::string& folder) { return folder.find('\\') != std::string::npos ? '\\' : '/'; }

}  // namespace

std::pair<std::string, std::string> placementFolders(ServerSession& session, const ServerRelease& release,
                                                     std::string databaseId) {
  if (databaseId.empty()) databaseId = "1";
  std::string data, log;
  if (release.tellsDefaultPaths()) {
    const auto paths =
        session.rows("SELECT CONVERT(nvarchar(1024), SERVERPROPERTY('InstanceDefaultDataPath')) AS data_path, "
                     "CONVERT(nvarchar(1024), SERVERPROPERTY('InstanceDefaultLogPath')) AS log_path",
                     {"data_path", "log_path"});
    if (!paths.empty()) {
      data = valueOf(paths[0], "data_path");
      log = valueOf(paths[0], "log_path");
      // The properties end in a separator.
      while (!data.empty() && (data.back() == '\\' || data.back() == '/')) data.pop_back();
      while (!log.empty() && (log.back() == '\\' || log.back() == '/')) log.pop_back();
    }
  }
  if (data.empty() || log.empty()) {
    const bool catalogViews = release.hasCatalogViews();
    const std::string query =
        catalogViews
            ? "SELECT physical_name AS file_name, CASE WHEN type = 1 THEN 1 ELSE 0 END AS is_log "
              "FROM sys.master_files WHERE database_id = " + databaseId + " ORDER BY file_id"
            : "SELECT RTRIM(filename) AS file_name, CASE WHEN status & 64 = 64 THEN 1 ELSE 0 END AS is_log "
              "FROM master..sysaltfiles WHERE dbid = " + databaseId + " ORDER BY fileid";
    for (const Row& row : session.rows(query, {"file_name", "is_log"})) {
      std::string file = valueOf(row, "file_name");
      while (!file.empty() && file.back() == ' ') file.pop_back();  // an nchar(260) of 2000
      const bool isLog = valueOf(row, "is_log") == "1";
      if (isLog && log.empty()) log = folderOf(file);
      if (!isLog && data.empty()) data = folderOf(file);
    }
  }
  if (log.empty()) log = data;
  if (data.empty()) data = log;
  return {data, log};
}

std::string movedPath(const ListedFile& file, const std::string& name, const std::string& dataFolder,
                      const std::string& logFolder, bool firstData) {
  const bool log = file.type == "L";
  const std::string& folder = log ? logFolder : dataFolder;
  std::string fileName = name + "_" + std::to_string(file.fileId);
  if (file.type == "D") fileName += firstData ? ".mdf" : ".ndf";
  if (log) fileName += ".ldf";
  // Full-text catalogues and FILESTREAM data are folders: no extension.
  return folder.empty() ? fileName : folder + separatorOf(folder) + fileName;
}

std::vector<ListedFile> listFiles(ServerSession& session, const std::string& file, const std::string& position,
                                  const ServerRelease& release) {
  std::vector<ListedFile> files;
  const std::string list = "RESTORE FILELISTONLY FROM DISK = " + db::unicodeLiteral(file) + " WITH FILE = " + position;
  const bool hasFileId = release.hasCatalogViews();
  std::vector<std::string> columns = {"LogicalName", "Type"};
  if (hasFileId) columns.push_back("FileId");
  for (const Row& row : session.rows(list, columns)) {
    files.push_back({valueOf(row, "LogicalName"), valueOf(row, "Type"),
                     hasFileId ? std::atol(valueOf(row, "FileId").c_str()) : static_cast<long>(files.size() + 1)});
  }
  return files;
}

std::string moveClauses(const std::vector<ListedFile>& files, const std::string& name, const std::string& dataFolder,
                        const std::string& logFolder) {
  std::string clauses;
  bool firstData = true;
  for (const ListedFile& listed : files) {
    clauses += ", MOVE " + db::unicodeLiteral(listed.logicalName) + " TO " +
               db::unicodeLiteral(movedPath(listed, name, dataFolder, logFolder, firstData && listed.type == "D"));
    if (listed.type == "D") firstData = false;
  }
  return clauses;
}

}  // namespace bv::maintenance
