// Values and types of the stand-in's T-SQL dialect.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace standin::sql {

// The order of day, month and year in a date written with numbers and separators (SET
// DATEFORMAT). A session sets it on its thread for the statements it runs (DateOrderScope).
enum class DateOrder { Mdy, Dmy, Ymd, Ydm, Myd, Dym };
DateOrder dateOrder();
std::optional<DateOrder> dateOrderNamed(std::string_view name);  // "mdy", "DMY", ...
class DateOrderScope {
 public:
  explicit DateOrderScope(DateOrder order);
  ~DateOrderScope();
  DateOrderScope(const DateOrderScope&) = delete;
  DateOrderScope& operator=(const DateOrderScope&) = delete;
  static void set(DateOrder order);  // SET DATEFORMAT, for the rest of the scope

 private:
  DateOrder saved_;
};

// SQL Server's datetime: days since 1900-01-01 and 1/300-second ticks since midnight.
struct DateTime {
  std::int32_t days = 0;
  std::uint32_t ticks = 0;
  static DateTime now();     // local time of this computer, as GETDATE() reports it
  static DateTime utcNow();  // its UTC, as GETUTCDATE() reports it
  static DateTime fromParts(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                            int millisecond = 0);
  // The stand-in's own form, "YYYY-MM-DD[ HH:MM:SS[.mmm]]", or "YYYYMMDD"; nullopt when not a
  // date. For what the stand-in itself stores and reads back.
  static std::optional<DateTime> parse(const std::string& text);
  // A character string as CONVERT(datetime, ...) reads it: ISO 8601, unseparated (yyyymmdd,
  // yymmdd), numbers with / - . in the order `order` gives (a four-digit year first reads
  // year-month-day, or year-day-month for the orders with day before month), or a month name;
  // each with or without a time (hh:mm[:ss[.mmm]] [AM|PM]). nullopt when it is no date of the
  // datetime type (years 1753 to 9999).
  static std::optional<DateTime> fromText(std::string_view text, DateOrder order);
  void toParts(int& year, int& month, int& day, int& hour, int& minute, int& second, int& millisecond) const;
  // CONVERT(varchar, value, style) for the styles SQL Server documents (0/100, 101-114, 120, 121,
  // 126, 23); an unknown style gives nullopt.
  std::optional<std::string> format(int style) const;
  std::string iso() const;                           // "YYYY-MM-DD HH:MM:SS.mmm"
  DateTime plusSeconds(std::int64_t seconds) const;  // earlier for a negative count
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
