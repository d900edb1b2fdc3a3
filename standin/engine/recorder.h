// A recording of what the server is asked and what it answers, for comparing two builds of the
// stand-in over the same tests (docs/testing.md, "Recordings"). Each session's exchanges stay
// together, in their order, and go to the file as one block when the session ends, so sessions
// running side by side never interleave; logins, batches, procedure calls with their parameters
// and transaction requests are written as received (never a password), replies as their items.
#pragma once

#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>

#include "standin/base/unique_fd.h"
#include "standin/sql/results.h"

namespace standin::engine {

// The file every session of one engine writes its block to.
class Recorder {
 public:
  // Starts the file anew (0600); throws std::runtime_error when it cannot be written.
  explicit Recorder(const std::filesystem::path& file);
  void write(std::string_view block);

 private:
  std::mutex mutex_;
  base::UniqueFd fd_;
};

// One session's block, built as its requests are answered.
class Recording {
 public:
  explicit Recording(std::string_view header);
  void request(std::string_view kind, std::string_view text);
  void reply(const sql::BatchResult& result);
  // What the client got instead of the last reply (an attention's acknowledgement).
  void replaceReply(std::string_view what);
  void note(std::string_view text);
  std::string finish();

 private:
  void settle();
  std::string text_;
  std::string reply_;  // the last request's, until the next one comes
};

// A value as recordings write it: NULL, numbers, 'text' with escapes, dates, 0x bytes.
std::string recordedValue(const sql::Value& value);

}  // namespace standin::engine
