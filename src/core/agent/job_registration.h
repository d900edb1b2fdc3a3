// Registration and removal of a backup job with SQL Server Agent: the checks of the new-job
// inputs, the job's settings, and the texts of the msdb procedure calls. Each statement is a
// list of lines that the query joins with CR LF. Qt-free.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/agent/agent_time.h"
#include "core/agent/job_catalogue.h"

namespace bv::agent {

// Messages of the new-job group and the delete button.
inline constexpr std::string_view kJobNameMissing = "ジョブ名が設定されていません。";
inline constexpr std::string_view kStartTimeInvalid = "実行開始時間には、有効な時間を入力してください。";
inline constexpr std::string_view kBackupFileIncorrect = "バックアップファイルの指定が正しくありません。";
inline constexpr std::string_view kBackupFileMissing = "バックアップファイルが設定されていません。";
inline constexpr std::string_view kEndTimeInvalid = "終了時間には、有効な時間を入力してください。";
inline constexpr std::string_view kEndTimeNotAfterStart = "終了時間には、実行開始時間より後の時間を入力してください。";
inline constexpr std::string_view kNoWeekDay = "月～日曜日を１つ以上チェックしてください。";
inline constexpr std::string_view kJobExists = "既に同じ名前のジョブが存在します。";
inline constexpr std::string_view kJobRegistered = "新しいジョブを登録しました。";
inline constexpr std::string_view kUnexpectedError =
    "予期しないエラーが発生したため、本画面を終了いたします。";
inline constexpr std::string_view kAddJobFailed = "ジョブの登録でエラーが発生しました。";
inline constexpr std::string_view kAddJobStepFailed = "ジョブステップの登録でエラーが発生しました。";
inline constexpr std::string_view kAddJobScheduleFailed = "ジョブスケジュールの登録でエラーが発生しました。";
inline constexpr std::string_view kAddJobServerFailed = "ジョブサーバの登録でエラーが発生しました。";
inline constexpr std::string_view kSelectJobToDelete = "削除するジョブを一覧より選択してください。";
inline constexpr std::string_view kDeleteJobFailed = "ジョブの削除でエラーが発生しました。";
// "ジョブ[" + name + "]を削除してもよろしいですか？"
std::string deleteConfirmation(std::string_view jobName);

// Blanks and control characters taken off both ends.
std::string trimBlanks(std::string_view text);

// The start time of the masked edit: exactly 8 characters, the hour, minute and second in the
// two characters at positions 1, 4 and 7 (leading blanks allowed, as an empty optional digit
// leaves them), 0-23, 0-59 and 0-59. The first day of `today`'s month at that time of day, or
// the none value when the text is no such time.
AgentDateTime ParseStartTime(std::string_view text, const AgentDate& today);

// The days checked in the new-job group.
struct WeekDayChecks {
  bool sun = false;
  bool mon = false;
  bool tue = false;
  bool wed = false;
  bool thu = false;
  bool fri = false;
  bool sat = false;
};
std::uint16_t weekDayMask(const WeekDayChecks& days);

// The new-job group's inputs as the form holds them.
struct JobInputs {
  std::string jobName;  // as typed
  std::string description;
  std::string startTimeText;  // the masked edit's 8 characters
  std::int32_t freqType = kFreqOnce;
  AgentDate startDate;  // the date picker's day
  WeekDayChecks weekDays;
  std::int32_t monthDay = 1;
  // A daily job that repeats every this many minutes from the start time up to the end time (the
  // masked edit's 8 characters); 0 for one run a day.
  std::int32_t everyMinutes = 0;
  std::string endTimeText;
  // The backup the job runs (backupFile, generations, testRestore), the one description of a
  // backup the run-now road checks and builds from.
  maintenance::BackupRequest backup;
  std::int32_t serverVersion = -1;  // the year the dialog read from the server
  // The database's recovery model (FULL, BULK_LOGGED, SIMPLE), read for a log backup only; empty
  // when not read.
  std::string recoveryModel;
};

// Which input a refusal points at (the form focuses it).
enum class JobInput { JobName, StartTime, EndTime, BackupFile, WeekDays, Generations, TestRestore, Kind, Checksum };

struct InputProblem {
  JobInput input;
  std::string message;
};

// Whether a path has both a folder part and a file-name part, split at its last "\", "/" or
// drive ":".
bool hasFolderAndFileName(std::string_view path);

// The checks in their order: the trimmed job name, the start time (and for a job that repeats
// within its day an end time after it), the backup file (for a
// local server folder and file name, for a remote one only that it is given; then that the
// batch carries it exactly, maintenance::backupFileProblem, and what the kind of backup allows,
// maintenance::kindProblem, and no log backup of a SIMPLE database), for a weekly job at least one day, then what the server's release
// allows. The first failure, or nothing when all pass.
std::optional<InputProblem> validateJobInputs(const JobInputs& inputs, bool serverIsLocal,
                                              const AgentDate& today);

// The entry to register: the name as typed, the start date from the picker for a one-time job
// and today for the others, the day mask for a weekly job, the day for a monthly one, the minutes
// and end time of a daily job that repeats within its day.
TJobEntry CollectJobSettings(const JobInputs& inputs, const AgentDate& today);

// The freq_interval sent: 0 once, 1 daily, the day mask weekly, the day monthly; 0 otherwise.
std::int32_t scheduleInterval(const TJobEntry& entry);

// select count(*) as cnt ... where name = '<trimmed name>'
std::vector<std::string> jobExistsLines(std::string_view jobName);
// EXECUTE msdb.dbo.sp_add_job ...; a one-time job deletes itself after its run. Without a login
// name (Windows authentication) the owner is left out: the job is the caller's.
std::vector<std::string> addJobLines(const TJobEntry& entry, std::string_view ownerLoginName);
// The step's backup batch: the immediate backup batch's lines, each ended by CR LF, written
// for the inside of an N'...' literal (every quote doubled, so the path's quotes come out
// fourfold; the database name's "]" doubled inside its brackets). A differential, a log or a
// backup with checksums runs that kind's batch (maintenance::backupCommandLines).
std::string jobStepCommand(std::string_view databaseName, std::string_view backupFile,
                           maintenance::BackupKind kind = maintenance::BackupKind::Full, bool checksum = false);
// EXECUTE msdb.dbo.sp_add_jobstep ... with the batch as step 1's command.
std::vector<std::string> addJobStepLines(const TJobEntry& entry, std::string_view databaseName);

// The steps after the backup, when the job keeps generations (and, later, proves its backup):
// each a sp_add_jobstep statement, step 1 going on to them on success and each one ending the job
// with failure when it fails, so the job list shows it. None for a job that only backs up.
std::vector<std::vector<std::string>> followingStepLines(const TJobEntry& entry, std::string_view databaseName);
// EXEC msdb.dbo.sp_add_jobschedule ...; a job that repeats within its day sends freq_subday_type 4,
// its minutes and its active_end_time.
std::vector<std::string> addJobScheduleLines(const TJobEntry& entry);
// EXEC msdb.dbo.sp_add_jobserver ... (the Agent's own server)
std::vector<std::string> addJobServerLines(const TJobEntry& entry);
// EXEC msdb.dbo.sp_delete_job ...
std::vector<std::string> deleteJobLines(std::string_view jobName);

}  // namespace bv::agent
