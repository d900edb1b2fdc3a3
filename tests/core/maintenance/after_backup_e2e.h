// What the end-to-end tests of what follows a backup (retention, proof) share: the server's
// dates as a %date% backup names them, and a backup job run on the stand-in's Agent.
#pragma once

#include <map>
#include <string>

#include "core/agent/job_registration.h"
#include "standin_fixture.h"

namespace bvtest {

// The three roads a backup takes: run now from the window, Brackenrun as a task runs it, and an
// Agent job.
enum class Road { RunNow, Runner, Agent };

// The server's date as yyyymmdd, `days` from today.
std::string dateDigits(int days);

// A backup job registered as the Agent dialog registers it, started at once on the stand-in's
// Agent and removed again once it ended.

struct AgentJobRun {
  std::string outcome;               // run_status of the job (step 0): "1" succeeded
  std::map<int, std::string> steps;  // run_status by step id, for the steps that ran
  std::string messages;              // each history row's step id and message, a line each
};

// `inputs` as the dialog collects them (the job's name, file, generations, test restore); the
// server's release is filled in. The job is deleted after its run, so that a later move of the
// server's clock does not start it again.
AgentJobRun runAgentBackupJob(StandinFixture& standin, bv::agent::JobInputs inputs);

}  // namespace bvtest
