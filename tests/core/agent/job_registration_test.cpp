// The new-job group's checks and settings, and the msdb statements as they are sent.
#include "core/agent/job_registration.h"

#include <gtest/gtest.h>

namespace bv::agent {
namespace {

using Lines = std::vector<std::string>;

constexpr AgentDate kToday{2024, 3, 15};

// --- Quoting and trimming -------------------------------------------------------------------

TEST(TrimBlanks, TakesBlanksAndControlsOffBothEnds) {
  EXPECT_EQ(trimBlanks("  job 1 \t"), "job 1");
  EXPECT_EQ(trimBlanks(" \r\n "), "");
  EXPECT_EQ(trimBlanks("ジョブ"), "ジョブ");
}

// --- Start time ------------------------------------------------------------------------------

TEST(ParseStartTime, AValidTimeFallsOnTheFirstOfTheMonth) {
  const AgentDateTime midnight = ParseStartTime("00:00:00", kToday);
  EXPECT_FALSE(midnight.isNone());
  EXPECT_EQ(midnight.format("yyyy/mm/dd hh:nn:ss"), "2024/03/01 00:00:00");
  EXPECT_EQ(ParseStartTime("23:59:59", kToday).format("hh:nn:ss"), "23:59:59");
  EXPECT_EQ(ParseStartTime("07:30:05", {2023, 12, 31}).format("yyyy/mm/dd hh:nn:ss"), "2023/12/01 07:30:05");
}

TEST(ParseStartTime, AnEmptyFirstHourDigitIsALeadingBlank) {
  EXPECT_EQ(ParseStartTime(" 9:05:00", kToday).format("hh:nn:ss"), "09:05:00");
  EXPECT_EQ(ParseStartTime("12: 5: 7", kToday).format("hh:nn:ss"), "12:05:07");
}

TEST(ParseStartTime, OutOfRangeBlankOrMisshapenTimesAreRefused) {
  for (const char* text : {"24:00:00", "12:60:00", "12:00:60", "  :  :  ", "9 :05:00", "09:05: 0x", "9:05:00",
                           "09:05:000", "", "0a:00:00", "-1:00:00", "+1:00:00"}) {
    EXPECT_TRUE(ParseStartTime(text, kToday).isNone()) << '"' << text << '"';
  }
}

// --- Validation ------------------------------------------------------------------------------

JobInputs validInputs() {
  JobInputs inputs;
  inputs.jobName = "nightly";
  inputs.description = "full backup";
  inputs.backup.backupFile = "C:\\backup\\Sales_%date%.bak";
  inputs.startTimeText = "02:00:00";
  inputs.freqType = kFreqOnce;
  inputs.startDate = {2024, 4, 1};
  inputs.monthDay = 1;
  return inputs;
}

TEST(HasFolderAndFileName, SplitsAtTheLastDelimiterOrDriveColon) {
  EXPECT_TRUE(hasFolderAndFileName("C:\\backup\\x.bak"));
  EXPECT_TRUE(hasFolderAndFileName("C:x.bak"));
  EXPECT_TRUE(hasFolderAndFileName("/var/opt/mssql/x.bak"));
  EXPECT_TRUE(hasFolderAndFileName("\\\\server\\share\\x.bak"));
  EXPECT_FALSE(hasFolderAndFileName("x.bak"));
  EXPECT_FALSE(hasFolderAndFileName("C:\\backup\\"));
  EXPECT_FALSE(hasFolderAndFileName("C:"));
  EXPECT_FALSE(hasFolderAndFileName(""));
}

TEST(ValidateJobInputs, AcceptsACompleteJob) {
  EXPECT_FALSE(validateJobInputs(validInputs(), true, kToday).has_value());
  EXPECT_FALSE(validateJobInputs(validInputs(), false, kToday).has_value());
}

TEST(ValidateJobInputs, AFileTheStepsBatchCannotCarryExactlyIsRefusedAfterTheFileChecks) {
  JobInputs inputs = validInputs();
  inputs.backup.backupFile = "C:\\backup\\" + std::string(1000, 'x');
  inputs.freqType = kFreqWeekly;  // no day either: the file comes first
  auto problem = validateJobInputs(inputs, false, kToday);
  ASSERT_TRUE(problem);
  EXPECT_EQ(problem->input, JobInput::BackupFile);
  EXPECT_EQ(problem->message, "バックアップファイル名が長すぎます。");
  inputs.backup.backupFile = "C:\\backup\\¥.bak";  // would come back as "\"
  problem = validateJobInputs(inputs, true, kToday);
  ASSERT_TRUE(problem);
  EXPECT_EQ(problem->message, "バックアップファイル名に使用できない文字が含まれています。");
}

TEST(ValidateJobInputs, ChecksNameThenTimeThenFileThenDays) {
  JobInputs inputs = validInputs();
  inputs.jobName = "   ";
  inputs.startTimeText = "  :  :  ";
  inputs.backup.backupFile = "";
  inputs.freqType = kFreqWeekly;
  auto problem = validateJobInputs(inputs, true, kToday);
  ASSERT_TRUE(problem);
  EXPECT_EQ(problem->input, JobInput::JobName);
  EXPECT_EQ(problem->message, "ジョブ名が設定されていません。");

  inputs.jobName = " x ";
  problem = validateJobInputs(inputs, true, kToday);
  ASSERT_TRUE(problem);
  EXPECT_EQ(problem->input, JobInput::StartTime);
  EXPECT_EQ(problem->message, "実行開始時間には、有効な時間を入力してください。");

  inputs.startTimeText = "24:00:00";
  EXPECT_EQ(validateJobInputs(inputs, true, kToday)->input, JobInput::StartTime);

  inputs.startTimeText = " 9:05:00";
  problem = validateJobInputs(inputs, true, kToday);
  ASSERT_TRUE(problem);
  EXPECT_EQ(problem->input, JobInput::BackupFile);
  EXPECT_EQ(problem->message, "バックアップファイルの指定が正しくありません。");

  inputs.backup.backupFile = "/var/backup/x.bak";
  problem = validateJobInputs(inputs, true, kToday);
  ASSERT_TRUE(problem);
  EXPECT_EQ(problem->input, JobInput::WeekDays);
  EXPECT_EQ(problem->message, "月～日曜日を１つ以上チェックしてください。");

  inputs.weekDays.sun = true;
  EXPECT_FALSE(validateJobInputs(inputs, true, kToday).has_value());
}

TEST(ValidateJobInputs, ARemotePathIsOnlyRequiredToBeThere) {
  JobInputs inputs = validInputs();
  inputs.backup.backupFile = "x.bak";
  EXPECT_FALSE(validateJobInputs(inputs, false, kToday).has_value());
  EXPECT_EQ(validateJobInputs(inputs, true, kToday)->message,
            "バックアップファイルの指定が正しくありません。");
  inputs.backup.backupFile = "";
  const auto problem = validateJobInputs(inputs, false, kToday);
  ASSERT_TRUE(problem);
  EXPECT_EQ(problem->input, JobInput::BackupFile);
  EXPECT_EQ(problem->message, "バックアップファイルが設定されていません。");
}

TEST(ValidateJobInputs, DaysMatterOnlyForAWeeklyJob) {
  JobInputs inputs = validInputs();
  for (const std::int32_t freq : {kFreqOnce, kFreqDaily, kFreqMonthly}) {
    inputs.freqType = freq;
    EXPECT_FALSE(validateJobInputs(inputs, true, kToday).has_value()) << freq;
  }
}

// --- Settings --------------------------------------------------------------------------------

TEST(CollectJobSettings, AOneTimeJobTakesThePickersDayAndTheNameAsTyped) {
  JobInputs inputs = validInputs();
  inputs.jobName = " nightly ";
  inputs.weekDays.mon = true;
  inputs.monthDay = 20;
  const TJobEntry entry = CollectJobSettings(inputs, kToday);
  EXPECT_EQ(entry.Name, " nightly ");
  EXPECT_EQ(entry.Description, "full backup");
  EXPECT_EQ(entry.BackupFile, "C:\\backup\\Sales_%date%.bak");
  EXPECT_EQ(entry.FreqType, kFreqOnce);
  EXPECT_EQ(entry.StartDate.format("yyyymmdd"), "20240401");
  EXPECT_EQ(entry.StartTime.format("hhnnss"), "020000");
  EXPECT_EQ(entry.WeekDays, 0);
  EXPECT_EQ(entry.MonthDay, 0);
  EXPECT_EQ(entry.ScheduleText, "");
}

TEST(CollectJobSettings, RepeatingJobsStartTodayWithTheirOwnSetting) {
  JobInputs inputs = validInputs();
  inputs.weekDays = {true, false, true, false, false, false, true};
  inputs.monthDay = 31;
  inputs.freqType = kFreqDaily;
  TJobEntry entry = CollectJobSettings(inputs, kToday);
  EXPECT_EQ(entry.StartDate.format("yyyymmdd"), "20240315");
  EXPECT_EQ(entry.WeekDays, 0);
  EXPECT_EQ(entry.MonthDay, 0);
  inputs.freqType = kFreqWeekly;
  entry = CollectJobSettings(inputs, kToday);
  EXPECT_EQ(entry.StartDate.format("yyyymmdd"), "20240315");
  EXPECT_EQ(entry.WeekDays, kSunday | kTuesday | kSaturday);
  EXPECT_EQ(entry.MonthDay, 0);
  inputs.freqType = kFreqMonthly;
  entry = CollectJobSettings(inputs, kToday);
  EXPECT_EQ(entry.WeekDays, 0);
  EXPECT_EQ(entry.MonthDay, 31);
}

// --- Statements ------------------------------------------------------------------------------

TEST(JobStatements, TheLookupUsesTheTrimmedNameQuoted) {
  EXPECT_EQ(jobExistsLines("  it's  "),
            (Lines{"select count(*) as cnt from msdb.dbo.sysjobs", "where name = 'it''s'"}));
}

TEST(JobStatements, AddJobForAOneTimeJobDeletesItselfAfterItsRun) {
  TJobEntry entry = CollectJobSettings(validInputs(), kToday);
  EXPECT_EQ(addJobLines(entry, "sa"), (Lines{
                                          "EXECUTE msdb.dbo.sp_add_job ",
                                          "@job_name = N'nightly', ",
                                          "@owner_login_name = N'sa', ",
                                          "@description = N'full backup', ",
                                          "@category_name = N'[Uncategorized (Local)]', ",
                                          "@enabled = 1, ",
                                          "@notify_level_email = 0, ",
                                          "@notify_level_page = 0, ",
                                          "@notify_level_netsend = 0, ",
                                          "@notify_level_eventlog = 2, ",
                                          "@delete_level = 3 ",
                                      }));
  for (const std::int32_t freq : {kFreqDaily, kFreqWeekly, kFreqMonthly}) {
    entry.FreqType = freq;
    EXPECT_EQ(addJobLines(entry, "sa").back(), "@delete_level = 0 ") << freq;
  }
}

TEST(JobStatements, AddJobDoublesQuotesInNameOwnerAndDescription) {
  JobInputs inputs = validInputs();
  inputs.jobName = "Bob's job";
  inputs.description = "it's 'full'";
  const Lines lines = addJobLines(CollectJobSettings(inputs, kToday), "dom'user");
  EXPECT_EQ(lines[1], "@job_name = N'Bob''s job', ");
  EXPECT_EQ(lines[2], "@owner_login_name = N'dom''user', ");
  EXPECT_EQ(lines[3], "@description = N'it''s ''full''', ");
}

// Under Windows authentication no login name is handed over: the job is owned by the caller,
// as sp_add_job takes it when the owner is left out (an empty N'' names no login).
TEST(JobStatements, AddJobWithoutALoginNameLeavesTheOwnerOut) {
  const Lines lines = addJobLines(CollectJobSettings(validInputs(), kToday), "");
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[1], "@job_name = N'nightly', ");
  EXPECT_EQ(lines[2], "@description = N'full backup', ");
  for (const std::string& line : lines) EXPECT_EQ(line.find("@owner_login_name"), std::string::npos) << line;
}

const std::string kPlainStep =
    "begin \r\n"
    "  DECLARE @strDate  varchar(20) \r\n"
    "  DECLARE @strFile  varchar(1000) \r\n"
    "  DECLARE @strName  varchar(100) \r\n"
    " \r\n"
    "  SET @strDate = CONVERT(varchar, GETDATE(), 111) \r\n"
    "  SET @strDate = REPLACE(@strDate,''/'','''') \r\n"
    " \r\n"
    "  SET @strFile = REPLACE(N''C:\\backup\\Sales_%date%.bak'', ''%date%'', @strDate) \r\n"
    "  SET @strName = ''Brackenvale_'' + @strDate \r\n"
    " \r\n"
    "  BACKUP \r\n"
    "  DATABASE [Sales] \r\n"
    "  TO DISK = @strFile \r\n"
    "  WITH \r\n"
    "   STATS = 100 \r\n"
    "  ,INIT \r\n"
    "  ,NAME = @strName \r\n"
    "  ,DESCRIPTION  = ''Build by Brackenvale'' \r\n"
    "end \r\n";

TEST(JobStatements, TheStepIsTheBackupBatchWrittenInsideALiteral) {
  EXPECT_EQ(jobStepCommand("Sales", "C:\\backup\\Sales_%date%.bak"), kPlainStep);
}

TEST(JobStatements, APathQuoteComesOutFourfoldAndANameQuoteTwofold) {
  const std::string step = jobStepCommand("O'Hara", "D:\\o'neil\\x.bak");
  EXPECT_NE(step.find("  SET @strFile = REPLACE(N''D:\\o''''neil\\x.bak'', ''%date%'', @strDate) \r\n"),
            std::string::npos)
      << step;
  EXPECT_NE(step.find("  DATABASE [O''Hara] \r\n"), std::string::npos) << step;
}

TEST(JobStatements, ABracketInTheDatabaseNameIsDoubled) {
  const std::string step = jobStepCommand("Sales]2024", "C:\\b\\x.bak");
  EXPECT_NE(step.find("  DATABASE [Sales]]2024] \r\n"), std::string::npos) << step;
}

TEST(JobStatements, AddJobStepSendsTheBatchAsStepOne) {
  JobInputs inputs = validInputs();
  inputs.jobName = "it's";
  EXPECT_EQ(addJobStepLines(CollectJobSettings(inputs, kToday), "Sales"),
            (Lines{
                "EXECUTE msdb.dbo.sp_add_jobstep ",
                "@job_name = N'it''s', ",
                "@step_id = 1, ",
                "@step_name = N'it''s_step', ",
                "@command = N'" + kPlainStep + "', ",
                "@database_name = N'Sales', ",
                "@server = N'', ",
                "@database_user_name = N'', ",
                "@subsystem = N'TSQL', ",
                "@cmdexec_success_code = 0, ",
                "@flags = 0, ",
                "@retry_attempts = 0, ",
                "@retry_interval = 1, ",
                "@output_file_name = N'', ",
                "@on_success_step_id = 0, ",
                "@on_success_action = 1, ",
                "@on_fail_step_id = 0, ",
                "@on_fail_action = 2 ",
            }));
  EXPECT_EQ(addJobStepLines(CollectJobSettings(inputs, kToday), "O'Hara")[5],
            "@database_name = N'O''Hara', ");
}

TEST(JobStatements, AOneTimeScheduleHasNoRecurrenceFactor) {
  JobInputs inputs = validInputs();
  inputs.jobName = "a'b";
  inputs.startTimeText = " 9:05:07";
  EXPECT_EQ(addJobScheduleLines(CollectJobSettings(inputs, kToday)),
            (Lines{
                "EXEC msdb.dbo.sp_add_jobschedule @job_name = 'a''b', ",
                " @name = 'a''b_schedule', ",
                " @freq_type = 1, ",
                " @freq_interval = 0, ",
                " @freq_subday_type = 1, ",
                " @freq_subday_interval = 0, ",
                " @freq_relative_interval = 0, ",
                " @active_start_date = 20240401, ",
                " @active_start_time = 090507 ",
            }));
}

TEST(JobStatements, DailyWeeklyAndMonthlySchedulesStartToday) {
  JobInputs inputs = validInputs();
  inputs.freqType = kFreqDaily;
  Lines lines = addJobScheduleLines(CollectJobSettings(inputs, kToday));
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[2], " @freq_type = 4, ");
  EXPECT_EQ(lines[3], " @freq_interval = 1, ");
  EXPECT_EQ(lines[7], " @active_start_date = 20240315, ");
  EXPECT_EQ(lines[8], " @active_start_time = 020000 ");

