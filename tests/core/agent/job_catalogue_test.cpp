// The job list's logic: the version that chooses the catalogue query, the queries as sent,
// a catalogue row turned into an entry, and the texts the list shows.
#include "core/agent/job_catalogue.h"

#include <gtest/gtest.h>

#include "core/maintenance/command_builder.h"
#include "core/db/connection_string.h"

namespace bv::agent {
namespace {

using Lines = std::vector<std::string>;

// --- Version -----------------------------------------------------------------------------

TEST(ParseServerVersion, ReadsTheYearFromThe22ndCharacter) {
  EXPECT_EQ(ParseServerVersion("Microsoft SQL Server 2005 - 9.00.5000.00 (Intel X86)"), 2005);
  EXPECT_EQ(ParseServerVersion("Microsoft SQL Server 2019 (RTM-CU18) (KB5017593) - 15.0.4261.1 (X64)"),
            2019);
  EXPECT_EQ(ParseServerVersion("Microsoft SQL Server 2008 R2 (SP2) - 10.50.4000.0"), 2008);
}

TEST(ParseServerVersion, TwoBlanksBeforeTheYearShiftTheDigits) {
  EXPECT_EQ(ParseServerVersion("Microsoft SQL Server  2000 - 8.00.2039 (Intel X86)"), 200);
  EXPECT_FALSE(UsesScheduleTableQuery(ParseServerVersion("Microsoft SQL Server  2000 - 8.00.2039")));
}

TEST(ParseServerVersion, AnythingButLeadingBlanksAndDigitsIsUnreadable) {
  EXPECT_EQ(ParseServerVersion(""), -1);
  EXPECT_EQ(ParseServerVersion("Microsoft SQL Server "), -1);
  EXPECT_EQ(ParseServerVersion("Microsoft SQL Server 7.00 - 7.00.623"), -1);
  EXPECT_EQ(ParseServerVersion("Microsoft SQL Server 99 - x"), -1);  // a trailing blank
  EXPECT_EQ(ParseServerVersion("Microsoft SQL Azure (RTM) - 12.0.2000.8"), -1);
  EXPECT_EQ(ParseServerVersion("Microsoft SQL Server    "), -1);
  EXPECT_EQ(ParseServerVersion("Microsoft SQL Server 201"), 201);  // shorter than four
}

TEST(UsesScheduleTableQuery, EveryVersionFrom2005On) {
  EXPECT_FALSE(UsesScheduleTableQuery(-1));
  EXPECT_FALSE(UsesScheduleTableQuery(0));
  EXPECT_FALSE(UsesScheduleTableQuery(200));
  EXPECT_FALSE(UsesScheduleTableQuery(2000));
  EXPECT_TRUE(UsesScheduleTableQuery(2005));
  EXPECT_TRUE(UsesScheduleTableQuery(2008));
  EXPECT_TRUE(UsesScheduleTableQuery(2019));
  EXPECT_TRUE(UsesScheduleTableQuery(2022));
}

TEST(ServerVersionQuery, AsksForTheVersionByItsFieldName) {
  EXPECT_EQ(ServerVersionQueryLines(), (Lines{"SELECT @@VERSION AS VERSION"}));
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
    "      \tconvert(varchar,run_date) + substring('000000'+convert(varchar,run_time), len('000000'+convert(varchar,run_time)) - 5, 6  ) ",
    "      ) as run_datetime ",
    "      from msdb.dbo.sysjobhistory ",
    "      where step_id = 0 ",
    "      group by job_id, step_id ",
    "    ) as hist_max ",
    "      on hist_max.job_id = hist_all.job_id and ",
    "      hist_max.step_id = hist_all.step_id and ",
    "      hist_max.run_datetime = (convert(varchar,hist_all.run_date) + substring('000000'+convert(varchar,hist_all.run_time), len('000000'+convert(varchar,hist_all.run_time)) - 5, 6)) ",
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
    "      \tconvert(varchar,run_date) + substring('000000'+convert(varchar,run_time), len('000000'+convert(varchar,run_time)) - 5, 6  ) ",
    "      ) as run_datetime ",
    "      from msdb.dbo.sysjobhistory ",
    "      where step_id = 0 ",
    "      group by job_id, step_id ",
    "    ) as hist_max ",
    "      on hist_max.job_id = hist_all.job_id and ",
    "      hist_max.step_id = hist_all.step_id and ",
    "      hist_max.run_datetime = (convert(varchar,hist_all.run_date) + substring('000000'+convert(varchar,hist_all.run_time), len('000000'+convert(varchar,hist_all.run_time)) - 5, 6)) ",
    "  ) as hist ",
    "    ON hist.job_id = jobs.job_id ",
    "ORDER BY jobs.date_created ",
};

TEST(CatalogueQuery, TheScheduleTableQueryIsSentLineForLine) {
  EXPECT_EQ(ScheduleTableCatalogueQueryLines(), kScheduleTableQuery);
  EXPECT_EQ(kScheduleTableQuery[26].substr(0, 7), "      \t");
}

TEST(CatalogueQuery, TheOlderQueryIsSentLineForLine) {
  EXPECT_EQ(JobScheduleCatalogueQueryLines(), kJobScheduleQuery);
  EXPECT_EQ(kJobScheduleQuery[24].substr(0, 7), "      \t");
}

TEST(CatalogueQuery, TheVersionChoosesTheQuery) {
  EXPECT_EQ(CatalogueQueryLines(2005), kScheduleTableQuery);
  EXPECT_EQ(CatalogueQueryLines(2019), kScheduleTableQuery);
  EXPECT_EQ(CatalogueQueryLines(200), kJobScheduleQuery);
  EXPECT_EQ(CatalogueQueryLines(0), kJobScheduleQuery);
  EXPECT_EQ(CatalogueQueryLines(-1), kJobScheduleQuery);
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
  const TJobEntry entry = JobEntryFromRow(row(kFreqOnce, 0));
  EXPECT_EQ(entry.Name, "nightly");
  EXPECT_EQ(entry.Description, "説明文");
  EXPECT_EQ(entry.FreqType, kFreqOnce);
  EXPECT_EQ(entry.StartDate, AgentDateTime::fromPackedDate(20240315));
  EXPECT_EQ(entry.ScheduleText, "2024/03/15");
  EXPECT_EQ(entry.WeekDays, 0);
  EXPECT_EQ(entry.MonthDay, 0);
  EXPECT_EQ(StartTimeText(entry), "02:30:00");
  EXPECT_FALSE(entry.StartTime.hasDate());
}

TEST(JobEntryFromRow, DailyWeeklyAndMonthlyJobsKeepOnlyTheirOwnSetting) {
  const TJobEntry daily = JobEntryFromRow(row(kFreqDaily, 1));
  EXPECT_EQ(daily.ScheduleText, "毎日");
  EXPECT_TRUE(daily.StartDate.isNone());
  EXPECT_EQ(daily.WeekDays, 0);
  EXPECT_EQ(daily.MonthDay, 0);

  const TJobEntry weekly = JobEntryFromRow(row(kFreqWeekly, kMonday | kWednesday));
  EXPECT_EQ(weekly.ScheduleText, "毎週 月水曜日");
  EXPECT_EQ(weekly.WeekDays, kMonday | kWednesday);
  EXPECT_TRUE(weekly.StartDate.isNone());
  EXPECT_EQ(weekly.MonthDay, 0);
  EXPECT_EQ(JobEntryFromRow(row(kFreqWeekly, 127)).ScheduleText, "毎週 日月火水木金土曜日");
  EXPECT_EQ(JobEntryFromRow(row(kFreqWeekly, 65)).ScheduleText, "毎週 日土曜日");
  EXPECT_EQ(JobEntryFromRow(row(kFreqWeekly, 0x10000 | kFriday)).WeekDays, kFriday);  // low 16 bits

  const TJobEntry monthly = JobEntryFromRow(row(kFreqMonthly, 31));
  EXPECT_EQ(monthly.ScheduleText, "毎月 31日");
  EXPECT_EQ(monthly.MonthDay, 31);
  EXPECT_EQ(monthly.WeekDays, 0);
  EXPECT_TRUE(monthly.StartDate.isNone());
}

TEST(JobEntryFromRow, AnUnknownFrequencyHasNoScheduleText) {
  for (const std::int64_t freq : {0, 2, 32, 64, 128}) {
    const TJobEntry entry = JobEntryFromRow(row(freq, 5));
    EXPECT_EQ(entry.ScheduleText, "") << freq;
    EXPECT_TRUE(entry.StartDate.isNone());
    EXPECT_EQ(entry.WeekDays, 0);
    EXPECT_EQ(entry.MonthDay, 0);
  }
}

TEST(JobEntryFromRow, NextRunIsUnknownWithoutADate) {
  CatalogueRow r = row(kFreqDaily, 1);
  EXPECT_EQ(NextRunText(JobEntryFromRow(r)), "(不明)");
  r.nextRunDate = 20240316;
  r.nextRunTime = 20000;
  const TJobEntry entry = JobEntryFromRow(r);
  EXPECT_EQ(entry.NextRunTime, AgentDateTime::fromPacked(20240316, 20000));
  EXPECT_EQ(NextRunText(entry), "2024/03/16 02:00:00");
}

TEST(JobEntryFromRow, TheLastOutcomeShowsItsWordAndTime) {
  CatalogueRow r = row(kFreqDaily, 1);
  r.runStatus = "1";
  r.runDate = 20060501;
  r.runTime = 20000;
  const TJobEntry entry = JobEntryFromRow(r);
  EXPECT_EQ(entry.LastRunStatus, "1");
  EXPECT_EQ(LastOutcomeText(entry), "成功(2006/05/01 02:00:00)");
  const std::pair<const char*, const char*> words[] = {
      {"0", "失敗"}, {"1", "成功"}, {"2", "再試行"}, {"3", "取消"}, {"4", "実行中"}, {"5", "不明"}, {"-1", "不明"}};
  for (const auto& [status, word] : words) {
    r.runStatus = status;
    EXPECT_EQ(LastOutcomeText(JobEntryFromRow(r)), std::string(word) + "(2006/05/01 02:00:00)") << status;
  }
}

TEST(JobEntryFromRow, AJobThatNeverRanShowsNotRunYet) {
  CatalogueRow r = row(kFreqDaily, 1);  // "0" with run_date 0, as the server answers
  EXPECT_TRUE(JobEntryFromRow(r).LastRunTime.isNone());
  EXPECT_EQ(LastOutcomeText(JobEntryFromRow(r)), "(未実行)");
  r.runStatus = "";  // an empty status keeps no time, whatever the date says
  r.runDate = 20060501;
  EXPECT_TRUE(JobEntryFromRow(r).LastRunTime.isNone());
  EXPECT_EQ(LastOutcomeText(JobEntryFromRow(r)), "(未実行)");
}

TEST(JobEntryFromRow, APackedValueThatNamesNoDayEndsTheRow) {
  CatalogueRow once = row(kFreqOnce, 0);
  once.activeStartDate = 20241340;
  EXPECT_THROW(JobEntryFromRow(once), AgentTimeError);
  CatalogueRow ran = row(kFreqDaily, 1);
  ran.runStatus = "1";
  ran.runDate = 20240101;
  ran.runTime = 250000;
  EXPECT_THROW(JobEntryFromRow(ran), AgentTimeError);
}

// --- Backup file of a step -----------------------------------------------------------------

// The step command as the server keeps it: the batch of the immediate backup.
std::string storedStep(const std::string& database, const std::string& path) {
  std::string text;
  for (const auto& line : maintenance::backupCommandLines(database, path)) text += line + "\r\n";
  return text;
}

TEST(BackupFileFromCommand, ReadsThePathOfThisProgramsStep) {
  EXPECT_EQ(BackupFileFromCommand(storedStep("Sales", "C:\\backup\\Sales_%date%.bak")),
            "C:\\backup\\Sales_%date%.bak");
  EXPECT_EQ(BackupFileFromCommand(storedStep("Sales", "/var/opt/mssql/バックアップ/日次.bak")),
            "/var/opt/mssql/バックアップ/日次.bak");
}

TEST(BackupFileFromCommand, APathWithCommasOrQuotesShowsWhole) {
  EXPECT_EQ(BackupFileFromCommand(storedStep("Sales", "D:\\a,b\\x,y.bak")), "D:\\a,b\\x,y.bak");
  EXPECT_EQ(BackupFileFromCommand(storedStep("Sales", "D:\\o'neil\\x.bak")), "D:\\o'neil\\x.bak");
  EXPECT_EQ(BackupFileFromCommand(storedStep("Sales", "D:\\''\\x.bak")), "D:\\''\\x.bak");
}

TEST(BackupFileFromCommand, AnyOtherCommandKeepsTheOldCut) {
  // No marker: less the first 21 characters, ended two characters before the first comma.
  EXPECT_EQ(BackupFileFromCommand("0123456789ABCDEFGHIJKLMNOP,rest"), "LMNO");
  EXPECT_EQ(BackupFileFromCommand("0123456789ABCDEFGHIJKLMNOP"), "");
  EXPECT_EQ(BackupFileFromCommand("short,"), "");
  EXPECT_EQ(BackupFileFromCommand(""), "");
  // Characters, not bytes: 21 Japanese letters are dropped whole.
  EXPECT_EQ(BackupFileFromCommand("あいうえおかきくけこさしすせそたちつてとなにぬね,x"), "にぬ");
  // The marker with an unclosed literal is not this program's shape.
  EXPECT_EQ(BackupFileFromCommand("x @strFile = REPLACE(N'C:\\x, y"), "C:\\");
}

// --- Connection string ---------------------------------------------------------------------

TEST(ScheduleConnectionString, SqlServerAuthenticationNamesTheDatabase) {
  EXPECT_EQ(ScheduleConnectionString({"SRV01\\SQLEXPRESS", "Sales", "sa", "pw", true}),
            "Provider=SQLOLEDB.1;Persist Security Info=False;Pooling=false;Initial Catalog=Sales;"
            "User ID=sa;Password=pw;Data Source=SRV01\\SQLEXPRESS");
}

TEST(ScheduleConnectionString, WindowsAuthenticationUsesMasterAndNoLogin) {
  EXPECT_EQ(ScheduleConnectionString({"SRV01", "Sales", "sa", "pw", false}),
            "Provider=SQLOLEDB.1;Persist Security Info=False;Trusted_Connection=yes;Pooling=false;"
            "Initial Catalog=master;Data Source=SRV01");
}

TEST(ScheduleConnectionString, TypedValuesAreQuotedAndCannotAddKeys) {
  const auto pairs = db::parseOleDbConnectionString(
      ScheduleConnectionString({"srv", "my;db", "o'neil", "x;Data Source=evil", true}));
  EXPECT_EQ(db::findValue(pairs, "Data Source"), "srv");
  EXPECT_EQ(db::findValue(pairs, "Initial Catalog"), "my;db");
  EXPECT_EQ(db::findValue(pairs, "User ID"), "o'neil");
  EXPECT_EQ(db::findValue(pairs, "Password"), "x;Data Source=evil");
}

}  // namespace
}  // namespace bv::agent
