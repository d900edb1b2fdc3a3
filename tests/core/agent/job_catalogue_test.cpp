// The job list's logic: the version that chooses the catalogue query, the queries as sent,
// a catalogue row turned into an entry, and the texts the list shows.
#include "core/agent/job_catalogue.h"

#include <gtest/gtest.h>

#include "core/maintenance/command_builder.h"

namespace bv::agent {
namespace {

using Lines = std::vector<std::string>;

// --- Version -----------------------------------------------------------------------------

TEST(ParseServerVersion, ReadsTheYearFromThe22ndCharacter) {
  EXPECT_EQ(parseServerVersion("Microsoft SQL Server 2005 - 9.00.5000.00 (Intel X86)"), 2005);
  EXPECT_EQ(parseServerVersion("Microsoft SQL Server 2019 (RTM-CU18) (KB5017593) - 15.0.4261.1 (X64)"), 2019);
  EXPECT_EQ(parseServerVersion("Microsoft SQL Server 2008 R2 (SP2) - 10.50.4000.0"), 2008);
}

TEST(ParseServerVersion, TwoBlanksBeforeTheYearShiftTheDigits) {
  EXPECT_EQ(parseServerVersion("Microsoft SQL Server  2000 - 8.00.2039 (Intel X86)"), 200);
  EXPECT_FALSE(usesScheduleTableQuery(parseServerVersion("Microsoft SQL Server  2000 - 8.00.2039")));
}

TEST(ParseServerVersion, AnythingButLeadingBlanksAndDigitsIsUnreadable) {
  EXPECT_EQ(parseServerVersion(""), -1);
  EXPECT_EQ(parseServerVersion("Microsoft SQL Server "), -1);
  EXPECT_EQ(parseServerVersion("Microsoft SQL Server 7.00 - 7.00.623"), -1);
  EXPECT_EQ(parseServerVersion("Microsoft SQL Server 99 - x"), -1);  // a trailing blank
  EXPECT_EQ(parseServerVersion("Microsoft SQL Azure (RTM) - 12.0.2000.8"), -1);
  EXPECT_EQ(parseServerVersion("Microsoft SQL Server    "), -1);
  EXPECT_EQ(parseServerVersion("Microsoft SQL Server 201"), 201);  // shorter than four
}

TEST(UsesScheduleTableQuery, EveryVersionFrom2005On) {
  EXPECT_FALSE(usesScheduleTableQuery(-1));
  EXPECT_FALSE(usesScheduleTableQuery(0));
  EXPECT_FALSE(usesScheduleTableQuery(200));
  EXPECT_FALSE(usesScheduleTableQuery(2000));
  EXPECT_TRUE(usesScheduleTableQuery(2005));
  EXPECT_TRUE(usesScheduleTableQuery(2008));
  EXPECT_TRUE(usesScheduleTableQuery(2019));
  EXPECT_TRUE(usesScheduleTableQuery(2022));
}

TEST(ServerVersionQuery, AsksForTheVersionByItsFieldName) {
  EXPECT_EQ(serverVersionQueryLines(), (Lines{"SELECT @@VERSION AS VERSION"}));
}

// --- Catalogue queries ---------------------------------------------------------------------

const Lines kScheduleTableQuery = {
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
    "substring('000000'+convert(varchar,hist_all.run_time), len('000000'+convert(varchar,hist_all.run_time)) "
    "- 5, 6)) ",
    "  ) as hist ",
    "    ON hist.job_id = jobs.job_id ",
    "ORDER BY jobs.date_created ",
};

const Lines kJobScheduleQuery = {
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
    "substring('000000'+convert(varchar,hist_all.run_time), len('000000'+convert(varchar,hist_all.run_time)) "
    "- 5, 6)) ",
    "  ) as hist ",
    "    ON hist.job_id = jobs.job_id ",
    "ORDER BY jobs.date_created ",
};

TEST(CatalogueQuery, TheScheduleTableQueryIsSentLineForLine) {
  EXPECT_EQ(scheduleTableCatalogueQueryLines(), kScheduleTableQuery);
  EXPECT_EQ(kScheduleTableQuery[26].substr(0, 7), "      \t");
}

TEST(CatalogueQuery, TheOlderQueryIsSentLineForLine) {
  EXPECT_EQ(jobScheduleCatalogueQueryLines(), kJobScheduleQuery);
  EXPECT_EQ(kJobScheduleQuery[24].substr(0, 7), "      \t");
}

TEST(CatalogueQuery, TheVersionChoosesTheQuery) {
  EXPECT_EQ(catalogueQueryLines(2005), kScheduleTableQuery);
  EXPECT_EQ(catalogueQueryLines(2019), kScheduleTableQuery);
  EXPECT_EQ(catalogueQueryLines(200), kJobScheduleQuery);
  EXPECT_EQ(catalogueQueryLines(0), kJobScheduleQuery);
  EXPECT_EQ(catalogueQueryLines(-1), kJobScheduleQuery);
}

// --- Rows ----------------------------------------------------------------------------------

CatalogueRow row(std::int64_t freqType, std::int64_t freqInterval) {
  CatalogueRow r;
  r.name = "nightly";
  r.description = "説明文";
  r.freqType = freqType;
  r.freqInterval = freqInterval;
  r.activeStartDate = 20240315;
  r.activeStartTime = 23000;
  r.runStatus = "0";  // the server's answer for a job without history
  r.command = "";
  return r;
}

TEST(JobEntryFromRow, AOneTimeJobShowsItsStartDate) {
  const TJobEntry entry = jobEntryFromRow(row(kFreqOnce, 0));
  EXPECT_EQ(entry.Name, "nightly");
  EXPECT_EQ(entry.Description, "説明文");
  EXPECT_EQ(entry.FreqType, kFreqOnce);
  EXPECT_EQ(entry.StartDate, AgentDateTime::fromPackedDate(20240315));
  EXPECT_EQ(entry.ScheduleText, "2024/03/15");
  EXPECT_EQ(entry.WeekDays, 0);
  EXPECT_EQ(entry.MonthDay, 0);
  EXPECT_EQ(startTimeText(entry), "02:30:00");
  EXPECT_FALSE(entry.StartTime.hasDate());
}

TEST(JobEntryFromRow, DailyWeeklyAndMonthlyJobsKeepOnlyTheirOwnSetting) {
  const TJobEntry daily = jobEntryFromRow(row(kFreqDaily, 1));
  EXPECT_EQ(daily.ScheduleText, "毎日");
  EXPECT_TRUE(daily.StartDate.isNone());
  EXPECT_EQ(daily.WeekDays, 0);
  EXPECT_EQ(daily.MonthDay, 0);

  const TJobEntry weekly = jobEntryFromRow(row(kFreqWeekly, kMonday | kWednesday));
  EXPECT_EQ(weekly.ScheduleText, "毎週 月水曜日");
  EXPECT_EQ(weekly.WeekDays, kMonday | kWednesday);
  EXPECT_TRUE(weekly.StartDate.isNone());
  EXPECT_EQ(weekly.MonthDay, 0);
  EXPECT_EQ(jobEntryFromRow(row(kFreqWeekly, 127)).ScheduleText, "毎週 日月火水木金土曜日");
  EXPECT_EQ(jobEntryFromRow(row(kFreqWeekly, 65)).ScheduleText, "毎週 日土曜日");
  EXPECT_EQ(jobEntryFromRow(row(kFreqWeekly, 0x10000 | kFriday)).WeekDays, kFriday);  // low 16 bits

  const TJobEntry monthly = jobEntryFromRow(row(kFreqMonthly, 31));
  EXPECT_EQ(monthly.ScheduleText, "毎月 31日");
  EXPECT_EQ(monthly.MonthDay, 31);
  EXPECT_EQ(monthly.WeekDays, 0);
  EXPECT_TRUE(monthly.StartDate.isNone());
}

TEST(JobEntryFromRow, AnUnknownFrequencyHasNoScheduleText) {
  for (const std::int64_t freq : {0, 2, 32, 64, 128}) {
    const TJobEntry entry = jobEntryFromRow(row(freq, 5));
    EXPECT_EQ(entry.ScheduleText, "") << freq;
    EXPECT_TRUE(entry.StartDate.isNone());
    EXPECT_EQ(entry.WeekDays, 0);
    EXPECT_EQ(entry.MonthDay, 0);
  }
}

TEST(JobEntryFromRow, NextRunIsUnknownWithoutADate) {
  CatalogueRow r = row(kFreqDaily, 1);
  EXPECT_EQ(nextRunText(jobEntryFromRow(r)), "(不明)");
  r.nextRunDate = 20240316;
  r.nextRunTime = 20000;
  const TJobEntry entry = jobEntryFromRow(r);
  EXPECT_EQ(entry.NextRunTime, AgentDateTime::fromPacked(20240316, 20000));
  EXPECT_EQ(nextRunText(entry), "2024/03/16 02:00:00");
}

TEST(JobEntryFromRow, TheLastOutcomeShowsItsWordAndTime) {
  CatalogueRow r = row(kFreqDaily, 1);
  r.runStatus = "1";
  r.runDate = 20060501;
  r.runTime = 20000;
  const TJobEntry entry = jobEntryFromRow(r);
  EXPECT_EQ(entry.LastRunStatus, "1");
  EXPECT_EQ(lastOutcomeText(entry), "成功(2006/05/01 02:00:00)");
  const std::pair<const char*, const char*> words[] = {{"0", "失敗"}, {"1", "成功"},   {"2", "再試行"},
                                                       {"3", "取消"}, {"4", "実行中"}, {"5", "不明"},
                                                       {"-1", "不明"}};
  for (const auto& [status, word] : words) {
    r.runStatus = status;
    EXPECT_EQ(lastOutcomeText(jobEntryFromRow(r)), std::string(word) + "(2006/05/01 02:00:00)") << status;
  }
}

TEST(JobEntryFromRow, AJobThatNeverRanShowsNotRunYet) {
  CatalogueRow r = row(kFreqDaily, 1);  // "0" with run_date 0, as the server answers
  EXPECT_TRUE(jobEntryFromRow(r).LastRunTime.isNone());
  EXPECT_EQ(lastOutcomeText(jobEntryFromRow(r)), "(未実行)");
  r.runStatus = "";  // an empty status keeps no time, whatever the date says
  r.runDate = 20060501;
  EXPECT_TRUE(jobEntryFromRow(r).LastRunTime.isNone());
  EXPECT_EQ(lastOutcomeText(jobEntryFromRow(r)), "(未実行)");
}

TEST(JobEntryFromRow, APackedValueThatNamesNoDayEndsTheRow) {
  CatalogueRow once = row(kFreqOnce, 0);
  once.activeStartDate = 20241340;
  EXPECT_THROW(jobEntryFromRow(once), AgentTimeError);
  CatalogueRow ran = row(kFreqDaily, 1);
  ran.runStatus = "1";
  ran.runDate = 20240101;
  ran.runTime = 250000;
  EXPECT_THROW(jobEntryFromRow(ran), AgentTimeError);
}

// --- Backup file of a step -----------------------------------------------------------------

// The step command as the server keeps it: the batch of the immediate backup.
std::string storedStep(const std::string& database, const std::string& path) {
  std::string text;
  for (const auto& line : maintenance::backupCommandLines(database, path)) text += line + "\r\n";
  return text;
}

TEST(BackupFileFromCommand, ReadsThePathOfThisProgramsStep) {
  EXPECT_EQ(backupFileFromCommand(storedStep("Sales", "C:\\backup\\Sales_%date%.bak")),
            "C:\\backup\\Sales_%date%.bak");
  EXPECT_EQ(backupFileFromCommand(storedStep("Sales", "/var/opt/mssql/バックアップ/日次.bak")),
            "/var/opt/mssql/バックアップ/日次.bak");
}

TEST(BackupFileFromCommand, APathWithCommasOrQuotesShowsWhole) {
  EXPECT_EQ(backupFileFromCommand(storedStep("Sales", "D:\\a,b\\x,y.bak")), "D:\\a,b\\x,y.bak");
  EXPECT_EQ(backupFileFromCommand(storedStep("Sales", "D:\\o'neil\\x.bak")), "D:\\o'neil\\x.bak");
  EXPECT_EQ(backupFileFromCommand(storedStep("Sales", "D:\\''\\x.bak")), "D:\\''\\x.bak");
}

TEST(BackupFileFromCommand, AnyOtherCommandKeepsTheOldCut) {
  // No marker: less the first 21 characters, ended two characters before the first comma.
  EXPECT_EQ(backupFileFromCommand("0123456789ABCDEFGHIJKLMNOP,rest"), "LMNO");
  EXPECT_EQ(backupFileFromCommand("0123456789ABCDEFGHIJKLMNOP"), "");
  EXPECT_EQ(backupFileFromCommand("short,"), "");
  EXPECT_EQ(backupFileFromCommand(""), "");
  // Characters, not bytes: 21 Japanese letters are dropped whole.
  EXPECT_EQ(backupFileFromCommand("あいうえおかきくけこさしすせそたちつてとなにぬね,x"), "にぬ");
  // The marker with an unclosed literal is not this program's shape.
  EXPECT_EQ(backupFileFromCommand("x @strFile = REPLACE(N'C:\\x, y"), "C:\\");
}

// --- Connection string ---------------------------------------------------------------------

}  // namespace
}  // namespace bv::agent
