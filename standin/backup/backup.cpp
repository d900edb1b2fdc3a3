// BACKUP DATABASE and BACKUP LOG: a set written to the media file, its history in msdb, and
// what the backup does to the database's log.
#include <array>
#include <cerrno>
#include <chrono>

#include "standin/backup/common.h"
#include "standin/backup/copy_meter.h"
#include "standin/backup/history.h"
#include "standin/base/private_files.h"
#include "standin/base/text.h"
#include "standin/server/guids.h"

namespace standin::backup {

using base::equalsIgnoreCase;
using server::Context;
using server::databaseGuid;
using server::newGuid;
using server::Server;
using sql::Message;
using sql::SqlError;
using storage::RecoveryModel;

namespace {

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
         "FORMAT, which destroys all the backup sets.";
}

// A file's new content, given whole to a temporary file beside it and put in its place only
// when complete; a failure ends the statement with SQL Server's errors and leaves the old file.
// A client gone before the end cancels it, and the old file stays.
void replaceFile(Context& c, const std::string& what, const std::filesystem::path& file,
                 std::string_view first, const EncodedBackupSet& set) {
  base::ReplacementFile out(file);
  if (out.error() != 0) terminate(what, {cannotOpen(file.string(), osErrorText(out.error(), false, file))});
  // The earlier sets are kept as they are; the new set's content is what the backup copies.
  CopyMeter meter(c, set.content.size());
  const auto write = [&](std::string_view piece) { return out.write(piece); };
  if (!out.write(first) || !out.write(set.head) || !meter.copy(set.content, write) || !out.write(set.tail))
    terminate(what, {writeFailed(file, out.error())});
  c.checkCancel();
  if (!out.commit()) {
    // A target that cannot be replaced (a folder, a read-only place) is a device that cannot be opened.
    terminate(what, {out.failedAt() == base::ReplacementFile::Stage::Replace
                         ? cannotOpen(file.string(), osErrorText(out.error(), false, file))
                         : writeFailed(file, out.error())});
  }
}

// The media already in the file, kept for NOINIT; the statement ends when they cannot be
// appended to (3241, 3266) or are of the other kind of compression (3098).
struct Media {
  std::string existing;  // the file's bytes to keep before the new set
  std::uint32_t position = 1;
};

Media readMediaToAppend(Context& c, const std::string& what, const Backup& s,
                        const std::filesystem::path& file, bool compress) {
  // NOINIT appends to the sets already there, kept byte for byte; media that does not read back
  // whole is refused rather than replaced, as that would lose every set on it. INIT writes the
  // sets anew but keeps to the media's kind; only FORMAT makes new media.
  Media media;
  if (s.option("FORMAT")) return media;
  const bool init = s.option("INIT") != nullptr;
  int readError = 0;
  auto old = base::readWholeFile(file, &readError);
  if (!old && readError != ENOENT && !init)
    terminate(what, {cannotOpen(file.string(), osErrorText(readError, true, file))});
  if (!old || old->empty()) return media;
  const auto sets = decodeBackupSets(*old, false);
  if (sets.status == BackupReadStatus::Ok && !sets.sets.empty() && sets.sets[0].info.compressed != compress) {
    const std::string asked = compress ? "COMPRESSION" : "NO_COMPRESSION";
    const std::string other = compress ? "NO_COMPRESSION" : "COMPRESSION";
    terminate(
        what,
        {msg(3098, 16,
             "The backup cannot be performed because '" + asked +
                 "' was requested after the media was formatted with an incompatible structure. To append "
                 "to this media set, either omit '" +
                 asked + "' or specify '" + other +
                 "'. Alternatively, you can create a new media set by using WITH FORMAT in your BACKUP "
                 "statement. If you use WITH FORMAT on an existing media set, all its backup sets will be "
                 "overwritten.")});
  }
  if (init) return media;
  switch (sets.status) {
    case BackupReadStatus::Ok:
      media.position = static_cast<std::uint32_t>(sets.sets.size() + 1);
      media.existing = std::move(*old);
      return media;
    case BackupReadStatus::NotABackup:
      terminate(what, {msg(3241, 16,
                           "The media family on device '" + file.string() +
                               "' is incorrectly formed. SQL Server cannot process this media family.")});
    default:
      terminate(what, {msg(3266, 16, badMediaEnd(c.server().version.year, file))});
  }
}

std::string historyRecoveryName(RecoveryModel model) {
  return model == RecoveryModel::BulkLogged ? "BULK-LOGGED" : storage::recoveryModelName(model);
}

// BACKUP LOG WITH TRUNCATE_ONLY (or NO_LOG), up to 2005: the log is emptied without a backup,
// and the chain of log backups is broken.
void truncateLog(Context& c, const storage::DbEntry& entry) {
  c.server().catalog.logTruncated(entry.name);
  c.done(false);
}

}  // namespace

