#include "standin/base/volumes.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <fstream>
#include <sstream>

#include "standin/base/text.h"

namespace standin::base {

namespace {

// The nearest existing folder at or above `path`.
std::optional<std::filesystem::path> existingFolder(std::filesystem::path path) {
  std::error_code ec;
  path = std::filesystem::absolute(path, ec).lexically_normal();
  while (!path.empty()) {
    if (std::filesystem::is_directory(path, ec)) return path;
    if (path == path.parent_path()) break;
    path = path.parent_path();
  }
  return std::nullopt;
}

// /proc/self/mounts escapes blanks in paths as \040 and so on.
std::string unescapeMountPath(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size()) {
      out.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 3), nullptr, 8)));
      i += 3;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

}  // namespace

std::optional<VolumeInfo> volumeOf(const std::filesystem::path& path) {
  const auto folder = existingFolder(path);
  if (!folder) return std::nullopt;
  struct statvfs fs {};
  struct stat st {};
  if (::statvfs(folder->c_str(), &fs) != 0 || ::stat(folder->c_str(), &st) != 0) return std::nullopt;
  VolumeInfo v;
  v.totalBytes = static_cast<std::uint64_t>(fs.f_blocks) * fs.f_frsize;
  v.availableBytes = static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize;
  // The mount point: the highest folder above it on the same device.
  std::filesystem::path mount = *folder;
  while (mount != mount.parent_path()) {
    struct stat up {};
    if (::stat(mount.parent_path().c_str(), &up) != 0 || up.st_dev != st.st_dev) break;
    mount = mount.parent_path();
  }
  v.mountPoint = mount.string();
  if (v.mountPoint.empty() || v.mountPoint.back() != '/') v.mountPoint.push_back('/');
  std::ifstream mounts("/proc/self/mounts");
  std::string line;
  while (std::getline(mounts, line)) {
    std::istringstream fields(line);
    std::string device, where, type;
    fields >> device >> where >> type;
    if (std::filesystem::path(unescapeMountPath(where)) == mount) v.fileSystemType = toUpperAscii(type);
  }
  return v;
}

}  // namespace standin::base
