// The job store against the stand-in's msdb, through unixODBC + FreeTDS: the dialog's connection
// settings, the version and the job list, a registration that commits or rolls back as a whole,
// and a deletion.
#include "core/agent/job_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

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
    inputs.backup.backupFile = (standin.scratchDir() / (name + "_%date%.bak")).string();
    inputs.startTimeText = "02:00:00";
    inputs.freqType = kFreqDaily;
    inputs.startDate = {2026, 12, 8};
    return CollectJobSettings(inputs, {2026, 12, 8});
  }

  std::int64_t jobRows() const { return standin.rowCount("msdb", "sysjobs"); }

  // The four calls in one transaction, as the dialog registers a job.
  void registerJob(const TJobEntry& entry, std::string_view owner) {
    store.beginTransaction();
    store.addJob(entry, owner);
    store.addJobStep(entry, standin.sampleDatabase());
    store.addJobSchedule(entry);
    store.addJobServer(entry);
    store.commitTransaction();
  }

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
  registerJob(entry, "sa");

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

// The Windows road's statement (no login name handed over) sent over an SQL login: the job
// registers, owned by the caller.
TEST_F(JobStoreOnStandin, AJobAddedWithoutALoginNameIsOwnedByTheCaller) {
  registerJob(nightly("windows road"), "");
  EXPECT_TRUE(store.jobExists("windows road"));
  const auto owners = standin.querySqlite("msdb", "SELECT hex(owner_sid) FROM sysjobs");
  ASSERT_EQ(owners.size(), 1u);
  EXPECT_EQ(owners[0][0], std::optional<std::string>("01"));  // sa's SID
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

TEST_F(JobStoreOnStandin, ClosingWithATransactionOpenRollsItBackAndFreesMsdb) {
  const TJobEntry entry = nightly("abandoned");
  store.beginTransaction();
  store.addJob(entry, "sa");
  store.close();  // as the dialog's unexpected-error path closes it
  JobStore other;
  other.open(agentConnectionSettings({standin.serverText(), true, "sa", standin.saPassword()},
                                     standin.sampleDatabase()));
  EXPECT_FALSE(other.jobExists("abandoned"));
  // msdb takes a new job at once: nothing holds it any more.
  other.addJob(nightly("next"), "sa");
  EXPECT_TRUE(other.jobExists("next"));
}

// Whatever the server does with a session that vanishes, the client says it: a connection closed
// with its transaction open rolls it back first.
TEST(JobStoreTrace, ClosingWithATransactionOpenSendsTheRollbackBeforeDisconnecting) {
  bvtest::TempDir scratch("bv-trace");
  bvtest::StandinOptions options;
  options.traceFile = scratch.path() / "trace.log";
  bvtest::StandinFixture standin(options);
  JobStore store;
  store.open(agentConnectionSettings({standin.serverText(), true, "sa", standin.saPassword()}, "msdb"));
  store.beginTransaction();
  JobInputs inputs;
  inputs.jobName = "abandoned";
  inputs.backup.backupFile = "C:\\b\\x.bak";
  inputs.startTimeText = "02:00:00";
  inputs.freqType = kFreqDaily;
  store.addJob(CollectJobSettings(inputs, {2026, 12, 8}), "sa");
  store.close();
  std::ifstream in(options.traceFile);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  const auto added = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
    return line.find("sp_add_job") != std::string::npos;
  });
  ASSERT_NE(added, lines.end());
  // A transaction-manager request of type 8 (TM_ROLLBACK_XACT, [MS-TDS] 2.2.6.9).
  bool rolledBack = false;
  for (auto it = added; it != lines.end() && std::next(it) != lines.end(); ++it) {
    rolledBack =
        rolledBack || (it->find("transaction manager") != std::string::npos && *std::next(it) == "8");
  }
  EXPECT_TRUE(rolledBack) << "trace after the job:\n"
                          << [&] {
                               std::string text;
                               for (auto it = added; it != lines.end(); ++it) text += *it + "\n";
                               return text;
                             }();
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
