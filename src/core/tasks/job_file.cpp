#include "core/tasks/job_file.h"

#include <algorithm>
#include <limits>
#include <random>
#include <string_view>
#include <utility>

#include "core/text/utf16.h"

namespace bv::tasks {
namespace {

constexpr std::size_t kFixedLength = 68;
// The Application Name's count follows the Running Instance Count.
constexpr std::size_t kApplicationNameOffset = kFixedLength + 2;
constexpr std::size_t kTriggerSize = 48;
constexpr std::size_t kReservedDataSize = 8;
constexpr std::size_t kSignatureLength = 64;
constexpr std::uint16_t kSignatureVersion = 1;
constexpr std::size_t kMaxCount = std::numeric_limits<std::uint16_t>::max();

[[noreturn]] void refuse(HResult code, const std::string& what) { throw JobFileError(code, what); }

// Stored text must read back exactly as it was written.
std::u16string utf16FromUtf8(std::string_view text) {
  auto units = text::utf8ToUtf16Exact(text);
  if (!units) refuse(kInvalidArgument, "text is not UTF-8");
  if (units->find(u'\0') != std::u16string::npos) refuse(kInvalidArgument, "text holds a NUL character");
  return std::move(*units);
}

std::string utf8FromUtf16(std::u16string_view units) {
  auto text = text::utf16ToUtf8Exact(units);
  if (!text) refuse(kSchedInvalidTask, "job file text holds an unpaired surrogate");
  return std::move(*text);
}

// --- Writing

class Writer {
 public:
  void u16(std::uint16_t value) {
    bytes_.push_back(static_cast<std::uint8_t>(value & 0xFF));
    bytes_.push_back(static_cast<std::uint8_t>(value >> 8));
  }
  void u32(std::uint32_t value) {
    u16(static_cast<std::uint16_t>(value & 0xFFFF));
    u16(static_cast<std::uint16_t>(value >> 16));
  }
  void raw(std::span<const std::uint8_t> data) { bytes_.insert(bytes_.end(), data.begin(), data.end()); }
  void zeros(std::size_t count) { bytes_.insert(bytes_.end(), count, 0); }
  // "" is written as count 1 and a NUL, never as the absent count 0.
  void text(std::string_view utf8, const char* field) {
    const std::u16string units = utf16FromUtf8(utf8);
    if (units.size() + 1 > kMaxCount) refuse(kInvalidArgument, std::string(field) + " is too long");
    u16(static_cast<std::uint16_t>(units.size() + 1));
    for (char16_t unit : units) u16(unit);
    u16(0);
  }
  void systemTime(const SystemTime& time) {
    for (std::uint16_t field : {time.year, time.month, time.dayOfWeek, time.day, time.hour, time.minute,
                                time.second, time.milliseconds}) {
      u16(field);
    }
  }
  void patchU16(std::size_t offset, std::uint16_t value) {
    bytes_[offset] = static_cast<std::uint8_t>(value & 0xFF);
    bytes_[offset + 1] = static_cast<std::uint8_t>(value >> 8);
  }
  std::size_t size() const { return bytes_.size(); }
  std::vector<std::uint8_t> take() { return std::move(bytes_); }

