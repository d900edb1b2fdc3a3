// Running a small helper program to its end (systemctl, crontab): no shell, its standard input
// written from a text, both outputs read through pipes, every wait bounded, and a child that
// outlives its time killed and reaped. POSIX only. Qt-free.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace bv::sys {

struct ProgramOutcome {
  bool started = false;         // false: the program could not be started (not found, ...)
  std::optional<int> exitCode;  // nothing: not started, ended by a signal, or out of time
  std::string output;           // standard output, at most 64 KiB kept
  std::string errors;           // standard error, at most 64 KiB kept
};

// Runs `program` (looked up on PATH when it holds no "/") with the arguments and the
// environment of this process, feeding `input` to its standard input.
ProgramOutcome runProgram(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& input, int timeoutMs);

}  // namespace bv::sys
