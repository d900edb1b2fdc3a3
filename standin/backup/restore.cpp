// RESTORE DATABASE, RESTORE LOG, RESTORE VERIFYONLY, HEADERONLY and FILELISTONLY: backup sets
// read back, checked as SQL Server checks them, and a database brought back from them.
#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <map>

#include "standin/backup/common.h"
#include "standin/backup/copy_meter.h"
#include "standin/backup/history.h"
#include "standin/base/private_files.h"
#include "standin/base/text.h"
#include "standin/server/guids.h"
#include "standin/server/result_table.h"
#include "standin/storage/sqlite_db.h"

namespace standin::backup {

using base::equalsIgnoreCase;
using server::Context;
using server::databaseGuid;
using server::newGuid;
using server::ResultColumn;
using server::ResultTable;
using server::Server;
using sql::Column;
using sql::Message;
using sql::ResultSet;
using sql::Row;
using sql::SqlError;
using sql::SqlType;
using sql::StatementDone;
using sql::Value;
using storage::DatabaseState;
using storage::RecoveryModel;

namespace {

using K = SqlType::Kind;

// The options of each RESTORE that the stand-in does not carry out, refused rather than ignored.
const std::vector<std::string_view> kNotCarriedOut = {"STANDBY",       "STOPAT",
                                                      "STOPATMARK",    "STOPBEFOREMARK",
                                                      "PARTIAL",       "RESTART",
                                                      "PASSWORD",      "MEDIANAME",
                                                      "MEDIAPASSWORD", "RESTRICTED_USER",
                                                      "DBO_ONLY",      "ENABLE_BROKER",
                                                      "NEW_BROKER",    "ERROR_BROKER_CONVERSATIONS"};

std::string setKind(char type) {
  return type == 'L' ? "BACKUP LOG" : type == 'I' ? "BACKUP DATABASE WITH DIFFERENTIAL" : "BACKUP DATABASE";
}

const SqlType kBig = SqlType::bigint();
const SqlType kInt = SqlType::integer();
const SqlType kSmall{K::SmallInt, 0};
const SqlType kTiny{K::TinyInt, 0};
const SqlType kBit{K::Bit, 0};
const SqlType kDate{K::DateTime, 0};
const SqlType kName = SqlType::nvarchar(128);
const SqlType kGuid = SqlType::nvarchar(36);

// RESTORE HEADERONLY's columns in each release ("RESTORE HEADERONLY (Transact-SQL)"; 2014's
// encryption columns came with its first cumulative update, which the stand-in's 2014 has).
const std::vector<ResultColumn> kHeaderColumns = {
    {"BackupName", kName, 2000},
    {"BackupDescription", SqlType::nvarchar(255), 2000},
    {"BackupType", kSmall, 2000},
    {"ExpirationDate", kDate, 2000},
    {"Compressed", kTiny, 2000},
    {"Position", kSmall, 2000},
    {"DeviceType", kTiny, 2000},
    {"UserName", kName, 2000},
    {"ServerName", kName, 2000},
    {"DatabaseName", kName, 2000},
    {"DatabaseVersion", kInt, 2000},
    {"DatabaseCreationDate", kDate, 2000},
    {"BackupSize", kBig, 2000},
    {"FirstLSN", kBig, 2000},
    {"LastLSN", kBig, 2000},
    {"CheckpointLSN", kBig, 2000},
    {"DatabaseBackupLSN", kBig, 2000},
    {"BackupStartDate", kDate, 2000},
    {"BackupFinishDate", kDate, 2000},
    {"SortOrder", kSmall, 2000},
    {"CodePage", kSmall, 2000},
    {"UnicodeLocaleId", kInt, 2000},
    {"UnicodeComparisonStyle", kInt, 2000},
    {"CompatibilityLevel", kTiny, 2000},
    {"SoftwareVendorId", kInt, 2000},
    {"SoftwareVersionMajor", kInt, 2000},
    {"SoftwareVersionMinor", kInt, 2000},
    {"SoftwareVersionBuild", kInt, 2000},
    {"MachineName", kName, 2000},
    {"Flags", kInt, 2000},
    {"BindingID", kGuid, 2000},
    {"RecoveryForkID", kGuid, 2000},
    {"Collation", kName, 2000},
    {"FamilyGUID", kGuid, 2005},
    {"HasBulkLoggedData", kBit, 2005},
    {"IsSnapshot", kBit, 2005},
    {"IsReadOnly", kBit, 2005},
    {"IsSingleUser", kBit, 2005},
    {"HasBackupChecksums", kBit, 2005},
    {"IsDamaged", kBit, 2005},
    {"BeginsLogChain", kBit, 2005},
    {"HasIncompleteMetaData", kBit, 2005},
    {"IsForceOffline", kBit, 2005},
    {"IsCopyOnly", kBit, 2005},
    {"FirstRecoveryForkID", kGuid, 2005},
    {"ForkPointLSN", kBig, 2005},
    {"RecoveryModel", SqlType::nvarchar(60), 2005},
    {"DifferentialBaseLSN", kBig, 2005},
    {"DifferentialBaseGUID", kGuid, 2005},
    {"BackupTypeDescription", SqlType::nvarchar(60), 2005},
    {"BackupSetGUID", kGuid, 2005},
    {"CompressedBackupSize", kBig, 2008},
    {"Containment", kTiny, 2012},
    {"KeyAlgorithm", SqlType::nvarchar(32), 2014},
    {"EncryptorThumbprint", SqlType{K::VarBinary, 20}, 2014},
    {"EncryptorType", SqlType::nvarchar(32), 2014},
    {"LastValidRestoreTime", kDate, 2022},
    {"TimeZone", SqlType::nvarchar(32), 2022},
    {"CompressionAlgorithm", SqlType::nvarchar(32), 2022},
};

// RESTORE FILELISTONLY's columns in each release: six in 2000, twenty from 2005,
// TDEThumbprint from 2008, SnapshotURL from 2016.
const std::vector<ResultColumn> kFileListColumns = {
    {"LogicalName", kName, 2000},
    {"PhysicalName", SqlType::nvarchar(260), 2000},
    {"Type", SqlType::varchar(1), 2000},
    {"FileGroupName", kName, 2000},
    {"Size", kBig, 2000},
    {"MaxSize", kBig, 2000},
    {"FileID", kBig, 2005},
    {"CreateLSN", kBig, 2005},
    {"DropLSN", kBig, 2005},
    {"UniqueID", kGuid, 2005},
    {"ReadOnlyLSN", kBig, 2005},
    {"ReadWriteLSN", kBig, 2005},
    {"BackupSizeInBytes", kBig, 2005},
    {"SourceBlockSize", kInt, 2005},
    {"FileGroupID", kInt, 2005},
    {"LogGroupGUID", kGuid, 2005},
    {"DifferentialBaseLSN", kBig, 2005},
    {"DifferentialBaseGUID", kGuid, 2005},
    {"IsReadOnly", kBit, 2005},
    {"IsPresent", kBit, 2005},
    {"TDEThumbprint", SqlType{K::VarBinary, 32}, 2008},
    {"SnapshotURL", SqlType::nvarchar(360), 2016},
};

Value lsnValue(std::uint64_t lsn) { return lsn ? Value{static_cast<std::int64_t>(lsn)} : Value{}; }
Value textOrNull(const std::string& s) { return s.empty() ? Value{} : Value{s}; }
const std::string kNoGuid = "00000000-0000-0000-0000-000000000000";

// The path of a backup device a RESTORE names, or the statement ends with 3201.
std::filesystem::path device(Context& c, const std::string& what, const sql::Expr& named) {
  const std::string text = c.evalText(named);
  const auto file = c.server().catalog.resolveBackupPath(text);
  if (isForeignPath(text) || text.empty())
    terminate(what, {cannotOpen(file.string(), "3(The system cannot find the path specified.)")});
  return file;
}

void checkSet(const std::string& what, const StatementWithOptions& s, const BackupSet& set) {
  if (s.option("CHECKSUM") && !set.info.checksums)
    terminate(what, {msg(3187, 16,
                         "RESTORE WITH CHECKSUM cannot be specified because the backup set does not contain "
                         "checksum information.")});
  if (!contentIsSound(set.content))
    terminate(what, {msg(3189, 16, "Damage to the backup set was detected.")});
}

// The database's file written anew from a set's content, beside the old one and swapped in only
// at the end: a restore that fails or is cut off before leaves the old database as it was.
void writeDatabaseFile(Context& c, const std::string& what, const std::filesystem::path& file,
                       const std::string& content) {
  base::ReplacementFile newFile(file);
  if (newFile.error() != 0) terminate(what, {osErrorWhile(newFile.error(), "CreateFile", file)});
  CopyMeter meter(c, content.size());
  if (!meter.copy(content, [&](std::string_view piece) { return newFile.write(piece); }))
    terminate(what, {osErrorWhile(newFile.error(), "WriteFile", file)});
  c.checkCancel();
  try {
    storage::settleJournal(file);
  } catch (const storage::Error&) {
    terminate(what, {osErrorWhile(EIO, "ReadFile", file)});
  }
  if (!newFile.commit()) terminate(what, {osErrorWhile(newFile.error(), "MoveFile", file)});
}

// RESTORE DATABASE x WITH RECOVERY, without a device: a database left restoring is brought online.
void recoverOnly(Context& c, const std::string& what, const std::string& target) {
  auto entry = c.server().catalog.find(target);
  if (!entry) terminate(what, {missingDatabase(c.server().version.year, target)});
  if (entry->state != DatabaseState::Restoring)
    terminate(what, {msg(3153, 16, "The database is already fully recovered.")});
  const auto started = std::chrono::steady_clock::now();
  entry->state = DatabaseState::Online;
  entry->log.lsn = std::max(entry->log.lsn, entry->log.restoreLsn);
  entry->log.checkpointLsn = entry->log.logBackupLsn = entry->log.lsn;
  c.server().catalog.restored(*entry);
  c.message(3014, 0, what + " successfully processed 0 pages in " + timing(started, 0) + ".");
  c.done(false);
}

// Where a restore puts the database's files; unset: where the catalogue puts a new database's.
struct Placements {
  std::optional<std::filesystem::path> data;
  std::optional<std::filesystem::path> log;
};

// The files' places: checked as SQL Server plans a restore, every problem reported before the
// statement ends (3119, 3013): a logical name the set does not have (3234), a folder that is not
// there (5133, 3156), a file another database uses (1834, 3156), a file in the way without
// REPLACE (3142), one place for two files (3176), a volume without room (3257).
// A file the statement does not move goes over the existing database's file, else where the
// set says the backed-up database had it. Unlike SQL Server, a new database whose set place is
// unusable (another database's file, a Windows path, a folder that is not there, a file in the
// way) gets a new file in the data folder instead of failing: a plain restore to a new name
// works as it always has here.
Placements placeFiles(Context& c, const StatementWithOptions& s, const std::string& what, const std::string& target,
                      const std::optional<storage::DbEntry>& existing,
                      const std::vector<BackupFileEntry>& files, std::uint64_t dataBytes, bool replace) {
  auto& catalog = c.server().catalog;
  std::vector<std::pair<std::string, std::string>> moves;  // logical name, place
  for (const auto& o : s.options) {
    if (o.name != "MOVE") continue;
    const std::string logical = c.evalText(*o.value);
    const std::string to = c.evalText(*o.value2);
    const bool known = std::any_of(files.begin(), files.end(), [&](const BackupFileEntry& f) {
      return equalsIgnoreCase(f.logicalName, logical);
    });
    if (!known)
      terminate(what, {msg(3234, 16,
                           "Logical file '" + logical + "' is not part of database '" + target +
                               "'. Use RESTORE FILELISTONLY to list the logical file names.")});
    for (const auto& m : moves)
      if (equalsIgnoreCase(m.first, logical))
        terminate(
            what,
            {msg(4353, 16,
                 "Conflicting file relocations have been specified for file '" + logical +
                     "'. Only a single WITH MOVE clause should be specified for any logical file name.")});
    moves.emplace_back(logical, to);
  }
  Placements out;
  std::vector<Message> problems;
  std::vector<std::pair<std::string, std::filesystem::path>> claimed;  // logical name, place
  // By volume: the bytes the files need, the bytes free (the least any of their places sees) and
  // the bytes the files they replace give back.
  struct Room {
    std::uint64_t needed = 0;
    std::uint64_t available = UINT64_MAX;
    std::uint64_t freed = 0;
  };
  std::map<std::string, Room> rooms;
  const auto claimRoom = [&](const std::filesystem::path& place, std::uint64_t bytes) {
    const auto volume = c.server().databaseVolume(place);
    if (!volume) return;
    auto& room = rooms[volume->mountPoint];
    room.needed += bytes;
    room.available = std::min(room.available, volume->availableBytes);
    std::error_code ec;
    const auto size = std::filesystem::file_size(place, ec);
    if (!ec) room.freed += size;
  };
  for (const auto& f : files) {
    const bool isLog = f.type == 'L';
    std::optional<std::string> moved;
    for (const auto& m : moves)
      if (equalsIgnoreCase(m.first, f.logicalName)) moved = m.second;
    std::string to = moved ? *moved : f.physicalName;
    if (!moved && existing) to = (isLog ? existing->logFile : existing->file).string();
    const std::filesystem::path path(to);
    std::error_code ec;
    const bool folderThere =
        !isForeignPath(to) && path.is_absolute() && std::filesystem::is_directory(path.parent_path(), ec);
    const auto owner = folderThere ? catalog.findByFile(path) : std::nullopt;
    const bool othersFile = owner && !equalsIgnoreCase(owner->name, target);
    const bool inTheWay = folderThere && !owner && !replace && std::filesystem::exists(path, ec);
    if (!moved && !existing && (!folderThere || othersFile || inTheWay)) {
      // The catalogue's own place for a new database's file.
      claimRoom(catalog.dataDir() / (isLog ? "log" : "data"), isLog ? f.size : dataBytes);
      continue;
    }
    (isLog ? out.log : out.data) = path;
    const auto cannot = msg(3156, 16,
                            "File '" + f.logicalName + "' cannot be restored to '" + to +
                                "'. Use WITH MOVE to identify a valid location for the file.");
    if (!folderThere) {
      problems.push_back(
          msg(5133, 16,
              "Directory lookup for the file \"" + to +
                  "\" failed with the operating system error 3(The system cannot find the path "
                  "specified.)."));
      problems.push_back(cannot);
      continue;
    }
    if (othersFile) {
      problems.push_back(msg(1834, 16,
                             "The file '" + to + "' cannot be overwritten. It is being used by database '" +
                                 owner->name + "'."));
      problems.push_back(cannot);
      continue;
    }
    if (inTheWay) {
      problems.push_back(
          msg(3142, 16,
              "File \"" + f.logicalName + "\" cannot be restored over the existing \"" + to +
                  "\". Reissue the RESTORE statement using WITH REPLACE to overwrite pre-existing "
                  "files, or WITH MOVE to identify an alternate location."));
      continue;
    }
    for (const auto& [other, place] : claimed)
      if (place.lexically_normal() == path.lexically_normal())
        problems.push_back(msg(3176, 16,
                               "File '" + to + "' is claimed by '" + other + "'(1) and '" + f.logicalName +
                                   "'(2). The WITH MOVE clause can be used to relocate one or more files."));
    claimed.emplace_back(f.logicalName, path);
    claimRoom(path, isLog ? f.size : dataBytes);
  }
  // Room on each volume for what goes there (a file being replaced gives its own room back).
  if (problems.empty()) {
    for (const auto& [mount, room] : rooms) {
      const auto available = room.available;
      const auto bytes = room.needed;
      if (available + room.freed < bytes)
        problems.push_back(msg(3257, 16,
                               "There is insufficient free space on disk volume '" + mount +
                                   "' to create the database. The database requires " +
                                   std::to_string(bytes) + " additional free bytes, while only " +
                                   std::to_string(available) + " bytes are available."));
    }
  }
  if (!problems.empty()) {
    problems.push_back(
        msg(3119, 16,
            "Problems were identified while planning for the RESTORE statement. Previous messages "
            "provide details."));
    terminate(what, problems);
  }
  return out;
}

// The restore's row in msdb.dbo.restorehistory, tied to the set it restored.
void recordRestoreOf(Context& c, const BackupSetInfo& info, const std::filesystem::path& device,
                     const std::string& target, const sql::DateTime& startedAt, bool replace, bool recovery) {
  RestoreRecord r;
  r.destination = target;
  r.userName = c.loginName();
  r.date = startedAt;
  r.type = info.type;
  r.replace = replace;
  r.recovery = recovery;
  auto& b = r.set;
  b.databaseName = info.databaseName;
  b.databaseCreated = info.databaseCreated;
  b.type = info.type;
  b.name = info.backupName;
  b.description = info.description;
  b.userName = info.userName;
  b.start = info.startDate;
  b.finish = info.finishDate;
  b.position = info.position;
  b.size = info.contentSize + 8192;
  b.compressedSize = info.compressed ? info.storedSize + 8192 : b.size;
  b.compressed = info.compressed;
  b.copyOnly = info.copyOnly;
  b.checksums = info.checksums;
  b.physicalDevice = std::filesystem::absolute(device).string();
  b.setGuid = info.setGuid;
  b.databaseGuid = info.databaseGuid;
  b.collation = info.collation;
  b.recoveryModel = info.recoveryModel == 1 ? "FULL" : info.recoveryModel == 2 ? "BULK-LOGGED" : "SIMPLE";
  b.firstLsn = info.firstLsn;
  b.lastLsn = info.lastLsn;
  b.checkpointLsn = info.checkpointLsn;
  b.databaseBackupLsn = info.databaseBackupLsn;
  b.serverYear = static_cast<int>(info.serverYear);
  b.serverName = info.serverName;
  recordRestore(c.server(), r);
}

// The damage-restore fault: an index of a table of its own that no longer matches its rows, so
// that the restored file really is inconsistent and DBCC CHECKDB finds it as it finds any other.
void plantDamage(const std::filesystem::path& file) {
  auto db = storage::Database::open(file, false);
  db.exec(
      "CREATE TABLE IF NOT EXISTS bv_damaged_rows (a INTEGER, b INTEGER);"
      "INSERT INTO bv_damaged_rows VALUES (1, 10), (2, 20);"
      "CREATE INDEX IF NOT EXISTS bv_damaged_rows_a ON bv_damaged_rows (a);"
      "PRAGMA writable_schema = ON;"
      "UPDATE sqlite_master SET sql = 'CREATE INDEX bv_damaged_rows_a ON bv_damaged_rows (b)' "
      "WHERE name = 'bv_damaged_rows_a';"
      "PRAGMA writable_schema = OFF;");
}

// Whether an existing database is the one a set was made of: its identity is the set's (sets of
// the first format carry none).
bool sameDatabase(const storage::DbEntry& entry, const BackupSetInfo& info) {
  const std::string own =
      entry.familyGuid.empty() ? databaseGuid(entry.name, entry.created) : entry.familyGuid;
  return info.databaseGuid.empty() || equalsIgnoreCase(own, info.databaseGuid);
}

// The occupy-restore fault: the target appears just before the restore, as another session's
// CREATE DATABASE makes it (online, from model), with rows of its own that a restore must not
// lose.
void occupyIfAsked(Context& c, const std::string& target) {
  auto& catalog = c.server().catalog;
  if (target.empty() || catalog.find(target)) return;
  if (!c.server().faults.take(base::StatementFault::Kind::OccupyRestore, {target})) return;
  const auto entry = catalog.createDatabase(target, false);
  auto db = storage::Database::open(entry.file, false);
  db.exec(
      "CREATE TABLE bv_occupant (id INT, note NVARCHAR(50));"
      "INSERT INTO bv_occupant VALUES (1, 'made by another session'), (2, 'not from the backup');");
}

// The break-restore fault: the new database's files are made and it is listed, RESTORING, as a
// restore whose read fails midway leaves it (DROP DATABASE removes it, files and all).
void breakMidway(Context& c, const std::string& what, const storage::DbEntry& entry,
                 const std::filesystem::path& dataFile, const std::filesystem::path& logFile,
                 const BackupSet& set) {
  writeDatabaseFile(c, what, dataFile, set.content);
  storage::DbEntry broken = entry;
  broken.file = dataFile;
  broken.logFile = logFile;
  broken.created = c.server().now();
  broken.state = DatabaseState::Restoring;
  broken.familyGuid = set.info.databaseGuid;
  broken.collation = set.info.collation;
  c.server().catalog.restored(broken);
}

// What every restore checks before it reads its device: no open transaction, no option it does
// not carry out (`alsoNotCarriedOut`: those of this kind of restore), not both RECOVERY and
// NORECOVERY.
void checkRestoreStatement(Context& c, const StatementWithOptions& s, const std::string& what,
                           const std::vector<std::string_view>& alsoNotCarriedOut, bool stopsAt = false) {
  if (c.tranCount() > 0)
    terminate(what, {msg(3021, 16, "Cannot perform a backup or restore operation within a transaction.")});
  try {
    std::vector<std::string_view> notCarriedOut = kNotCarriedOut;
    if (stopsAt) std::erase(notCarriedOut, std::string_view("STOPAT"));
    refuseOptions(s, what, notCarriedOut, {"LOADHISTORY"});
    if (!alsoNotCarriedOut.empty()) refuseOptions(s, what, alsoNotCarriedOut);
  } catch (const SqlError& e) {
    terminate(what, {e.message});
  }
  if (s.option("RECOVERY") && s.option("NORECOVERY"))
    terminate(what,
              {msg(3031, 16,
                   "Option 'norecovery' conflicts with option(s) 'recovery'. Remove the conflicting option "
                   "and reissue the statement.")});
}

constexpr std::array kRestoreOptions = {
    "REPLACE",      "RECOVERY",   "NORECOVERY",   "STANDBY",    "FILE",        "STATS",
    "MOVE",         "CHECKSUM",   "NO_CHECKSUM",  "CONTINUE_AFTER_ERROR", "STOP_ON_ERROR", "RESTRICTED_USER",
    "KEEP_REPLICATION", "KEEP_CDC", "NOUNLOAD",   "UNLOAD",     "REWIND",      "NOREWIND",
    "LOADHISTORY",  "PASSWORD",   "MEDIANAME",    "MEDIAPASSWORD", "BLOCKSIZE", "BUFFERCOUNT",
    "MAXTRANSFERSIZE", "PARTIAL", "RESTART",      "ENABLE_BROKER", "ERROR_BROKER_CONVERSATIONS", "NEW_BROKER",
    "STOPAT",       "STOPATMARK", "STOPBEFOREMARK", "DBO_ONLY"};

void readRestoreOptions(sql::Parser& p, StatementWithOptions& s) {
  readWithOptions(p, s, {kRestoreOptions.begin(), kRestoreOptions.end()}, "RESTORE", false);
}

// ... FROM DISK = ... [WITH ...], the rest of every RESTORE that reads a device.
template <typename Restore>
void readFromDevice(sql::Parser& p, Restore& s) {
  p.expect("FROM");
  s.device = readDevices(p, s.line);
  if (p.accept("WITH")) readRestoreOptions(p, s);
  p.expectBoundary();
}

// RESTORE VERIFYONLY | HEADERONLY | FILELISTONLY FROM ...: each a kind of its own.
template <typename Form>
sql::StatementPtr readRestoreFrom(sql::Parser& p) {
  const int line = p.next().line;  // RESTORE
  p.next();                        // VERIFYONLY, HEADERONLY, FILELISTONLY
  auto s = sql::Parser::make<Form>(line);
  readFromDevice(p, *s);
  return s;
}

}  // namespace

sql::StatementPtr readRestoreDatabase(sql::Parser& p) {
  const int line = p.next().line;  // RESTORE
  std::unique_ptr<RestoreTo> s;
  if (p.next().is("LOG")) {
    s = sql::Parser::make<RestoreLog>(line);
  } else {
    s = sql::Parser::make<RestoreDatabase>(line);
  }
  s->database = p.databaseName();
  if (p.peek().is("FILE") || p.peek().is("FILEGROUP") || p.peek().is("PAGE")) p.unsupported("piecemeal restores", line);
  // RESTORE DATABASE x WITH RECOVERY brings a restoring database online; no device.
  if (dynamic_cast<RestoreDatabase*>(s.get()) && p.peek().is("WITH")) {
    p.next();
    readRestoreOptions(p, *s);
    p.expectBoundary();
    return s;
  }
  readFromDevice(p, *s);
  return s;
}

sql::StatementPtr readRestoreVerifyOnly(sql::Parser& p) { return readRestoreFrom<RestoreVerifyOnly>(p); }
sql::StatementPtr readRestoreHeaderOnly(sql::Parser& p) { return readRestoreFrom<RestoreHeaderOnly>(p); }
sql::StatementPtr readRestoreFileListOnly(sql::Parser& p) { return readRestoreFrom<RestoreFileListOnly>(p); }

sql::StatementPtr refuseRestore(sql::Parser& p) {
  const int line = p.next().line;  // RESTORE
  if (p.peek().is("LABELONLY") || p.peek().is("REWINDONLY"))
    p.unsupported("RESTORE " + base::toUpperAscii(p.peek().text), line);
  p.syntaxError(p.peek());
}

void restoreDatabase(Context& c, const RestoreDatabase& s) {
  const std::string what = "RESTORE DATABASE";
  const int year = c.server().version.year;
  const std::string target = c.evalText(*s.database);
  if (s.device) occupyIfAsked(c, target);
  checkRestoreStatement(c, s, what, {});
  if (!s.device) return recoverOnly(c, what, target);
  const auto file = device(c, what, *s.device);
  const bool norecovery = s.option("NORECOVERY") != nullptr;
  const int step = statsStep(c, s);
  const auto started = std::chrono::steady_clock::now();
  const auto startedAt = c.server().now();
  const int fileNo = fileOption(c, s);
  const BackupSet set = readSet(what, file, fileNo);
  const auto& info = set.info;
  if (info.type == 'L')
    terminate(what, {msg(3135, 16,
                         "The backup set in file '" + file.string() + "' was created by " +
                             setKind(info.type) + " and cannot be used for this restore operation.")});
  checkSet(what, s, set);
  if (equalsIgnoreCase(target, "tempdb"))
    terminate(what, {msg(3147, 16, "Backup and restore operations are not allowed on database tempdb.")});
  if (equalsIgnoreCase(target, "master"))
    terminate(what,
              {msg(3108, 16,
                   "To restore the master database, the server must be running in single-user mode. For "
                   "information on starting in single-user mode, see \"How to: Start an Instance of SQL "
                   "Server (sqlservr.exe)\" in Books Online.")});
  auto& catalog = c.server().catalog;
  auto entry = catalog.find(target);
  const bool replace = s.option("REPLACE") != nullptr;
  // Without REPLACE a restore goes only over the database the set was made of: the same name
  // and the same identity (one created anew under that name is another database). A database a
  // restore left RESTORING takes the further sets of its identity under any name, as a chain
  // restored under a new name does.
  const bool continuesRestore = entry && entry->state == DatabaseState::Restoring && sameDatabase(*entry, info);
  if (entry && !replace && !continuesRestore &&
      (!equalsIgnoreCase(info.databaseName, entry->name) || !sameDatabase(*entry, info)))
    terminate(what, {msg(3154, 16,
                         "The backup set holds a backup of a database other than the existing '" +
                             entry->name + "' database.")});
  // A differential applies only to the database its base restored, left restoring.
  if (info.type == 'I' && (!entry || entry->state != DatabaseState::Restoring ||
                           entry->log.restoreBaseLsn != info.databaseBackupLsn))
    terminate(what, {msg(3136, 16,
                         "This differential backup cannot be restored because the database has not been "
                         "restored to the correct earlier state.")});
  // From 2005, the tail of a log that is not backed up is not overwritten unless asked to.
  if (entry && !replace && year >= 2005 && entry->state == DatabaseState::Online &&
      entry->recovery != RecoveryModel::Simple && entry->log.logChain &&
      entry->log.lsn > entry->log.logBackupLsn)
    terminate(what,
              {msg(3159, 16,
                   "The tail of the log for the database \"" + entry->name +
                       "\" has not been backed up. Use BACKUP LOG WITH NORECOVERY to backup the log if it "
                       "contains work you do not want to lose. Use the WITH REPLACE or WITH STOPAT clause "
                       "of the RESTORE statement to just overwrite the contents of the log.")});
  // Where each file goes: WITH MOVE, else over the existing database's files, else where the set
  // says the backed-up database had them.
  const auto files = setFiles(catalog, info);
  const auto placements = placeFiles(c, s, what, target, entry, files, set.content.size(), replace);
  if (entry) {
    // Sitting in the database oneself leaves nothing to wait for.
    const bool self = equalsIgnoreCase(c.currentDatabase(), entry->name);
    const auto ex = catalog.beginExclusive(entry->name, std::chrono::milliseconds(self ? 0 : 1500));
    if (ex == storage::Catalog::Exclusive::InUse)
      terminate(what,
                {msg(3101, 16, "Exclusive access could not be obtained because the database is in use.")});
    if (ex == storage::Catalog::Exclusive::Missing) entry.reset();
  }
  // A restore to a new name adds the database (its files are written only at the end), and takes
  // it away again unless the restore ends well.
  const bool created = !entry;
  if (created) {
    storage::NewDatabase n;
    n.name = target;
    n.exclusive = true;
    n.restoring = true;
    n.file = placements.data;
    n.logFile = placements.log;
    entry = catalog.createDatabase(n);
  }
  storage::ExclusiveGuard guard(catalog, entry->name);
  const storage::CopyGuard copying(catalog, entry->name);
  struct DropUnlessRestored {
    storage::Catalog& catalog;
    std::string name;
    bool drop;
    ~DropUnlessRestored() {
      if (!drop) return;
      try {
        catalog.forgetDatabase(name);
      } catch (const std::exception&) {
        // master could not be written: the database stays listed, without files.
      }
    }
  } dropUnlessRestored{catalog, entry->name, created};

  const auto dataFile = placements.data.value_or(entry->file);
  if (created && c.server().faults.take(base::StatementFault::Kind::BreakRestore, {target})) {
    breakMidway(c, what, *entry, dataFile, placements.log.value_or(entry->logFile), set);
    dropUnlessRestored.drop = false;
    terminate(what,
              {msg(3203, 16,
                   "Read on \"" + file.string() + "\" failed: 23(Data error (cyclic redundancy check).)")});
  }
  writeDatabaseFile(c, what, dataFile, set.content);
  dropUnlessRestored.drop = false;

  // The database is what the set says: its files' names, its recovery model, and its log as of
  // the backup, restoring when more is to come (NORECOVERY).
  storage::DbEntry restored = *entry;
  restored.file = dataFile;
  restored.logFile = placements.log.value_or(entry->logFile);
  for (const auto& f : files) {
    if (f.type == 'D') restored.dataName = f.logicalName;
    if (f.type == 'L') {
      restored.logName = f.logicalName;
      restored.log.fileBytes = std::max<std::uint64_t>(f.size, 8192);
      restored.log.minimumBytes = std::min(restored.log.minimumBytes, restored.log.fileBytes);
    }
  }
  restored.created = c.server().now();
  restored.collation = info.collation;
  restored.recovery = static_cast<RecoveryModel>(info.recoveryModel);
  restored.familyGuid = info.databaseGuid;
  restored.state = norecovery ? DatabaseState::Restoring : DatabaseState::Online;
  // The data stand as of the set's checkpoint: log restored after it begins there.
  const std::uint64_t lsn = info.hasDetails ? info.checkpointLsn : restored.log.lsn;
  restored.log.lsn = restored.log.checkpointLsn = restored.log.logBackupLsn = lsn;
  restored.log.restoreLsn = lsn;
  restored.log.restoredTo = info.finishDate;
  if (info.type == 'D') {
    restored.log.restoreBaseLsn = info.checkpointLsn;
    restored.log.fullBackupLsn = info.checkpointLsn;
  }
  restored.log.logChain = restored.recovery != RecoveryModel::Simple && info.hasDetails;
  if (c.server().faults.take(base::StatementFault::Kind::DamageRestore, {target})) plantDamage(dataFile);
  catalog.restored(restored);
  recordRestoreOf(c, info, file, entry->name, startedAt, replace, !norecovery);

  const std::string pos = std::to_string(info.position);
  if (step > 0)
    for (int p = step; p <= 100; p += step) c.message(3211, 0, std::to_string(p) + " percent processed.");
  const std::int64_t dataPages = pagesOf(set.content.size());
  c.message(4035, 0,
            "Processed " + std::to_string(dataPages) + " pages for database '" + entry->name + "', file '" +
                restored.dataName + "' on file " + pos + ".");
  c.message(4035, 0,
            "Processed 1 pages for database '" + entry->name + "', file '" + restored.logName + "' on file " +
                pos + ".");
  c.message(3014, 0,
            what + " successfully processed " + std::to_string(dataPages + 1) + " pages in " +
                timing(started, set.content.size()) + ".");
  c.done(false);
}

namespace {

bool earlier(const sql::DateTime& a, const sql::DateTime& b) {
  return a.days < b.days || (a.days == b.days && a.ticks < b.ticks);
}

// WITH STOPAT = 'datetime' | @variable: the moment on the server's clock; nullopt without it.
std::optional<sql::DateTime> stopAtOption(Context& c, const std::string& what, const StatementWithOptions& s) {
  const OptionItem* o = s.option("STOPAT");
  if (!o || !o->value) return std::nullopt;
  const sql::TypedValue v = c.eval(*o->value);
  if (const auto* date = std::get_if<sql::DateTime>(&v.value)) return *date;
  if (const auto parsed = sql::DateTime::fromText(c.evalText(*o->value), sql::DateOrder::Mdy)) return parsed;
  terminate(what, {msg(241, 16, "Conversion failed when converting date and/or time from character string.")});
}

// Applies the log set's committed changes after `fromLsn` up to `stopAt` to the data file, in
// their order, in one transaction; the LSN the data then stand at. Refused before anything is
// changed when the set cannot stop there.
std::uint64_t applyChangesUpTo(const std::string& what, const std::filesystem::path& dataFile,
                               const BackupSetInfo& info, std::uint64_t fromLsn, const sql::DateTime& stopAt,
                               const sql::DateTime& restoredTo) {
  if (earlier(stopAt, restoredTo))
    terminate(what, {msg(4335, 16,
                         "The specified STOPAT time is too early. All or part of the database is already rolled "
                         "forward beyond that point.")});
  if (!info.committed)
    terminate(what, {msg(50000, 16,
                         "The stand-in server cannot stop inside this log backup: it was written by an earlier "
                         "version that kept no committed changes.")});
  if (info.committed->completeFromLsn > fromLsn)
    terminate(what, {msg(50000, 16,
                         "The stand-in server cannot stop inside this log backup: it was restarted while the log "
                         "was written, and the changes before the restart are not in the set.")});
  std::vector<const storage::LoggedChange*> due;
  for (const auto& change : info.committed->changes) {
    if (change.lsn <= fromLsn || earlier(stopAt, change.committed)) continue;
    if (change.unreplayable)
      terminate(what, {msg(50000, 16,
                           "The stand-in server cannot stop inside a log backup after a change of a table's "
                           "definition or of a table without a primary key; restore the whole log.")});
    due.push_back(&change);
  }
  std::uint64_t lsn = fromLsn;
  try {
    storage::Database data = storage::Database::open(dataFile, false);
    data.exec("BEGIN");
    for (const storage::LoggedChange* change : due) {
      if (!storage::applyChanges(data.get(), change->changeset)) {
        data.exec("ROLLBACK");
        terminate(what, {msg(50000, 16,
                             "The stand-in server could not apply the log's changes: the data are not as the log "
                             "expects.")});
      }
      lsn = change->lsn;
    }
    data.exec("COMMIT");
  } catch (const storage::Error& e) {
    terminate(what, {msg(50000, 16, std::string("The stand-in server could not apply the log's changes: ") + e.what())});
  }
  return lsn;
}

}  // namespace

void restoreLog(Context& c, const RestoreLog& s) {
  const std::string what = "RESTORE LOG";
  const std::string target = c.evalText(*s.database);
  checkRestoreStatement(c, s, what, {"MOVE"}, true);
  const auto stopAt = stopAtOption(c, what, s);
  const auto file = device(c, what, *s.device);
  const int step = statsStep(c, s);
  const auto started = std::chrono::steady_clock::now();
  const auto startedAt = c.server().now();
  auto& catalog = c.server().catalog;
  auto entry = catalog.find(target);
  if (!entry)
    terminate(what,
              {msg(3118, 16,
                   "The database \"" + target +
                       "\" does not exist. RESTORE can only create a database when restoring either a full "
                       "backup or a file backup of the primary file.")});
  const BackupSet set = readSet(what, file, fileOption(c, s));
  const auto& info = set.info;
  if (info.type != 'L')
    terminate(what, {msg(3135, 16,
                         "The backup set in file '" + file.string() + "' was created by " +
                             setKind(info.type) + " and cannot be used for this restore operation.")});
  checkSet(what, s, set);
  if (entry->state != DatabaseState::Restoring)
    terminate(what, {msg(3117, 16,
                         "The log or differential backup cannot be restored because no files are ready to "
                         "rollforward.")});
  if (!entry->familyGuid.empty() && !equalsIgnoreCase(entry->familyGuid, info.databaseGuid))
    terminate(what,
              {msg(4330, 16,
                   "This backup set cannot be applied because it is on a recovery path that is inconsistent "
                   "with the database. The recovery path is the sequence of data and log backups that have "
                   "brought the database to a particular recovery point. Find a compatible backup to "
                   "restore, or restore the rest of the database to match a recovery point within this "
                   "backup set, which will restore the database to a different point in time. For more "
                   "information about recovery paths, see SQL Server Books Online.")});
  const std::uint64_t at = entry->log.restoreLsn;
  if (info.firstLsn > at)
    terminate(what,
              {msg(4305, 16,
                   "The log in this backup set begins at LSN " + std::to_string(info.firstLsn) +
                       ", which is too recent to apply to the database. An earlier log backup that includes "
                       "LSN " +
                       std::to_string(at) + " can be restored.")});
  if (info.lastLsn < at || (info.lastLsn == at && info.firstLsn != info.lastLsn))
    terminate(what, {msg(4326, 16,
                         "The log in this backup set terminates at LSN " + std::to_string(info.lastLsn) +
                             ", which is too early to apply to the database. A more recent log backup that "
                             "includes LSN " +
                             std::to_string(at) + " can be restored.")});
  const auto ex = catalog.beginExclusive(entry->name, std::chrono::milliseconds(1500));
  if (ex != storage::Catalog::Exclusive::Ok)
    terminate(what,
              {msg(3101, 16, "Exclusive access could not be obtained because the database is in use.")});
  storage::ExclusiveGuard guard(catalog, entry->name);
  const storage::CopyGuard copying(catalog, entry->name);
  storage::DbEntry restored = *entry;
  bool recover = !s.option("NORECOVERY");
  if (stopAt && earlier(*stopAt, info.finishDate)) {
    // Stopping inside the log: its committed changes up to the moment go onto the data as the
    // restored sets left them.
    restored.log.restoreLsn = applyChangesUpTo(what, entry->file, info, at, *stopAt, entry->log.restoredTo);
    restored.log.restoredTo = *stopAt;
  } else {
    // The set holds the database as the log brought it: applying the log is putting it in place.
    writeDatabaseFile(c, what, entry->file, set.content);
    restored.log.restoreLsn = info.lastLsn;
    restored.log.restoredTo = info.finishDate;
    if (stopAt && recover) {
      c.message(4322, 0,
                "This backup set contains records that were logged before the designated point in time. The "
                "database is being left in the restoring state so that more roll forward can be performed.");
      recover = false;
    }
  }
  if (recover) {
    restored.state = DatabaseState::Online;
    restored.log.lsn = restored.log.checkpointLsn = restored.log.logBackupLsn = info.lastLsn;
  }
  catalog.restored(restored);
  recordRestoreOf(c, info, file, entry->name, startedAt, false, recover);

  const std::string pos = std::to_string(info.position);
  if (step > 0)
    for (int p = step; p <= 100; p += step) c.message(3211, 0, std::to_string(p) + " percent processed.");
  const std::int64_t logPages = pagesOf((info.lastLsn - info.firstLsn) * storage::kLogBytesPerRow);
  c.message(4035, 0,
            "Processed 0 pages for database '" + entry->name + "', file '" + entry->dataName + "' on file " +
                pos + ".");
  c.message(4035, 0,
            "Processed " + std::to_string(logPages) + " pages for database '" + entry->name + "', file '" +
                entry->logName + "' on file " + pos + ".");
  c.message(3014, 0,
            what + " successfully processed " + std::to_string(logPages) + " pages in " +
                timing(started, static_cast<std::uint64_t>(logPages) * 8192) + ".");
  c.done(false);
}

void restoreVerify(Context& c, const RestoreVerifyOnly& s) {
  const std::string what = "VERIFY DATABASE";
  try {
    refuseOptions(s, what, {"PASSWORD", "MEDIANAME", "MEDIAPASSWORD", "MOVE"},
                  {"REPLACE", "RECOVERY", "NORECOVERY", "STANDBY", "STOPAT", "STOPATMARK", "STOPBEFOREMARK",
                   "PARTIAL", "RESTRICTED_USER", "KEEP_REPLICATION", "KEEP_CDC", "ENABLE_BROKER",
                   "NEW_BROKER", "ERROR_BROKER_CONVERSATIONS", "DBO_ONLY", "RESTART"});
  } catch (const SqlError& e) {
    terminate(what, {e.message});
  }
  const auto file = device(c, what, *s.device);
  const int fileNo = fileOption(c, s);
  const BackupSet set = readSet(what, file, fileNo);
  // The verify reads the whole set back, as a restore would.
  CopyMeter meter(c, set.content.size());
  meter.copy(set.content, [](std::string_view) { return true; });
  checkSet(what, s, set);
  c.message(3262, 0, "The backup set on file " + std::to_string(fileNo) + " is valid.");
  c.done(false);
}

namespace {

// HEADERONLY and FILELISTONLY only read: the options that restore something are refused.
void refuseRestoringOptions(const StatementWithOptions& s, const std::string& what) {
  try {
    refuseOptions(
        s, what, {"PASSWORD", "MEDIANAME", "MEDIAPASSWORD"},
        {"REPLACE", "RECOVERY", "NORECOVERY", "STANDBY", "STOPAT", "STOPATMARK", "STOPBEFOREMARK", "PARTIAL",
         "RESTRICTED_USER", "KEEP_REPLICATION", "KEEP_CDC", "ENABLE_BROKER", "NEW_BROKER",
         "ERROR_BROKER_CONVERSATIONS", "DBO_ONLY", "RESTART", "MOVE", "LOADHISTORY", "STATS"});
  } catch (const SqlError& e) {
    terminate(what, {e.message});
  }
}

}  // namespace

void restoreHeaderOnly(Context& c, const RestoreHeaderOnly& s) {
  const std::string what = "RESTORE HEADERONLY";
  const int year = c.server().version.year;
  refuseRestoringOptions(s, what);
  const auto file = device(c, what, *s.device);
  const auto media = readMedia(what, file, false);
  const int only = s.option("FILE") ? fileOption(c, s) : 0;
  if (only != 0 && (only < 1 || static_cast<std::size_t>(only) > media.sets.size()))
    terminate(what,
              {msg(4038, 16,
                   "Cannot find file ID " + std::to_string(only) + " on device '" + file.string() + "'.")});
  ResultTable rows(kHeaderColumns, year);
  for (const auto& set : media.sets) {
    const auto& i = set.info;
    if (only != 0 && i.position != static_cast<std::uint32_t>(only)) continue;
    const int setYear = static_cast<int>(i.serverYear);
    const auto v = base::productVersionFor(base::isSupportedYear(setYear) ? setYear : year);
    const std::uint64_t size =
        i.type == 'L' ? (i.lastLsn - i.firstLsn) * storage::kLogBytesPerRow + 8192 : i.contentSize + 8192;
    const std::string guid = i.databaseGuid.empty() ? kNoGuid : i.databaseGuid;
    const char* model = i.recoveryModel == 1 ? "FULL" : i.recoveryModel == 2 ? "BULK-LOGGED" : "SIMPLE";
    rows.add({{"BackupName", textOrNull(i.backupName)},
              {"BackupDescription", textOrNull(i.description)},
              {"BackupType", std::int64_t{i.type == 'L'   ? 2
                                          : i.type == 'I' ? 5
                                                          : 1}},
              {"Compressed", std::int64_t{i.compressed ? 1 : 0}},
              {"Position", std::int64_t{i.position}},
              {"DeviceType", std::int64_t{2}},
              {"UserName", i.userName},
              {"ServerName", i.serverName},
              {"DatabaseName", i.databaseName},
              {"DatabaseVersion", std::int64_t{v.databaseVersion}},
              {"DatabaseCreationDate", i.databaseCreated},
              {"BackupSize", static_cast<std::int64_t>(size)},
              {"FirstLSN", lsnValue(i.firstLsn)},
              {"LastLSN", lsnValue(i.lastLsn)},
              {"CheckpointLSN", lsnValue(i.checkpointLsn)},
              {"DatabaseBackupLSN", lsnValue(i.databaseBackupLsn)},
              {"BackupStartDate", i.startDate},
              {"BackupFinishDate", i.finishDate},
              {"SortOrder", std::int64_t{0}},
              {"CodePage", std::int64_t{932}},
              {"UnicodeLocaleId", std::int64_t{1041}},
              {"UnicodeComparisonStyle", std::int64_t{196609}},
              {"CompatibilityLevel", std::int64_t{v.compatibilityLevel}},
              {"SoftwareVendorId", std::int64_t{4608}},
              {"SoftwareVersionMajor", std::int64_t{v.major}},
              {"SoftwareVersionMinor", std::int64_t{v.minor}},
              {"SoftwareVersionBuild", std::int64_t{v.build}},
              {"MachineName", i.serverName.substr(0, i.serverName.find('\\'))},
              {"Flags", std::int64_t{i.checksums ? 16 : 0}},
              {"BindingID", guid},
              {"RecoveryForkID", guid},
              {"Collation", i.collation},
              {"FamilyGUID", guid},
              {"HasBulkLoggedData", std::int64_t{0}},
              {"IsSnapshot", std::int64_t{0}},
              {"IsReadOnly", std::int64_t{0}},
              {"IsSingleUser", std::int64_t{0}},
              {"HasBackupChecksums", std::int64_t{i.checksums ? 1 : 0}},
              {"IsDamaged", std::int64_t{0}},
              {"BeginsLogChain", std::int64_t{i.type == 'L' && i.firstLsn == i.databaseBackupLsn ? 1 : 0}},
              {"HasIncompleteMetaData", std::int64_t{0}},
              {"IsForceOffline", std::int64_t{0}},
              {"IsCopyOnly", std::int64_t{i.copyOnly ? 1 : 0}},
              {"FirstRecoveryForkID", guid},
              {"RecoveryModel", std::string(model)},
              {"DifferentialBaseLSN", i.type == 'I' ? lsnValue(i.databaseBackupLsn) : Value{}},
              {"DifferentialBaseGUID", i.type == 'I' ? Value{guid} : Value{}},
              {"BackupTypeDescription", std::string(i.type == 'L'   ? "Transaction Log"
                                                    : i.type == 'I' ? "Database Differential"
                                                                    : "Database")},
              {"BackupSetGUID", i.setGuid.empty() ? Value{} : Value{i.setGuid}},
              {"CompressedBackupSize",
               static_cast<std::int64_t>(i.compressed ? std::min<std::uint64_t>(size, i.storedSize + 8192)
                                                      : size)},
              {"Containment", std::int64_t{0}},
              {"CompressionAlgorithm", i.compressed ? Value{std::string("MS_XPRESS")} : Value{}}});
  }
  ResultSet rs = rows.take();
  const auto count = static_cast<std::int64_t>(rs.rows.size());
  c.setRowCount(count);
  c.send(std::move(rs));
  c.done(false, count, StatementDone::Command::Select);
}

void restoreFileListOnly(Context& c, const RestoreFileListOnly& s) {
  const std::string what = "RESTORE FILELIST";
  const int year = c.server().version.year;
  refuseRestoringOptions(s, what);
  const auto file = device(c, what, *s.device);
  const BackupSet set = readSet(what, file, fileOption(c, s));
  ResultTable rows(kFileListColumns, year);
  std::int64_t fileId = 0;
  for (const auto& f : setFiles(c.server().catalog, set.info)) {
    ++fileId;
    const bool data = f.type == 'D';
    rows.add({{"LogicalName", f.logicalName},
              {"PhysicalName", f.physicalName},
              {"Type", std::string(1, f.type)},
              {"FileGroupName", data ? Value{std::string("PRIMARY")} : Value{}},
              {"Size", static_cast<std::int64_t>(f.size)},
              {"MaxSize", data ? std::int64_t{35184372080640} : std::int64_t{2199023255552}},
              {"FileID", fileId},
              {"CreateLSN", std::int64_t{0}},
              {"DropLSN", std::int64_t{0}},
              {"UniqueID", newGuid()},
              {"ReadOnlyLSN", std::int64_t{0}},
              {"ReadWriteLSN", std::int64_t{0}},
              {"BackupSizeInBytes", static_cast<std::int64_t>(data ? set.info.storedSize : 0)},
              {"SourceBlockSize", std::int64_t{512}},
              {"FileGroupID", std::int64_t{data ? 1 : 0}},
              {"DifferentialBaseLSN", std::int64_t{0}},
              {"DifferentialBaseGUID", kNoGuid},
              {"IsReadOnly", std::int64_t{0}},
              {"IsPresent", std::int64_t{1}}});
  }
  ResultSet rs = rows.take();
  const auto count = static_cast<std::int64_t>(rs.rows.size());
  c.setRowCount(count);
  c.send(std::move(rs));
  c.done(false, count, StatementDone::Command::Select);
}

}  // namespace standin::backup
