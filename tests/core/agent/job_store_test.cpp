// The job store against the stand-in's msdb, through unixODBC + FreeTDS: the dialog's connection
// settings, the version and the job list, a registration that commits or rolls back as a whole,
// and a deletion.
#include "core/agent/job_store.h"

#include <gtest/gtest.h>

#include "core/agent/job_registration.h"
#include "standin_fixture.h"

namespace bv::agent {
namespace {

TEST(AgentConnectionSettings, SqlServerAuthenticationNamesTheHandedOverDatabase) {
  EXPECT_EQ(agentConnectionSettings({"SRV01\\SQLEXPRESS", true, "sa", "pw"}, "Sales").text(),
            "Provider=SQLOLEDB.1;Persist Security Info=False;Pooling=false;Initial Catalog=Sales;"
            "User ID=sa;Password=pw;Data Source=SRV01\\SQLEXPRESS");
}

// The provider reads "Pooling=false " and "Pooling=false" alike (blanks around a plain value are
// trimmed), so the Windows form is written without the blank.
TEST(AgentConnectionSettings, WindowsAuthenticationUsesMasterAndNoLogin) {
  EXPECT_EQ(agentConnectionSettings({"SRV01", false, "sa", "pw"}, "Sales").text(),
            "Provider=SQLOLEDB.1;Persist Security Info=False;Trusted_Connection=yes;Pooling=false;"
            "Initial Catalog=master;Data Source=SRV01");
}

TEST(AgentConnectionSettings, TypedValuesAreQuotedAndCannotAddKeys) {
  const db::ConnectionSettings read = db::ConnectionSettings::parse(
      agentConnectionSettings({"srv", true, "o'neil", "x;Data Source=evil"}, "my;db").text());
  EXPECT_EQ(read.value("Data Source"), "srv");
  EXPECT_EQ(read.value("Initial Catalog"), "my;db");
  EXPECT_EQ(read.value("User ID"), "o'neil");
  EXPECT_EQ(read.value("Password"), "x;Data Source=evil");
}

class JobStoreOnStandin : public ::testing::Test {
 protected:
  void SetUp() override {
    store.open(agentConnectionSettings({standin.serverText(), true, "sa", standin.saPassword()},
                                       standin.sampleDatabase()));
  }

  TJobEntry nightly(const std::string& name) const {
    JobInputs inputs;
    inputs.jobName = name;
    inputs.description = "full backup";
    inputs.backupFile = (standin.scratchDir() / (name + "_%date%.bak")).string();
    inputs.startTimeText = "02:00:00";
    inputs.freqType = kFreqDaily;
    inputs.startDate = {2026, 12, 8};
    return CollectJobSettings(inputs, {2026, 12, 8});
  }

  std::int64_t jobRows() const { return standin.rowCount("msdb", "sysjobs"); }

  bvtest::StandinFixture standin;
  JobStore store;
};

TEST_F(JobStoreOnStandin, ReadsTheVersionAndAnEmptyListOnAFreshServer) {
  const std::int32_t version = store.serverVersion();
  EXPECT_EQ(version, standin.serverVersion());
  std::vector<TJobEntry> jobs{nightly("left over")};
  store.loadJobs(version, jobs);
  EXPECT_TRUE(jobs.empty());
}

TEST_F(JobStoreOnStandin, ARegistrationCommittedIsListedFoundAndDeleted) {
  const TJobEntry entry = nightly("nightly");
  store.beginTransaction();
  store.addJob(entry, "sa");
  store.addJobStep(entry, standin.sampleDatabase());
  store.addJobSchedule(entry);
  store.addJobServer(entry);
  store.commitTransaction();

  EXPECT_TRUE(store.jobExists("nightly"));
  EXPECT_TRUE(store.jobExists("  nightly "));
  EXPECT_FALSE(store.jobExists("weekly"));
  std::vector<TJobEntry> jobs;
  store.loadJobs(store.serverVersion(), jobs);
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].Name, "nightly");
  EXPECT_EQ(jobs[0].ScheduleText, "毎日");
  EXPECT_EQ(jobs[0].BackupFile, entry.BackupFile);

  store.deleteJob("nightly");
  EXPECT_FALSE(store.jobExists("nightly"));
  EXPECT_EQ(jobRows(), 0);
}

TEST_F(JobStoreOnStandin, AFailingStepRolledBackLeavesNoHalfJob) {
  const TJobEntry entry = nightly("half");
  store.beginTransaction();
  store.addJob(entry, "sa");
  // A second job of the same name is refused by msdb.
  EXPECT_THROW(store.addJob(entry, "sa"), db::ProviderError);
  store.rollbackTransaction();
  EXPECT_FALSE(store.jobExists("half"));
  EXPECT_EQ(jobRows(), 0);
}

TEST(JobStore, EveryCallOnAStoreThatIsNotOpenIsTheProvidersNotOpenError) {
  JobStore store;
  try {
    store.serverVersion();
    FAIL() << "a closed store answered";
  } catch (const db::ProviderError& error) {
    EXPECT_STREQ(error.what(), "The connection is not open.");
  }
  std::vector<TJobEntry> jobs;
  EXPECT_THROW(store.loadJobs(2005, jobs), db::ProviderError);
  EXPECT_THROW(store.jobExists("x"), db::ProviderError);
  EXPECT_THROW(store.deleteJob("x"), db::ProviderError);
}

}  // namespace
}  // namespace bv::agent
