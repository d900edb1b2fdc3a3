// What the maintenance statements share (maintenance_internal.h).
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "standin/backup/common.h"
#include "standin/base/text.h"
#include "standin/storage/sqlite_db.h"

namespace standin::backup {

using server::Context;
using server::Server;
using sql::Message;
using sql::SqlError;
using sql::SqlErrors;
using sql::SqlType;

Message msg(int number, int severity, std::string text) {
  return Message{number, 1, severity, std::move(text), 1, {}};
}

void terminate(const std::string& what, std::vector<Message> first) {
  first.push_back(msg(3013, 16, what + " is terminating abnormally."));
  throw SqlErrors(std::move(first));
}

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

bool isForeignPath(const std::string& text) {
  if (text.size() >= 3 && ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z')) &&
      text[1] == ':' && (text[2] == '\\' || text[2] == '/'))
    return true;
  return text.rfind("\\\\", 0) == 0;
}

Message cannotOpen(const std::string& device, const std::string& osText) {
  return msg(3201, 16, "Cannot open backup device '" + device + "'. Operating system error " + osText + ".");
}

Message osErrorWhile(int err, const std::string& attempting, const std::filesystem::path& file) {
  return msg(3634, 16,
             "The operating system returned the error '" + osErrorText(err, false, file) +
                 "' while attempting '" + attempting + "' on '" + file.string() + "'.");
}

Message writeFailed(const std::filesystem::path& file, int err) {
  return msg(3202, 16, "Write on \"" + file.string() + "\" failed: " + osErrorText(err, false, file));
}

Message missingDatabase(int year, const std::string& name) {
  if (year == 2000)
    return msg(911, 16,
               "Could not locate entry in sysdatabases for database '" + name +
                   "'. No entry found with that name. Make sure that the name is entered correctly.");
  return msg(911, 16,
             "Database '" + name + "' does not exist. Make sure that the name is entered correctly.");
}

std::unique_ptr<storage::DbLease> holdDatabase(Context& c, const std::string& name) {
  std::string canonical;
  std::filesystem::path file;
  const auto acq = c.server().catalog.acquire(name, canonical, file);
  if (acq == storage::Catalog::Acquire::Restoring)
    throw SqlError(927, 14, "Database '" + name + "' cannot be opened. It is in the middle of a restore.");
  if (acq == storage::Catalog::Acquire::Missing)
    throw SqlError(missingDatabase(c.server().version.year, name));
  return std::make_unique<storage::DbLease>(c.server().catalog, canonical, file);
}

std::string snapshotDatabase(const std::filesystem::path& file) {
  auto db = storage::Database::open(file, false);
  sqlite3_int64 size = 0;
  std::unique_ptr<unsigned char, storage::SqliteFree> data(sqlite3_serialize(db.get(), "main", &size, 0));
  if (!data) throw std::runtime_error("the database file could not be read");
  return std::string(reinterpret_cast<const char*>(data.get()), static_cast<std::size_t>(size));
}

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

std::int64_t pagesOf(std::uint64_t bytes) {
  return std::max<std::int64_t>(1, static_cast<std::int64_t>((bytes + 8191) / 8192));
}

std::string timing(std::chrono::steady_clock::time_point start, std::uint64_t bytes) {
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (secs < 0.001) secs = 0.001;
  char buf[96];
  std::snprintf(buf, sizeof buf, "%.3f seconds (%.3f MB/sec)", secs,
                static_cast<double>(bytes) / 1048576.0 / secs);
  return buf;
}

sql::ExprPtr readDevices(sql::Parser& p, int line) {
  sql::ExprPtr device;
  int count = 0;
  do {
    const sql::Token& kind = p.peek();
    if (kind.is("DISK")) {
      p.next();
      p.expectSymbol("=");
      auto e = p.expression();
      if (!device) device = std::move(e);
      ++count;
    } else if (kind.is("TAPE") || kind.is("URL")) {
      p.unsupported("backup devices other than DISK", kind.line);
    } else if (kind.kind == sql::Token::Kind::Identifier || kind.kind == sql::Token::Kind::QuotedIdentifier) {
      p.unsupported("logical backup devices", kind.line);
    } else {
      p.syntaxError(kind);
    }
  } while (p.acceptSymbol(","));
  if (count > 1) p.unsupported("striped backup media (more than one DISK)", line);
  return device;
}

namespace {

// The release an option of BACKUP or RESTORE came with.
int optionSince(const std::string& upper) {
  if (upper == "COMPRESSION" || upper == "NO_COMPRESSION") return 2008;
  if (upper == "COPY_ONLY" || upper == "CHECKSUM" || upper == "NO_CHECKSUM" || upper == "STOP_ON_ERROR" ||
      upper == "CONTINUE_AFTER_ERROR" || upper == "BUFFERCOUNT" || upper == "MAXTRANSFERSIZE" ||
      upper == "KEEP_CDC")
    return upper == "KEEP_CDC" ? 2008 : 2005;
  return 2000;
}

}  // namespace

void readWithOptions(sql::Parser& p, StatementWithOptions& s, const std::vector<std::string_view>& known,
                     const char* what, bool truncateOnlyKnown) {
  do {
    const sql::Token& o = p.peek();
    if (o.kind != sql::Token::Kind::Identifier) p.syntaxError(o);
    const std::string upper = base::toUpperAscii(o.text);
    const bool isTruncate = upper == "TRUNCATE_ONLY" || upper == "NO_LOG";
    const bool isKnown = std::find(known.begin(), known.end(), upper) != known.end();
    if (!(isKnown || (isTruncate && truncateOnlyKnown)) || p.serverYear() < optionSince(upper))
      throw SqlError(155, 15, "'" + o.text + "' is not a recognized " + what + " option.", o.line);
    p.next();
    OptionItem item;
    item.name = upper;
    if (upper == "MOVE") {
      item.value = p.expression();
      p.expect("TO");
      item.value2 = p.expression();
    } else if (p.acceptSymbol("=")) {
      item.value = p.expression();
    }
    s.options.push_back(std::move(item));
  } while (p.acceptSymbol(","));
}

int statsStep(Context& c, const StatementWithOptions& s) {
  const auto* o = s.option("STATS");
  if (!o) return 0;
  if (!o->value) return 10;
  const auto v = sql::convert(c.eval(*o->value), SqlType::integer(), -1, s.line);
  if (sql::isNull(v.value)) return 10;
  const auto step = std::get<std::int64_t>(v.value);
  return step <= 0 || step > 100 ? 10 : static_cast<int>(step);
}

int fileOption(Context& c, const StatementWithOptions& s) {
  const auto* o = s.option("FILE");
  if (!o || !o->value) return 1;
  const auto v = sql::convert(c.eval(*o->value), SqlType::integer(), -1, s.line);
  return sql::isNull(v.value) ? 1 : static_cast<int>(std::get<std::int64_t>(v.value));
}

void refuseOptions(const StatementWithOptions& s, const std::string& what,
                   const std::vector<std::string_view>& notCarriedOut,
                   const std::vector<std::string_view>& notForThisStatement) {
  std::string wrong;
  for (const auto& o : s.options)
    for (const auto name : notForThisStatement)
      if (o.name == name) wrong += (wrong.empty() ? "" : ", ") + base::toLowerAscii(name);
  if (!wrong.empty())
    throw SqlError(
        3032, 16,
        "One or more of the options (" + wrong +
            ") are not supported for this statement. Review the documentation for supported options.");
  for (const auto& o : s.options)
    for (const auto name : notCarriedOut)
      if (o.name == name)
        throw SqlError(50000, 16, "The stand-in server does not support " + what + " WITH " + o.name + ".");
}

BackupReadResult readMedia(const std::string& what, const std::filesystem::path& file, bool withContent) {
  auto r = readBackupFile(file, withContent);
  switch (r.status) {
    case BackupReadStatus::Ok:
      return r;
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
  return r;
}

BackupSet readSet(const std::string& what, const std::filesystem::path& file, int fileNo) {
  auto r = readMedia(what, file, true);
  if (fileNo < 1 || static_cast<std::size_t>(fileNo) > r.sets.size())
    terminate(what,
              {msg(4038, 16,
                   "Cannot find file ID " + std::to_string(fileNo) + " on device '" + file.string() + "'.")});
  return std::move(r.sets[static_cast<std::size_t>(fileNo - 1)]);
}

std::vector<BackupFileEntry> setFiles(const storage::Catalog& catalog, const BackupSetInfo& info) {
  if (!info.files.empty()) return info.files;
  // A set of format 1 named no files: those a database of that name has in the data folder.
  const std::string stem = (catalog.dataDir() / info.databaseName).string();
  return {BackupFileEntry{'D', catalog.dataFileName(info.databaseName), stem + ".sqlite", info.contentSize},
          BackupFileEntry{'L', catalog.logFileName(info.databaseName), stem + "_log.ldf", 1048576}};
}

}  // namespace standin::backup
