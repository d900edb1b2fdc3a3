// Sets or removes an environment variable of this process for one scope and puts the old value
// back. One header; environment_posix.cpp and environment_win32.cpp implement it. On Windows an
// empty value removes the variable, as the C runtime does.
#pragma once

#include <optional>
#include <string>

namespace bvtest {

class ScopedEnvironment {
 public:
  // A null value removes the variable.
  ScopedEnvironment(const char* name, const char* value);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Sets (or, with nothing, removes) an environment variable of this process.
void setEnvironment(const std::string& name, const std::optional<std::string>& value);

}  // namespace bvtest
