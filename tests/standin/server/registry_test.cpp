// The server's registry: which system objects and procedures each release has and from where a
// call reaches them, and entries it refuses at start.
#include <gtest/gtest.h>

#include <stdexcept>

#include "standin/engine/engine_internal.h"

namespace {

using Lookup = standin::server::SystemObjects::Lookup;

struct ObjectCase {
  int year;
  const char* schema;
  const char* name;
  const char* database;
  Lookup expected;
};

class SystemObjectNames : public ::testing::TestWithParam<ObjectCase> {};

TEST_P(SystemObjectNames, AreTheReleasesOwn) {
  const auto& c = GetParam();
  EXPECT_EQ(standin::engine::registry().systemObjects.find(c.year, c.schema, c.name, c.database).lookup,
            c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Registry, SystemObjectNames,
    ::testing::Values(ObjectCase{2000, "sys", "databases", "master", Lookup::Missing},  // no sys schema
                      ObjectCase{2005, "SYS", "Databases", "master", Lookup::Found},
                      ObjectCase{2005, "sys", "objects", "master", Lookup::Unsupported},
                      ObjectCase{2008, "sys", "dm_os_volume_stats", "master", Lookup::Missing},
                      ObjectCase{2012, "sys", "dm_os_volume_stats", "master", Lookup::Found},
                      ObjectCase{2016, "sys", "dm_os_host_info", "master", Lookup::Missing},
                      ObjectCase{2017, "sys", "dm_os_host_info", "master", Lookup::Found},
                      ObjectCase{2000, "", "sysdatabases", "Sample", Lookup::Missing},  // master's only
                      ObjectCase{2000, "dbo", "sysaltfiles", "master", Lookup::Found},
                      ObjectCase{2005, "dbo", "sysaltfiles", "Sample", Lookup::Found},
                      ObjectCase{2005, "", "databases", "master", Lookup::NotSystem},
                      ObjectCase{2005, "dbo", "dm_exec_requests", "master", Lookup::NotSystem}));

TEST(Registry, ProceduresAreReachedFromTheDatabaseTheyLiveIn) {
  const auto& procedures = standin::engine::registry().procedures;
  struct Case {
    const char* name;
    int year;
    const char* from;
    bool reached;
  };
  for (const Case c : {Case{"sp_add_job", 2005, "msdb", true}, Case{"sp_add_job", 2005, "master", false},
                       Case{"xp_dirtree", 2000, "MASTER", true}, Case{"xp_dirtree", 2005, "Sample", false},
                       Case{"sp_tables", 2005, "Sample", true}}) {
    const auto* p = procedures.find(c.name, c.year);
    ASSERT_NE(p, nullptr) << c.name;
    EXPECT_EQ(standin::server::reachesFrom(*p, c.from), c.reached) << c.name << " from " << c.from;
  }
  EXPECT_EQ(procedures.find("xp_delete_file", 2000), nullptr);  // it came with 2005
  EXPECT_NE(procedures.find("xp_delete_file", 2005), nullptr);
}

TEST(Registry, AnEntryWithoutItsCodeOrTwiceIsRefused) {
  standin::server::Registry r;
  EXPECT_THROW(r.systemObjects.add({"views", {{"name", standin::sql::SqlType::integer()}}, nullptr}),
               std::logic_error);
  const auto rows = [](standin::server::Server&, const standin::server::SystemObjectCall&,
                       standin::server::ResultTable&) {};
  r.systemObjects.add({"views", {{"name", standin::sql::SqlType::integer()}}, rows});
  EXPECT_THROW(r.systemObjects.add({"views", {{"name", standin::sql::SqlType::integer()}}, rows}),
               std::logic_error);
  EXPECT_THROW(r.procedures.add({"sp_x", "master", false, 2000, nullptr}), std::logic_error);
}

}  // namespace
