// The volume a file lies on, as sys.dm_os_volume_stats reports it and a restore checks its space:
// where the volume is mounted, its file system, its size and the bytes free to its user.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace standin::base {

struct VolumeInfo {
  std::string mountPoint;      // "/", "/tmp/" (always ending in '/')
  std::string fileSystemType;  // "EXT4", "TMPFS", ... as /proc/self/mounts names it, upper case; may be empty
  std::uint64_t totalBytes = 0;
  std::uint64_t availableBytes = 0;  // free to an unprivileged user (statvfs f_bavail)
};

// The volume of `path`, or of the nearest folder above it that exists; nullopt when none can
// be read.
std::optional<VolumeInfo> volumeOf(const std::filesystem::path& path);

}  // namespace standin::base
