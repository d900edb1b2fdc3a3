#include "core/tasks/task_registration.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <random>
#include <system_error>

#include "core/sys/system_info.h"
#include "core/tasks/TaskScdl.h"
#include "core/text/utf16.h"

#ifndef _WIN32
#include "core/tasks/task_store_posix.h"
#endif

namespace bv::tasks {
namespace {

std::string fourteenDigits(const std::tm& t) {
  std::array<char, 32> text{};
  std::snprintf(text.data(), text.size(), "%04d%02d%02d%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1,
                t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  return text.data();
}

}  // namespace

std::string registrationTaskName(const std::tm& localTime) {
  return "Brackenvale_" + fourteenDigits(localTime);
}

std::string probeTaskName(const std::tm& localTime, int number) {
  return fourteenDigits(localTime) + std::to_string(number);
}

int probeNumber() {
  static std::mutex mutex;
  static std::mt19937 generator(
      static_cast<std::mt19937::result_type>(std::chrono::system_clock::now().time_since_epoch().count()));
  const std::lock_guard lock(mutex);
  return std::uniform_int_distribution<int>(0, 9999)(generator);
}

std::tm localTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
#ifdef _WIN32
  ::localtime_s(&local, &now);
#else
  ::localtime_r(&now, &local);
#endif
  return local;
}

bool proveRunAsAccount(const std::string& user, const std::string& password) {
  std::string probe;
  do {
    probe = probeTaskName(localTimeNow(), probeNumber());
  } while (TaskExists(probe));
  std::optional<TTask> task;
  task.emplace(probe, true);
  const std::string storedFile = task->FileName();
  task->SetAccountInformation(user, password);
  bool proved = false;
  try {
    task->Save();
    proved = true;
  } catch (const std::exception&) {
    proved = false;
  }
  task.reset();
  // The probe goes through its own stored file, wherever the store keeps it.
  removeTaskFile(storedFile);
  return proved;
}

TaskRegistrationResult registerBackupTask(const std::string& parameters, const std::string& user,
                                          const std::string& password, const PageOwner& owner) {
  const std::string name = registrationTaskName(localTimeNow());
  const bool created = !TaskExists(name);
  TTask task(name, created);
  struct Removal {
    TTask& task;
    bool armed;
    ~Removal() {
      if (!armed) return;
      try {
        removeTaskFile(task.FileName());
      } catch (...) {
      }
    }
  } removal{task, false};
  task.SetApplicationName(sys::runnerProgram(sys::executableFolder()).string());
  task.SetParameters(parameters);
  task.SetEnabled(true);
  if (created) {
    task.Save();
    removal.armed = true;
  }
  task.SetAccountInformation(user, password);
  if (task.ShowPropertyPages(owner, "", kTaskPageSchedule) != kModalOk) return TaskRegistrationResult::Cancelled;
  task.Save();
  removal.armed = false;
  return TaskRegistrationResult::Added;
}

void removeTaskFile(const std::string& storedFile) {
  // From UTF-16, so that the path means the same file on every platform.
  const std::filesystem::path file(text::utf8ToUtf16(storedFile));
#ifdef _WIN32
  std::error_code ignored;
  std::filesystem::remove(file, ignored);
#else
  removeStoredTask(file);  // with the run lock, output and history the executor kept beside it
#endif
}

}  // namespace bv::tasks
