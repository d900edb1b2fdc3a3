// The pieces of a backup task's registration that need no window: the names of the task and of
// the account dialog's probe task, the program a task runs, and a registration's clean-up. Qt-free.
#pragma once

#include <ctime>
#include <filesystem>
#include <functional>
#include <string>

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

// The runner a task starts: "Brackenrun" ("Brackenrun.exe" on Windows) in the folder given.
std::filesystem::path runnerProgram(const std::filesystem::path& folder);

// Removes a stored task through its own file (TTask::FileName), so it goes wherever the store
// keeps it; a missing file is no error.
void removeTaskFile(const std::string& storedFile);

}  // namespace bv::tasks
