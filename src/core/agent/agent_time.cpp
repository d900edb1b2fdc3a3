#include "core/agent/agent_time.h"

namespace bv::agent {
namespace {

bool isLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

void appendDigits(std::string& out, int value, int width) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  if (value < 0) out.push_back('-');
  for (int i = static_cast<int>(digits.size()); i < width; ++i) out.push_back('0');
  out += digits;
}

}  // namespace

int daysInMonth(int year, int month) noexcept {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

AgentDateTime AgentDateTime::fromDate(const AgentDate& date) {
  if (date.year < 1 || date.year > 9999 || date.month < 1 || date.month > 12 || date.day < 1 ||
      date.day > daysInMonth(date.year, date.month)) {
    throw AgentTimeError("Invalid date: " + std::to_string(date.year) + "/" + std::to_string(date.month) +
                         "/" + std::to_string(date.day));
  }
  AgentDateTime value;
  value.year = date.year;
  value.month = date.month;
  value.day = date.day;
  return value;
}

AgentDateTime AgentDateTime::fromTimeOfDay(int hour, int minute, int second) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) {
    throw AgentTimeError("Invalid time: " + std::to_string(hour) + ":" + std::to_string(minute) + ":" +
                         std::to_string(second));
  }
  AgentDateTime value;
  value.hour = hour;
  value.minute = minute;
  value.second = second;
  return value;
}

AgentDateTime AgentDateTime::fromPackedDate(std::int64_t packedDate) {
  if (packedDate < 0 || packedDate > 99991231) {
    throw AgentTimeError("Invalid date: " + std::to_string(packedDate));
  }
  return fromDate({static_cast<int>(packedDate / 10000), static_cast<int>(packedDate % 10000 / 100),
                   static_cast<int>(packedDate % 100)});
}

AgentDateTime AgentDateTime::fromPackedTime(std::int64_t packedTime) {
  if (packedTime < 0 || packedTime > 235959) {
    throw AgentTimeError("Invalid time: " + std::to_string(packedTime));
  }
  return fromTimeOfDay(static_cast<int>(packedTime / 10000), static_cast<int>(packedTime % 10000 / 100),
                       static_cast<int>(packedTime % 100));
}

AgentDateTime AgentDateTime::fromPacked(std::int64_t packedDate, std::int64_t packedTime) {
  AgentDateTime value = fromPackedDate(packedDate);
  const AgentDateTime time = fromPackedTime(packedTime);
  value.hour = time.hour;
  value.minute = time.minute;
  value.second = time.second;
  return value;
}

std::string AgentDateTime::format(std::string_view pattern) const {
  std::string out;
  std::size_t i = 0;
  const auto token = [&](std::string_view name) { return pattern.substr(i, name.size()) == name; };
  while (i < pattern.size()) {
    if (token("yyyy")) {
      appendDigits(out, year, 4);
      i += 4;
    } else if (token("mm")) {
      appendDigits(out, month, 2);
      i += 2;
    } else if (token("dd")) {
      appendDigits(out, day, 2);
      i += 2;
    } else if (token("hh")) {
      appendDigits(out, hour, 2);
      i += 2;
    } else if (token("nn")) {
      appendDigits(out, minute, 2);
      i += 2;
    } else if (token("ss")) {
      appendDigits(out, second, 2);
      i += 2;
    } else {
      out.push_back(pattern[i++]);
    }
  }
  return out;
}

}  // namespace bv::agent
