#include "core/agent/job_catalogue.h"

#include <charconv>
#include <iterator>

#include "core/db/database.h"

namespace bv::agent {
namespace {

// Drops `count` characters (code points of the UTF-8 text) from the front.
std::string_view dropCharacters(std::string_view text, std::size_t count) {
  std::size_t i = 0;
  for (std::size_t n = 0; n < count && i < text.size(); ++n) {
    ++i;
    while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
  }
  return text.substr(i);
}

// The text less its last character (code point).
std::string_view dropLastCharacter(std::string_view text) {
  if (text.empty()) return text;
  std::size_t end = text.size() - 1;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

// Both forms end alike: each job's last outcome from its history, then the order of creation.
std::vector<std::string> withLastRunLines(std::vector<std::string> head) {
  static const char* const kLastRunLines[] = {
      "  LEFT JOIN ( ",
      "    select hist_all.job_id, hist_all.run_status, hist_all.run_date, hist_all.run_time ",
      "    from msdb.dbo.sysjobhistory as hist_all ",
      "    inner join ( ",
      "      select job_id, step_id, max( ",
      "      \tconvert(varchar,run_date) + substring('000000'+convert(varchar,run_time), "
      "len('000000'+convert(varchar,run_time)) - 5, 6  ) ",
      "      ) as run_datetime ",
      "      from msdb.dbo.sysjobhistory ",
      "      where step_id = 0 ",
      "      group by job_id, step_id ",
      "    ) as hist_max ",
      "      on hist_max.job_id = hist_all.job_id and ",
      "      hist_max.step_id = hist_all.step_id and ",
      "      hist_max.run_datetime = (convert(varchar,hist_all.run_date) + "
      "substring('000000'+convert(varchar,hist_all.run_time), "
      "len('000000'+convert(varchar,hist_all.run_time)) - 5, 6)) ",
      "  ) as hist ",
      "    ON hist.job_id = jobs.job_id ",
      "ORDER BY jobs.date_created ",
  };
  head.insert(head.end(), std::begin(kLastRunLines), std::end(kLastRunLines));
  return head;
}

}  // namespace

std::vector<std::string> serverVersionQueryLines() { return {"SELECT @@VERSION AS VERSION"}; }

std::int32_t parseServerVersion(std::string_view versionText) {
  constexpr std::size_t kYearStart = 21;  // the 22nd character
  constexpr std::size_t kYearLength = 4;
  std::string_view year =
      versionText.size() > kYearStart ? versionText.substr(kYearStart, kYearLength) : std::string_view();
  while (!year.empty() && year.front() == ' ') year.remove_prefix(1);
  if (year.empty()) return -1;
  std::int32_t value = 0;
  for (char c : year) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

bool usesScheduleTableQuery(std::int32_t serverVersion) { return serverVersion >= 2005; }

std::vector<std::string> catalogueQueryLines(std::int32_t serverVersion) {
  return usesScheduleTableQuery(serverVersion) ? scheduleTableCatalogueQueryLines()
                                               : jobScheduleCatalogueQueryLines();
}

std::vector<std::string> scheduleTableCatalogueQueryLines() {
  return withLastRunLines({
      "SELECT ",
      " jobs.name, ",
      " jobs.description,",
      " scdl.freq_type, ",
      " scdl.freq_interval,",
      " jscdl.next_run_date, ",
      " jscdl.next_run_time, ",
      " scdl.active_start_date, ",
      " scdl.active_start_time,",
      " isnull(hist.run_status,'') as run_status, ",
      " isnull(hist.run_date,0) as run_date, ",
      " isnull(hist.run_time,0) as run_time, ",
      " step.command ",
      "FROM ",
      "  msdb.dbo.sysjobs as jobs ",
      "  INNER JOIN msdb.dbo.sysjobschedules as jscdl ",
      "    ON jscdl.job_id = jobs.job_id ",
      "  INNER JOIN msdb.dbo.sysschedules as scdl ",
      "    ON scdl.schedule_id = jscdl.schedule_id ",
      "  INNER JOIN msdb.dbo.sysjobsteps as step ",
      "     ON step.job_id = jobs.job_id and step.step_id = 1 ",
  });
}

std::vector<std::string> jobScheduleCatalogueQueryLines() {
  return withLastRunLines({
      "SELECT ",
      " jobs.name, ",
      " jobs.description, ",
      " scdl.freq_type, ",
      " scdl.freq_interval, ",
      " scdl.next_run_date, ",
      " scdl.next_run_time, ",
      " scdl.active_start_date, ",
      " scdl.active_start_time, ",
      " isnull(hist.run_status,'') as run_status, ",
      " isnull(hist.run_date,0) as run_date, ",
      " isnull(hist.run_time,0) as run_time, ",
      " step.command ",
      "FROM ",
      "  msdb.dbo.sysjobs as jobs ",
      "  INNER JOIN msdb.dbo.sysjobschedules as scdl ",
      "    ON scdl.job_id = jobs.job_id ",
      "  INNER JOIN msdb.dbo.sysjobsteps as step ",
      "    ON step.job_id = jobs.job_id and step.step_id = 1 ",
  });
}

std::vector<std::string> minuteScheduleQueryLines(std::int32_t serverVersion) {
  std::vector<std::string> lines{
      "SELECT jobs.name, scdl.freq_type, scdl.active_start_time, scdl.freq_subday_interval, "
      "scdl.active_end_time ",
      "FROM msdb.dbo.sysjobs as jobs ",
  };
  if (usesScheduleTableQuery(serverVersion)) {
    lines.push_back("  INNER JOIN msdb.dbo.sysjobschedules as jscdl ON jscdl.job_id = jobs.job_id ");
    lines.push_back("  INNER JOIN msdb.dbo.sysschedules as scdl ON scdl.schedule_id = jscdl.schedule_id ");
  } else {
    lines.push_back("  INNER JOIN msdb.dbo.sysjobschedules as scdl ON scdl.job_id = jobs.job_id ");
  }
  lines.push_back("WHERE scdl.freq_subday_type = 4 ");
  return lines;
}

MinuteScheduleRow readMinuteScheduleRow(const db::Query& query) {
  MinuteScheduleRow row;
  row.name = query.fieldAsText("name");
  row.freqType = query.fieldAsInteger("freq_type");
  row.activeStartTime = query.fieldAsInteger("active_start_time");
  row.subdayInterval = query.fieldAsInteger("freq_subday_interval");
  row.activeEndTime = query.fieldAsInteger("active_end_time");
  return row;
}

void addMinuteSchedule(std::vector<TJobEntry>& jobs, const MinuteScheduleRow& row) {
  const AgentDateTime start = AgentDateTime::fromPackedTime(row.activeStartTime);
  for (TJobEntry& entry : jobs) {
    if (entry.Name != row.name || entry.FreqType != row.freqType || entry.SubdayMinutes != 0) continue;
    if (entry.StartTime.format("hhnnss") != start.format("hhnnss")) continue;
    entry.SubdayMinutes = static_cast<std::int32_t>(row.subdayInterval);
    entry.EndTime = AgentDateTime::fromPackedTime(row.activeEndTime);
    entry.ScheduleText += " " + std::to_string(entry.SubdayMinutes) + " 分ごと " + entry.StartTime.format("hh:nn") +
                          "〜" + entry.EndTime.format("hh:nn");
  }
}

CatalogueRow readCatalogueRow(const db::Query& query) {
  CatalogueRow row;
  row.name = query.fieldAsText("name");
  row.description = query.fieldAsText("description");
  row.freqType = query.fieldAsInteger("freq_type");
  row.freqInterval = query.fieldAsInteger("freq_interval");
  row.nextRunDate = query.fieldAsInteger("next_run_date");
  row.nextRunTime = query.fieldAsInteger("next_run_time");
  row.activeStartDate = query.fieldAsInteger("active_start_date");
  row.activeStartTime = query.fieldAsInteger("active_start_time");
  row.runStatus = query.fieldAsText("run_status");
  row.runDate = query.fieldAsInteger("run_date");
  row.runTime = query.fieldAsInteger("run_time");
  row.command = query.fieldAsText("command");
  return row;
}

TJobEntry jobEntryFromRow(const CatalogueRow& row) {
  TJobEntry entry;
  entry.Name = row.name;
  entry.Description = row.description;
  entry.FreqType = static_cast<std::int32_t>(row.freqType);
  switch (entry.FreqType) {
    case kFreqOnce:
      entry.StartDate = AgentDateTime::fromPackedDate(row.activeStartDate);
      break;
    case kFreqWeekly:
      entry.WeekDays = static_cast<std::uint16_t>(row.freqInterval & 0xFFFF);
      break;
    case kFreqMonthly:
      entry.MonthDay = static_cast<std::int32_t>(row.freqInterval);
      break;
    default:
      break;
  }
  entry.ScheduleText = scheduleText(entry.FreqType, entry.StartDate, entry.WeekDays, entry.MonthDay);
  entry.StartTime = AgentDateTime::fromPackedTime(row.activeStartTime);
  if (row.nextRunDate != 0) entry.NextRunTime = AgentDateTime::fromPacked(row.nextRunDate, row.nextRunTime);
  entry.LastRunStatus = row.runStatus;
  if (!entry.LastRunStatus.empty() && row.runDate != 0) {
    entry.LastRunTime = AgentDateTime::fromPacked(row.runDate, row.runTime);
  }
  entry.BackupFile = backupFileFromCommand(row.command);
  return entry;
}

std::string weekDayLetters(std::uint16_t weekDays) {
  static constexpr struct {
    std::uint16_t bit;
    std::string_view letter;
  } kDays[] = {{kSunday, "日"},   {kMonday, "月"}, {kTuesday, "火"}, {kWednesday, "水"},
               {kThursday, "木"}, {kFriday, "金"}, {kSaturday, "土"}};
  std::string letters;
  for (const auto& day : kDays) {
    if ((weekDays & day.bit) != 0) letters += day.letter;
  }
  return letters;
}

std::string scheduleText(std::int32_t freqType, const AgentDateTime& startDate, std::uint16_t weekDays,
                         std::int32_t monthDay) {
  switch (freqType) {
    case kFreqOnce:
      return startDate.format("yyyy/mm/dd");
    case kFreqDaily:
      return "毎日";
    case kFreqWeekly:
      return "毎週 " + weekDayLetters(weekDays) + "曜日";
    case kFreqMonthly:
      return "毎月 " + std::to_string(monthDay) + "日";
    default:
      return {};
  }
}

std::string statusWord(std::int64_t runStatus) {
  switch (runStatus) {
    case 0:
      return "失敗";
    case 1:
      return "成功";
    case 2:
      return "再試行";
    case 3:
      return "取消";
    case 4:
      return "実行中";
    default:
      return "不明";
  }
}

std::string backupFileFromCommand(std::string_view command) {
  constexpr std::string_view kMarker = "@strFile = REPLACE(N'";
  const std::size_t marker = command.find(kMarker);
  if (marker != std::string_view::npos) {
    // The literal as the server will read it: up to the first lone quote, "''" standing for "'".
    const std::string_view literal = command.substr(marker + kMarker.size());
    std::string path;
    for (std::size_t i = 0; i < literal.size(); ++i) {
      if (literal[i] != '\'') {
        path.push_back(literal[i]);
      } else if (i + 1 < literal.size() && literal[i + 1] == '\'') {
        path.push_back('\'');
        ++i;
      } else {
        return path;
      }
    }
    // An unclosed literal is not of this program's making: the old cut below.
  }
  std::string_view rest = command.substr(marker == std::string_view::npos ? 0 : marker);
  rest = dropCharacters(rest, kMarker.size());
  const std::size_t comma = rest.find(',');
  if (comma == std::string_view::npos) return {};
  return std::string(dropLastCharacter(rest.substr(0, comma)));
}

std::string startTimeText(const TJobEntry& entry) { return entry.StartTime.format("hh:nn:ss"); }

std::string lastOutcomeText(const TJobEntry& entry) {
  if (entry.LastRunStatus.empty() || entry.LastRunTime.isNone()) return "(未実行)";
  std::int64_t status = -1;
  const char* begin = entry.LastRunStatus.data();
  const char* end = begin + entry.LastRunStatus.size();
  while (begin != end && *begin == ' ') ++begin;
  const auto [ptr, ec] = std::from_chars(begin, end, status);
  if (ec != std::errc() || ptr != end) status = -1;
  return statusWord(status) + "(" + entry.LastRunTime.format("yyyy/mm/dd hh:nn:ss") + ")";
}

std::string nextRunText(const TJobEntry& entry) {
  if (entry.NextRunTime.isNone()) return "(不明)";
  return entry.NextRunTime.format("yyyy/mm/dd hh:nn:ss");
}

}  // namespace bv::agent
