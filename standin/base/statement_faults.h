// Faults on demand that act inside statements rather than on the wire, for tests: a backup's or
// restore's copying slowed to a rate (so that its progress can be watched), and more. They are
// written as the wire's faults are (standin/wire/faults.h parses both) and matched the same way:
// `match` is found in a text ignoring case and how words are spaced; `times` limits how often.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace standin::base {

struct StatementFault {
  enum class Kind {
    Throttle,  // BACKUP, RESTORE and VERIFYONLY copy at most `amount` bytes a second
  };
  Kind kind = Kind::Throttle;
  std::uint64_t amount = 0;
  std::string match;  // empty: every statement
  int times = 0;      // 0: every time
};

// Lower case, every run of blanks and line breaks as one space: "RESTORE \r\nDATABASE" as a
// program sends it matches "restore database".
std::string foldedForMatch(std::string_view text);

// The statement faults of one server, shared by its sessions.
class StatementFaults {
 public:
  void set(std::vector<StatementFault> faults);
  // The first fault of that kind whose match is in one of the texts (any, without a match),
  // counted against its times.
  std::optional<StatementFault> take(StatementFault::Kind kind, const std::vector<std::string_view>& texts);

 private:
  std::mutex mutex_;
  std::vector<StatementFault> faults_;
  std::vector<int> used_;
};

}  // namespace standin::base
