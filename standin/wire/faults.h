// Faults on demand, for tests: the TDS server can drop a session as a matching request arrives
// or part-way through its reply, and hold a request or a login for a while, as a server that
// fails or stalls would. Each fault is written as on the command line (--fault FAULT):
//
//   ACTION[:times=N][:match=TEXT]
//   drop                  the connection closes when a matching request arrives; it does not run
//   drop-after-bytes=N    the matching request runs, only the first N bytes of its reply (packet
//                         headers included) are sent, then the connection closes
//   stall=DURATION        a matching request is held for DURATION, nothing sent, then runs as usual
//   stall-between=DURATION  a matching request runs; its reply goes out a statement at a time,
//                         held for DURATION after each statement's end but the last, as a server
//                         that works through a long batch answers
//   stall-login=DURATION  each login is held for DURATION before it is checked and answered
//   throttle=BYTES        a matching request's BACKUP, RESTORE and VERIFYONLY copy at most
//                         BYTES a second
//   damage-restore        a restore to a database whose name matches plants damage in the copy,
//                         for DBCC CHECKDB to find
//   volume-free=BYTES     the volume of a database file whose path matches has at most BYTES free
//                         (sys.dm_os_volume_stats, a restore's space check); no times=
//   hold=DURATION         a statement whose own text matches (in any batch, EXEC of a string or
//                         job step) waits up to DURATION before it runs, or until the engine's
//                         releaseHeldStatements()
//   occupy-restore        just before a restore to a database whose name matches, another
//                         session's CREATE DATABASE makes that database (with a table of rows)
//   break-restore         a restore to a new database whose name matches fails midway, leaving
//                         the database RESTORING with its files on disk
// The last six act inside statements (base/statement_faults.h): the engine applies them.
//
// match=TEXT (the rest of the fault, colons included) picks the requests whose text holds TEXT,
// ignoring case and how the words are spaced (a line break counts as a blank): a batch's text,
// an RPC's procedure name and parameter values, or BEGIN / COMMIT / ROLLBACK TRANSACTION for
// transaction manager requests; without it every request matches.
// times=N limits a fault to the first N requests (or logins) it matches, over the whole server.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "standin/base/statement_faults.h"

namespace standin::wire {

// "500ms", "2s", or a bare number of seconds ("30"); nullopt for anything else.
std::optional<std::chrono::milliseconds> parseDuration(std::string_view text);

struct Fault {
  enum class Action {
    Drop,
    DropAfterBytes,
    Stall,
    StallBetween,
    StallLogin,
    Throttle,
    DamageRestore,
    VolumeFree,
    Hold,
    OccupyRestore,
    BreakRestore
  };
  Action action = Action::Drop;
  std::size_t bytes = 0;                 // DropAfterBytes; Throttle: bytes a second; VolumeFree
  std::chrono::milliseconds duration{};  // Stall, StallBetween, StallLogin, Hold
  std::string match;                     // empty: every request
  int times = 0;                         // 0: every time
};

// A fault from its written form; nullopt, with the reason in `error`, when that is wrong.
std::optional<Fault> parseFault(std::string_view written, std::string* error = nullptr);

// The faults that act inside statements (throttle, damage-restore, volume-free, hold,
// occupy-restore, break-restore), for the engine;
// the TDS server leaves them.
std::vector<base::StatementFault> statementFaults(const std::vector<Fault>& faults);

// The faults of one server, shared by its connections.
class FaultPlan {
 public:
  explicit FaultPlan(std::vector<Fault> faults);
  FaultPlan(const FaultPlan&) = delete;
  FaultPlan& operator=(const FaultPlan&) = delete;

  // The faults that apply to a request with this text, in the order given; each is counted
  // against its times.
  std::vector<Fault> forRequest(std::string_view text);
  // How long to hold a login, if a fault says so.
  std::optional<std::chrono::milliseconds> loginStall();

 private:
  bool take(std::size_t index);  // under mutex_

  std::mutex mutex_;
  std::vector<Fault> faults_;
  std::vector<int> used_;
};

}  // namespace standin::wire
