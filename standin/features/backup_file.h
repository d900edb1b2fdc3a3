// The stand-in's backup file: one or more backup sets, each a header (magic, database name,
// backup set name, description, dates) followed by the database's SQLite content.
//
// Layout of one set (integers little-endian):
//   "BVSTDBAK"  u32 format (1)  u32 header length  header  u64 content length
//   u32 CRC-32 of header  u32 CRC-32 of content  content  "BVSTDEND"
// header: database, backup name, description, server, user (each u32 length + UTF-8),
//         start (i32 days, u32 ticks), finish (i32 days, u32 ticks), u32 position, u32 server year
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "standin/sql/value.h"

namespace standin::features {

inline constexpr char kBackupMagic[] = "BVSTDBAK";
inline constexpr char kBackupTrailer[] = "BVSTDEND";

struct BackupSetInfo {
  std::string databaseName;
  std::string backupName;
  std::string description;
  std::string serverName;
  std::string userName;
  sql::DateTime startDate;
  sql::DateTime finishDate;
  std::uint32_t position = 1;
  std::uint32_t serverYear = 2005;
  std::uint64_t contentSize = 0;
};

struct BackupSet {
  BackupSetInfo info;
  std::string content;  // the SQLite database file's bytes
};

enum class BackupReadStatus {
  Ok,
  CannotOpen,  // osError holds errno
  NotABackup,  // foreign file: no backup magic where a set must start
  Truncated,   // the file ends inside a set
  Damaged,     // a checksum does not match
};

struct BackupReadResult {
  BackupReadStatus status = BackupReadStatus::Ok;
  int osError = 0;
  std::vector<BackupSet> sets;
};

// One backup at a time per file (within this process, across its instances): a NOINIT backup
// reads the sets already there and writes them back with its own, which no other backup may do
// in between, and the backup that finishes last is the one whose file stays. Files are told
// apart by the path they are really written at (symbolic links followed).
class BackupFileLock {
 public:
  explicit BackupFileLock(const std::filesystem::path& file);  // waits for the file's other backup
  ~BackupFileLock();
  BackupFileLock(const BackupFileLock&) = delete;
  BackupFileLock& operator=(const BackupFileLock&) = delete;

 private:
  std::string key_;
};

std::uint32_t crc32(std::string_view data);
std::string encodeBackupSet(const BackupSetInfo& info, std::string_view content);
// Reads every set of a file (the content too when withContent).
BackupReadResult readBackupFile(const std::filesystem::path& file, bool withContent = true);
BackupReadResult decodeBackupSets(std::string_view bytes, bool withContent = true);

}  // namespace standin::features
