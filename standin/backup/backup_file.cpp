#include "standin/backup/backup_file.h"

#include <zlib.h>

#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>

#include "standin/base/byte_reader.h"
#include "standin/base/crc32.h"
#include "standin/base/private_files.h"

namespace standin::backup {
namespace {

void putU32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void putU64(std::string& out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void putString(std::string& out, std::string_view s) {
  putU32(out, static_cast<std::uint32_t>(s.size()));
  out.append(s);
}

// u32 length + text; false when it does not fit.
bool readString(base::ByteReader& r, std::string& out) {
  if (!r.has(4)) return false;
  const std::uint32_t n = r.u32();
  if (!r.has(n)) return false;
  out = std::string(r.bytes(n));
  return true;
}

// The files some backup holds now.
struct HeldFiles {
  std::mutex mutex;
  std::condition_variable released;
  std::set<std::string> held;
};

HeldFiles& heldFiles() {
  static HeldFiles files;
  return files;
}

}  // namespace

BackupFileLock::BackupFileLock(const std::filesystem::path& file)
    : key_(base::resolvedTarget(file).string()) {
  auto& files = heldFiles();
  std::unique_lock lock(files.mutex);
  files.released.wait(lock, [&] { return files.held.count(key_) == 0; });
  files.held.insert(key_);
}

BackupFileLock::~BackupFileLock() {
  auto& files = heldFiles();
  {
    std::lock_guard lock(files.mutex);
    files.held.erase(key_);
  }
  files.released.notify_all();
}

namespace {

// The fields a format 2 header adds after those of format 1.
enum Tag : std::uint16_t {
  kTagType = 1,
  kTagFlags = 2,
  kTagContentSize = 3,
  kTagFirstLsn = 4,
  kTagLastLsn = 5,
  kTagCheckpointLsn = 6,
  kTagDatabaseBackupLsn = 7,
  kTagRecoveryModel = 8,
  kTagDatabaseCreated = 9,
  kTagSetGuid = 10,
  kTagDatabaseGuid = 11,
  kTagFile = 12,
  kTagCollation = 13,
  kTagCommittedChanges = 14,
};
constexpr std::uint32_t kFlagCompressed = 1;
constexpr std::uint32_t kFlagCopyOnly = 2;
constexpr std::uint32_t kFlagChecksums = 4;

void putField(std::string& out, Tag tag, std::string_view value) {
  out.push_back(static_cast<char>(tag & 0xFF));
  out.push_back(static_cast<char>(tag >> 8));
  putString(out, value);
}
std::string u32Bytes(std::uint32_t v) {
  std::string out;
  putU32(out, v);
  return out;
}
std::string u64Bytes(std::uint64_t v) {
  std::string out;
  putU64(out, v);
  return out;
}

std::string deflated(std::string_view content) {
  uLongf size = compressBound(static_cast<uLong>(content.size()));
  std::string out(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(content.data()),
                static_cast<uLong>(content.size()), Z_DEFAULT_COMPRESSION) != Z_OK)
    throw std::runtime_error("the backup could not be compressed");
  out.resize(size);
  return out;
}

// The database's bytes of a compressed set; nullopt when they do not inflate to their size.
std::optional<std::string> inflated(std::string_view stored, std::uint64_t size) {
  std::string out(static_cast<std::size_t>(size), '\0');
  uLongf length = static_cast<uLongf>(size);
  if (uncompress(reinterpret_cast<Bytef*>(out.data()), &length, reinterpret_cast<const Bytef*>(stored.data()),
                 static_cast<uLong>(stored.size())) != Z_OK ||
      length != size)
    return std::nullopt;
  return out;
}

// The format 2 fields of a header; false when one is cut short.
bool readDetails(base::ByteReader& h, BackupSetInfo& info) {
  info.hasDetails = true;
  while (h.left() > 0) {
    if (!h.has(2)) return false;
    const std::uint16_t tag = h.u16();
    std::string value;
    if (!readString(h, value)) return false;
    base::ByteReader v(value);
    auto u32 = [&] { return v.has(4) ? v.u32() : 0u; };
    auto u64 = [&] { return v.has(8) ? v.u64() : std::uint64_t{0}; };
    switch (tag) {
      case kTagType:
        info.type = value.empty() ? 'D' : value[0];
        break;
      case kTagFlags: {
        const std::uint32_t flags = u32();
        info.compressed = (flags & kFlagCompressed) != 0;
        info.copyOnly = (flags & kFlagCopyOnly) != 0;
        info.checksums = (flags & kFlagChecksums) != 0;
        break;
      }
      case kTagContentSize:
        info.contentSize = u64();
        break;
      case kTagFirstLsn:
        info.firstLsn = u64();
        break;
      case kTagLastLsn:
        info.lastLsn = u64();
        break;
      case kTagCheckpointLsn:
        info.checkpointLsn = u64();
        break;
      case kTagDatabaseBackupLsn:
        info.databaseBackupLsn = u64();
        break;
      case kTagRecoveryModel:
        info.recoveryModel = static_cast<int>(u32());
        break;
      case kTagDatabaseCreated:
        info.databaseCreated.days = static_cast<std::int32_t>(u32());
        info.databaseCreated.ticks = u32();
        break;
      case kTagSetGuid:
        info.setGuid = value;
        break;
      case kTagDatabaseGuid:
        info.databaseGuid = value;
        break;
      case kTagCollation:
        info.collation = value;
        break;
      case kTagFile: {
        BackupFileEntry f;
        if (!v.has(1)) return false;
        f.type = static_cast<char>(v.u8());
        if (!readString(v, f.logicalName) || !readString(v, f.physicalName) || !v.has(8)) return false;
        f.size = v.u64();
        info.files.push_back(std::move(f));
        break;
      }
      case kTagCommittedChanges: {
        storage::LoggedChanges committed;
        if (!v.has(12)) return false;
        committed.completeFromLsn = v.u64();
        const std::uint32_t count = v.u32();
        for (std::uint32_t i = 0; i < count; ++i) {
          storage::LoggedChange change;
          if (!v.has(17)) return false;
          change.lsn = v.u64();
          change.committed.days = static_cast<std::int32_t>(v.u32());
          change.committed.ticks = v.u32();
          change.unreplayable = v.u8() != 0;
          if (!readString(v, change.changeset)) return false;
          committed.changes.push_back(std::move(change));
        }
        info.committed = std::move(committed);
        break;
      }
      default:
        break;  // a field of a later format
    }
  }
  return true;
}

}  // namespace

EncodedBackupSet encodeBackupSet(BackupSetInfo& info, std::string_view content) {
  std::string header;
  putString(header, info.databaseName);
  putString(header, info.backupName);
  putString(header, info.description);
  putString(header, info.serverName);
  putString(header, info.userName);
  putU32(header, static_cast<std::uint32_t>(info.startDate.days));
  putU32(header, info.startDate.ticks);
  putU32(header, static_cast<std::uint32_t>(info.finishDate.days));
  putU32(header, info.finishDate.ticks);
  putU32(header, info.position);
  putU32(header, info.serverYear);
  info.contentSize = content.size();
  putField(header, kTagType, std::string(1, info.type));
  putField(header, kTagFlags,
           u32Bytes((info.compressed ? kFlagCompressed : 0) | (info.copyOnly ? kFlagCopyOnly : 0) |
                    (info.checksums ? kFlagChecksums : 0)));
  putField(header, kTagContentSize, u64Bytes(info.contentSize));
  putField(header, kTagFirstLsn, u64Bytes(info.firstLsn));
  putField(header, kTagLastLsn, u64Bytes(info.lastLsn));
  putField(header, kTagCheckpointLsn, u64Bytes(info.checkpointLsn));
  putField(header, kTagDatabaseBackupLsn, u64Bytes(info.databaseBackupLsn));
  putField(header, kTagRecoveryModel, u32Bytes(static_cast<std::uint32_t>(info.recoveryModel)));
  putField(
      header, kTagDatabaseCreated,
      u32Bytes(static_cast<std::uint32_t>(info.databaseCreated.days)) + u32Bytes(info.databaseCreated.ticks));
  putField(header, kTagSetGuid, info.setGuid);
  putField(header, kTagDatabaseGuid, info.databaseGuid);
  putField(header, kTagCollation, info.collation);
  for (const auto& f : info.files) {
    std::string entry(1, f.type);
    putString(entry, f.logicalName);
    putString(entry, f.physicalName);
    putU64(entry, f.size);
    putField(header, kTagFile, entry);
  }
  if (info.committed) {
    std::string field;
    putU64(field, info.committed->completeFromLsn);
    putU32(field, static_cast<std::uint32_t>(info.committed->changes.size()));
    for (const auto& change : info.committed->changes) {
      putU64(field, change.lsn);
      putU32(field, static_cast<std::uint32_t>(change.committed.days));
      putU32(field, change.committed.ticks);
      field.push_back(change.unreplayable ? '\1' : '\0');
      putString(field, change.changeset);
    }
    putField(header, kTagCommittedChanges, field);
  }
  info.hasDetails = true;

  EncodedBackupSet out;
  out.content = info.compressed ? deflated(content) : std::string(content);
  info.storedSize = out.content.size();
  out.head.assign(kBackupMagic, 8);
  putU32(out.head, 2);
  putU32(out.head, static_cast<std::uint32_t>(header.size()));
  out.head += header;
  putU64(out.head, out.content.size());
  putU32(out.head, base::crc32(header));
  putU32(out.head, base::crc32(out.content));
  out.tail.assign(kBackupTrailer, 8);
  return out;
}

BackupReadResult decodeBackupSets(std::string_view bytes, bool withContent) {
  BackupReadResult result;
  base::ByteReader r(bytes);
  if (bytes.empty()) {
    result.status = BackupReadStatus::NotABackup;
    return result;
  }
  while (r.left() > 0) {
    if (!r.has(8)) {
      result.status = result.sets.empty() ? BackupReadStatus::NotABackup : BackupReadStatus::Truncated;
      return result;
    }
    if (r.bytes(8) != std::string_view(kBackupMagic, 8)) {
      result.status = BackupReadStatus::NotABackup;
      return result;
    }
    if (!r.has(8)) {
      result.status = BackupReadStatus::Truncated;
      return result;
    }
    const std::uint32_t format = r.u32();
    const std::uint32_t headerLength = r.u32();
    if (format != 1 && format != 2) {
      result.status = BackupReadStatus::NotABackup;
      return result;
    }
    if (!r.has(headerLength)) {
      result.status = BackupReadStatus::Truncated;
      return result;
    }
    const std::string_view header = r.bytes(headerLength);
    if (!r.has(16)) {
      result.status = BackupReadStatus::Truncated;
      return result;
    }
    const std::uint64_t storedLength = r.u64();
    const std::uint32_t headerCrc = r.u32();
    const std::uint32_t contentCrc = r.u32();
    if (base::crc32(header) != headerCrc) {
      result.status = BackupReadStatus::Damaged;
      return result;
    }
    BackupSet set;
    base::ByteReader h(header);
    auto& info = set.info;
    if (!readString(h, info.databaseName) || !readString(h, info.backupName) ||
        !readString(h, info.description) || !readString(h, info.serverName) ||
        !readString(h, info.userName) || !h.has(24)) {
      result.status = BackupReadStatus::Damaged;
      return result;
    }
    info.startDate.days = static_cast<std::int32_t>(h.u32());
    info.startDate.ticks = h.u32();
    info.finishDate.days = static_cast<std::int32_t>(h.u32());
    info.finishDate.ticks = h.u32();
    info.position = h.u32();
    info.serverYear = h.u32();
    info.contentSize = storedLength;
    info.storedSize = storedLength;
    if (format == 2 && !readDetails(h, info)) {
      result.status = BackupReadStatus::Damaged;
      return result;
    }
    if (storedLength > r.left() || !r.has(static_cast<std::size_t>(storedLength) + 8)) {
      result.status = BackupReadStatus::Truncated;
      return result;
    }
    const std::string_view stored = r.bytes(static_cast<std::size_t>(storedLength));
    if (base::crc32(stored) != contentCrc || r.bytes(8) != std::string_view(kBackupTrailer, 8)) {
      result.status = BackupReadStatus::Damaged;
      return result;
    }
    if (withContent) {
      if (info.compressed) {
        auto content = inflated(stored, info.contentSize);
        if (!content) {
          result.status = BackupReadStatus::Damaged;
          return result;
        }
        set.content = std::move(*content);
      } else {
        set.content = std::string(stored);
      }
    }
    result.sets.push_back(std::move(set));
  }
  return result;
}

BackupReadResult readBackupFile(const std::filesystem::path& file, bool withContent) {
  BackupReadResult result;
  errno = 0;
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    result.status = BackupReadStatus::CannotOpen;
    result.osError = errno != 0 ? errno : ENOENT;
    return result;
  }
  std::error_code ec;
  if (std::filesystem::is_directory(file, ec)) {
    result.status = BackupReadStatus::CannotOpen;
    result.osError = EISDIR;
    return result;
  }
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return decodeBackupSets(bytes, withContent);
}

}  // namespace standin::backup
