#include "runner/run_log.h"

#include <gtest/gtest.h>

#include <fstream>

#include "runner/platform.h"
#include "runner_test_support.h"

namespace bv::runner {
namespace {

LogEntry sampleEntry() {
  LogEntry entry;
  entry.time = "2008-01-01T02:00:00+0900";
  entry.status = 4;
  entry.outcome = "backup-failed";
  entry.server = "srv\\inst";
  entry.database = "売上";
  entry.backupFile = "D:\\bk\\売上_%date%.bak";
  entry.login = "sql:sa";
  entry.verify = "1";
  entry.detail = "first\r\nsecond\tthird";
  return entry;
}

TEST(FormatLogLine, OneTabSeparatedLineWithEveryField) {
  EXPECT_EQ(formatLogLine(sampleEntry()),
            "2008-01-01T02:00:00+0900\tstatus=4\toutcome=backup-failed\tserver=srv\\inst\t"
            "database=売上\tfile=D:\\bk\\売上_%date%.bak\tlogin=sql:sa\tverify=1\t"
            "detail=first  second third\n");
}

TEST(FormatLogLine, ValuesCannotBreakTheLineOrAddAField) {
  LogEntry entry = sampleEntry();
  entry.server = "a\nb";
  entry.database = "x\tdetail=forged";
  const std::string line = formatLogLine(entry);
  EXPECT_EQ(line.find('\n'), line.size() - 1);
  EXPECT_EQ(brtest::lines(line).size(), 1u);
  // Nine fields: the time and eight keys.
  std::size_t tabs = 0;
  for (char c : line) tabs += c == '\t';
  EXPECT_EQ(tabs, 8u);
}

TEST(AppendLogLine, CreatesTheFolderAndAppendsOneLinePerCall) {
  brtest::TempDir dir;
  const auto file = dir.path() / "state" / "brackenvale" / "brackenrun.log";
  EXPECT_EQ(appendLogLine(file, sampleEntry()), std::nullopt);
  LogEntry second = sampleEntry();
  second.status = 0;
  second.outcome = "succeeded";
  EXPECT_EQ(appendLogLine(file, second), std::nullopt);
  const auto written = brtest::lines(brtest::readFile(file));
  ASSERT_EQ(written.size(), 2u);
  EXPECT_NE(written[0].find("outcome=backup-failed"), std::string::npos);
  EXPECT_NE(written[1].find("outcome=succeeded"), std::string::npos);
}

TEST(AppendLogLine, ReportsAFileItCannotWrite) {
  brtest::TempDir dir;
  // The log path is a folder.
  std::filesystem::create_directories(dir.path() / "busy.log");
  const auto problem = appendLogLine(dir.path() / "busy.log", sampleEntry());
  ASSERT_TRUE(problem.has_value());
  EXPECT_NE(problem->find("busy.log"), std::string::npos);
  // The folder's place is taken by a file.
  { std::ofstream(dir.path() / "plain") << "x"; }
  EXPECT_TRUE(appendLogLine(dir.path() / "plain" / "brackenrun.log", sampleEntry()).has_value());
}

TEST(AppendLogLine, NamesTheFileInUtf8WhateverTheSystemsCodePage) {
  brtest::TempDir dir;
  const std::filesystem::path folder = dir.path() / std::filesystem::path(u8"ログ");
  { std::ofstream(folder) << "x"; }  // a file where the log's folder should be
  const auto problem = appendLogLine(folder / "brackenrun.log", sampleEntry());
  ASSERT_TRUE(problem.has_value());
  EXPECT_NE(problem->find("ログ"), std::string::npos) << *problem;
  const std::string separator(1, static_cast<char>(std::filesystem::path::preferred_separator));
  EXPECT_EQ(pathText(std::filesystem::path(u8"ログ") / "x.log"), "ログ" + separator + "x.log");
}

// The mail's "first failure / recovery" needs how the same backup's last run ended.
TEST(AppendLogLine, TheLastFinishedRunOfTheSameBackupIsFoundInTheLog) {
  brtest::TempDir dir;
  const auto file = dir.path() / "brackenrun.log";
  LogEntry other = sampleEntry();
  other.database = "別";
  LogEntry mine = sampleEntry();
  EXPECT_EQ(lastOutcomeOf(file, mine), std::nullopt);
  mine.status = 4;
  appendLogLine(file, mine);
  other.status = 0;
  appendLogLine(file, other);
  LogEntry started = mine;
  started.started = true;
  appendLogLine(file, started);  // a run still going, or killed: no outcome
  EXPECT_EQ(lastOutcomeOf(file, mine), false);
  mine.status = 0;
  appendLogLine(file, mine);
  EXPECT_EQ(lastOutcomeOf(file, mine), true);
}

// The first failure whose mail could not be sent travels on the backup's lines until a line
// without it: the runner mails it with the next run (Windows).
TEST(RunLog, TheUnreportedFailureIsTheOneTheLastFinishedRunOfTheBackupCarries) {
  brtest::TempDir dir;
  const auto file = dir.path() / "brackenrun.log";
  LogEntry mine = sampleEntry();
  mine.status = 4;
  mine.unreported = "2026-12-08T02:00:07+0900 4";
  appendLogLine(file, mine);
  LogEntry started = mine;
  started.started = true;
  started.unreported.clear();
  appendLogLine(file, started);
  LogEntry other = sampleEntry();
  other.database = "別";
  appendLogLine(file, other);
  const auto carried = unreportedFailureOf(file, mine);
  ASSERT_TRUE(carried);
  EXPECT_EQ(carried->time, "2026-12-08T02:00:07+0900");
  EXPECT_EQ(carried->status, 4);
  EXPECT_EQ(unreportedFailureOf(file, other), std::nullopt);
  mine.unreported.clear();  // a mail went through
  appendLogLine(file, mine);
  EXPECT_EQ(unreportedFailureOf(file, mine), std::nullopt);
}

TEST(LocalTimestamp, IsIso8601WithTheUtcOffset) {
  const std::string stamp = platform::localTimestamp();
  ASSERT_EQ(stamp.size(), 24u) << stamp;
  for (std::size_t i : {0u, 1u, 2u, 3u, 5u, 6u, 8u, 9u, 11u, 12u, 14u, 15u, 17u, 18u, 20u, 21u, 22u, 23u}) {
    EXPECT_TRUE(stamp[i] >= '0' && stamp[i] <= '9') << stamp;
  }
  EXPECT_EQ(stamp[4], '-');
  EXPECT_EQ(stamp[10], 'T');
  EXPECT_EQ(stamp[13], ':');
  EXPECT_TRUE(stamp[19] == '+' || stamp[19] == '-') << stamp;
}

}  // namespace
}  // namespace bv::runner
