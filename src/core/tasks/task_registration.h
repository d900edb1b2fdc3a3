// The pieces of a backup task's registration that need no window: the names of the task and of
// the account dialog's probe task, and a registration's clean-up. Qt-free.
#pragma once

#include <ctime>
#include <functional>
#include <string>

#include "core/tasks/schedule_page.h"

namespace bv::tasks {

// "Brackenvale_" followed by the local time as yyyymmddhhnnss.
std::string registrationTaskName(const std::tm& localTime);

// The probe task's name: the local time as yyyymmddhhnnss followed by a number from 0 to 9999
// in decimal without leading zeros.
std::string probeTaskName(const std::tm& localTime, int number);

// A random number from 0 to 9999, from a generator seeded once from the clock.
int probeNumber();

// The local time now.
std::tm localTimeNow();

// Removes a stored task through its own file (TTask::FileName), so it goes wherever the store
// keeps it; a missing file is no error.
void removeTaskFile(const std::string& storedFile);

// Proves a run-as account the way the scheduler proves it when a task is saved, through a task
// of its own that is removed again; whether the scheduler accepted it. Where the platform
// allows (POSIX), the registration that follows reuses the proof instead of asking again.
bool proveRunAsAccount(const std::string& user, const std::string& password);

enum class TaskRegistrationResult { Added, Cancelled };

// Registers a backup task: named "Brackenvale_" + the local time, running the runner beside the
// program with the parameter string, enabled, under the account; a new task is saved before its
// schedule page is shown (the page of a task never saved cannot be made) and removed again
// unless the page ends with OK and the final save succeeds (a task of that name that existed
// already is left as it was). The page is shown for the owner the form hands in. Throws what the
// scheduler raised.
TaskRegistrationResult registerBackupTask(const std::string& parameters, const std::string& user,
                                          const std::string& password, const PageOwner& owner);

}  // namespace bv::tasks
