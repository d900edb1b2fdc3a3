#include "standin/base/statement_faults.h"

#include "standin/base/text.h"

namespace standin::base {

std::string foldedForMatch(std::string_view text) {
  std::string out;
  bool blank = false;
  for (const char c : text) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      blank = true;
      continue;
    }
    if (blank && !out.empty()) out.push_back(' ');
    blank = false;
    out.push_back(c);
  }
  return toLowerAscii(out);
}

void StatementFaults::set(std::vector<StatementFault> faults) {
  std::lock_guard lock(mutex_);
  faults_ = std::move(faults);
  used_.assign(faults_.size(), 0);
}

std::optional<StatementFault> StatementFaults::take(StatementFault::Kind kind,
                                                    const std::vector<std::string_view>& texts) {
  std::lock_guard lock(mutex_);
  for (std::size_t i = 0; i < faults_.size(); ++i) {
    const auto& f = faults_[i];
    if (f.kind != kind || (f.times != 0 && used_[i] >= f.times)) continue;
    bool matched = f.match.empty();
    const std::string wanted = foldedForMatch(f.match);
    for (const auto text : texts)
      if (!matched && foldedForMatch(text).find(wanted) != std::string::npos) matched = true;
    if (!matched) continue;
    ++used_[i];
    return f;
  }
  return std::nullopt;
}

}  // namespace standin::base
