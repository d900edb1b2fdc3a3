// Running a small helper program to its end (systemctl, crontab): no shell, its standard input
// written from a text, both outputs read through pipes, every wait bounded, and a child that
// outlives its time killed and reaped. POSIX only. Qt-free.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace bv::sys {

struct ProgramOutcome {
  bool started = false;         // false: the program could not be started (not found, ...)
  std::optional<int> exitCode;  // nothing: not started, ended by a signal, or out of time
  std::string output;           // standard output, at most the limit asked for
  std::string errors;           // standard error, at most the limit asked for
  bool outputCut = false;       // more standard output came than the limit: `output` is not all
};

inline constexpr std::size_t kDefaultProgramOutputLimit = 64 * 1024;

// Runs `program` (looked up on PATH when it holds no "/") with the arguments and the
// environment of this process, feeding `input` to its standard input. Each output keeps at most
// `outputLimit` bytes; a caller that must see the whole output checks `outputCut`.
ProgramOutcome runProgram(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& input, int timeoutMs,
                          std::size_t outputLimit = kDefaultProgramOutputLimit);

}  // namespace bv::sys
