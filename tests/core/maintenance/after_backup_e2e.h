// What the end-to-end tests of what follows a backup (retention, proof) share: the server's
// dates as a %date% backup names them, a backup on each of the three roads, and a backup job run
// on the stand-in's Agent (started, then waited for, so a test can act while it runs).
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <ostream>
#include <set>
#include <string>

#include "core/agent/job_registration.h"
#include "standin_fixture.h"

namespace bvtest {

// The three roads a backup takes: run now from the window, Brackenrun as a task runs it, and an
// Agent job.
enum class Road { RunNow, Runner, Agent };
std::string roadName(Road road);
inline void PrintTo(Road road, std::ostream* out) { *out << roadName(road); }

// The server's date as yyyymmdd, `days` from today.
std::string dateDigits(int days);

// Statements sent by a client of the test's own (the first column of the first row; failures are
// test failures), and what lies on the server.
std::string scalar(StandinFixture& standin, const std::string& select);
void execute(StandinFixture& standin, const std::string& batch);
std::set<std::string> databasesLike(StandinFixture& standin, const std::string& pattern);
std::set<std::string> filesIn(const std::filesystem::path& folder);
// Scratch files of proofs anywhere under the server's folders.
std::vector<std::filesystem::path> scratchFiles(StandinFixture& standin);

// A plain backup (run now, nothing after it) written on the server's day `days` from today.
void backupOn(StandinFixture& standin, int days, const std::filesystem::path& file, const std::string& database = {});

// One backup as the user asks for it, of the sample database.
struct RoadBackup {
  std::string file;  // as typed, %date% and all
  bool verify = false;
  int generations = 0;
  bool testRestore = false;
  std::string jobName = "backup job";  // the Agent road's job
  bv::maintenance::BackupKind kind = bv::maintenance::BackupKind::Full;
  bool checksum = false;
};

struct RoadOutcome {
  bool backedUp = false;
  bool proven = false;      // the proof passed (it was asked for)
  std::string text;         // the window's message and the proof's, the runner's output, the job's history
  std::string deletedText;  // what the prune reported deleted, a path a line (window, runner)
};

// The backup on the road; on the Agent road a daily job as the dialog registers it, started at
// once and deleted once it ended.
RoadOutcome backupOnRoad(StandinFixture& standin, Road road, const RoadBackup& backup);

struct AgentJobRun {
  std::string outcome;               // run_status of the job (step 0): "1" succeeded
  std::map<int, std::string> steps;  // run_status by step id, for the steps that ran
  std::string messages;              // each history row's step id and message, a line each
};

// `inputs` as the dialog collects them (the job's name, file, generations, test restore); the
// server's release is filled in. The job is registered (and started: startAgentBackupJob);
// waitAgentBackupJob waits for its end and deletes it, so that a later move of the server's clock
// does not start it again.
bv::agent::TJobEntry registerAgentBackupJob(StandinFixture& standin, bv::agent::JobInputs inputs);
void startAgentJob(StandinFixture& standin, const bv::agent::TJobEntry& job);
bv::agent::TJobEntry startAgentBackupJob(StandinFixture& standin, bv::agent::JobInputs inputs);
AgentJobRun waitAgentBackupJob(StandinFixture& standin, const bv::agent::TJobEntry& job);
AgentJobRun runAgentBackupJob(StandinFixture& standin, bv::agent::JobInputs inputs);

}  // namespace bvtest
