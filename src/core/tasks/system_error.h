// The system's text for a result code, and the error a failed call raises with it: the standard
// COM check of the scheduler's wrapper and its back ends. One source file per platform gives the
// texts. Qt-free.
#pragma once

#include <stdexcept>
#include <string>

#include "core/tasks/task_codes.h"

namespace bv::tasks {

// The system's text for a result code (FormatMessage on Windows; on POSIX the texts of the codes
// the program's own scheduler produces, and a generic sentence with the code for the rest).
std::string systemErrorText(HResult code);

// A failed COM call: the system's text for the code, and the code.
class ComError : public std::runtime_error {
 public:
  ComError(const std::string& message, HResult code) : std::runtime_error(message), code_(code) {}
  HResult code() const noexcept { return code_; }
  int helpContext() const noexcept { return 0; }

 private:
  HResult code_;
};

// The standard COM check: a failure raises ComError with the system's text.
inline void comCheck(HResult code) {
  if (isFailure(code)) throw ComError(systemErrorText(code), code);
}

}  // namespace bv::tasks
