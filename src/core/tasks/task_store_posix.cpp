#include "core/tasks/task_store_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <utility>

#include "core/sys/atomic_file.h"

namespace bv::tasks {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kExtension = ".job";
constexpr std::string_view kAccountKey = "brackenvale-account=";
constexpr std::string_view kScheduleSavedKey = "brackenvale-schedule-saved=";
constexpr std::size_t kMaxNameBytes = 200;
// A .job file of the largest shape the format allows stays well below this.
constexpr std::size_t kMaxFileBytes = 4 * 1024 * 1024;

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::vector<std::string> userDataLines(const JobFile& job) {
  std::vector<std::string> lines;
  const std::string data(job.userData.begin(), job.userData.end());
  std::size_t start = 0;
  while (start < data.size()) {
    const std::size_t end = std::min(data.find('\n', start), data.size());
    if (end > start) lines.push_back(data.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::string userDataValue(const JobFile& job, std::string_view key) {
  for (const std::string& line : userDataLines(job)) {
    if (line.rfind(key, 0) == 0) return line.substr(key.size());
  }
  return {};
}

// The account line first, so that a file holding only an account keeps its earlier bytes.
void setUserDataValue(JobFile& job, std::string_view key, const std::string& value) {
  std::vector<std::string> lines;
  bool placed = false;
  for (std::string& line : userDataLines(job)) {
    if (line.rfind(key, 0) == 0) {
      line = std::string(key) + value;
      placed = true;
    }
    lines.push_back(std::move(line));
  }
  if (!placed) lines.push_back(std::string(key) + value);
  std::stable_partition(lines.begin(), lines.end(),
                        [](const std::string& line) { return line.rfind(kAccountKey, 0) == 0; });
  std::string data;
  for (const std::string& line : lines) {
    if (!data.empty()) data += '\n';
    data += line;
  }
  job.userData.assign(data.begin(), data.end());
}

bool lockHeldElsewhere(int folder, const std::string& lockName) {
  const sys::UniqueFd lock(::openat(folder, lockName.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
  if (!lock) return false;
  return ::flock(lock.get(), LOCK_EX | LOCK_NB) != 0;
}

void removeCompanionsIn(int folder, const std::string& taskName) {
  const std::string lock = taskName + std::string(kRunLockSuffix);
  if (lockHeldElsewhere(folder, lock)) return;  // running: the watcher removes them after the run
  for (const std::string_view suffix : {kOutputLogSuffix, kHistorySuffix, kUnreportedSuffix, kRunLockSuffix}) {
    ::unlinkat(folder, (taskName + std::string(suffix)).c_str(), 0);
  }
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

std::string recordedAccount(const JobFile& job) { return userDataValue(job, kAccountKey); }

void recordAccount(JobFile& job, const std::string& user) { setUserDataValue(job, kAccountKey, user); }

std::optional<LocalMinute> recordedScheduleSaved(const JobFile& job) {
  const std::string value = userDataValue(job, kScheduleSavedKey);
  if (value.empty() || value.find_first_not_of("-0123456789") != std::string::npos) return std::nullopt;
  try {
    return LocalMinute::fromMinutes(std::stoll(value));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

void recordScheduleSaved(JobFile& job, LocalMinute when) {
  setUserDataValue(job, kScheduleSavedKey, std::to_string(when.minutesSinceEpoch()));
}

StoreFolderState TaskStore::openChecked(const fs::path& folder, sys::UniqueFd& descriptor) {
  descriptor.reset(::open(folder.c_str(), kFolderFlags));
  if (!descriptor) {
    // ELOOP, ENOTDIR: a link or a file where the folder should be.
    return errno == ELOOP || errno == ENOTDIR ? StoreFolderState::Unsafe : StoreFolderState::Missing;
  }
  struct stat info {};
  if (::fstat(descriptor.get(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() ||
      (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    descriptor.reset();
    return StoreFolderState::Unsafe;
  }
  return StoreFolderState::Usable;
}

std::shared_ptr<const sys::UniqueFd> TaskStore::folderDescriptor() const {
  if (open_) return open_;
  return std::make_shared<const sys::UniqueFd>(::open(folder_.c_str(), kFolderFlags));
}

fs::path TaskStore::fileOf(const std::string& taskName) const {
  return folder_ / (taskName + std::string(kExtension));
}

HResult TaskStore::checkName(const std::string& taskName) {
  if (taskName.empty() || taskName.size() > kMaxNameBytes) return kInvalidArgument;
  // Windows refuses "." and control characters in a work item's name; here "." would also let a
  // name reach a dot file or the temporary files of a write.
  if (taskName.find_first_of(std::string_view("/.\0", 3)) != std::string::npos) return kInvalidArgument;
  for (const char c : taskName) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return kInvalidArgument;
  }
  return kOk;
}

sys::UniqueFd TaskStore::openFile(const std::string& fileName, int flags, mode_t mode) const {
  const auto folder = folderDescriptor();
  if (!*folder) return sys::UniqueFd();
  return sys::UniqueFd(::openat(folder->get(), fileName.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode));
}

HResult TaskStore::read(const std::string& taskName, JobFile& job) const {
  if (const HResult check = checkName(taskName); check != kOk) return check;
  const sys::UniqueFd fd = openFile(taskName + std::string(kExtension), O_RDONLY);
  if (!fd) {
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
  if (open_) return kOk;  // opened and checked by its owner
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

// The store's write lock, held while the returned descriptor lives; invalid when it cannot be
// taken.
sys::UniqueFd writeLock(int folder) {
  sys::UniqueFd lock(::openat(folder, ".write.lock", O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!lock) return lock;
  while (::flock(lock.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return sys::UniqueFd();
  }
  return lock;
}

HResult TaskStore::update(const std::string& taskName, const Change& change) const {
  if (const HResult check = checkName(taskName); check != kOk) return check;
  if (const HResult ready = prepare(); ready != kOk) return ready;
  const auto folder = folderDescriptor();
  if (!*folder) return kAccessDenied;
  const sys::UniqueFd lock = writeLock(folder->get());
  if (!lock) return kAccessDenied;

  const TaskStore here(folder_, folder);
  JobFile current;
  std::optional<JobFile> now;
  if (here.read(taskName, current) == kOk) now = std::move(current);
  const std::optional<JobFile> next = change(now);
  if (!next) return kOk;

  std::vector<std::uint8_t> bytes;
  try {
    bytes = writeJobFile(*next);
  } catch (const JobFileError& error) {
    return error.code();
  }
  const sys::AtomicWriteResult written = sys::writeFileAtomicallyAt(
      folder->get(), taskName + std::string(kExtension),
      std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), 0600);
  return written.ok ? kOk : kAccessDenied;
}

std::vector<std::string> TaskStore::fileNames() const {
  std::vector<std::string> names;
  const auto folder = folderDescriptor();
  if (!*folder) return names;
  // A descriptor of its own for the listing: closedir closes it.
  DIR* listing = ::fdopendir(::openat(folder->get(), ".", kFolderFlags));
  if (listing == nullptr) return names;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    if (name.size() <= kExtension.size() || name.front() == '.') continue;
    if (name.compare(name.size() - kExtension.size(), kExtension.size(), kExtension) != 0) continue;
    struct stat info {};
    if (::fstatat(folder->get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)) continue;
    names.push_back(name);
  }
  ::closedir(listing);
  std::sort(names.begin(), names.end());
  return names;
}

std::string TaskStore::readCompanion(const std::string& fileName) const {
  const sys::UniqueFd fd = openFile(fileName, O_RDONLY);
  struct stat info {};
  if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return {};
  std::string text;
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || text.size() > kMaxFileBytes) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

HResult TaskStore::rewriteCompanion(const std::string& fileName,
                                    const std::function<std::string(const std::string& current)>& change) const {
  const auto folder = folderDescriptor();
  if (!*folder) return kAccessDenied;
  const sys::UniqueFd lock = writeLock(folder->get());
  if (!lock) return kAccessDenied;
  const std::string next = change(TaskStore(folder_, folder).readCompanion(fileName));
  return sys::writeFileAtomicallyAt(folder->get(), fileName, next, 0600).ok ? kOk : kAccessDenied;
}

std::vector<RunRecord> TaskStore::runHistory(const std::string& taskName) const {
  if (checkName(taskName) != kOk) return {};
  return parseRunHistory(readCompanion(taskName + std::string(kHistorySuffix)));
}

HResult TaskStore::recordRun(const std::string& taskName, const RunRecord& run) const {
  if (const HResult check = checkName(taskName); check != kOk) return check;
  return rewriteCompanion(taskName + std::string(kHistorySuffix), [&](const std::string& current) {
    return formatRunHistory(withRun(parseRunHistory(current), run));
  });
}

std::optional<RunRecord> TaskStore::unreportedFailure(const std::string& taskName) const {
  if (checkName(taskName) != kOk) return std::nullopt;
  std::vector<RunRecord> runs = parseRunHistory(readCompanion(taskName + std::string(kUnreportedSuffix)));
  if (runs.empty()) return std::nullopt;
  return runs.front();
}

std::optional<RunRecord> TaskStore::takeUnreportedFailure(const std::string& taskName) const {
  if (checkName(taskName) != kOk) return std::nullopt;
  const auto folder = folderDescriptor();
  if (!*folder) return std::nullopt;
  const sys::UniqueFd lock = writeLock(folder->get());
  if (!lock) return std::nullopt;
  std::optional<RunRecord> run = unreportedFailure(taskName);
  if (run) ::unlinkat(folder->get(), (taskName + std::string(kUnreportedSuffix)).c_str(), 0);
  return run;
}

HResult TaskStore::keepUnreportedFailure(const std::string& taskName, const RunRecord& run) const {
  if (const HResult check = checkName(taskName); check != kOk) return check;
  return rewriteCompanion(taskName + std::string(kUnreportedSuffix), [&](const std::string& current) {
    const std::vector<RunRecord> kept = parseRunHistory(current);
    return formatRunHistory({kept.empty() || run.start < kept.front().start ? run : kept.front()});
  });
}

void TaskStore::removeTask(const std::string& taskName) const {
  if (checkName(taskName) != kOk) return;
  const auto folder = folderDescriptor();
  if (*folder) ::unlinkat(folder->get(), (taskName + std::string(kExtension)).c_str(), 0);
}

void TaskStore::removeCompanions(const std::string& taskName) const {
  if (checkName(taskName) != kOk) return;
  const auto folder = folderDescriptor();
  if (*folder) removeCompanionsIn(folder->get(), taskName);
}

void TaskStore::removeOrphanedCompanions() const {
  const auto folder = folderDescriptor();
  if (!*folder) return;
  std::vector<std::string> orphans;
  DIR* listing = ::fdopendir(::openat(folder->get(), ".", kFolderFlags));
  if (listing == nullptr) return;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string_view name = entry->d_name;
    for (const std::string_view suffix : {kRunLockSuffix, kOutputLogSuffix, kHistorySuffix, kUnreportedSuffix}) {
      if (name.size() <= suffix.size() || name.substr(name.size() - suffix.size()) != suffix) continue;
      const std::string task(name.substr(0, name.size() - suffix.size()));
      if (checkName(task) != kOk) continue;
      struct stat info {};
      if (::fstatat(folder->get(), (task + std::string(kExtension)).c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        orphans.push_back(task);
      }
    }
  }
  ::closedir(listing);
  std::sort(orphans.begin(), orphans.end());
  orphans.erase(std::unique(orphans.begin(), orphans.end()), orphans.end());
  for (const std::string& task : orphans) removeCompanionsIn(folder->get(), task);
}

void removeStoredTask(const fs::path& jobFile) {
  std::error_code ignored;
  fs::remove(jobFile, ignored);
  if (jobFile.extension() != kExtension) return;
  TaskStore(jobFile.parent_path()).removeCompanions(jobFile.stem().string());
}

}  // namespace bv::tasks
