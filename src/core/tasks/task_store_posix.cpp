#include "core/tasks/task_store_posix.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <utility>

namespace bv::tasks {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kExtension = ".job";
constexpr std::string_view kAccountTag = "brackenvale-account=";
constexpr std::size_t kMaxNameBytes = 200;
// A .job file of the largest shape the format allows stays well below this.
constexpr std::size_t kMaxFileBytes = 4 * 1024 * 1024;

// A file descriptor closed on every path.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const noexcept { return fd_; }
  bool valid() const noexcept { return fd_ >= 0; }
  int release() noexcept { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

bool writeAll(int fd, const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void syncFolder(const fs::path& folder) {
  Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.valid()) ::fsync(fd.get());
}

}  // namespace

fs::path defaultTaskStoreFolder() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') return fs::path(data) / "brackenvale" / "tasks";
  fs::path home;
  if (const char* env = std::getenv("HOME"); env != nullptr && env[0] == '/') {
    home = env;
  } else if (const passwd* entry = ::getpwuid(::geteuid()); entry != nullptr && entry->pw_dir != nullptr) {
    home = entry->pw_dir;
  }
  if (home.empty()) return {};
  return home / ".local" / "share" / "brackenvale" / "tasks";
}

std::string recordedAccount(const JobFile& job) {
  const std::string data(job.userData.begin(), job.userData.end());
  if (data.rfind(kAccountTag, 0) != 0) return {};
  return data.substr(kAccountTag.size());
}

void recordAccount(JobFile& job, const std::string& user) {
  const std::string data = std::string(kAccountTag) + user;
  job.userData.assign(data.begin(), data.end());
}

fs::path TaskStore::fileOf(const std::string& taskName) const {
  return folder_ / (taskName + std::string(kExtension));
}

HResult TaskStore::checkName(const std::string& taskName) {
  if (taskName.empty() || taskName.size() > kMaxNameBytes) return kInvalidArgument;
  // Windows refuses "." in a work item's name; here it would also let a name reach a dot file
  // or the temporary files of a write.
  if (taskName.find_first_of(std::string_view("/.\0", 3)) != std::string::npos) return kInvalidArgument;
  return kOk;
}

HResult TaskStore::read(const std::string& taskName, JobFile& job) const {
  if (const HResult check = checkName(taskName); check != kOk) return check;
  Descriptor fd(::open(fileOf(taskName).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!fd.valid()) {
    if (errno == ENOENT || errno == ENOTDIR) return kFileNotFound;
    if (errno == ELOOP) return kSchedInvalidTask;  // a link is nothing the store wrote
    return kAccessDenied;
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return kAccessDenied;
  if (!S_ISREG(info.st_mode)) return kSchedInvalidTask;
  if (static_cast<std::size_t>(info.st_size) > kMaxFileBytes) return kSchedInvalidTask;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(info.st_size));
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::read(fd.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return kAccessDenied;
    if (n == 0) break;  // it shrank meanwhile: read what is there
    done += static_cast<std::size_t>(n);
  }
  bytes.resize(done);
  try {
    job = readJobFile(bytes);
  } catch (const JobFileError& error) {
    return error.code();
  }
  return kOk;
}

HResult TaskStore::prepare() const {
  if (folder_.empty()) return kAccessDenied;
  std::error_code error;
  if (!fs::exists(folder_, error)) {
    fs::create_directories(folder_.parent_path(), error);
    if (::mkdir(folder_.c_str(), 0700) != 0 && errno != EEXIST) return kAccessDenied;
  }
  struct stat info {};
  if (::lstat(folder_.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return kAccessDenied;
  if (info.st_uid != ::geteuid()) return kAccessDenied;
  if ((info.st_mode & 0777) != 0700 && ::chmod(folder_.c_str(), 0700) != 0) return kAccessDenied;
  return kOk;
}

HResult TaskStore::update(const std::string& taskName, const Change& change) const {
  if (const HResult check = checkName(taskName); check != kOk) return check;
  if (const HResult ready = prepare(); ready != kOk) return ready;

  Descriptor lock(::open((folder_ / ".write.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!lock.valid()) return kAccessDenied;
  while (::flock(lock.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return kAccessDenied;
  }

  JobFile current;
  std::optional<JobFile> now;
  if (read(taskName, current) == kOk) now = std::move(current);
  const std::optional<JobFile> next = change(now);
  if (!next) return kOk;

  std::vector<std::uint8_t> bytes;
  try {
    bytes = writeJobFile(*next);
  } catch (const JobFileError& error) {
    return error.code();
  }
  const fs::path target = fileOf(taskName);
  const fs::path temporary =
      folder_ / (taskName + std::string(kExtension) + ".tmp." + std::to_string(::getpid()));
  ::unlink(temporary.c_str());  // one left by a process of this id that died mid-write
  Descriptor out(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!out.valid()) return kAccessDenied;
  const bool written = writeAll(out.get(), bytes) && ::fsync(out.get()) == 0;
  const int closed = ::close(out.release());
  if (!written || closed != 0 || ::rename(temporary.c_str(), target.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return kAccessDenied;
  }
  syncFolder(folder_);
  return kOk;
}

std::vector<std::string> TaskStore::fileNames() const {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(folder_, error), end; !error && it != end; it.increment(error)) {
    const fs::path& path = it->path();
    if (path.extension() != kExtension) continue;
    const std::string name = path.filename().string();
    if (name.front() == '.') continue;
    std::error_code statError;
    if (!it->is_regular_file(statError)) continue;
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace bv::tasks
