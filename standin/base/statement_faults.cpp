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
  return pick(kind, texts, true);
}

std::optional<StatementFault> StatementFaults::find(StatementFault::Kind kind,
                                                    const std::vector<std::string_view>& texts) {
  return pick(kind, texts, false);
}

std::optional<StatementFault> StatementFaults::pick(StatementFault::Kind kind,
                                                    const std::vector<std::string_view>& texts, bool count) {
  std::lock_guard lock(mutex_);
  for (std::size_t i = 0; i < faults_.size(); ++i) {
    const auto& f = faults_[i];
    if (f.kind != kind || (f.times != 0 && used_[i] >= f.times)) continue;
    bool matched = f.match.empty();
    const std::string wanted = foldedForMatch(f.match);
    for (const auto text : texts)
      if (!matched && foldedForMatch(text).find(wanted) != std::string::npos) matched = true;
    if (!matched) continue;
    if (count) ++used_[i];
    return f;
  }
  return std::nullopt;
}

bool StatementFaults::hold(std::chrono::milliseconds upTo, const std::function<bool()>& cancelled) {
  const auto until = std::chrono::steady_clock::now() + upTo;
  std::unique_lock lock(holdMutex_);
  if (stopped_) return true;
  const std::uint64_t release = releases_;
  ++held_;
  holdChanged_.notify_all();
  bool going = true;
  // An attention is noticed within a few milliseconds, as WAITFOR notices it.
  while (!stopped_ && releases_ == release && std::chrono::steady_clock::now() < until) {
    holdChanged_.wait_until(
        lock, std::min(until, std::chrono::steady_clock::now() + std::chrono::milliseconds(20)));
    lock.unlock();
    going = !(cancelled && cancelled());
    lock.lock();
    if (!going) break;
  }
  --held_;
  holdChanged_.notify_all();
  return going;
}

int StatementFaults::held() const {
  std::lock_guard lock(holdMutex_);
  return held_;
}

void StatementFaults::releaseHeld() {
  std::lock_guard lock(holdMutex_);
  ++releases_;
  holdChanged_.notify_all();
}

bool StatementFaults::waitForHeld(int count, std::chrono::milliseconds patience) const {
  std::unique_lock lock(holdMutex_);
  return holdChanged_.wait_for(lock, patience, [&] { return held_ >= count; });
}

void StatementFaults::stopHolding() {
  std::lock_guard lock(holdMutex_);
  stopped_ = true;
  holdChanged_.notify_all();
}

}  // namespace standin::base
