// The T-SQL of the immediate maintenance operations. Each builder is a pure function of its
// inputs: it collects lines and joins them, each line followed by one blank. Qt-free.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace bv::maintenance {

// Each line followed by exactly one blank, the last one included; nothing trimmed.
std::string joinCommandLines(const std::vector<std::string>& lines);

// The lines of the backup batch without the verify line: DECLARE / SET the date and the file
// with every %date% replaced by the server's yyyymmdd, then BACKUP DATABASE ... WITH STATS,
// INIT, NAME, DESCRIPTION, all inside begin ... end. A scheduled job runs the same lines.
std::vector<std::string> backupCommandLines(std::string_view databaseName,
                                            std::string_view backupFilePath);

// The backup batch; with verify, RESTORE VERIFYONLY reads back the file just written.
std::string buildBackupCommand(std::string_view databaseName, std::string_view backupFilePath,
                               bool verify);
std::string buildRestoreCommand(std::string_view databaseName, std::string_view restoreFilePath);
std::string buildTruncateLogCommand(std::string_view databaseName);
std::string buildShrinkCommand(std::string_view databaseName);

}  // namespace bv::maintenance
