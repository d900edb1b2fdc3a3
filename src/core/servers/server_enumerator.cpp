#include "core/servers/server_enumerator.h"

#include <utility>

namespace bv::servers {

std::string enumerationFailureText(const std::string& detail) {
  return "サーバの一覧を取得できませんでした。\r\n\r\n" + detail;
}

EnumerationError::EnumerationError(const std::string& detail)
    : std::runtime_error(enumerationFailureText(detail)) {}

FixedNameList::FixedNameList(std::vector<std::string> names) : names_(std::move(names)) {}

long FixedNameList::Count() { return static_cast<long>(names_.size()); }

std::string FixedNameList::Item(long index) {
  if (index < 1 || index > Count()) {
    throw EnumerationError("Item(" + std::to_string(index) + "): index out of range 1.." +
                           std::to_string(Count()));
  }
  return names_[static_cast<std::size_t>(index - 1)];
}

ServerEnumeratorFactory platformEnumeratorFactory(SsrpTarget fallback) {
  return [fallback = std::move(fallback)] { return createServerEnumerator(fallback); };
}

}  // namespace bv::servers
