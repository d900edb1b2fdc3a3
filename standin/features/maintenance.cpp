// BACKUP, RESTORE, DBCC SHRINKDATABASE, CREATE/DROP DATABASE.
#include "standin/features/maintenance.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "standin/base/private_files.h"
#include "standin/base/text.h"
#include "standin/features/backup_file.h"
#include "standin/features/backup_history.h"
#include "standin/storage/catalog.h"
#include "standin/storage/sqlite_db.h"

namespace standin::features {

using base::equalsIgnoreCase;
using sql::Column;
using sql::DateTime;
using sql::Expr;
using sql::isNull;
using sql::Message;
using sql::ResultSet;
using sql::Row;
using sql::SqlError;
using sql::SqlErrors;
using sql::SqlType;
using sql::Statement;
using sql::StatementDone;
using sql::TypedValue;
using sql::Value;

namespace {

// errno of a failed file operation -> "3(The system cannot find the path specified.)"
std::string osErrorText(int err, bool reading, const std::filesystem::path& path) {
  switch (err) {
    case ENOENT: {
      std::error_code ec;
      const bool parentExists = std::filesystem::is_directory(path.parent_path(), ec);
      if (reading && parentExists) return "2(The system cannot find the file specified.)";
      return "3(The system cannot find the path specified.)";
    }
    case ENOTDIR:
      return "3(The system cannot find the path specified.)";
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return "5(Access is denied.)";
    case ENOSPC:
    case EDQUOT:
      return "112(There is not enough space on the disk.)";
    case EFBIG:
      return "223(The file size exceeds the limit allowed and cannot be saved.)";
    case ENAMETOOLONG:
      return "206(The filename or extension is too long.)";
    default:
      return "31(A device attached to the system is not functioning.)";
  }
}

Message msg(int number, int severity, std::string text) {
  return Message{number, 1, severity, std::move(text), 1, {}};
}

[[noreturn]] void terminate(const std::string& what, std::vector<Message> first) {
  first.push_back(msg(3013, 16, what + " is terminating abnormally."));
  throw SqlErrors(std::move(first));
}

// A Windows-style absolute path ("C:\...", "\\server\share") names nothing on this machine.
bool isForeignPath(const std::string& text) {
  if (text.size() >= 3 && ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z')) &&
      text[1] == ':' && (text[2] == '\\' || text[2] == '/'))
    return true;
  return text.rfind("\\\\", 0) == 0;
}

Message cannotOpen(const std::string& device, const std::string& osText) {
  return msg(3201, 16, "Cannot open backup device '" + device + "'. Operating system error " + osText + ".");
}

// 3634: a file of the database could not be written.
Message osErrorWhile(int err, const std::string& attempting, const std::filesystem::path& file) {
  return msg(3634, 16,
             "The operating system returned the error '" + osErrorText(err, false, file) +
                 "' while attempting '" + attempting + "' on '" + file.string() + "'.");
}

// 3266: appending to media whose last set does not read back whole.
std::string badMediaEnd(int year, const std::filesystem::path& file) {
  if (year == 2000)
    return "The backup data in '" + file.string() +
           "' is incorrectly formatted. Backups cannot be appended, but existing backup sets may still be "
           "usable.";
  return "The backup data at the end of \"" + file.string() +
         "\" is incorrectly formatted. Backup sets on the media might be damaged and unusable. To determine "
         "the "
         "backup sets on the media, use RESTORE HEADERONLY. To determine the usability of the backup sets, "
         "run "
         "RESTORE VERIFYONLY. If all of the backup sets are incomplete, reformat the media using BACKUP WITH "
         "FORMAT, "
         "which destroys all the backup sets.";
}

Message writeFailed(const std::filesystem::path& file, int err) {
  return msg(3202, 16, "Write on \"" + file.string() + "\" failed: " + osErrorText(err, false, file));
}

// A file's new content, given whole to a temporary file beside it and put in its place only
// when complete; a failure ends the statement with SQL Server's errors and leaves the old file.
// A client gone before the end cancels it, and the old file stays.
void replaceFile(Context& c, const std::string& what, const std::filesystem::path& file,
                 std::string_view first, std::string_view second = {}) {
  base::ReplacementFile out(file);
  if (out.error() != 0) terminate(what, {cannotOpen(file.string(), osErrorText(out.error(), false, file))});
  if (!out.write(first) || !out.write(second)) terminate(what, {writeFailed(file, out.error())});
  c.checkCancel();
  if (!out.commit()) {
    // A target that cannot be replaced (a folder, a read-only place) is a device that cannot be opened.
    terminate(what, {out.failedAt() == base::ReplacementFile::Stage::Replace
                         ? cannotOpen(file.string(), osErrorText(out.error(), false, file))
                         : writeFailed(file, out.error())});
  }
}

// The statement is one more user of the database while it reads or compacts it, so that a
// restore or drop waits for it; a database being restored ends it with 927.
std::unique_ptr<storage::DbLease> holdDatabase(Context& c, const std::string& name) {
  std::string canonical;
  std::filesystem::path file;
  const auto acq = c.server().catalog.acquire(name, canonical, file);
  if (acq == storage::Catalog::Acquire::Restoring)
    throw SqlError(927, 14, "Database '" + name + "' cannot be opened. It is in the middle of a restore.");
  if (acq == storage::Catalog::Acquire::Missing)
    throw SqlError(911, 16,
                   "Database '" + name + "' does not exist. Make sure that the name is entered correctly.");
  return std::make_unique<storage::DbLease>(c.server().catalog, canonical, file);
}

std::string snapshotDatabase(const std::filesystem::path& file) {
  auto db = storage::Database::open(file, false);
  sqlite3_int64 size = 0;
  std::unique_ptr<unsigned char, storage::SqliteFree> data(sqlite3_serialize(db.get(), "main", &size, 0));
  if (!data) throw std::runtime_error("the database file could not be read");
  return std::string(reinterpret_cast<const char*>(data.get()), static_cast<std::size_t>(size));
}

// True when the bytes are a sound SQLite database.
bool contentIsSound(const std::string& content) {
  if (content.size() < 512 || content.compare(0, 16, std::string("SQLite format 3\0", 16)) != 0) return false;
  try {
    auto db = storage::Database::openMemory();
    auto* buf = static_cast<unsigned char*>(sqlite3_malloc64(content.size()));
    if (!buf) return false;
    std::memcpy(buf, content.data(), content.size());
    const int rc = sqlite3_deserialize(db.get(), "main", buf, static_cast<sqlite3_int64>(content.size()),
                                       static_cast<sqlite3_int64>(content.size()),
                                       SQLITE_DESERIALIZE_FREEONCLOSE | SQLITE_DESERIALIZE_READONLY);
    if (rc != SQLITE_OK) return false;
    storage::Statement st(db.get(), "PRAGMA quick_check");
    return st.step() && st.text(0) == "ok";
  } catch (const storage::Error&) {
    return false;
  }
}

std::int64_t pagesOf(std::size_t bytes) {
  return std::max<std::int64_t>(1, static_cast<std::int64_t>((bytes + 8191) / 8192));
}

std::string timing(std::chrono::steady_clock::time_point start, std::size_t bytes) {
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (secs < 0.001) secs = 0.001;
  char buf[96];
  std::snprintf(buf, sizeof buf, "%.3f seconds (%.3f MB/sec)", secs,
                static_cast<double>(bytes) / 1048576.0 / secs);
  return buf;
}

int statsStep(Context& c, const Statement& s) {
  const auto* o = s.option("STATS");
  if (!o) return 0;
  if (!o->value) return 10;
  const auto v = sql::convert(c.eval(*o->value), SqlType::integer(), -1, s.line);
  if (isNull(v.value)) return 10;
  const auto step = std::get<std::int64_t>(v.value);
  return step <= 0 || step > 100 ? 10 : static_cast<int>(step);
}

void backupDatabase(Context& c, const Statement& s) {
  const std::string what = "BACKUP DATABASE";
  const std::string name = c.evalText(*s.target);
  const std::string device = c.evalText(*s.value);
  if (c.tranCount() > 0)
    terminate(what, {msg(3021, 16, "Cannot perform a backup or restore operation within a transaction.")});
  const auto entry = c.server().catalog.find(name);
  if (!entry) {
    terminate(
        what,
        {msg(911, 16,
             c.server().version.year == 2000
                 ? "Could not locate entry in sysdatabases for database '" + name +
                       "'. No entry found with that name. Make sure that the name is entered correctly."
                 : "Database '" + name + "' does not exist. Make sure that the name is entered correctly.")});
  }
  if (equalsIgnoreCase(entry->name, "tempdb"))
    terminate(what, {msg(3147, 16, "Backup and restore operations are not allowed on database tempdb.")});
  const auto file = c.server().catalog.resolveBackupPath(device);
  if (isForeignPath(device) || device.empty())
    terminate(what, {cannotOpen(file.string(), "3(The system cannot find the path specified.)")});

  // Compression is the edition's to give (SERVERPROPERTY('Edition')); where it is, it is done.
  const bool compress = s.option("COMPRESSION") != nullptr;
  if (compress && !base::compressesBackups(c.server().edition, c.server().version.year))
    terminate(what, {msg(1844, 16,
                         what + " WITH COMPRESSION is not supported on " +
                             base::editionText(c.server().edition, c.server().version) + ".")});
  const bool init = s.option("INIT") || s.option("FORMAT");
  std::string setName;
  std::string description;
  if (const auto* o = s.option("NAME"); o && o->value) setName = c.evalText(*o->value);
  if (const auto* o = s.option("DESCRIPTION"); o && o->value) description = c.evalText(*o->value);
  const int step = statsStep(c, s);

  const auto started = std::chrono::steady_clock::now();
  BackupSetInfo info;
  info.startDate = c.server().now();
  const BackupFileLock fileLock(file);
  // NOINIT appends to the sets already there, kept byte for byte; media that does not read back
  // whole is refused rather than replaced, as that would lose every set on it. INIT writes the
  // sets anew but keeps to the media's kind; only FORMAT makes new media.
  std::string existing;
  std::uint32_t position = 1;
  if (!s.option("FORMAT")) {
    int readError = 0;
    auto old = base::readWholeFile(file, &readError);
    if (!old && readError != ENOENT && !init)
      terminate(what, {cannotOpen(file.string(), osErrorText(readError, true, file))});
    if (old && !old->empty()) {
      const auto sets = decodeBackupSets(*old, false);
      if (sets.status == BackupReadStatus::Ok && !sets.sets.empty() &&
          sets.sets[0].info.compressed != compress) {
        const std::string asked = compress ? "COMPRESSION" : "NO_COMPRESSION";
        const std::string other = compress ? "NO_COMPRESSION" : "COMPRESSION";
        terminate(what,
                  {msg(3098, 16,
                       "The backup cannot be performed because '" + asked +
                           "' was requested after the media was formatted with an incompatible "
                           "structure. To append to this media set, either omit '" +
                           asked + "' or specify '" + other +
                           "'. Alternatively, you can create a new media set by using WITH FORMAT in your "
                           "BACKUP statement. If you use WITH FORMAT on an existing media set, all its "
                           "backup sets will be overwritten.")});
      }
      if (!init) {
        switch (sets.status) {
          case BackupReadStatus::Ok:
            position = static_cast<std::uint32_t>(sets.sets.size() + 1);
            existing = std::move(*old);
            break;
          case BackupReadStatus::NotABackup:
            terminate(what,
                      {msg(3241, 16,
                           "The media family on device '" + file.string() +
                               "' is incorrectly formed. SQL Server cannot process this media family.")});
          default:
            terminate(what, {msg(3266, 16, badMediaEnd(c.server().version.year, file))});
        }
      }
    }
  }
  std::unique_ptr<storage::DbLease> lease;
  try {
    lease = holdDatabase(c, entry->name);
  } catch (const SqlError& e) {
    terminate(what, {e.message});
  }
  const std::string content = snapshotDatabase(lease->file());
  info.databaseName = entry->name;
  info.backupName = setName;
  info.description = description;
  info.serverName = c.server().serverName();
  info.userName = c.loginName();
  info.position = position;
  info.serverYear = static_cast<std::uint32_t>(c.server().version.year);
  info.finishDate = c.server().now();
  info.compressed = compress;
  info.copyOnly = s.option("COPY_ONLY") != nullptr;
  info.checksums = s.option("CHECKSUM") != nullptr;
  info.type = s.option("DIFFERENTIAL") ? 'I' : 'D';
  info.databaseCreated = entry->created;
  const auto encoded = encodeBackupSet(info, content);
  // Written beside the file and renamed over it: a backup that fails leaves the earlier sets.
  replaceFile(c, what, file, existing, encoded.whole());
  BackupRecord record;
  record.databaseName = entry->name;
  record.databaseCreated = entry->created;
  record.type = s.option("DIFFERENTIAL") ? 'I' : 'D';
  record.name = setName;
  record.description = description;
  record.userName = c.loginName();
  record.start = info.startDate;
  record.finish = info.finishDate;
  record.position = position;
  record.size = content.size() + 8192;  // as RESTORE HEADERONLY gives BackupSize
  record.compressedSize = info.storedSize + 8192;
  record.compressed = compress;
  record.copyOnly = s.option("COPY_ONLY") != nullptr;
  record.checksums = s.option("CHECKSUM") != nullptr;
  record.physicalDevice = std::filesystem::absolute(file).string();
  recordBackup(c.server(), record);

  const std::string pos = std::to_string(position);
  if (step > 0)
    for (int p = step; p <= 100; p += step) c.message(3211, 0, std::to_string(p) + " percent processed.");
  const std::int64_t dataPages = pagesOf(content.size());
  c.message(4035, 0,
            "Processed " + std::to_string(dataPages) + " pages for database '" + entry->name + "', file '" +
                c.server().catalog.dataFileName(entry->name) + "' on file " + pos + ".");
  c.message(4035, 0,
            "Processed 1 pages for database '" + entry->name + "', file '" +
                c.server().catalog.logFileName(entry->name) + "' on file " + pos + ".");
  c.message(3014, 0,
            "BACKUP DATABASE successfully processed " + std::to_string(dataPages + 1) + " pages in " +
                timing(started, content.size()) + ".");
  c.done(false);
}

void backupLog(Context& c, const Statement& s) {
  const std::string what = "BACKUP LOG";
  const std::string name = c.evalText(*s.target);
  if (c.tranCount() > 0)
    terminate(what, {msg(3021, 16, "Cannot perform a backup or restore operation within a transaction.")});
  const auto entry = c.server().catalog.find(name);
  if (!entry) {
    terminate(
        what,
        {msg(911, 16,
             c.server().version.year == 2000
                 ? "Could not locate entry in sysdatabases for database '" + name +
                       "'. No entry found with that name. Make sure that the name is entered correctly."
                 : "Database '" + name + "' does not exist. Make sure that the name is entered correctly.")});
  }
  if (s.option("TRUNCATE_ONLY") || s.option("NO_LOG")) {
    // The stand-in keeps no transaction log between statements; truncation has nothing left to do.
    c.done(false);
    return;
  }
  terminate(
      what,
      {msg(4208, 16,
           "The statement BACKUP LOG is not allowed while the recovery model is SIMPLE. Use BACKUP DATABASE "
           "or change the recovery model using ALTER DATABASE.")});
}

// Reads the backup set a RESTORE names, or ends the statement with SQL Server's errors.
BackupSet readSet(const std::string& what, const std::filesystem::path& file, int fileNo) {
  const auto r = readBackupFile(file, true);
  switch (r.status) {
    case BackupReadStatus::Ok:
      break;
    case BackupReadStatus::CannotOpen:
      terminate(what, {cannotOpen(file.string(), osErrorText(r.osError, true, file))});
    case BackupReadStatus::NotABackup:
      terminate(what, {msg(3241, 16,
                           "The media family on device '" + file.string() +
                               "' is incorrectly formed. SQL Server cannot process this media family.")});
    case BackupReadStatus::Truncated:
      terminate(what, {msg(3203, 16,
                           "Read on \"" + file.string() + "\" failed: 38(Reached the end of the file.)")});
    case BackupReadStatus::Damaged:
      terminate(what, {msg(3189, 16, "Damage to the backup set was detected.")});
  }
  if (fileNo < 1 || static_cast<std::size_t>(fileNo) > r.sets.size())
    terminate(what, {msg(50000, 16,
                         "The backup set on file " + std::to_string(fileNo) + " was not found on device '" +
                             file.string() + "'.")});
  return r.sets[static_cast<std::size_t>(fileNo - 1)];
}

int fileOption(Context& c, const Statement& s) {
  const auto* o = s.option("FILE");
  if (!o || !o->value) return 1;
  const auto v = sql::convert(c.eval(*o->value), SqlType::integer(), -1, s.line);
  return isNull(v.value) ? 1 : static_cast<int>(std::get<std::int64_t>(v.value));
}

void restoreDatabase(Context& c, const Statement& s) {
  const std::string what = "RESTORE DATABASE";
  const std::string target = c.evalText(*s.target);
  const std::string device = c.evalText(*s.value);
  if (c.tranCount() > 0)
    terminate(what, {msg(3021, 16, "Cannot perform a backup or restore operation within a transaction.")});
  const auto file = c.server().catalog.resolveBackupPath(device);
  if (isForeignPath(device) || device.empty())
    terminate(what, {cannotOpen(file.string(), "3(The system cannot find the path specified.)")});
  const int step = statsStep(c, s);
  const auto started = std::chrono::steady_clock::now();
  const BackupSet set = readSet(what, file, fileOption(c, s));
  if (!contentIsSound(set.content))
    terminate(what, {msg(3189, 16, "Damage to the backup set was detected.")});
  if (equalsIgnoreCase(target, "tempdb"))
    terminate(what, {msg(3147, 16, "Backup and restore operations are not allowed on database tempdb.")});
  if (equalsIgnoreCase(target, "master"))
    terminate(what,
              {msg(3108, 16,
                   "To restore the master database, the server must be running in single-user mode. For "
                   "information about starting in single-user mode, see \"How to: Start an Instance of SQL "
                   "Server (sqlservr.exe)\" in Books Online.")});
  auto entry = c.server().catalog.find(target);
  if (entry && !s.option("REPLACE") && !equalsIgnoreCase(set.info.databaseName, entry->name))
    terminate(what, {msg(3154, 16,
                         "The backup set holds a backup of a database other than the existing '" +
                             entry->name + "' database.")});
  if (entry) {
    // Sitting in the database oneself leaves nothing to wait for.
    const bool self = equalsIgnoreCase(c.currentDatabase(), entry->name);
    const auto ex =
        c.server().catalog.beginExclusive(entry->name, std::chrono::milliseconds(self ? 0 : 1500));
    if (ex == storage::Catalog::Exclusive::InUse)
      terminate(what,
                {msg(3101, 16, "Exclusive access could not be obtained because the database is in use.")});
    if (ex == storage::Catalog::Exclusive::Missing) entry.reset();
  }
  // A restore to a new name adds the database, and takes it away again unless the restore ends well.
  const bool created = !entry;
  if (created) entry = c.server().catalog.createDatabase(target, true);
  storage::ExclusiveGuard guard(c.server().catalog, entry->name);
  struct DropUnlessRestored {
    storage::Catalog& catalog;
    std::string name;
    bool drop;
    ~DropUnlessRestored() {
      if (!drop) return;
      try {
        catalog.dropDatabase(name);
      } catch (const std::exception&) {
        // master could not be written: the empty database stays listed, its file as model made it.
      }
    }
  } dropUnlessRestored{c.server().catalog, entry->name, created};

  // The new database is written beside the old one and swapped in only at the end: a restore
  // that fails or is cut off before leaves the old database as it was.
  base::ReplacementFile newFile(entry->file);
  if (newFile.error() != 0) terminate(what, {osErrorWhile(newFile.error(), "CreateFile", entry->file)});
  if (!newFile.write(set.content)) terminate(what, {osErrorWhile(newFile.error(), "WriteFile", entry->file)});
  c.checkCancel();
  try {
    storage::settleJournal(entry->file);
  } catch (const storage::Error&) {
    terminate(what, {osErrorWhile(EIO, "ReadFile", entry->file)});
  }
  if (!newFile.commit()) terminate(what, {osErrorWhile(newFile.error(), "MoveFile", entry->file)});
  dropUnlessRestored.drop = false;
  const std::string pos = std::to_string(set.info.position);
  if (step > 0)
    for (int p = step; p <= 100; p += step) c.message(3211, 0, std::to_string(p) + " percent processed.");
  const std::int64_t dataPages = pagesOf(set.content.size());
  c.message(4035, 0,
            "Processed " + std::to_string(dataPages) + " pages for database '" + entry->name + "', file '" +
                c.server().catalog.dataFileName(set.info.databaseName) + "' on file " + pos + ".");
  c.message(4035, 0,
            "Processed 1 pages for database '" + entry->name + "', file '" +
                c.server().catalog.logFileName(set.info.databaseName) + "' on file " + pos + ".");
  c.message(3014, 0,
            "RESTORE DATABASE successfully processed " + std::to_string(dataPages + 1) + " pages in " +
                timing(started, set.content.size()) + ".");
  c.done(false);
}

void restoreVerify(Context& c, const Statement& s) {
  const std::string what = "VERIFY DATABASE";
  const std::string device = c.evalText(*s.value);
  const auto file = c.server().catalog.resolveBackupPath(device);
  if (isForeignPath(device) || device.empty())
    terminate(what, {cannotOpen(file.string(), "3(The system cannot find the path specified.)")});
  const int fileNo = fileOption(c, s);
  const BackupSet set = readSet(what, file, fileNo);
  if (!contentIsSound(set.content))
    terminate(what, {msg(3189, 16, "Damage to the backup set was detected.")});
  c.message(3262, 0, "The backup set on file " + std::to_string(fileNo) + " is valid.");
  c.done(false);
}

void restoreHeaderOnly(Context& c, const Statement& s) {
  const std::string what = "RESTORE HEADERONLY";
  const std::string device = c.evalText(*s.value);
  const auto file = c.server().catalog.resolveBackupPath(device);
  if (isForeignPath(device) || device.empty())
    terminate(what, {cannotOpen(file.string(), "3(The system cannot find the path specified.)")});
  const auto r = readBackupFile(file, false);
  if (r.status != BackupReadStatus::Ok) (void)readSet(what, file, 1);  // reports the failure
  ResultSet rs;
  auto col = [&](const char* name, SqlType t) { rs.columns.push_back(Column{name, t, true}); };
  col("BackupName", SqlType::nvarchar(128));
  col("BackupDescription", SqlType::nvarchar(255));
  col("BackupType", SqlType{SqlType::Kind::SmallInt, 0});
  col("ExpirationDate", SqlType{SqlType::Kind::DateTime, 0});
  col("Compressed", SqlType{SqlType::Kind::TinyInt, 0});
  col("Position", SqlType{SqlType::Kind::SmallInt, 0});
  col("DeviceType", SqlType{SqlType::Kind::TinyInt, 0});
  col("UserName", SqlType::nvarchar(128));
  col("ServerName", SqlType::nvarchar(128));
  col("DatabaseName", SqlType::nvarchar(128));
  col("DatabaseVersion", SqlType::integer());
  col("BackupSize", SqlType::bigint());
  col("BackupStartDate", SqlType{SqlType::Kind::DateTime, 0});
  col("BackupFinishDate", SqlType{SqlType::Kind::DateTime, 0});
  col("SoftwareVersionMajor", SqlType::integer());
  for (const auto& set : r.sets) {
    const auto& i = set.info;
    Value name = i.backupName.empty() ? Value{} : Value{i.backupName};
    Value desc = i.description.empty() ? Value{} : Value{i.description};
    rs.rows.push_back(Row{name, desc, std::int64_t{1}, Value{}, std::int64_t{i.compressed ? 1 : 0},
                          std::int64_t{i.position}, std::int64_t{2}, i.userName, i.serverName, i.databaseName,
                          std::int64_t{611}, static_cast<std::int64_t>(i.contentSize + 8192), i.startDate,
                          i.finishDate,
                          std::int64_t{base::productVersionFor(static_cast<int>(i.serverYear)).major}});
  }
  const auto count = static_cast<std::int64_t>(rs.rows.size());
  c.setRowCount(count);
  c.send(std::move(rs));
  c.done(false, count, StatementDone::Command::Select);
}

void restoreFileListOnly(Context& c, const Statement& s) {
  const std::string what = "RESTORE FILELIST";
  const std::string device = c.evalText(*s.value);
  const auto file = c.server().catalog.resolveBackupPath(device);
  const BackupSet set = readSet(what, file, fileOption(c, s));
  ResultSet rs;
  rs.columns = {Column{"LogicalName", SqlType::nvarchar(128), true},
                Column{"PhysicalName", SqlType::nvarchar(260), true},
                Column{"Type", SqlType::varchar(1), true},
                Column{"FileGroupName", SqlType::nvarchar(128), true},
                Column{"Size", SqlType::bigint(), true},
                Column{"MaxSize", SqlType::bigint(), true}};
  const auto& dbName = set.info.databaseName;
  const std::string stem = (c.server().catalog.dataDir() / dbName).string();
  rs.rows.push_back(Row{c.server().catalog.dataFileName(dbName), stem + ".sqlite", std::string("D"),
                        std::string("PRIMARY"), static_cast<std::int64_t>(set.info.contentSize),
                        std::int64_t{35184372080640}});
  rs.rows.push_back(Row{c.server().catalog.logFileName(dbName), stem + "_log.ldf", std::string("L"), Value{},
                        std::int64_t{1048576}, std::int64_t{2199023255552}});
  c.setRowCount(2);
  c.send(std::move(rs));
  c.done(false, 2, StatementDone::Command::Select);
}

std::optional<storage::DbEntry> dbccDatabase(Context& c, const Expr& e) {
  const TypedValue v = c.eval(e);
  if (const auto* id = std::get_if<std::int64_t>(&v.value))
    return c.server().catalog.findById(static_cast<int>(*id));
  return c.server().catalog.find(c.evalText(e));
}

void shrinkDatabase(Context& c, const Statement& s) {
  const auto entry = dbccDatabase(c, *s.values[0]);
  if (!entry) {
    const std::string name = c.evalText(*s.values[0]);
    throw SqlError(911, 16,
                   "Database '" + name + "' does not exist. Make sure that the name is entered correctly.");
  }
  if (s.values.size() > 1) {
    const auto pct = sql::convert(c.eval(*s.values[1]), SqlType::integer(), -1, s.line);
    if (!isNull(pct.value) &&
        (std::get<std::int64_t>(pct.value) < 0 || std::get<std::int64_t>(pct.value) > 100))
      throw SqlError(2560, 16, "Parameter 2 is incorrect for this DBCC statement.");
  }
  if (c.tranCount() > 0)
    throw SqlError(574, 16, "DBCC SHRINKDATABASE statement cannot be used inside a user transaction.");
  std::int64_t pages = 0, freePages = 0, pageSize = 4096;
  try {
    const auto lease = holdDatabase(c, entry->name);
    auto target = storage::Database::open(lease->file(), false);
    target.exec("VACUUM");
    storage::Statement a(target.get(), "PRAGMA page_count");
    if (a.step()) pages = a.integer(0);
    storage::Statement b(target.get(), "PRAGMA freelist_count");
    if (b.step()) freePages = b.integer(0);
    storage::Statement size(target.get(), "PRAGMA page_size");
    if (size.step()) pageSize = size.integer(0);
  } catch (const storage::Error& e) {
    if (e.code == SQLITE_BUSY || e.code == SQLITE_LOCKED)
      throw SqlError(5030, 16, "The database could not be exclusively locked to perform the operation.");
    throw;
  }
  const auto toPages = [&](std::int64_t n) {
    return std::max<std::int64_t>(1, (n * pageSize + 8191) / 8192);
  };
  ResultSet rs;
  using K = SqlType::Kind;
  rs.columns = {
      Column{"DbId", SqlType{K::SmallInt, 0}, false},   Column{"FileId", SqlType{K::SmallInt, 0}, false},
      Column{"CurrentSize", SqlType::integer(), false}, Column{"MinimumSize", SqlType::integer(), false},
      Column{"UsedPages", SqlType::integer(), false},   Column{"EstimatedPages", SqlType::integer(), false}};
  rs.rows.push_back(Row{std::int64_t{entry->id}, std::int64_t{1}, toPages(pages), std::int64_t{1},
                        toPages(pages - freePages), toPages(pages - freePages)});
  c.send(std::move(rs));
  if (!s.option("NO_INFOMSGS"))
    c.message(2528, 0,
              "DBCC execution completed. If DBCC printed error messages, contact your system administrator.");
  c.done(false, 1, StatementDone::Command::Select);
}

void dbcc(Context& c, const Statement& s) {
  if (s.name == "CHECKDB") {
    std::optional<storage::DbEntry> entry =
        s.values.empty() ? c.server().catalog.find(c.currentDatabase()) : dbccDatabase(c, *s.values[0]);
    if (!entry) {
      const std::string name = s.values.empty() ? c.currentDatabase() : c.evalText(*s.values[0]);
      throw SqlError(911, 16,
                     "Database '" + name + "' does not exist. Make sure that the name is entered correctly.");
    }
    const auto lease = holdDatabase(c, entry->name);
    auto target = storage::Database::open(lease->file(), false);
    storage::Statement st(target.get(), "PRAGMA integrity_check");
    int errors = 0;
    while (st.step())
      if (st.text(0) != "ok") ++errors;
    c.message(8989, errors ? 16 : 0,
              "CHECKDB found 0 allocation errors and " + std::to_string(errors) +
                  " consistency errors in database '" + entry->name + "'.");
    if (!s.option("NO_INFOMSGS"))
      c.message(
          2528, 0,
          "DBCC execution completed. If DBCC printed error messages, contact your system administrator.");
    c.done(errors != 0);
    return;
  }
  throw SqlError(
      2526, 16, "Incorrect DBCC statement. Check the documentation for the correct DBCC syntax and options.");
}

void createDatabase(Context& c, const Statement& s) {
  const std::string name = c.evalText(*s.target);
  if (c.tranCount() > 0)
    throw SqlError(226, 16, "CREATE DATABASE statement not allowed within multi-statement transaction.");
  c.server().catalog.createDatabase(name, false);
  c.done(false);
}

void dropDatabase(Context& c, const Statement& s) {
  const std::string name = c.evalText(*s.target);
  if (c.tranCount() > 0)
    throw SqlError(226, 16, "DROP DATABASE statement not allowed within multi-statement transaction.");
  for (const char* sys : {"master", "model", "msdb", "tempdb"})
    if (equalsIgnoreCase(name, sys))
      throw SqlError(3708, 16, "Cannot drop the database '" + name + "' because it is a system database.");
  const auto ex = c.server().catalog.beginExclusive(
      name, std::chrono::milliseconds(equalsIgnoreCase(c.currentDatabase(), name) ? 0 : 1500));
  if (ex == storage::Catalog::Exclusive::Missing)
    throw SqlError(
        3701, 11,
        "Cannot drop the database '" + name + "', because it does not exist or you do not have permission.");
  if (ex == storage::Catalog::Exclusive::InUse)
    throw SqlError(3702, 16, "Cannot drop database \"" + name + "\" because it is currently in use.");
  storage::ExclusiveGuard guard(c.server().catalog, name);
  c.server().catalog.dropDatabase(name);
  c.done(false);
}

}  // namespace

void runMaintenance(Context& c, const Statement& s) {
  using K = Statement::Kind;
  switch (s.kind) {
    case K::BackupDatabase:
      return backupDatabase(c, s);
    case K::BackupLog:
      return backupLog(c, s);
    case K::RestoreDatabase:
      return restoreDatabase(c, s);
    case K::RestoreVerify:
      return restoreVerify(c, s);
    case K::RestoreHeaderOnly:
      return restoreHeaderOnly(c, s);
    case K::RestoreFileListOnly:
      return restoreFileListOnly(c, s);
    case K::DbccShrinkDatabase:
      return shrinkDatabase(c, s);
    case K::Dbcc:
      return dbcc(c, s);
    case K::CreateDatabase:
      return createDatabase(c, s);
    case K::DropDatabase:
      return dropDatabase(c, s);
    default:
      throw SqlError(50000, 16, "The stand-in server does not support this statement.");
  }
}

}  // namespace standin::features
