// A long backup history seeded straight into the in-process stand-in's msdb for the benchmarks:
// copies of one real set's rows (its media set, its media family, the set), each on media of its
// own, with the columns named in `replaced` computed per copy from `i` (1 to count).
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "standin_fixture.h"

namespace bvbench {

struct SeededCopies {
  int count = 0;
  std::map<std::string, std::string> setColumns;  // backupset column -> SQLite expression of i
  std::string devicePath;                         // SQLite expression of i: the family's file
};

void seedCopiesOfSet(bvtest::StandinFixture& standin, std::int64_t setId, const SeededCopies& copies);

}  // namespace bvbench
