#include <cstdlib>

#include "environment.h"

namespace bvtest {

ScopedEnvironment::ScopedEnvironment(const char* name, const char* value) : name_(name) {
  if (const char* old = std::getenv(name)) old_ = old;
  setEnvironment(name_, value != nullptr ? std::optional<std::string>(value) : std::nullopt);
}

ScopedEnvironment::~ScopedEnvironment() { setEnvironment(name_, old_); }

}  // namespace bvtest
