#include "standin/features/backup_file.h"

#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>

#include "standin/base/byte_reader.h"
#include "standin/base/private_files.h"

namespace standin::features {
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

std::uint32_t crc32(std::string_view data) {
  static const auto table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const char ch : data) crc = table[(crc ^ static_cast<unsigned char>(ch)) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

std::string encodeBackupSet(const BackupSetInfo& info, std::string_view content) {
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

  std::string out(kBackupMagic, 8);
  putU32(out, 1);
  putU32(out, static_cast<std::uint32_t>(header.size()));
  out += header;
  putU64(out, content.size());
  putU32(out, crc32(header));
  putU32(out, crc32(content));
  out.append(content);
  out.append(kBackupTrailer, 8);
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
    if (format != 1) {
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
    const std::uint64_t contentLength = r.u64();
    const std::uint32_t headerCrc = r.u32();
    const std::uint32_t contentCrc = r.u32();
    if (crc32(header) != headerCrc) {
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
    info.contentSize = contentLength;
    if (contentLength > r.left() || !r.has(static_cast<std::size_t>(contentLength) + 8)) {
      result.status = BackupReadStatus::Truncated;
      return result;
    }
    const std::string_view content = r.bytes(static_cast<std::size_t>(contentLength));
    if (crc32(content) != contentCrc || r.bytes(8) != std::string_view(kBackupTrailer, 8)) {
      result.status = BackupReadStatus::Damaged;
      return result;
    }
    if (withContent) set.content = std::string(content);
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

}  // namespace standin::features
