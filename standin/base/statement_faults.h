// Faults on demand that act inside statements rather than on the wire, for tests: a backup's or
// restore's copying slowed to a rate (so that its progress can be watched), damage planted in a
// restored database (for DBCC CHECKDB to find), a database created under a restore's target or a
// restore that breaks midway, a volume that looks fuller than it is, and a statement held before
// it runs until the test lets it go (so that a test can act while it waits). They are
// written as the wire's faults are (standin/wire/faults.h parses both) and matched the same way:
// `match` is found in a text ignoring case and how words are spaced; `times` limits how often.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace standin::base {

struct StatementFault {
  enum class Kind {
    Throttle,       // BACKUP, RESTORE and VERIFYONLY copy at most `amount` bytes a second
    DamageRestore,  // a restore to a matching database plants damage in the restored copy
    VolumeFree,     // the volume of a matching file has at most `amount` bytes free
    Hold,           // a statement whose own text matches waits up to `amount` milliseconds first
    OccupyRestore,  // another session creates the target database just before a matching restore
    BreakRestore,   // a restore to a new matching database fails midway, leaving it RESTORING
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
  // Likewise, without counting: for faults that hold for every reading (volume-free).
  std::optional<StatementFault> find(StatementFault::Kind kind, const std::vector<std::string_view>& texts);

  // The hold fault: the calling statement waits up to `upTo`, until releaseHeld(), or until
  // `cancelled` says its client has given up (looked at every few milliseconds). Returns false
  // for the last.
  bool hold(std::chrono::milliseconds upTo, const std::function<bool()>& cancelled);
  int held() const;    // statements waiting in hold() now
  void releaseHeld();  // every statement waiting now goes on
  // Waits until at least `count` statements are held; false when `patience` ran out first.
  bool waitForHeld(int count, std::chrono::milliseconds patience) const;
  // No statement is held any more, now or later (the server is stopping).
  void stopHolding();

 private:
  std::optional<StatementFault> pick(StatementFault::Kind kind, const std::vector<std::string_view>& texts,
                                     bool count);
  std::mutex mutex_;
  std::vector<StatementFault> faults_;
  std::vector<int> used_;

  mutable std::mutex holdMutex_;
  mutable std::condition_variable holdChanged_;
  int held_ = 0;
  std::uint64_t releases_ = 0;  // how often releaseHeld() let them go
  bool stopped_ = false;
};

}  // namespace standin::base
