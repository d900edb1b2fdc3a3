#include "standin/backup/copy_meter.h"

#include <algorithm>
#include <thread>

namespace standin::backup {

using server::Context;

CopyMeter::CopyMeter(Context& c, std::uint64_t totalBytes)
    : c_(c), total_(totalBytes), started_(std::chrono::steady_clock::now()) {
  if (const auto fault = c.server().faults.take(base::StatementFault::Kind::Throttle, c.requestTexts())) {
    rate_ = std::max<std::uint64_t>(1, fault->amount);
    piece_ = static_cast<std::size_t>(std::clamp<std::uint64_t>(*rate_ / 10, 512, 64 * 1024));
  }
  c_.server().requests.setProgress(c_.sessionId(), 0);
}

void CopyMeter::advance(std::uint64_t bytes) {
  done_ += bytes;
  if (rate_) {
    // As long as the copy is ahead of its rate; an attention ends the wait (and the statement).
    const auto due = started_ + std::chrono::microseconds(done_ * 1000000 / *rate_);
    while (std::chrono::steady_clock::now() < due) {
      c_.checkCancel();
      std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
          std::chrono::milliseconds(20), due - std::chrono::steady_clock::now()));
    }
  }
  c_.checkCancel();
  const double percent = total_ == 0 ? 100.0 : 100.0 * static_cast<double>(std::min(done_, total_)) / total_;
  c_.server().requests.setProgress(c_.sessionId(), percent);
}

}  // namespace standin::backup
