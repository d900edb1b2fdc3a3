// The benchmarks' stand-in, and a long backup history seeded straight into its msdb:
// copies of one real set's rows (its media set, its media family, the set), each on media of its
// own, with the columns named in `replaced` computed per copy from `i` (1 to count).
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "core/db/connection_settings.h"
#include "standin_fixture.h"

namespace bvbench {

// The benchmarks' in-process stand-in (SQL Server 2019), started on first use, and its sa login.
bvtest::StandinFixture& standin();
bv::db::LoginSettings sa();

struct SeededCopies {
  int count = 0;
  std::map<std::string, std::string> setColumns;  // backupset column -> SQLite expression of i
  std::string devicePath;                         // SQLite expression of i: the family's file
};

void seedCopiesOfSet(bvtest::StandinFixture& standin, std::int64_t setId, const SeededCopies& copies);

}  // namespace bvbench
