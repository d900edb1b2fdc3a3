// The stand-in's backup file: one or more backup sets, each a header (magic, database name,
// backup set name, description, dates, and from format 2 on what a set says of itself: its
// type, log sequence numbers, files and compression) followed by the database's SQLite content.
//
// Layout of one set (integers little-endian):
//   "BVSTDBAK"  u32 format (1 or 2)  u32 header length  header  u64 stored content length
//   u32 CRC-32 of header  u32 CRC-32 of stored content  stored content  "BVSTDEND"
// header: database, backup name, description, server, user (each u32 length + UTF-8),
//         start (i32 days, u32 ticks), finish (i32 days, u32 ticks), u32 position, u32 server year
//         format 2: then fields, each u16 tag, u32 length, bytes (unknown tags are skipped); a
//         log set's committed changes: u64 complete-from LSN, u32 count, each u64 LSN, i32 days,
//         u32 ticks, u8 unreplayable, u32 length + SQLite changeset
// The stored content is the database file's bytes, deflated (zlib) when the set is compressed.
// A set of any type holds the whole database as it was when the set was written: a log set is
// what applying that log brings a database to.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "standin/sql/value.h"
#include "standin/storage/catalog.h"

namespace standin::backup {

inline constexpr char kBackupMagic[] = "BVSTDBAK";
inline constexpr char kBackupTrailer[] = "BVSTDEND";

// A file of the backed-up database, as RESTORE FILELISTONLY lists it.
struct BackupFileEntry {
  char type = 'D';           // D data, L log
  std::string logicalName;   // as the database named it
  std::string physicalName;  // where it was when the backup was made
  std::uint64_t size = 0;    // bytes
};

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
  std::uint64_t contentSize = 0;  // the database's bytes (uncompressed)
  std::uint64_t storedSize = 0;   // what the file holds of them (compressed or not)
  // Format 2 (a format 1 set reads as a full, uncompressed database backup without these).
  char type = 'D';  // D database, I differential, L log
  bool compressed = false;
  bool copyOnly = false;
  bool checksums = false;
  std::uint64_t firstLsn = 0;
  std::uint64_t lastLsn = 0;
  std::uint64_t checkpointLsn = 0;
  std::uint64_t databaseBackupLsn = 0;  // the full backup the set builds on (log, differential)
  int recoveryModel = 3;                // 1 FULL, 2 BULK_LOGGED, 3 SIMPLE
  sql::DateTime databaseCreated;
  std::string setGuid;                       // backupset.backup_set_uuid
  std::string databaseGuid;                  // the same for every backup of one database
  std::string collation = "Japanese_CI_AS";  // the database's (sets of earlier versions: the server's)
  std::vector<BackupFileEntry> files;
  bool hasDetails = false;  // written in format 2
  // A log set's committed changes (each with its commit time), for a restore that stops inside
  // it; nullopt for other sets and log sets of earlier versions.
  std::optional<storage::LoggedChanges> committed;
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

// A set as it is written: what comes before its stored content, the stored content (deflated
// when the set is compressed) and what follows it, so that a backup can copy the content a
// piece at a time.
struct EncodedBackupSet {
  std::string head;
  std::string content;
  std::string tail;
  std::string whole() const { return head + content + tail; }
};

// Encodes a set in format 2; info.storedSize is set to the stored content's length.
EncodedBackupSet encodeBackupSet(BackupSetInfo& info, std::string_view databaseContent);
// Reads every set of a file (the content too when withContent, inflated when compressed).
BackupReadResult readBackupFile(const std::filesystem::path& file, bool withContent = true);
BackupReadResult decodeBackupSets(std::string_view bytes, bool withContent = true);

}  // namespace standin::backup
