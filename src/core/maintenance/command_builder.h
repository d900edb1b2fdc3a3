// The T-SQL of the immediate maintenance operations. Each builder is a pure function of its
// inputs: it collects lines and joins them, each line followed by one blank. Qt-free.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bv::maintenance {

// What a backup holds: the whole database, what changed since its last full backup, or the log
// since the last log backup.
enum class BackupKind { Full, Differential, Log };

// Each line followed by exactly one blank, the last one included; nothing trimmed.
std::string joinCommandLines(const std::vector<std::string>& lines);

// The lines of the backup batch without the verify line: DECLARE / SET the date and the file
// with every %date% replaced by the server's yyyymmdd, then BACKUP DATABASE ... WITH STATS,
// INIT, NAME, DESCRIPTION, all inside begin ... end. A scheduled job runs the same lines.
std::vector<std::string> backupCommandLines(std::string_view databaseName, std::string_view backupFilePath);

// A differential or log backup, or a full one with checksums: one file per backup, never INIT.
// The server's time is read once; %date% becomes its yyyymmdd and %time% its hhmmss; the set is
// named Brackenvale_yyyymmddhhmmss; a file that already exists is never written over: the batch
// sends no BACKUP and fails with kBackupFileExists. The verify line, when asked, runs only after
// the backup did. A full backup without checksums is backupCommandLines' batch.
std::vector<std::string> chainBackupCommandLines(std::string_view databaseName, std::string_view backupFilePath,
                                                 BackupKind kind, bool checksum, bool verify);
// The lines a backup of that kind sends, the verify line not included (a scheduled job's step).
std::vector<std::string> backupCommandLines(std::string_view databaseName, std::string_view backupFilePath,
                                            BackupKind kind, bool checksum);
inline constexpr std::string_view kBackupFileExists =
    "バックアップファイル %s は既に存在するため、バックアップしませんでした。";
inline constexpr std::string_view kVerifyLine = "RESTORE VERIFYONLY FROM  DISK = @strFile ";

// The longest backup file the batch carries: its variable is a varchar(1000), in the server's
// code page (932 for the servers this program is made for).
inline constexpr std::size_t kMaxBackupFileBytes = 1000;
inline constexpr std::string_view kBackupFileTooLong = "バックアップファイル名が長すぎます。";
inline constexpr std::string_view kBackupFileUnusableCharacter =
    "バックアップファイル名に使用できない文字が含まれています。";

// Why the backup batch would not write exactly the file named, or nothing. The batch's variable
// would turn a character code page 932 cannot carry into "?" (two names, one file), and would
// cut a path longer than its 1000 bytes (another file, overwritten with INIT). The length counts
// the path as the server resolves it, each %date% (in any letter case) as its 8 digits (%time%
// keeps its length: 6 digits).
std::optional<std::string_view> backupFileProblem(std::string_view backupFilePath);

// The backup batch; with verify, RESTORE VERIFYONLY reads back the file just written.
std::string buildBackupCommand(std::string_view databaseName, std::string_view backupFilePath, bool verify);
std::string buildBackupCommand(std::string_view databaseName, std::string_view backupFilePath, BackupKind kind,
                               bool checksum, bool verify);
std::string buildRestoreCommand(std::string_view databaseName, std::string_view restoreFilePath);
std::string buildTruncateLogCommand(std::string_view databaseName);
std::string buildShrinkCommand(std::string_view databaseName);

}  // namespace bv::maintenance