 private:
  std::vector<std::uint8_t> bytes_;
};

// The union's three words: those of the members the type uses, the others zero.
void writeTrigger(Writer& out, const TaskTrigger& trigger) {
  out.u16(static_cast<std::uint16_t>(kTriggerSize));
  out.u16(0);  // Reserved1
  out.u16(trigger.beginYear);
  out.u16(trigger.beginMonth);
  out.u16(trigger.beginDay);
  out.u16(trigger.endYear);
  out.u16(trigger.endMonth);
  out.u16(trigger.endDay);
  out.u16(trigger.startHour);
  out.u16(trigger.startMinute);
  out.u32(trigger.minutesDuration);
  out.u32(trigger.minutesInterval);
  out.u32(trigger.flags);
  out.u32(static_cast<std::uint32_t>(trigger.type));
  if (!isKnownTriggerType(static_cast<std::uint32_t>(trigger.type))) {
    refuse(kInvalidArgument, "trigger of an unknown type");
  }
  for (std::uint16_t word : unionWords(trigger)) out.u16(word);
  out.u16(0);  // padding of the union
  out.u16(0);  // Reserved2
  out.u16(0);  // wRandomMinutesInterval
}

// --- Reading

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::size_t position() const { return position_; }
  std::size_t remaining() const { return bytes_.size() - position_; }
  void seek(std::size_t offset, const char* what) {
    if (offset > bytes_.size()) refuse(kSchedInvalidTask, std::string(what) + " points past the end");
    position_ = offset;
  }
  void need(std::size_t count, const char* what) const {
    if (remaining() < count) refuse(kSchedInvalidTask, std::string("job file ends inside ") + what);
  }
  std::uint16_t u16(const char* what) {
    need(2, what);
    const std::uint16_t value = static_cast<std::uint16_t>(bytes_[position_] | (bytes_[position_ + 1] << 8));
    position_ += 2;
    return value;
  }
  std::uint32_t u32(const char* what) {
    const std::uint32_t low = u16(what);
    const std::uint32_t high = u16(what);
    return low | (high << 16);
  }
  std::span<const std::uint8_t> take(std::size_t count, const char* what) {
    need(count, what);
    const auto part = bytes_.subspan(position_, count);
    position_ += count;
    return part;
  }
  void skip(std::size_t count, const char* what) { take(count, what); }
  // A counted string: the count includes the NUL; 0 = absent. The text ends at the first NUL
  // inside the count, or with the count when the NUL is missing.
  std::string text(const char* what) {
    const std::size_t count = u16(what);
    const auto data = take(count * 2, what);
    std::u16string units;
    units.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
      const auto unit = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
      if (unit == 0) break;
      units.push_back(unit);
    }
    return utf8FromUtf16(units);
  }
  SystemTime systemTime(const char* what) {
    SystemTime time;
    time.year = u16(what);
    time.month = u16(what);
    time.dayOfWeek = u16(what);
    time.day = u16(what);
    time.hour = u16(what);
    time.minute = u16(what);
    time.second = u16(what);
    time.milliseconds = u16(what);
    return time;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t position_ = 0;
};

TaskTrigger readTrigger(Reader& in) {
  const char* what = "a trigger";
  in.need(kTriggerSize, what);
  if (in.u16(what) != kTriggerSize) refuse(kSchedInvalidTask, "trigger size is not 48");
  in.skip(2, what);  // Reserved1
  TaskTrigger trigger;
  trigger.beginYear = in.u16(what);
  trigger.beginMonth = in.u16(what);
  trigger.beginDay = in.u16(what);
  trigger.endYear = in.u16(what);
  trigger.endMonth = in.u16(what);
  trigger.endDay = in.u16(what);
  trigger.startHour = in.u16(what);
  trigger.startMinute = in.u16(what);
  trigger.minutesDuration = in.u32(what);
  trigger.minutesInterval = in.u32(what);
  trigger.flags = in.u32(what);
  const std::uint32_t type = in.u32(what);
  if (!isKnownTriggerType(type)) refuse(kSchedInvalidTask, "trigger of an unknown type");
  trigger.type = static_cast<TriggerType>(type);
  TriggerUnionWords words{};
  for (std::uint16_t& word : words) word = in.u16(what);
  in.skip(6, what);  // padding of the union, Reserved2, wRandomMinutesInterval
  // Only the words the type uses: writers leave the others uninitialised.
  setUnionWords(trigger, words);
  return trigger;
}

}  // namespace

JobFileError::JobFileError(HResult code, const std::string& what) : std::runtime_error(what), code_(code) {}

std::vector<std::uint8_t> writeJobFile(const JobFile& job) {
  if (job.userData.size() > kMaxCount) refuse(kInvalidArgument, "user data is too long");
  if (job.triggers.size() > kMaxCount) refuse(kInvalidArgument, "too many triggers");

  Writer out;
  out.u16(job.productVersion);
  out.u16(kJobFileVersion);
  out.raw(job.uuid);
  out.u16(static_cast<std::uint16_t>(kApplicationNameOffset));
  const std::size_t triggerOffsetField = out.size();
  out.u16(0);  // Trigger Offset, known once the strings are written
  out.u16(job.errorRetryCount);
  out.u16(job.errorRetryInterval);
  out.u16(job.idleDeadline);
  out.u16(job.idleWait);
  out.u32(job.priority);
  out.u32(job.maxRunTimeMs);
  out.u32(job.exitCode);
  out.u32(job.status);
  out.u32(job.flags);
  out.systemTime(job.lastRunTime);

  out.u16(job.runningInstanceCount);
  out.text(job.applicationName, "application name");
  out.text(job.parameters, "parameters");
  out.text(job.workingDirectory, "working directory");
  out.text(job.author, "author");
  out.text(job.comment, "comment");
  out.u16(static_cast<std::uint16_t>(job.userData.size()));
  out.raw(job.userData);
  if (job.reservedData) {
    out.u16(static_cast<std::uint16_t>(kReservedDataSize));
    out.u32(job.reservedData->startError);
    out.u32(job.reservedData->taskFlags);
  } else {
    out.u16(0);
  }

  if (out.size() > kMaxCount) refuse(kInvalidArgument, "texts and user data are too long");
  out.patchU16(triggerOffsetField, static_cast<std::uint16_t>(out.size()));
  out.u16(static_cast<std::uint16_t>(job.triggers.size()));
  for (const TaskTrigger& trigger : job.triggers) writeTrigger(out, trigger);

  if (job.hasSignature) {
    out.u16(kSignatureVersion);
    out.u16(kSignatureVersion);
    out.zeros(kSignatureLength);
  }
  return out.take();
}

