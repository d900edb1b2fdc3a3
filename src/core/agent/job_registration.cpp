#include "core/agent/job_registration.h"

#include "core/db/sql_text.h"
#include "core/text/ascii.h"

#include "core/maintenance/command_builder.h"
#include "core/maintenance/operations.h"
#include "core/maintenance/proof.h"
#include "core/maintenance/retention.h"
#include "core/maintenance/server_release.h"

namespace bv::agent {
namespace {

// The two characters of one field of the start time: leading blanks, then one or two digits.
std::optional<int> timeField(std::string_view field) {
  while (!field.empty() && field.front() == ' ') field.remove_prefix(1);
  if (field.empty()) return std::nullopt;
  int value = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

bool isTrimmed(char c) { return static_cast<unsigned char>(c) <= ' '; }

}  // namespace

std::string deleteConfirmation(std::string_view jobName) {
  return "ジョブ[" + std::string(jobName) + "]を削除してもよろしいですか？";
}

std::string trimBlanks(std::string_view text) {
  while (!text.empty() && isTrimmed(text.front())) text.remove_prefix(1);
  while (!text.empty() && isTrimmed(text.back())) text.remove_suffix(1);
  return std::string(text);
}

AgentDateTime ParseStartTime(std::string_view text, const AgentDate& today) {
  if (text.size() != 8) return {};
  const auto hour = timeField(text.substr(0, 2));
  const auto minute = timeField(text.substr(3, 2));
  const auto second = timeField(text.substr(6, 2));
  if (!hour || !minute || !second) return {};
  if (*hour > 23 || *minute > 59 || *second > 59) return {};
  AgentDateTime value = AgentDateTime::fromDate({today.year, today.month, 1});
  value.hour = *hour;
  value.minute = *minute;
  value.second = *second;
  return value;
}

std::uint16_t weekDayMask(const WeekDayChecks& days) {
  std::uint16_t mask = 0;
  if (days.sun) mask |= kSunday;
  if (days.mon) mask |= kMonday;
  if (days.tue) mask |= kTuesday;
  if (days.wed) mask |= kWednesday;
  if (days.thu) mask |= kThursday;
  if (days.fri) mask |= kFriday;
  if (days.sat) mask |= kSaturday;
  return mask;
}

bool hasFolderAndFileName(std::string_view path) {
  const std::size_t split = path.find_last_of("\\/:");
  if (split == std::string_view::npos) return false;  // no folder part
  return split + 1 < path.size();                     // a file name after it
}

std::optional<InputProblem> validateJobInputs(const JobInputs& inputs, bool serverIsLocal,
                                              const AgentDate& today) {
  if (trimBlanks(inputs.jobName).empty())
    return InputProblem{JobInput::JobName, std::string(kJobNameMissing)};
  if (ParseStartTime(inputs.startTimeText, today).isNone()) {
    return InputProblem{JobInput::StartTime, std::string(kStartTimeInvalid)};
  }
  if (inputs.freqType == kFreqDaily && inputs.everyMinutes > 0) {
    const AgentDateTime end = ParseStartTime(inputs.endTimeText, today);
    if (end.isNone()) return InputProblem{JobInput::EndTime, std::string(kEndTimeInvalid)};
    if (end.format("hhnnss") <= ParseStartTime(inputs.startTimeText, today).format("hhnnss")) {
      return InputProblem{JobInput::EndTime, std::string(kEndTimeNotAfterStart)};
    }
  }
  if (serverIsLocal) {
    if (!hasFolderAndFileName(inputs.backup.backupFile)) {
      return InputProblem{JobInput::BackupFile, std::string(kBackupFileIncorrect)};
    }
  } else if (inputs.backup.backupFile.empty()) {
    return InputProblem{JobInput::BackupFile, std::string(kBackupFileMissing)};
  }
  // The job's step runs the run-now backup batch: the backup use case's checks hold.
  if (const auto problem = maintenance::checkBackupFile(inputs.backup.backupFile)) {
    return InputProblem{JobInput::BackupFile, problem->message};
  }
  if (auto problem = maintenance::kindProblem(inputs.backup)) {
    const JobInput input = problem->input == maintenance::RequestInput::BackupFile    ? JobInput::BackupFile
                           : problem->input == maintenance::RequestInput::Generations ? JobInput::Generations
                                                                                      : JobInput::Kind;
    return InputProblem{input, std::move(problem->message)};
  }
  if (inputs.backup.kind == maintenance::BackupKind::Log &&
      text::equalsIgnoringAsciiCase(inputs.recoveryModel, "SIMPLE")) {
    return InputProblem{JobInput::Kind, maintenance::logOfSimpleDatabaseText(inputs.backup.database)};
  }
  if (inputs.freqType == kFreqWeekly && weekDayMask(inputs.weekDays) == 0) {
    return InputProblem{JobInput::WeekDays, std::string(kNoWeekDay)};
  }
  if (auto problem = maintenance::generationsProblem(inputs.backup.generations, inputs.backup.backupFile)) {
    return InputProblem{JobInput::Generations, std::move(*problem)};
  }
  // The proof step cleans up in a CATCH block and the prune step deletes with xp_delete_file,
  // neither of which SQL Server 2000 has.
  const bool tooOld = maintenance::beforeSqlServer2005(maintenance::majorVersionOfYear(inputs.serverVersion));
  if (inputs.backup.testRestore && tooOld) {
    return InputProblem{JobInput::TestRestore, std::string(maintenance::kProofJobNeedsNewerServer)};
  }
  if (inputs.backup.generations != maintenance::kKeepAllGenerations && tooOld) {
    return InputProblem{JobInput::Generations, std::string(maintenance::kRetentionNeedsNewerServer)};
  }
  if (inputs.backup.checksum && tooOld) {
    return InputProblem{JobInput::Checksum, std::string(maintenance::kChecksumNeedsNewerServer)};
  }
  return std::nullopt;
}

TJobEntry CollectJobSettings(const JobInputs& inputs, const AgentDate& today) {
  TJobEntry entry;
  entry.Name = inputs.jobName;
  entry.Description = inputs.description;
  entry.BackupFile = inputs.backup.backupFile;
  entry.StartTime = ParseStartTime(inputs.startTimeText, today);
  entry.FreqType = inputs.freqType;
  entry.StartDate = AgentDateTime::fromDate(inputs.freqType == kFreqOnce ? inputs.startDate : today);
  entry.WeekDays = inputs.freqType == kFreqWeekly ? weekDayMask(inputs.weekDays) : 0;
  entry.MonthDay = inputs.freqType == kFreqMonthly ? inputs.monthDay : 0;
  if (inputs.freqType == kFreqDaily && inputs.everyMinutes > 0) {
    entry.SubdayMinutes = inputs.everyMinutes;
    entry.EndTime = ParseStartTime(inputs.endTimeText, today);
  }
  entry.Backup = inputs.backup;
  entry.ScheduleText.clear();
  return entry;
}

std::int32_t scheduleInterval(const TJobEntry& entry) {
  switch (entry.FreqType) {
    case kFreqDaily:
      return 1;
    case kFreqWeekly:
      return entry.WeekDays;
    case kFreqMonthly:
      return entry.MonthDay;
    default:
      return 0;
  }
}

std::vector<std::string> jobExistsLines(std::string_view jobName) {
  return {"select count(*) as cnt from msdb.dbo.sysjobs",
          "where name = '" + db::QuoteSqlString(trimBlanks(jobName)) + "'"};
}

std::vector<std::string> addJobLines(const TJobEntry& entry, std::string_view ownerLoginName) {
  std::vector<std::string> lines{
      "EXECUTE msdb.dbo.sp_add_job ",
      "@job_name = N'" + db::QuoteSqlString(entry.Name) + "', ",
  };
  // Under Windows authentication no login name is handed over. sp_add_job turns its other empty
  // parameters into NULL but not the owner, and N'' names no login (14515 for a non-sysadmin,
  // sp_verify_job's refusal for a sysadmin): left out, the job is owned by the caller.
  if (!ownerLoginName.empty()) {
    lines.push_back("@owner_login_name = N'" + db::QuoteSqlString(ownerLoginName) + "', ");
  }
  lines.insert(lines.end(), {
                                "@description = N'" + db::QuoteSqlString(entry.Description) + "', ",
                                "@category_name = N'[Uncategorized (Local)]', ",
                                "@enabled = 1, ",
                                "@notify_level_email = 0, ",
                                "@notify_level_page = 0, ",
                                "@notify_level_netsend = 0, ",
                                "@notify_level_eventlog = 2, ",
                                entry.FreqType == kFreqOnce ? "@delete_level = 3 " : "@delete_level = 0 ",
                            });
  return lines;
}

std::string jobStepCommand(std::string_view databaseName, std::string_view backupFile, maintenance::BackupKind kind,
                           bool checksum) {
  // The immediate batch already quotes the path as a literal and brackets the name with its
  // "]" doubled; written inside the step's literal, every quote of it doubles once more.
  std::string batch;
  for (const auto& line : maintenance::backupCommandLines(databaseName, backupFile, kind, checksum)) {
    batch += line;
    batch += "\r\n";
  }
  return db::QuoteSqlString(batch);
}

std::vector<std::string> addJobStepLines(const TJobEntry& entry, std::string_view databaseName) {
  return {
      "EXECUTE msdb.dbo.sp_add_jobstep ",
      "@job_name = N'" + db::QuoteSqlString(entry.Name) + "', ",
      "@step_id = 1, ",
      "@step_name = N'" + db::QuoteSqlString(entry.Name) + "_step', ",
      "@command = N'" + jobStepCommand(databaseName, entry.BackupFile, entry.Backup.kind, entry.Backup.checksum) +
          "', ",
      "@database_name = N'" + db::QuoteSqlString(databaseName) + "', ",
      "@server = N'', ",
      "@database_user_name = N'', ",
      "@subsystem = N'TSQL', ",
      "@cmdexec_success_code = 0, ",
      "@flags = 0, ",
      "@retry_attempts = 0, ",
      "@retry_interval = 1, ",
      "@output_file_name = N'', ",
      "@on_success_step_id = 0, ",
      // With steps after it, a backup that succeeded goes on to the next one.
      std::string("@on_success_action = ") + (followingStepLines(entry, databaseName).empty() ? "1" : "3") + ", ",
      "@on_fail_step_id = 0, ",
      "@on_fail_action = 2 ",
  };
}

std::vector<std::vector<std::string>> followingStepLines(const TJobEntry& entry, std::string_view databaseName) {
  std::vector<std::pair<std::string, std::string>> steps;  // name suffix, batch
  if (entry.Backup.testRestore) {
    steps.emplace_back("_proof", maintenance::buildProofJobStep(databaseName, entry.BackupFile,
                                                                      maintenance::RunMark::ofJob(entry.Name)));
  }
  if (entry.Backup.generations != maintenance::kKeepAllGenerations) {
    steps.emplace_back("_prune",
                       maintenance::pruneCommandOf(databaseName, entry.BackupFile, entry.Backup.generations,
                                                   maintenance::RunMark::ofJob(entry.Name), entry.Backup.kind));
  }
  std::vector<std::vector<std::string>> statements;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const bool last = i + 1 == steps.size();
    statements.push_back({
        "EXECUTE msdb.dbo.sp_add_jobstep ",
        "@job_name = N'" + db::QuoteSqlString(entry.Name) + "', ",
        "@step_id = " + std::to_string(i + 2) + ", ",
        "@step_name = N'" + db::QuoteSqlString(entry.Name + steps[i].first) + "', ",
        "@command = N'" + db::QuoteSqlString(steps[i].second) + "', ",
        "@database_name = N'master', ",
        "@subsystem = N'TSQL', ",
        std::string("@on_success_action = ") + (last ? "1" : "3") + ", ",
        "@on_fail_action = 2 ",
    });
  }
  return statements;
}

std::vector<std::string> addJobScheduleLines(const TJobEntry& entry) {
  std::vector<std::string> lines{
      "EXEC msdb.dbo.sp_add_jobschedule @job_name = '" + db::QuoteSqlString(entry.Name) + "', ",
      " @name = '" + db::QuoteSqlString(entry.Name) + "_schedule', ",
      " @freq_type = " + std::to_string(entry.FreqType) + ", ",
  };
  if (entry.FreqType == kFreqWeekly || entry.FreqType == kFreqMonthly) {
    lines.push_back(" @freq_recurrence_factor = 1, ");
  }
  lines.push_back(" @freq_interval = " + std::to_string(scheduleInterval(entry)) + ", ");
  const bool withinDay = entry.SubdayMinutes > 0;
  lines.push_back(withinDay ? " @freq_subday_type = 4, " : " @freq_subday_type = 1, ");
  lines.push_back(" @freq_subday_interval = " + std::to_string(entry.SubdayMinutes) + ", ");
  lines.push_back(" @freq_relative_interval = 0, ");
  lines.push_back(" @active_start_date = " + entry.StartDate.format("yyyymmdd") + ", ");
  lines.push_back(" @active_start_time = " + entry.StartTime.format("hhnnss") + (withinDay ? ", " : " "));
  if (withinDay) lines.push_back(" @active_end_time = " + entry.EndTime.format("hhnnss") + " ");
  return lines;
}

std::vector<std::string> addJobServerLines(const TJobEntry& entry) {
  return {"EXEC msdb.dbo.sp_add_jobserver @job_name = N'" + db::QuoteSqlString(entry.Name) + "' "};
}

std::vector<std::string> deleteJobLines(std::string_view jobName) {
  return {"EXEC msdb.dbo.sp_delete_job @job_name = N'" + db::QuoteSqlString(jobName) + "' "};
}

}  // namespace bv::agent
