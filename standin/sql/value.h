// Values and types of the stand-in's T-SQL dialect.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace standin::sql {

// SQL Server's datetime: days since 1900-01-01 and 1/300-second ticks since midnight.
struct DateTime {
  std::int32_t days = 0;
  std::uint32_t ticks = 0;
  static DateTime now();  // local time of this computer, as GETDATE() reports it
  static DateTime fromParts(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                            int millisecond = 0);
  // "YYYY-MM-DD[ HH:MM:SS[.mmm]]" or "YYYYMMDD"; nullopt when not a date.
  static std::optional<DateTime> parse(const std::string& text);
  void toParts(int& year, int& month, int& day, int& hour, int& minute, int& second, int& millisecond) const;
  // CONVERT(varchar, value, style) for the styles SQL Server documents (0/100, 101-114, 120, 121,
  // 126, 23); an unknown style gives nullopt.
  std::optional<std::string> format(int style) const;
  std::string iso() const;  // "YYYY-MM-DD HH:MM:SS.mmm"
  bool operator==(const DateTime&) const = default;
};

struct Binary {
  std::string bytes;
  bool operator==(const Binary&) const = default;
};

// The declared type of a column, variable or expression.
struct SqlType {
  enum class Kind { Int, BigInt, SmallInt, TinyInt, Bit, Float, VarChar, NVarChar, DateTime, VarBinary };
  Kind kind = Kind::Int;
  // Maximum length in characters (NVarChar), bytes (VarChar, VarBinary); 0 = not applicable.
  int length = 0;
  bool isString() const { return kind == Kind::VarChar || kind == Kind::NVarChar; }
  bool isInteger() const {
    return kind == Kind::Int || kind == Kind::BigInt || kind == Kind::SmallInt || kind == Kind::TinyInt ||
           kind == Kind::Bit;
  }
  std::string name() const;  // "varchar(20)", "int", ...
  static SqlType varchar(int n) { return {Kind::VarChar, n}; }
  static SqlType nvarchar(int n) { return {Kind::NVarChar, n}; }
  static SqlType integer() { return {Kind::Int, 0}; }
  static SqlType bigint() { return {Kind::BigInt, 0}; }
  bool operator==(const SqlType&) const = default;
};

// One value; std::monostate is SQL NULL. Strings are UTF-8.
using Value = std::variant<std::monostate, std::int64_t, double, std::string, DateTime, Binary>;

inline bool isNull(const Value& v) { return std::holds_alternative<std::monostate>(v); }
// Text form of a value as CONVERT(nvarchar, v) would give it (datetime in style 0).
std::string valueToText(const Value& v);

using Row = std::vector<Value>;

}  // namespace standin::sql
