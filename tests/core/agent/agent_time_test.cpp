// The Agent's packed dates and times and the program's value for them.
#include "core/agent/agent_time.h"

#include <gtest/gtest.h>

namespace bv::agent {
namespace {

TEST(AgentDateTime, PackedValuesSplitIntoTheirFields) {
  const AgentDateTime value = AgentDateTime::fromPacked(20060501, 20000);
  EXPECT_EQ(value.year, 2006);
  EXPECT_EQ(value.month, 5);
  EXPECT_EQ(value.day, 1);
  EXPECT_EQ(value.hour, 2);
  EXPECT_EQ(value.minute, 0);
  EXPECT_EQ(value.second, 0);
  EXPECT_EQ(AgentDateTime::fromPacked(19991231, 235959).format("yyyy/mm/dd hh:nn:ss"), "1999/12/31 23:59:59");
  EXPECT_EQ(AgentDateTime::fromPacked(20240229, 5).format("yyyy/mm/dd hh:nn:ss"), "2024/02/29 00:00:05");
}

TEST(AgentDateTime, ATimeOfDayHasNoDateAndMidnightOnNoDateIsNone) {
  const AgentDateTime time = AgentDateTime::fromPackedTime(93005);
  EXPECT_FALSE(time.hasDate());
  EXPECT_FALSE(time.isNone());
  EXPECT_EQ(time.format("hh:nn:ss"), "09:30:05");
  EXPECT_TRUE(AgentDateTime::fromPackedTime(0).isNone());
  EXPECT_TRUE(AgentDateTime{}.isNone());
  EXPECT_FALSE(AgentDateTime::fromPacked(20000101, 0).isNone());
}

TEST(AgentDateTime, PackedValuesThatNameNoDayOrTimeAreRefused) {
  for (const std::int64_t date : {0LL, 20061301LL, 20060230LL, 19000229LL, 20060500LL, -1LL, 100000000LL}) {
    EXPECT_THROW(AgentDateTime::fromPackedDate(date), AgentTimeError) << date;
  }
  for (const std::int64_t time : {240000LL, 126000LL, 120060LL, -5LL}) {
    EXPECT_THROW(AgentDateTime::fromPackedTime(time), AgentTimeError) << time;
  }
  EXPECT_THROW(AgentDateTime::fromDate({2023, 2, 29}), AgentTimeError);
  EXPECT_NO_THROW(AgentDateTime::fromDate({2000, 2, 29}));
}

TEST(AgentDateTime, FormatWritesEachFieldWithItsLeadingZeros) {
  const AgentDateTime value = AgentDateTime::fromPacked(20240307, 90805);
  EXPECT_EQ(value.format("yyyymmdd"), "20240307");
  EXPECT_EQ(value.format("hhnnss"), "090805");
  EXPECT_EQ(value.format("yyyy/mm/dd"), "2024/03/07");
  EXPECT_EQ(value.format("(hh時nn分)"), "(09時08分)");
  EXPECT_EQ(AgentDateTime::fromPacked(8010101, 0).format("yyyy"), "0801");
}

}  // namespace
}  // namespace bv::agent
