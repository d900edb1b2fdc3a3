#include "standin/wire/faults.h"

#include "standin/base/text.h"

namespace standin::wire {

std::optional<std::chrono::milliseconds> parseDuration(std::string_view text) {
  std::size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  if (digits == 0 || digits > 9) return std::nullopt;
  long long n = 0;
  for (std::size_t i = 0; i < digits; ++i) n = n * 10 + (text[i] - '0');
  const std::string_view unit = text.substr(digits);
  if (unit == "ms") return std::chrono::milliseconds(n);
  if (unit == "s" || unit.empty()) return std::chrono::milliseconds(n * 1000);
  return std::nullopt;
}

namespace {

std::optional<Fault> wrong(std::string* error, std::string why) {
  if (error) *error = std::move(why);
  return std::nullopt;
}

bool parseNumber(std::string_view text, long long max, long long& out) {
  if (text.empty() || text.size() > 12) return false;
  out = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    out = out * 10 + (c - '0');
  }
  return out <= max;
}

std::string folded(std::string_view text) { return base::foldedForMatch(text); }

// The faults the engine applies inside statements; the TDS server leaves them.
bool isStatementFault(Fault::Action action) {
  using A = Fault::Action;
  return action == A::Throttle || action == A::DamageRestore || action == A::VolumeFree ||
         action == A::Hold || action == A::OccupyRestore || action == A::BreakRestore;
}

}  // namespace

std::optional<Fault> parseFault(std::string_view written, std::string* error) {
  Fault f;
  // match= takes the rest of the written fault, so that the text may hold colons.
  if (const auto at = written.find(":match="); at != std::string_view::npos) {
    f.match = std::string(written.substr(at + 7));
    if (f.match.empty()) return wrong(error, "match= needs a text");
    written = written.substr(0, at);
  }
  std::vector<std::string_view> parts;
  for (std::size_t start = 0;;) {
    const auto colon = written.find(':', start);
    parts.push_back(
        written.substr(start, colon == std::string_view::npos ? std::string_view::npos : colon - start));
    if (colon == std::string_view::npos) break;
    start = colon + 1;
  }
  const std::string_view action = parts[0].substr(0, parts[0].find('='));
  const bool hasValue = parts[0].find('=') != std::string_view::npos;
  const std::string_view value = hasValue ? parts[0].substr(parts[0].find('=') + 1) : std::string_view{};
  if (action == "drop") {
    if (hasValue) return wrong(error, "drop takes no value");
    f.action = Fault::Action::Drop;
  } else if (action == "drop-after-bytes") {
    long long n = 0;
    if (!parseNumber(value, 1LL << 30, n)) return wrong(error, "drop-after-bytes needs a number of bytes");
    f.action = Fault::Action::DropAfterBytes;
    f.bytes = static_cast<std::size_t>(n);
  } else if (action == "stall" || action == "stall-between" || action == "stall-login" || action == "hold") {
    const auto d = parseDuration(value);
    if (!d) return wrong(error, std::string(action) + " needs a duration such as 2000ms or 2s");
    f.action = action == "stall"           ? Fault::Action::Stall
               : action == "stall-between" ? Fault::Action::StallBetween
               : action == "hold"          ? Fault::Action::Hold
                                           : Fault::Action::StallLogin;
    f.duration = *d;
  } else if (action == "throttle") {
    long long n = 0;
    if (!parseNumber(value, 1LL << 40, n) || n < 1)
      return wrong(error, "throttle needs a number of bytes a second");
    f.action = Fault::Action::Throttle;
    f.bytes = static_cast<std::size_t>(n);
  } else if (action == "damage-restore" || action == "occupy-restore" || action == "break-restore") {
    if (hasValue) return wrong(error, std::string(action) + " takes no value");
    f.action = action == "damage-restore"   ? Fault::Action::DamageRestore
               : action == "occupy-restore" ? Fault::Action::OccupyRestore
                                            : Fault::Action::BreakRestore;
  } else if (action == "volume-free") {
    long long n = 0;
    if (!parseNumber(value, 1LL << 50, n)) return wrong(error, "volume-free needs a number of bytes");
    f.action = Fault::Action::VolumeFree;
    f.bytes = static_cast<std::size_t>(n);
  } else {
    return wrong(error, "unknown fault: " + std::string(action) +
                            " (drop, drop-after-bytes, stall, stall-between, stall-login, throttle, "
                            "damage-restore, volume-free, hold, occupy-restore, break-restore)");
  }
  for (std::size_t i = 1; i < parts.size(); ++i) {
    long long n = 0;
    if (parts[i].rfind("times=", 0) != 0 || !parseNumber(parts[i].substr(6), 1000000, n) || n < 1)
      return wrong(error, "not times=N (N at least 1): " + std::string(parts[i]));
    f.times = static_cast<int>(n);
  }
  if (f.action == Fault::Action::StallLogin && !f.match.empty())
    return wrong(error, "stall-login holds every login; it takes no match=");
  if (f.action == Fault::Action::VolumeFree && f.times != 0)
    return wrong(error, "volume-free holds for every reading; it takes no times=");
  return f;
}

FaultPlan::FaultPlan(std::vector<Fault> faults) : faults_(std::move(faults)), used_(faults_.size(), 0) {}

bool FaultPlan::take(std::size_t index) {
  if (faults_[index].times != 0 && used_[index] >= faults_[index].times) return false;
  ++used_[index];
  return true;
}

std::vector<Fault> FaultPlan::forRequest(std::string_view text) {
  std::vector<Fault> out;
  if (faults_.empty()) return out;
  const std::string request = folded(text);
  std::lock_guard lock(mutex_);
  for (std::size_t i = 0; i < faults_.size(); ++i) {
    const Fault& f = faults_[i];
    if (f.action == Fault::Action::StallLogin || isStatementFault(f.action)) continue;
    if (!f.match.empty() && request.find(folded(f.match)) == std::string::npos) continue;
    if (take(i)) out.push_back(f);
  }
  return out;
}

std::vector<base::StatementFault> statementFaults(const std::vector<Fault>& faults) {
  std::vector<base::StatementFault> out;
  using Kind = base::StatementFault::Kind;
  for (const auto& f : faults) {
    if (f.action == Fault::Action::Throttle) out.push_back({Kind::Throttle, f.bytes, f.match, f.times});
    if (f.action == Fault::Action::DamageRestore) out.push_back({Kind::DamageRestore, 0, f.match, f.times});
    if (f.action == Fault::Action::VolumeFree) out.push_back({Kind::VolumeFree, f.bytes, f.match, 0});
    if (f.action == Fault::Action::Hold)
      out.push_back({Kind::Hold, static_cast<std::uint64_t>(f.duration.count()), f.match, f.times});
    if (f.action == Fault::Action::OccupyRestore) out.push_back({Kind::OccupyRestore, 0, f.match, f.times});
    if (f.action == Fault::Action::BreakRestore) out.push_back({Kind::BreakRestore, 0, f.match, f.times});
  }
  return out;
}

std::optional<std::chrono::milliseconds> FaultPlan::loginStall() {
  std::lock_guard lock(mutex_);
  for (std::size_t i = 0; i < faults_.size(); ++i)
    if (faults_[i].action == Fault::Action::StallLogin && take(i)) return faults_[i].duration;
  return std::nullopt;
}

}  // namespace standin::wire
