// Copying a backup's, restore's or verify's bytes a piece at a time: the request's
// percent_complete (sys.dm_exec_requests) rises as the copy goes, a throttle fault matching the
// request slows it to its rate, and an attention from the client stops it between pieces.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

#include "standin/server/context.h"

namespace standin::backup {

class CopyMeter {
 public:
  CopyMeter(server::Context& c, std::uint64_t totalBytes);
  CopyMeter(const CopyMeter&) = delete;
  CopyMeter& operator=(const CopyMeter&) = delete;

  // How many bytes a piece should be: progress moves at least ten times a second.
  std::size_t pieceBytes() const { return piece_; }
  // `bytes` more copied: waits as long as a throttle asks, then moves the percentage on.
  void advance(std::uint64_t bytes);
  // Hands `data` to `sink` a piece at a time (sink returns false to stop: a failed write).
  template <typename Sink>
  bool copy(std::string_view data, Sink&& sink) {
    for (std::size_t at = 0; at < data.size(); at += piece_) {
      const auto piece = data.substr(at, piece_);
      if (!sink(piece)) return false;
      advance(piece.size());
    }
    if (data.empty()) advance(0);
    return true;
  }

 private:
  server::Context& c_;
  std::uint64_t total_;
  std::uint64_t done_ = 0;
  std::optional<std::uint64_t> rate_;  // bytes a second
  std::size_t piece_ = 64 * 1024;
  std::chrono::steady_clock::time_point started_;
};

}  // namespace standin::backup
