#include <stdlib.h>

#include "environment.h"

namespace bvtest {

void setEnvironment(const std::string& name, const std::optional<std::string>& value) {
  // The C runtime keeps its copies and the process's block in step.
  ::_putenv_s(name.c_str(), value ? value->c_str() : "");
}

}  // namespace bvtest
