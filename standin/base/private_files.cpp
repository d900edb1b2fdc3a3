#include "standin/base/private_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <vector>

namespace standin::base {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void throwFor(const char* what, const fs::path& path, int error) {
  throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

void setMode(const fs::path& path, mode_t mode) {
  if (::chmod(path.c_str(), mode) != 0) throwFor("cannot restrict the mode of", path, errno);
}

// fsync of a folder, so that a rename in it survives a crash; file systems that cannot sync a
// folder say EINVAL, which is no failure.
int syncFolder(const fs::path& dir) {
  UniqueFd fd(::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid()) return errno;
  if (::fsync(fd.get()) != 0 && errno != EINVAL) return errno;
  return 0;
}

}  // namespace

void makePrivateFolder(const fs::path& dir) {
  std::vector<fs::path> missing;
  for (fs::path p = dir; !p.empty(); p = p.parent_path()) {
    std::error_code ec;
    if (fs::exists(p, ec)) break;
    missing.push_back(p);
    if (p == p.parent_path()) break;
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it)
    if (::mkdir(it->c_str(), kPrivateFolderMode) != 0 && errno != EEXIST)
      throwFor("cannot create", *it, errno);
  if (!fs::is_directory(dir)) throwFor("not a folder:", dir, ENOTDIR);
  setMode(dir, kPrivateFolderMode);
}

void makeTreePrivate(const fs::path& dir) {
  setMode(dir, kPrivateFolderMode);
  for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator(); ++it) {
    const auto status = it->symlink_status();
    if (fs::is_directory(status)) {
      setMode(it->path(), kPrivateFolderMode);
    } else if (fs::is_regular_file(status)) {
      setMode(it->path(), kPrivateFileMode);
    }
  }
}

int createPrivateFile(const fs::path& file) {
  UniqueFd fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPrivateFileMode));
  if (fd.valid() || errno == EEXIST) return 0;
  return errno;
}

UniqueFd openPrivateForAppend(const fs::path& file) {
  UniqueFd fd(::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kPrivateFileMode));
  if (!fd.valid()) return fd;
  struct stat st {};
  // Only a regular file: a trace sent to a terminal or a pipe keeps that device's mode.
  if (::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 07777) != kPrivateFileMode)
    ::fchmod(fd.get(), kPrivateFileMode);
  return fd;
}

std::optional<std::string> readWholeFile(const fs::path& file, int* error) {
  UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  auto failed = [&](int err) -> std::optional<std::string> {
    if (error) *error = err;
    return std::nullopt;
  };
  if (!fd.valid()) return failed(errno);
  struct stat st {};
  if (::fstat(fd.get(), &st) == 0 && S_ISDIR(st.st_mode)) return failed(EISDIR);
  std::string out;
  char buf[65536];
  while (true) {
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return failed(errno);
    }
    if (n == 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  if (error) *error = 0;
  return out;
}

fs::path resolvedTarget(const fs::path& target) {
  std::error_code ec;
  const fs::path resolved = fs::weakly_canonical(fs::absolute(target, ec), ec);
  return ec || resolved.empty() ? target : resolved;
}

namespace {

constexpr std::string_view kTemporarySuffix = ".partial-XXXXXX";

// NAME.partial-XXXXXX beside the target. A name near the file system's limit on names is cut
// (never inside a UTF-8 character) so that the temporary name fits that limit too; mkostemp's
// six random characters keep it unique either way.
std::string temporaryPattern(const fs::path& target) {
  std::string name = target.filename().string();
  long limit = ::pathconf(target.parent_path().empty() ? "." : target.parent_path().c_str(), _PC_NAME_MAX);
  if (limit <= 0) limit = 255;
  const auto room =
      static_cast<std::size_t>(limit) - std::min(kTemporarySuffix.size(), static_cast<std::size_t>(limit));
  if (name.size() > room) {
    std::size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    name.resize(cut);
  }
  return (target.parent_path() / (name + std::string(kTemporarySuffix))).string();
}

}  // namespace

ReplacementFile::ReplacementFile(const fs::path& target) : target_(resolvedTarget(target)) {
  std::string pattern = temporaryPattern(target_);
  // mkostemp creates the file 0600.
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) {
    fail(Stage::Open, errno);
    return;
  }
  fd_ = UniqueFd(fd);
  temporary_ = pattern;
}

ReplacementFile::~ReplacementFile() {
  fd_.reset();
  if (!committed_ && !temporary_.empty()) ::unlink(temporary_.c_str());
}

bool ReplacementFile::fail(Stage stage, int error) {
  if (error_ == 0) {
    error_ = error != 0 ? error : EIO;
    stage_ = stage;
  }
  return false;
}

bool ReplacementFile::write(std::string_view bytes) {
  if (error_ != 0) return false;
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd_.get(), bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(Stage::Write, errno);
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool ReplacementFile::commit() {
  if (error_ != 0) return false;
  if (::fsync(fd_.get()) != 0) return fail(Stage::Write, errno);
  if (::close(fd_.get()) != 0) {
    static_cast<void>(fd_.release());
    return fail(Stage::Write, errno);
  }
  static_cast<void>(fd_.release());
  if (::rename(temporary_.c_str(), target_.c_str()) != 0) return fail(Stage::Replace, errno);
  committed_ = true;
  // The new content is in place; a folder that cannot be synced only makes the rename less
  // certain to survive a power cut, so it is not reported as a failure.
  static_cast<void>(syncFolder(target_.parent_path()));
  return true;
}

int replaceFileContent(const fs::path& target, std::string_view bytes) {
  ReplacementFile file(target);
  if (file.write(bytes) && file.commit()) return 0;
  return file.error();
}

}  // namespace standin::base