  inputs.freqType = kFreqWeekly;
  inputs.weekDays.sun = true;
  inputs.weekDays.sat = true;
  lines = addJobScheduleLines(CollectJobSettings(inputs, kToday));
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[2], " @freq_type = 8, ");
  EXPECT_EQ(lines[3], " @freq_recurrence_factor = 1, ");
  EXPECT_EQ(lines[4], " @freq_interval = 65, ");
  EXPECT_EQ(lines[8], " @active_start_date = 20240315, ");

  inputs.freqType = kFreqMonthly;
  inputs.monthDay = 31;
  lines = addJobScheduleLines(CollectJobSettings(inputs, kToday));
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[2], " @freq_type = 16, ");
  EXPECT_EQ(lines[3], " @freq_recurrence_factor = 1, ");
  EXPECT_EQ(lines[4], " @freq_interval = 31, ");
}

TEST(JobStatements, ADailyJobEveryNMinutesSendsItsMinutesAndEndTime) {
  JobInputs inputs = validInputs();
  inputs.freqType = kFreqDaily;
  inputs.everyMinutes = 15;
  inputs.startTimeText = " 8:00:00";
  inputs.endTimeText = "18:30:00";
  const Lines lines = addJobScheduleLines(CollectJobSettings(inputs, kToday));
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[4], " @freq_subday_type = 4, ");
  EXPECT_EQ(lines[5], " @freq_subday_interval = 15, ");
  EXPECT_EQ(lines[8], " @active_start_time = 080000, ");
  EXPECT_EQ(lines[9], " @active_end_time = 183000 ");
  // The minutes belong to the daily choice only; the end time is checked only with them.
  inputs.freqType = kFreqMonthly;
  EXPECT_EQ(addJobScheduleLines(CollectJobSettings(inputs, kToday))[5], " @freq_subday_type = 1, ");
  inputs.endTimeText = "  :  :  ";
  EXPECT_FALSE(validateJobInputs(inputs, true, kToday));
  inputs.freqType = kFreqDaily;
  for (const char* end : {"  :  :  ", "08:00:00", " 7:59:59"}) {
    inputs.endTimeText = end;
    const auto problem = validateJobInputs(inputs, true, kToday);
    ASSERT_TRUE(problem) << end;
    EXPECT_EQ(problem->input, JobInput::EndTime);
    EXPECT_EQ(problem->message, end[0] == ' ' && end[1] == ' ' ? "終了時間には、有効な時間を入力してください。"
                                                               : "終了時間には、実行開始時間より後の時間を入力してください。");
  }
}

TEST(JobStatements, AnUnknownFrequencySendsIntervalZero) {
  TJobEntry entry = CollectJobSettings(validInputs(), kToday);
  entry.FreqType = 64;
  entry.WeekDays = 3;
  entry.MonthDay = 9;
  EXPECT_EQ(scheduleInterval(entry), 0);
  EXPECT_EQ(addJobScheduleLines(entry)[3], " @freq_interval = 0, ");
}

TEST(JobStatements, JobServerAndDeletionNameTheJobQuoted) {
  JobInputs inputs = validInputs();
  inputs.jobName = "x'y";
  EXPECT_EQ(addJobServerLines(CollectJobSettings(inputs, kToday)),
            (Lines{"EXEC msdb.dbo.sp_add_jobserver @job_name = N'x''y' "}));
  EXPECT_EQ(deleteJobLines("x'y"), (Lines{"EXEC msdb.dbo.sp_delete_job @job_name = N'x''y' "}));
  EXPECT_EQ(deleteConfirmation("nightly"), "ジョブ[nightly]を削除してもよろしいですか？");
}

}  // namespace
}  // namespace bv::agent