JobFile readJobFile(std::span<const std::uint8_t> bytes) {
  Reader in(bytes);
  JobFile job;
  in.need(kFixedLength, "the fixed-length section");
  job.productVersion = in.u16("the product version");
  if (in.u16("the file version") != kJobFileVersion) {
    refuse(kSchedUnknownObjectVersion, "job file version is not 1");
  }
  const auto uuid = in.take(job.uuid.size(), "the UUID");
  std::copy(uuid.begin(), uuid.end(), job.uuid.begin());
  const std::size_t applicationNameOffset = in.u16("the fixed-length section");
  const std::size_t triggerOffset = in.u16("the fixed-length section");
  job.errorRetryCount = in.u16("the fixed-length section");
  job.errorRetryInterval = in.u16("the fixed-length section");
  job.idleDeadline = in.u16("the fixed-length section");
  job.idleWait = in.u16("the fixed-length section");
  job.priority = in.u32("the fixed-length section");
  job.maxRunTimeMs = in.u32("the fixed-length section");
  job.exitCode = in.u32("the fixed-length section");
  job.status = in.u32("the fixed-length section");
  job.flags = in.u32("the fixed-length section");
  job.lastRunTime = in.systemTime("the fixed-length section");

  job.runningInstanceCount = in.u16("the running instance count");
  if (applicationNameOffset < kApplicationNameOffset) {
    refuse(kSchedInvalidTask, "application name offset points into the fixed-length section");
  }
  in.seek(applicationNameOffset, "the application name offset");
  job.applicationName = in.text("the application name");
  job.parameters = in.text("the parameters");
  job.workingDirectory = in.text("the working directory");
  job.author = in.text("the author");
  job.comment = in.text("the comment");
  const std::size_t userDataSize = in.u16("the user data");
  const auto userData = in.take(userDataSize, "the user data");
  job.userData.assign(userData.begin(), userData.end());
  const std::size_t reservedSize = in.u16("the reserved data");
  const auto reserved = in.take(reservedSize, "the reserved data");
  if (reservedSize >= kReservedDataSize) {
    Reader block(reserved);
    JobReservedData data;
    data.startError = block.u32("the reserved data");
    data.taskFlags = block.u32("the reserved data");
    job.reservedData = data;
  } else {
    job.reservedData.reset();
  }

  // The Trigger Offset names the Trigger Count; it cannot lie inside what was just read.
  if (triggerOffset < in.position()) {
    refuse(kSchedInvalidTask, "trigger offset points into the strings");
  }
  in.seek(triggerOffset, "the trigger offset");
  const std::size_t triggerCount = in.u16("the trigger count");
  in.need(triggerCount * kTriggerSize, "the triggers");
  job.triggers.reserve(triggerCount);
  for (std::size_t i = 0; i < triggerCount; ++i) job.triggers.push_back(readTrigger(in));

  // The signature counts only when it is complete and of version 1/1.
  job.hasSignature = false;
  if (in.remaining() >= 4 + kSignatureLength) {
    const std::uint16_t signatureVersion = in.u16("the signature");
    const std::uint16_t minimumClientVersion = in.u16("the signature");
    job.hasSignature = signatureVersion == kSignatureVersion && minimumClientVersion == kSignatureVersion;
  }
  return job;
}

JobUuid randomJobUuid() {
  std::random_device source;
  JobUuid uuid{};
  for (std::size_t i = 0; i < uuid.size(); i += 4) {
    const std::uint32_t word = source();
    for (std::size_t k = 0; k < 4; ++k) uuid[i + k] = static_cast<std::uint8_t>(word >> (8 * k));
  }
  // Stored as a GUID: Data3 (bytes 6-7) is little-endian, so the version nibble is in byte 7.
  uuid[7] = static_cast<std::uint8_t>((uuid[7] & 0x0F) | 0x40);
  uuid[8] = static_cast<std::uint8_t>((uuid[8] & 0x3F) | 0x80);
  return uuid;
}

}  // namespace bv::tasks