constexpr std::array kBackupOptions = {
    "INIT",       "NOINIT",      "FORMAT",     "NOFORMAT",         "SKIP",          "NOSKIP",
    "STATS",      "NAME",        "DESCRIPTION", "CHECKSUM",        "NO_CHECKSUM",   "COPY_ONLY",
    "COMPRESSION", "NO_COMPRESSION", "DIFFERENTIAL", "NOREWIND",    "REWIND",        "NOUNLOAD",
    "UNLOAD",     "STOP_ON_ERROR", "CONTINUE_AFTER_ERROR", "MEDIANAME", "MEDIADESCRIPTION", "MEDIAPASSWORD",
    "PASSWORD",   "EXPIREDATE",  "RETAINDAYS", "BLOCKSIZE",        "BUFFERCOUNT",   "MAXTRANSFERSIZE",
    "NORECOVERY", "NO_TRUNCATE", "STANDBY",    "RESTART"};

sql::StatementPtr readBackup(sql::Parser& p) {
  const int line = p.next().line;  // BACKUP
  auto s = sql::Parser::make<Backup>(line);
  if (p.accept("LOG")) {
    s->log = true;
  } else if (!p.accept("DATABASE")) {
    if (p.peek().is("CERTIFICATE") || p.peek().is("MASTER") || p.peek().is("SERVICE"))
      p.unsupported("BACKUP " + base::toUpperAscii(p.peek().text), line);
    p.syntaxError(p.peek());
  }
  s->database = p.databaseName();
  if (p.peek().is("FILE") || p.peek().is("FILEGROUP") || p.peek().is("READ_WRITE_FILEGROUPS"))
    p.unsupported("file and filegroup backups", line);
  if (p.accept("TO")) s->device = readDevices(p, line);
  // TRUNCATE_ONLY and NO_LOG went with 2008.
  if (p.accept("WITH"))
    readWithOptions(p, *s, {kBackupOptions.begin(), kBackupOptions.end()}, "BACKUP", p.serverYear() <= 2005);
  if (!s->log && !s->device) p.syntaxError(p.peek());
  if (s->log && !s->device && !s->option("TRUNCATE_ONLY") && !s->option("NO_LOG")) p.syntaxError(p.peek());
  p.expectBoundary();
  return s;
}

