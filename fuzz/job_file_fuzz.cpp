// The reader of a task's .JOB file ([MS-TSCH] 2.4), which the program reads from the task store
// (and on Windows from the Tasks folder, where other programs write too).
//
// What must hold: a file that cannot be read is refused with JobFileError (an unknown version or
// an invalid task), never a crash, a read outside the bytes or an allocation the bytes do not
// pay for; what was read is written again unless the format cannot carry it, and what was written
// reads back as the same task and writes again byte for byte.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/tasks/job_file.h"
#include "core/text/utf16.h"
#include "fuzz_check.h"

namespace {

using bv::tasks::JobFile;
using bv::tasks::JobFileError;

// The bytes up to the Trigger Count as the writer lays them out; past 65,535 the Trigger Offset
// no longer fits its 16 bits. A text that was read without its NUL gains one when written, so a
// task read from a file near that limit may not fit again.
std::size_t writtenSectionSize(const JobFile& job) {
  std::size_t size = 68 + 2;
  for (const std::string* text :
       {&job.applicationName, &job.parameters, &job.workingDirectory, &job.author, &job.comment}) {
    const std::optional<std::u16string> units = bv::text::utf8ToUtf16Exact(*text);
    FUZZ_CHECK(units.has_value());  // the reader gives only text that converts back
    if (units->size() + 1 > 65535) return SIZE_MAX;
    size += 2 + 2 * (units->size() + 1);
  }
  size += 2 + job.userData.size() + 2 + (job.reservedData ? 8 : 0);
  return size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  JobFile job;
  try {
    job = bv::tasks::readJobFile(std::span(data, size));
  } catch (const JobFileError& error) {
    FUZZ_CHECK(error.code() == bv::tasks::kSchedUnknownObjectVersion ||
               error.code() == bv::tasks::kSchedInvalidTask);
    return 0;
  }
  // The reader keeps 48 bytes for each trigger it accepts.
  FUZZ_CHECK(job.triggers.size() * 48 <= size);

  std::vector<std::uint8_t> written;
  try {
    written = bv::tasks::writeJobFile(job);
  } catch (const JobFileError& error) {
    FUZZ_CHECK(error.code() == bv::tasks::kInvalidArgument);
    FUZZ_CHECK(writtenSectionSize(job) > 65535);
    return 0;
  }
  const JobFile reread = bv::tasks::readJobFile(written);
  FUZZ_CHECK(reread == job);
  FUZZ_CHECK(bv::tasks::writeJobFile(reread) == written);
  return 0;
}
