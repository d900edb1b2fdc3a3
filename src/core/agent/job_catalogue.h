// The list of SQL Server Agent jobs as the job dialog shows it: the server version that
// chooses the catalogue query, the two catalogue queries, the conversion of a catalogue row
// into a TJobEntry, and the texts of the list's columns. Qt-free.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/agent/agent_time.h"
#include "core/maintenance/operations.h"

namespace bv::db {
class Query;
}

namespace bv::agent {

// Agent freq_type values.
inline constexpr std::int32_t kFreqOnce = 1;
inline constexpr std::int32_t kFreqDaily = 4;
inline constexpr std::int32_t kFreqWeekly = 8;
inline constexpr std::int32_t kFreqMonthly = 16;

// Weekly day mask bits (the Agent's weekly freq_interval).
inline constexpr std::uint16_t kSunday = 1;
inline constexpr std::uint16_t kMonday = 2;
inline constexpr std::uint16_t kTuesday = 4;
inline constexpr std::uint16_t kWednesday = 8;
inline constexpr std::uint16_t kThursday = 16;
inline constexpr std::uint16_t kFriday = 32;
inline constexpr std::uint16_t kSaturday = 64;

// One Agent backup job as listed, and the settings of a job being registered.
struct TJobEntry {
  std::string Name;
  std::string Description;
  AgentDateTime StartTime;     // time of day of the schedule's start
  std::string BackupFile;      // taken from the first step's command
  std::string LastRunStatus;   // run_status of the latest outcome, as text
  AgentDateTime LastRunTime;   // none when there is none
  AgentDateTime NextRunTime;   // none when unknown
  std::int32_t FreqType = 0;   // kFreqOnce, kFreqDaily, kFreqWeekly, kFreqMonthly
  AgentDateTime StartDate;     // a one-time job's day; none otherwise
  std::uint16_t WeekDays = 0;  // weekly day mask
  std::int32_t MonthDay = 0;   // day of month of a monthly job
  std::string ScheduleText;    // the schedule as the list shows it
  // A schedule that repeats within its day (freq_subday_type 4): every SubdayMinutes minutes from
  // StartTime up to EndTime. 0 for one run a day.
  std::int32_t SubdayMinutes = 0;
  AgentDateTime EndTime;
  // The backup a job being registered runs, as the one description of a backup has it (its file
  // is BackupFile, what follows the backup its generations and test restore); the login and the
  // database are the dialog's.
  maintenance::BackupRequest Backup;
};

inline constexpr std::string_view kConnectFailed = "データベースの接続でエラーが発生しました。";
inline constexpr std::string_view kVersionFailed = "SQL SERVERバージョン情報の取得でエラーが発生しました。";
inline constexpr std::string_view kVersionUnknown = "バージョンが特定できません。";

// "SELECT @@VERSION AS VERSION"; the answer is read from the field "VERSION".
std::vector<std::string> serverVersionQueryLines();

// The year in the version text: the 4 characters from the 22nd, leading blanks skipped;
// -1 for any other non-digit, a trailing blank, or nothing to read. A server that puts two
// blanks before its year thus reads as the year's first three digits (200 for 2000).
std::int32_t parseServerVersion(std::string_view versionText);

// Whether a server of this version keeps its schedules in msdb.dbo.sysschedules (2005 and
// later), which chooses the catalogue query.
bool usesScheduleTableQuery(std::int32_t serverVersion);

// The catalogue query for a server version: every job with a schedule and a step 1, its
// latest outcome (step 0 history) when it has run, ordered by creation date. Columns: name,
// description, freq_type, freq_interval, next_run_date, next_run_time, active_start_date,
// active_start_time, run_status, run_date, run_time, command.
std::vector<std::string> catalogueQueryLines(std::int32_t serverVersion);
std::vector<std::string> scheduleTableCatalogueQueryLines();  // 2005 and later
std::vector<std::string> jobScheduleCatalogueQueryLines();    // before 2005

// One row of the catalogue query, as read.
struct CatalogueRow {
  std::string name;
  std::string description;
  std::int64_t freqType = 0;
  std::int64_t freqInterval = 0;
  std::int64_t nextRunDate = 0;
  std::int64_t nextRunTime = 0;
  std::int64_t activeStartDate = 0;
  std::int64_t activeStartTime = 0;
  std::string runStatus;
  std::int64_t runDate = 0;
  std::int64_t runTime = 0;
  std::string command;
};

// Reads the current row of an open catalogue query; throws the query's errors.
CatalogueRow readCatalogueRow(const db::Query& query);

// The entry for a row. Throws AgentTimeError when a packed date or time it needs names no
// real day or time.
TJobEntry jobEntryFromRow(const CatalogueRow& row);

// The day letters of the set bits, Sunday first: 日月火水木金土.
std::string weekDayLetters(std::uint16_t weekDays);
// "yyyy/mm/dd" of the start date, "毎日", "毎週 " + letters + "曜日", "毎月 " + day + "日",
// or empty for an unknown freq_type.
std::string scheduleText(std::int32_t freqType, const AgentDateTime& startDate, std::uint16_t weekDays,
                         std::int32_t monthDay);

// The schedules that repeat every N minutes within their day (freq_subday_type 4), which the
// catalogue query does not read, so that the list can say so: per schedule the job's name, the
// freq_type and active_start_time that match it to its catalogue row, freq_subday_interval and
// active_end_time.
std::vector<std::string> minuteScheduleQueryLines(std::int32_t serverVersion);

struct MinuteScheduleRow {
  std::string name;
  std::int64_t freqType = 0;
  std::int64_t activeStartTime = 0;
  std::int64_t subdayInterval = 0;
  std::int64_t activeEndTime = 0;
};
MinuteScheduleRow readMinuteScheduleRow(const db::Query& query);

// " N 分ごと hh:mm〜hh:mm" after the schedule text of each listed entry the row describes (its
// name, freq_type and start time), with its minutes and end time taken over.
void addMinuteSchedule(std::vector<TJobEntry>& jobs, const MinuteScheduleRow& row);

// The word for an Agent run_status: 0 失敗, 1 成功, 2 再試行, 3 取消, 4 実行中, other 不明.
std::string statusWord(std::int64_t runStatus);

// The backup file of a step command. A command of this program's shape holds the path as the
// N'...' literal after "@strFile = REPLACE(N'": it is read to its closing quote, with the
// doubled quotes undone, so commas and quotes in the path stay. Any other command yields the
// old cut: from the marker (or the start) less the marker's 21 characters, up to two characters
// before the first comma; empty without a comma.
std::string backupFileFromCommand(std::string_view command);

// The texts of the list's columns 5 to 7.
std::string startTimeText(const TJobEntry& entry);  // "hh:nn:ss"
// "(未実行)" without a status or without a run time; else word + "(yyyy/mm/dd hh:nn:ss)".
std::string lastOutcomeText(const TJobEntry& entry);
// "yyyy/mm/dd hh:nn:ss", or "(不明)" when unknown.
std::string nextRunText(const TJobEntry& entry);

}  // namespace bv::agent
