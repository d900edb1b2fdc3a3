#include "core/tasks/job_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace bv::tasks {
namespace {

using Bytes = std::vector<std::uint8_t>;

// "01 06 A4 00" -> {0x01, 0x06, 0xA4, 0x00}
Bytes hex(std::string_view text) {
  Bytes bytes;
  std::istringstream in{std::string(text)};
  std::string pair;
  while (in >> pair) bytes.push_back(static_cast<std::uint8_t>(std::stoul(pair, nullptr, 16)));
  return bytes;
}

// A counted string of ASCII text as the file holds it: count with the NUL, UTF-16LE, NUL.
Bytes countedAscii(std::string_view text) {
  Bytes bytes;
  const std::size_t count = text.size() + 1;
  bytes.push_back(static_cast<std::uint8_t>(count & 0xFF));
  bytes.push_back(static_cast<std::uint8_t>(count >> 8));
  for (char c : text) {
    bytes.push_back(static_cast<std::uint8_t>(c));
    bytes.push_back(0);
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

void append(Bytes& bytes, const Bytes& more) { bytes.insert(bytes.end(), more.begin(), more.end()); }

std::uint16_t wordAt(const Bytes& bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(bytes.at(offset) | (bytes.at(offset + 1) << 8));
}

void putWord(Bytes& bytes, std::size_t offset, std::uint16_t value) {
  bytes.at(offset) = static_cast<std::uint8_t>(value & 0xFF);
  bytes.at(offset + 1) = static_cast<std::uint8_t>(value >> 8);
}

const JobUuid kProbeUuid = {0x8C, 0x1A, 0x5E, 0x27, 0x3B, 0x94, 0xD1, 0x4F,
                            0xA2, 0x6E, 0x09, 0xC4, 0x7D, 0x35, 0xB8, 0xE1};

// The 282-byte file Wine 8 wrote for the task "probe_daily" (one daily trigger from 2026-12-08
// at 02:00), byte for byte, with the UUID above. Wine leaves two bytes of stack garbage in the
// trigger's union (00 40 after DaysInterval); `withGarbage` puts them back.
Bytes wineProbeFile(bool withGarbage) {
  Bytes file = hex("01 06 01 00");                                // product 6.1, file version 1
  file.insert(file.end(), kProbeUuid.begin(), kProbeUuid.end());  // 0x04 UUID
  append(file, hex("46 00 A4 00"));                               // 0x14 offsets
  append(file, hex("00 00 00 00"));                               // retry count, interval
  append(file, hex("3C 00 0A 00"));                               // idle deadline 60, wait 10
  append(file, hex("20 00 00 00"));                               // 0x20 priority NORMAL
  append(file, hex("00 14 73 0F"));                               // max run time 259 200 000
  append(file, hex("00 00 00 00"));                               // exit code
  append(file, hex("03 13 04 00"));                               // status HAS_NOT_RUN
  append(file, hex("00 00 00 00"));                               // 0x30 flags
  append(file, Bytes(16, 0));                                     // 0x34 last run: never
  append(file, hex("00 00"));                                     // 0x44 running instances
  append(file, countedAscii("C:\\bv\\Brackenrun.exe"));           // 0x46
  append(file, countedAscii("1 0 0 4142 "));                      // 0x72
  append(file, countedAscii(""));                                 // 0x8C working directory
  append(file, countedAscii(""));                                 // author
  append(file, countedAscii(""));                                 // comment
  append(file, hex("00 00"));                                     // 0x98 user data size
  append(file, hex("08 00 FF 0F 1D 00 00 00 00 00"));             // 0x9A reserved data
  append(file, hex("01 00"));                                     // 0xA4 trigger count
  append(file, hex("30 00 00 00"));                               // 0xA6 size 48, Reserved1
  append(file, hex("EA 07 0C 00 08 00"));                         // begin 2026-12-08
  append(file, hex("00 00 00 00 00 00"));                         // end 0-0-0
  append(file, hex("02 00 00 00"));                               // 02:00
  append(file, hex("00 00 00 00 00 00 00 00"));                   // duration, interval
  append(file, hex("00 00 00 00 01 00 00 00"));                   // flags, type DAILY
  append(file, hex("01 00"));                                     // DaysInterval 1
  append(file, withGarbage ? hex("00 40") : hex("00 00"));        // rest of the union
  append(file, hex("00 00 00 00 00 00 00 00"));                   // union, Reserved2, random
  append(file, hex("01 00 01 00"));                               // 0xD6 signature 1/1
  append(file, Bytes(64, 0));
  return file;
}

JobFile wineProbeJob() {
  JobFile job;
  job.productVersion = 0x0601;
  job.uuid = kProbeUuid;
  job.status = kSchedTaskHasNotRun;
  job.applicationName = "C:\\bv\\Brackenrun.exe";
  job.parameters = "1 0 0 4142 ";
  job.reservedData = JobReservedData{0x001D0FFF, 0};
  TaskTrigger trigger;
  trigger.beginYear = 2026;
  trigger.beginMonth = 12;
  trigger.beginDay = 8;
  trigger.startHour = 2;
  trigger.type = TriggerType::Daily;
  trigger.daysInterval = 1;
  job.triggers.push_back(trigger);
  return job;
}

TaskTrigger trigger(TriggerType type) {
  TaskTrigger t;
  t.beginYear = 2026;
  t.beginMonth = 12;
  t.beginDay = 8;
  t.startHour = 21;
  t.startMinute = 32;
  t.type = type;
  return t;
}

// Every field away from its default, and a trigger of every type with every field it keeps.
JobFile everyField() {
  JobFile job;
  job.productVersion = 0x0501;
  job.uuid = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  job.errorRetryCount = 3;
  job.errorRetryInterval = 7;
  job.idleDeadline = 61;
  job.idleWait = 11;
  job.priority = kPriorityHigh;
  job.maxRunTimeMs = kInfiniteRunTime;
  job.exitCode = 0xC0000005;
  job.status = kSchedTaskReady;
  job.flags = kTaskFlagDeleteWhenDone | kTaskFlagDisabled | kTaskFlagApplicationName;
  job.lastRunTime = SystemTime{2026, 12, 2, 8, 2, 0, 5, 123};
  job.runningInstanceCount = 1;
  job.applicationName = "/usr/lib/brackenvale/brackenrun";
  job.parameters = "1 0 0 4142 ";
  job.workingDirectory = "/home/田中";
  job.author = "田中 太郎";
  job.comment = "毎晩のバックアップ 𠮷";  // 𠮷 takes a surrogate pair
  job.userData = {0x00, 0xFF, 0x10, 0x80};
  job.reservedData = JobReservedData{0x80070002, 0x12345678};

  TaskTrigger once = trigger(TriggerType::Once);
  once.flags = kTriggerFlagHasEndDate | kTriggerFlagKillAtDurationEnd | kTriggerFlagDisabled;
  once.endYear = 2027;
  once.endMonth = 1;
  once.endDay = 31;
  once.minutesDuration = 1440;
  once.minutesInterval = 60;
  TaskTrigger daily = trigger(TriggerType::Daily);
  daily.daysInterval = 3;
  TaskTrigger weekly = trigger(TriggerType::Weekly);
  weekly.weeksInterval = 2;
  weekly.daysOfTheWeek = 0x22;
  weekly.endMonth = 200;  // kept as it is, although not a month: the flag is not set
  TaskTrigger byDate = trigger(TriggerType::MonthlyDate);
  byDate.monthDays = 0x40004001;  // days 1, 15 and 31: both halves of the double word
  byDate.months = 0x249;
  TaskTrigger byWeekday = trigger(TriggerType::MonthlyDow);
  byWeekday.whichWeek = kLastWeek;
  byWeekday.daysOfTheWeek = 0x20;
  byWeekday.months = 0xFFF;
  job.triggers = {once,
                  daily,
                  weekly,
                  byDate,
                  byWeekday,
                  trigger(TriggerType::OnIdle),
                  trigger(TriggerType::AtSystemStart),
                  trigger(TriggerType::AtLogon)};
  return job;
}

void expectRefused(const Bytes& bytes, HResult expected, const std::string& why) {
  try {
    readJobFile(bytes);
    ADD_FAILURE() << why << ": read without complaint";
  } catch (const JobFileError& error) {
    EXPECT_EQ(error.code(), expected) << why << ": " << error.what();
  }
}

TEST(JobFileWrite, WritesWinesProbeFileByteForByte) {
  const Bytes expected = wineProbeFile(false);
  ASSERT_EQ(expected.size(), 282u);
  ASSERT_EQ(wordAt(expected, 0xA4), 1);
  ASSERT_EQ(wordAt(expected, 0xD6), 1);
  EXPECT_EQ(writeJobFile(wineProbeJob()), expected);
}

TEST(JobFileRead, ReadsWinesProbeFileWithItsGarbageBytes) {
  const JobFile job = readJobFile(wineProbeFile(true));
  EXPECT_EQ(job.productVersion, 0x0601);
  EXPECT_EQ(job.uuid, kProbeUuid);
  EXPECT_EQ(job.errorRetryCount, 0);
  EXPECT_EQ(job.errorRetryInterval, 0);
  EXPECT_EQ(job.idleDeadline, 60);
  EXPECT_EQ(job.idleWait, 10);
  EXPECT_EQ(job.priority, kPriorityNormal);
  EXPECT_EQ(job.maxRunTimeMs, 259'200'000u);
  EXPECT_EQ(job.exitCode, 0u);
  EXPECT_EQ(job.status, kSchedTaskHasNotRun);
  EXPECT_EQ(job.flags, 0u);
  EXPECT_TRUE(job.lastRunTime.isZero());
  EXPECT_EQ(job.runningInstanceCount, 0);
  EXPECT_EQ(job.applicationName, "C:\\bv\\Brackenrun.exe");
  EXPECT_EQ(job.parameters, "1 0 0 4142 ");
  EXPECT_EQ(job.workingDirectory, "");
  EXPECT_EQ(job.author, "");
  EXPECT_EQ(job.comment, "");
  EXPECT_TRUE(job.userData.empty());
  ASSERT_TRUE(job.reservedData.has_value());
  EXPECT_EQ(job.reservedData->startError, 0x001D0FFFu);
  EXPECT_EQ(job.reservedData->taskFlags, 0u);
  ASSERT_EQ(job.triggers.size(), 1u);
  const TaskTrigger& t = job.triggers[0];
  EXPECT_EQ(t.type, TriggerType::Daily);
  EXPECT_EQ(t.beginYear, 2026);
  EXPECT_EQ(t.beginMonth, 12);
  EXPECT_EQ(t.beginDay, 8);
  EXPECT_EQ(t.endYear, 0);
  EXPECT_EQ(t.endMonth, 0);
  EXPECT_EQ(t.endDay, 0);
  EXPECT_EQ(t.startHour, 2);
  EXPECT_EQ(t.startMinute, 0);
  EXPECT_EQ(t.minutesDuration, 0u);
  EXPECT_EQ(t.minutesInterval, 0u);
  EXPECT_EQ(t.flags, 0u);
  EXPECT_EQ(t.daysInterval, 1);
  // The garbage lies where another type keeps its weekdays; a daily trigger has none.
  EXPECT_EQ(t.daysOfTheWeek, 0);
  EXPECT_TRUE(job.hasSignature);
  EXPECT_EQ(job, wineProbeJob());
}

TEST(JobFileWrite, NewTaskDefaults) {
  const JobFile job;
  EXPECT_EQ(job.idleDeadline, 60);
  EXPECT_EQ(job.idleWait, 10);
  EXPECT_EQ(job.priority, kPriorityNormal);
  EXPECT_EQ(job.maxRunTimeMs, 259'200'000u);
  EXPECT_EQ(job.status, kSchedTaskNotScheduled);
  EXPECT_TRUE(job.reservedData.has_value());
  EXPECT_TRUE(job.hasSignature);
}

TEST(JobFileRoundTrip, EveryFieldAndEveryTriggerType) {
  const JobFile job = everyField();
  const Bytes bytes = writeJobFile(job);
  EXPECT_EQ(bytes.size() % 2, 0u);
  EXPECT_EQ(wordAt(bytes, wordAt(bytes, 0x16)), job.triggers.size());
  EXPECT_EQ(readJobFile(bytes), job);
}

TEST(JobFileRoundTrip, TaskWithoutTriggersKeepsCountZero) {
  JobFile job;
  job.applicationName = "/bin/true";
  const Bytes bytes = writeJobFile(job);
  const std::size_t triggerOffset = wordAt(bytes, 0x16);
  EXPECT_EQ(wordAt(bytes, triggerOffset), 0);
  EXPECT_EQ(bytes.size(), triggerOffset + 2 + 4 + 64);
  const JobFile back = readJobFile(bytes);
  EXPECT_TRUE(back.triggers.empty());
  EXPECT_EQ(back, job);
}

TEST(JobFileRoundTrip, WithoutSignatureOrReservedData) {
  JobFile job = everyField();
  job.hasSignature = false;
  job.reservedData.reset();
  const Bytes bytes = writeJobFile(job);
  EXPECT_EQ(bytes.size(), wordAt(bytes, 0x16) + 2 + 48 * job.triggers.size());
  EXPECT_EQ(readJobFile(bytes), job);
}

TEST(JobFileRoundTrip, LongTextsUpToTheTriggerOffsetsLimit) {
  JobFile job;
  job.parameters = std::string(30000, 'x');
  EXPECT_EQ(readJobFile(writeJobFile(job)), job);
  job.parameters = std::string(40000, 'x');  // the Trigger Offset would pass 65535
  try {
    writeJobFile(job);
    ADD_FAILURE() << "written";
  } catch (const JobFileError& error) {
    EXPECT_EQ(error.code(), kInvalidArgument);
  }
}

TEST(JobFileWrite, RefusesWhatTheFormatCannotCarry) {
  const auto refusedWith = [](const JobFile& job) -> HResult {
    try {
      writeJobFile(job);
      return kOk;
    } catch (const JobFileError& error) {
      return error.code();
    }
  };
  JobFile job;
  job.comment = std::string("a\0b", 3);
  EXPECT_EQ(refusedWith(job), kInvalidArgument);
  job.comment = "\xC3";  // a lead byte without its trail byte
  EXPECT_EQ(refusedWith(job), kInvalidArgument);
  job.comment = "\xC0\xAF";  // an overlong "/"
  EXPECT_EQ(refusedWith(job), kInvalidArgument);
  job.comment = "\xED\xA0\x80";  // a surrogate written as UTF-8
  EXPECT_EQ(refusedWith(job), kInvalidArgument);
  job.comment = "ok";
  job.userData.assign(65536, 1);
  EXPECT_EQ(refusedWith(job), kInvalidArgument);
  job.userData.assign(100, 1);
  EXPECT_EQ(refusedWith(job), kOk);
  TaskTrigger unknown;
  unknown.type = static_cast<TriggerType>(9);
  job.triggers = {unknown};
  EXPECT_EQ(refusedWith(job), kInvalidArgument);
}

TEST(JobFileRead, EmptyTextsAsCountZeroOrOneAndTextsWithoutTheirNul) {
  Bytes file = wineProbeFile(false);
  // The working directory (count 1 + NUL at 0x8C) as the absent count 0: two bytes fewer.
  file.erase(file.begin() + 0x8E, file.begin() + 0x90);
  putWord(file, 0x8C, 0);
  putWord(file, 0x16, 0xA2);
  JobFile job = readJobFile(file);
  EXPECT_EQ(job.workingDirectory, "");
  EXPECT_EQ(job.triggers.size(), 1u);

  // Parameters "1 0 0 4142 " without their NUL: count 11, and the next count follows at once.
  file = wineProbeFile(false);
  putWord(file, 0x72, 11);
  putWord(file, 0x16, 0xA2);
  file.erase(file.begin() + 0x8A, file.begin() + 0x8C);
  job = readJobFile(file);
  EXPECT_EQ(job.parameters, "1 0 0 4142 ");
  EXPECT_EQ(job.workingDirectory, "");
}

TEST(JobFileRead, IgnoresPaddingReservedWordsAndForeignSignatures) {
  Bytes file = wineProbeFile(false);
  const std::size_t trigger = 0xA6;
  putWord(file, trigger + 2, 0xBEEF);   // Reserved1
  putWord(file, trigger + 38, 0x4000);  // union words a daily trigger does not use
  putWord(file, trigger + 40, 0x1234);
  putWord(file, trigger + 42, 0xFFFF);  // padding
  putWord(file, trigger + 44, 0xFFFF);  // Reserved2
  putWord(file, trigger + 46, 30);      // wRandomMinutesInterval
  EXPECT_EQ(readJobFile(file), wineProbeJob());

  Bytes foreign = wineProbeFile(false);
  putWord(foreign, 0xD6, 2);  // signature version 2
  EXPECT_FALSE(readJobFile(foreign).hasSignature);
  Bytes trailing = wineProbeFile(false);
  trailing.push_back(0x55);
  EXPECT_TRUE(readJobFile(trailing).hasSignature);
}

TEST(JobFileRead, ReservedDataOfAnotherSize) {
  // Size 0: absent.
  Bytes absent = wineProbeFile(false);
  absent.erase(absent.begin() + 0x9C, absent.begin() + 0xA4);
  putWord(absent, 0x9A, 0);
  putWord(absent, 0x16, 0x9C);
  EXPECT_FALSE(readJobFile(absent).reservedData.has_value());
  // Size 4: too short to hold TASKRESERVED1, skipped as absent.
  Bytes shortBlock = wineProbeFile(false);
  shortBlock.erase(shortBlock.begin() + 0xA0, shortBlock.begin() + 0xA4);
  putWord(shortBlock, 0x9A, 4);
  putWord(shortBlock, 0x16, 0xA0);
  const JobFile job = readJobFile(shortBlock);
  EXPECT_FALSE(job.reservedData.has_value());
  EXPECT_EQ(job.triggers.size(), 1u);
  // Size 10: the first eight bytes count.
  Bytes longBlock = wineProbeFile(false);
  longBlock.insert(longBlock.begin() + 0xA4, {0xAA, 0xBB});
  putWord(longBlock, 0x9A, 10);
  putWord(longBlock, 0x16, 0xA6);
  EXPECT_EQ(readJobFile(longBlock).reservedData, (JobReservedData{0x001D0FFF, 0}));
}

// Cut short anywhere before the end of the triggers, a file is an invalid task; cut inside the
// signature it is still read, without the signature.
TEST(JobFileRead, EveryTruncationPoint) {
  const JobFile job = everyField();
  const Bytes bytes = writeJobFile(job);
  const std::size_t triggersEnd = bytes.size() - 4 - 64;
  for (std::size_t length = 0; length < bytes.size(); ++length) {
    const Bytes cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
    if (length < triggersEnd) {
      expectRefused(cut, kSchedInvalidTask, "cut at " + std::to_string(length));
    } else {
      JobFile expected = job;
      expected.hasSignature = false;
      EXPECT_EQ(readJobFile(cut), expected) << "cut at " << length;
    }
  }
}

TEST(JobFileRead, RefusesOtherFileVersions) {
  for (std::uint16_t version : {0, 2, 0x0100, 0xFFFF}) {
    Bytes file = wineProbeFile(false);
    putWord(file, 2, version);
    expectRefused(file, kSchedUnknownObjectVersion, "version " + std::to_string(version));
  }
}

TEST(JobFileRead, RefusesTriggersOfAnotherSizeOrType) {
  for (std::uint16_t size : {0, 47, 49, 0x30 << 8}) {
    Bytes file = wineProbeFile(false);
    putWord(file, 0xA6, size);
    expectRefused(file, kSchedInvalidTask, "trigger size " + std::to_string(size));
  }
  Bytes file = wineProbeFile(false);
  putWord(file, 0xA6 + 32, 8);
  expectRefused(file, kSchedInvalidTask, "trigger type 8");
  putWord(file, 0xA6 + 32, 0);
  putWord(file, 0xA6 + 34, 1);  // type 0x10000
  expectRefused(file, kSchedInvalidTask, "trigger type 0x10000");
}

TEST(JobFileRead, RefusesOffsetsAndLengthsOutsideTheFile) {
  struct Damage {
    std::size_t offset;
    std::uint16_t value;
    const char* what;
  };
  const Damage damages[] = {
      {0x14, 0x0200, "application name offset past the end"},
      {0x14, 0x0044, "application name offset inside the fixed section"},
      {0x14, 0x0000, "application name offset zero"},
      {0x16, 0x0200, "trigger offset past the end"},
      {0x16, 0x0119, "trigger offset on the last byte"},
      {0x16, 0x0050, "trigger offset inside the strings"},
      {0x16, 0x0098, "trigger offset on the user data size (a count of 0 there)"},
      {0x46, 0x7FFF, "application name longer than the file"},
      {0x46, 0xFFFF, "application name count 65535"},
      {0x72, 0x0100, "parameters longer than the file"},
      {0x98, 0x1000, "user data longer than the file"},
      {0x9A, 0x1000, "reserved data longer than the file"},
      {0xA4, 0x0002, "a second trigger that is not there"},
      {0xA4, 0xFFFF, "65535 triggers"},
  };
  for (const Damage& damage : damages) {
    Bytes file = wineProbeFile(false);
    putWord(file, damage.offset, damage.value);
    expectRefused(file, kSchedInvalidTask, damage.what);
  }
}

TEST(JobFileRead, RefusesUnpairedSurrogates) {
  const std::uint16_t texts[][2] = {
      {0xD842, 0x0041},  // high surrogate, then a letter
      {0x0041, 0xDFB7},  // low surrogate alone
      {0xDFB7, 0xD842},  // the pair the wrong way round
      {0x0041, 0xD842},  // high surrogate as the last unit
  };
  for (const auto& units : texts) {
    Bytes file = wineProbeFile(false);
    // The working directory (count 1 at 0x8C) becomes two units and a NUL.
    putWord(file, 0x8C, 3);
    file.insert(file.begin() + 0x8E,
                {static_cast<std::uint8_t>(units[0] & 0xFF), static_cast<std::uint8_t>(units[0] >> 8),
                 static_cast<std::uint8_t>(units[1] & 0xFF), static_cast<std::uint8_t>(units[1] >> 8)});
    putWord(file, 0x16, 0xA8);
    expectRefused(file, kSchedInvalidTask, "surrogates");
  }
  // The same place with a proper pair reads.
  Bytes file = wineProbeFile(false);
  putWord(file, 0x8C, 3);
  file.insert(file.begin() + 0x8E, {0x42, 0xD8, 0xB7, 0xDF});
  putWord(file, 0x16, 0xA8);
  EXPECT_EQ(readJobFile(file).workingDirectory, "𠮷");
}

// Whatever the bytes, the reader returns or throws JobFileError with one of its two codes.
void expectReadOrRefused(const Bytes& bytes) {
  try {
    const JobFile job = readJobFile(bytes);
    EXPECT_LE(job.triggers.size() * 48, bytes.size());
  } catch (const JobFileError& error) {
    EXPECT_TRUE(error.code() == kSchedInvalidTask || error.code() == kSchedUnknownObjectVersion)
        << std::hex << error.code();
  }
}

TEST(JobFileRead, RandomBytes) {
  std::mt19937 random(20261208);
  for (int round = 0; round < 10000; ++round) {
    Bytes bytes(std::uniform_int_distribution<std::size_t>(0, 400)(random));
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
    if (round % 2 == 0 && bytes.size() >= 4) {
      bytes[2] = 1;  // get past the version check
      bytes[3] = 0;
    }
    expectReadOrRefused(bytes);
  }
}

TEST(JobFileRead, RandomDamageToAValidFile) {
  const Bytes valid = writeJobFile(everyField());
  std::mt19937 random(42);
  std::uniform_int_distribution<std::size_t> position(0, valid.size() - 1);
  for (int round = 0; round < 10000; ++round) {
    Bytes bytes = valid;
    const int changes = 1 + round % 4;
    for (int i = 0; i < changes; ++i) bytes[position(random)] = static_cast<std::uint8_t>(random());
    expectReadOrRefused(bytes);
  }
}

TEST(JobUuids, AreRandomVersion4) {
  std::set<JobUuid> seen;
  for (int i = 0; i < 100; ++i) {
    const JobUuid uuid = randomJobUuid();
    EXPECT_EQ(uuid[7] >> 4, 4);
    EXPECT_EQ(uuid[8] & 0xC0, 0x80);
    seen.insert(uuid);
  }
  EXPECT_EQ(seen.size(), 100u);
}

}  // namespace
}  // namespace bv::tasks
