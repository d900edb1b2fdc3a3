// The .JOB file of a task ([MS-TSCH] 2.4): a 68-byte fixed section, then counted UTF-16LE
// strings, user data, reserved data, the triggers (48 bytes each) and an optional signature.
// Written and read field by field, little-endian, never as a memory image.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/tasks/system_time.h"
#include "core/tasks/task_codes.h"
#include "core/tasks/task_flags.h"
#include "core/tasks/task_trigger.h"

namespace bv::tasks {

// The only File Version there is.
inline constexpr std::uint16_t kJobFileVersion = 1;
// Major version in the high byte, minor in the low one, as Wine writes it (6.1 = Windows 7).
inline constexpr std::uint16_t kDefaultProductVersion = 0x0601;
inline constexpr std::uint32_t kDefaultMaxRunTimeMs = 259'200'000;  // 72 hours
inline constexpr std::uint32_t kInfiniteRunTime = 0xFFFFFFFF;

using JobUuid = std::array<std::uint8_t, 16>;

// TASKRESERVED1: the reserved data block when present (size 8).
struct JobReservedData {
  HResult startError = kOk;     // the result of the last attempt to start the task
  std::uint32_t taskFlags = 0;  // unused

  friend bool operator==(const JobReservedData&, const JobReservedData&) = default;
};

// Every field of a .JOB file, with the values of a new task. The two offsets of the fixed
// section and the File Version are not kept: the writer derives them.
struct JobFile {
  // Fixed-length section.
  std::uint16_t productVersion = kDefaultProductVersion;
  JobUuid uuid{};
  std::uint16_t errorRetryCount = 0;
  std::uint16_t errorRetryInterval = 0;  // minutes
  std::uint16_t idleDeadline = 60;       // minutes
  std::uint16_t idleWait = 10;           // minutes
  std::uint32_t priority = kPriorityNormal;
  std::uint32_t maxRunTimeMs = kDefaultMaxRunTimeMs;
  std::uint32_t exitCode = 0;
  HResult status = kSchedTaskNotScheduled;
  std::uint32_t flags = 0;  // kTaskFlag*
  SystemTime lastRunTime;   // local; all zero = never ran

  // Variable-length section. Texts are UTF-8 here, UTF-16LE in the file.
  std::uint16_t runningInstanceCount = 0;
  std::string applicationName;
  std::string parameters;
  std::string workingDirectory;
  std::string author;
  std::string comment;
  std::vector<std::uint8_t> userData;
  std::optional<JobReservedData> reservedData = JobReservedData{};
  std::vector<TaskTrigger> triggers;
  // Whether the file carries the signature block (versions 1/1). Its 64 bytes are never
  // meaningful: the writer writes zeros, the reader skips them.
  bool hasSignature = true;

  friend bool operator==(const JobFile&, const JobFile&) = default;
};

// A file that cannot be read, or a task that cannot be written. code() is the scheduler's
// answer: kSchedUnknownObjectVersion, kSchedInvalidTask, or kInvalidArgument for the writer.
class JobFileError : public std::runtime_error {
 public:
  JobFileError(HResult code, const std::string& what);
  HResult code() const { return code_; }

 private:
  HResult code_;
};

// The file's bytes. Empty texts are written as count 1 and a NUL, as Wine writes them; a task
// without triggers gets trigger count 0. Throws JobFileError(kInvalidArgument) for what the
// format cannot carry: a text that is not UTF-8 or holds a NUL, a text of 65535 UTF-16 units or
// more, user data or a trigger list longer than 65535, strings and user data so long that the
// Trigger Offset no longer fits 16 bits, a trigger of an unknown type.
std::vector<std::uint8_t> writeJobFile(const JobFile& job);

// Reads a file written by this writer, by Wine or by Windows. Tolerated: count 0 or 1 for an
// empty text, a text without its NUL, anything in padding and reserved words, any Product
// Version, reserved data of another size than 8 (then absent), a missing, incomplete or foreign
// signature, bytes after the signature.
// Throws JobFileError with
// - kSchedUnknownObjectVersion when the File Version is not 1,
// - kSchedInvalidTask when the file ends early, an offset or length points outside the file,
//   a trigger's size is not 48, a trigger type is unknown, or a text holds an unpaired surrogate.
// Never reads outside the span; allocations are bounded by the span's size.
JobFile readJobFile(std::span<const std::uint8_t> bytes);

// A random version-4 UUID for a new task.
JobUuid randomJobUuid();

}  // namespace bv::tasks
