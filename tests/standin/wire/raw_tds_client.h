// A raw TDS client for the tests that need what a driver never does: connections that never log
// in, oversized or unfinished messages, and a byte-exact view of what the server sends back.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "standin/base/unique_fd.h"
#include "standin/base/version.h"

namespace standintest {

// A LOGIN7 payload as FreeTDS builds it (94-byte fixed part), for `version`.
std::string login7(const std::string& user, const std::string& password, const std::string& database,
                   std::uint32_t version = standin::base::kTds72, std::uint8_t flags2 = 0x03);
// A PRELOGIN payload with only the VERSION option.
std::string preloginRequest();

class RawTdsClient {
 public:
  explicit RawTdsClient(std::uint16_t port);  // connects to 127.0.0.1:port
  bool connected() const { return fd_.valid(); }
  int fd() const { return fd_.get(); }

  // One packet of a message; `last` sets end-of-message.
  bool sendPacket(std::uint8_t type, std::string_view payload, bool last = true);
  // A whole message in packets of at most 4096 bytes.
  bool sendMessage(std::uint8_t type, std::string_view payload);

  // The payload of the next whole reply (packets up to end-of-message); nullopt when the
  // connection ends first or nothing complete arrives within `patience`.
  std::optional<std::string> readReply(std::chrono::milliseconds patience = std::chrono::seconds(30));

  // Every byte that arrives until the server closes the connection; `closed` is false when it
  // was still open after `patience` (the guard of a test that expects it to close).
  struct Rest {
    std::string bytes;
    bool closed = false;
  };
  Rest readUntilClosed(std::chrono::milliseconds patience = std::chrono::seconds(30));
  // True when nothing at all arrives within `wait` and the connection stays open.
  bool silentFor(std::chrono::milliseconds wait);

  // PRELOGIN and LOGIN7 (TDS 7.1, so requests carry no ALL_HEADERS); true when the login
  // reply ends without an error.
  bool logIn(const std::string& password);
  // A SQL batch; the reply's payload as readReply gives it.
  std::optional<std::string> batch(const std::string& sql,
                                   std::chrono::milliseconds patience = std::chrono::seconds(30));

 private:
  standin::base::UniqueFd fd_;
  std::string in_;
};

// True when a reply payload ends with a final DONE (TDS 7.1 layout) without the error bit.
bool endsWithoutError(const std::string& reply);

}  // namespace standintest