void backup(Context& c, const Backup& s) {
  const bool log = s.log;
  const std::string what = log ? "BACKUP LOG" : "BACKUP DATABASE";
  const int year = c.server().version.year;
  const std::string name = c.evalText(*s.database);
  if (c.tranCount() > 0)
    terminate(what, {msg(3021, 16, "Cannot perform a backup or restore operation within a transaction.")});
  const auto entry = c.server().catalog.find(name);
  if (!entry) terminate(what, {missingDatabase(year, name)});
  if (equalsIgnoreCase(entry->name, "tempdb"))
    terminate(what, {msg(3147, 16, "Backup and restore operations are not allowed on database tempdb.")});
  if (entry->state == storage::DatabaseState::Restoring)
    terminate(
        what,
        {msg(927, 14, "Database '" + entry->name + "' cannot be opened. It is in the middle of a restore.")});
  if (log && (s.option("TRUNCATE_ONLY") || s.option("NO_LOG"))) return truncateLog(c, *entry);
  if (log && equalsIgnoreCase(entry->name, "master"))
    terminate(what,
              {msg(4212, 16, "Cannot back up the log of the master database. Use BACKUP DATABASE instead.")});
  if (log && entry->recovery == RecoveryModel::Simple)
    terminate(what,
              {msg(4208, 16,
                   "The statement BACKUP LOG is not allowed while the recovery model is SIMPLE. Use BACKUP "
                   "DATABASE or change the recovery model using ALTER DATABASE.")});
  if (log && !entry->log.logChain)
    terminate(what,
              {msg(4214, 16, "BACKUP LOG cannot be performed because there is no current database backup.")});
  const bool differential = !log && s.option("DIFFERENTIAL") != nullptr;
  if (differential && equalsIgnoreCase(entry->name, "master"))
    terminate(what, {msg(3024, 16,
                         "You can only perform a full backup of the master database. Use BACKUP DATABASE to "
                         "back up the entire master database.")});
  if (differential && entry->log.fullBackupLsn == 0)
    terminate(what, {msg(3035, 16,
                         "Cannot perform a differential backup for database \"" + entry->name +
                             "\", because a current database backup does not exist. Perform a full database "
                             "backup by reissuing BACKUP DATABASE, omitting the WITH DIFFERENTIAL option.")});
  try {
    refuseOptions(s, what,
                  {"MEDIANAME", "MEDIADESCRIPTION", "MEDIAPASSWORD", "PASSWORD", "EXPIREDATE", "RETAINDAYS",
                   "NORECOVERY", "NO_TRUNCATE", "STANDBY"});
  } catch (const SqlError& e) {
    terminate(what, {e.message});
  }
  const std::string device = c.evalText(*s.device);
  const auto file = c.server().catalog.resolveBackupPath(device);
  if (isForeignPath(device) || device.empty())
    terminate(what, {cannotOpen(file.string(), "3(The system cannot find the path specified.)")});

  // Compression is the edition's to give (SERVERPROPERTY('Edition')); where it is, it is done.
  const bool compress = s.option("COMPRESSION") != nullptr;
  if (compress && !base::compressesBackups(c.server().edition, year))
    terminate(what, {msg(1844, 16,
                         what + " WITH COMPRESSION is not supported on " +
                             base::editionText(c.server().edition, c.server().version) + ".")});
  const bool copyOnly = s.option("COPY_ONLY") != nullptr;
  BackupSetInfo info;
  if (const auto* o = s.option("NAME"); o && o->value) info.backupName = c.evalText(*o->value);
  if (const auto* o = s.option("DESCRIPTION"); o && o->value) info.description = c.evalText(*o->value);
  const int step = statsStep(c, s);

  const auto started = std::chrono::steady_clock::now();
  info.startDate = c.server().now();
  const BackupFileLock fileLock(file);
  Media media = readMediaToAppend(c, what, s, file, compress);
  std::unique_ptr<storage::DbLease> lease;
  try {
    lease = holdDatabase(c, entry->name);
  } catch (const SqlError& e) {
    terminate(what, {e.message});
  }
  const storage::CopyGuard copying(c.server().catalog, entry->name);
  const std::string content = snapshotDatabase(lease->file());

  // The log's numbers: a database backup marks where it began (and begins the log chain); a log
  // backup holds the log from where the last one ended to now.
  auto& catalog = c.server().catalog;
  const auto before = catalog.find(entry->name).value_or(*entry);
  if (log) {
    info.firstLsn = before.log.logBackupLsn;
    info.lastLsn = before.log.lsn;
    info.checkpointLsn = before.log.checkpointLsn;
    info.databaseBackupLsn = before.log.fullBackupLsn;
  } else {
    const std::uint64_t lsn = before.log.lsn;
    info.firstLsn = info.checkpointLsn = lsn;
    info.lastLsn = lsn + 1;
    info.databaseBackupLsn = before.log.fullBackupLsn;
  }
  info.databaseName = entry->name;
  info.serverName = c.server().serverName();
  info.userName = c.loginName();
  info.position = media.position;
  info.serverYear = static_cast<std::uint32_t>(year);
  info.type = log ? 'L' : differential ? 'I' : 'D';
  info.compressed = compress;
  info.copyOnly = copyOnly;
  info.checksums = s.option("CHECKSUM") != nullptr;
  info.recoveryModel = static_cast<int>(before.recovery);
  info.databaseCreated = entry->created;
  info.collation = entry->collation;
  info.setGuid = newGuid();
  info.databaseGuid =
      entry->familyGuid.empty() ? databaseGuid(entry->name, entry->created) : entry->familyGuid;
  if (log) info.committed = catalog.loggedChanges(entry->name, info.firstLsn, info.lastLsn);
  info.files = {BackupFileEntry{'D', before.dataName, before.file.string(), content.size()},
                BackupFileEntry{'L', before.logName, before.logFile.string(), before.log.fileBytes}};
  info.finishDate = c.server().now();
  const auto encoded = encodeBackupSet(info, content);
  // Written beside the file and renamed over it: a backup that fails leaves the earlier sets.
  replaceFile(c, what, file, media.existing, encoded);
  if (log) {
    catalog.logBackedUp(entry->name, info.lastLsn, copyOnly);
  } else if (!differential) {
    catalog.fullBackupTaken(entry->name, info.checkpointLsn, copyOnly);
  } else {
    catalog.differentialTaken(entry->name, info.checkpointLsn);
  }

  // A log set's size is the log it holds; a database set's, the database and the log's tail.
  const std::uint64_t logBytes = (info.lastLsn - info.firstLsn) * storage::kLogBytesPerRow;
  const std::uint64_t setBytes = log ? logBytes + 8192 : content.size() + 8192;
  BackupRecord record;
  record.databaseName = entry->name;
  record.databaseCreated = entry->created;
  record.type = info.type;
  record.name = info.backupName;
  record.description = info.description;
  record.userName = c.loginName();
  record.start = info.startDate;
  record.finish = info.finishDate;
  record.position = media.position;
  record.size = setBytes;
  record.compressedSize = compress ? std::min<std::uint64_t>(setBytes, info.storedSize + 8192) : setBytes;
  record.compressed = compress;
  record.copyOnly = copyOnly;
  record.checksums = info.checksums;
  record.physicalDevice = std::filesystem::absolute(file).string();
  record.setGuid = info.setGuid;
  record.databaseGuid = info.databaseGuid;
  record.collation = info.collation;
  record.recoveryModel = historyRecoveryName(before.recovery);
  record.firstLsn = info.firstLsn;
  record.lastLsn = info.lastLsn;
  record.checkpointLsn = info.checkpointLsn;
  record.databaseBackupLsn = info.databaseBackupLsn;
  if (differential) record.differentialBaseLsn = before.log.fullBackupLsn;
  record.beginsLogChain = log && info.firstLsn == info.databaseBackupLsn;
  recordBackup(c.server(), record);

  const std::string pos = std::to_string(media.position);
  if (step > 0)
    for (int p = step; p <= 100; p += step) c.message(3211, 0, std::to_string(p) + " percent processed.");
  const std::int64_t logPages = log ? pagesOf(logBytes) : 1;
  std::int64_t pages = logPages;
  if (!log) {
    pages += pagesOf(content.size());
    c.message(4035, 0,
              "Processed " + std::to_string(pagesOf(content.size())) + " pages for database '" + entry->name +
                  "', file '" + before.dataName + "' on file " + pos + ".");
  }
  c.message(4035, 0,
            "Processed " + std::to_string(logPages) + " pages for database '" + entry->name + "', file '" +
                before.logName + "' on file " + pos + ".");
  c.message(3014, 0,
            what + " successfully processed " + std::to_string(pages) + " pages in " +
                timing(started, log ? logBytes : content.size()) + ".");
  c.done(false);
}

}  // namespace standin::backup
