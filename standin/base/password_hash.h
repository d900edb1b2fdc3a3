// Passwords kept only as hashes made for passwords: Argon2id through libsodium's
// crypto_pwhash_str, stored in its own text form ("$argon2id$v=19$m=...,t=...,p=1$salt$hash").
// A check against such a hash costs tens of milliseconds and tens of megabytes on purpose;
// PasswordCheck remembers which password last matched which hash (as a keyed digest that never
// leaves the process), so that only the first login after a start pays for it.
#pragma once

#include <array>
#include <mutex>
#include <string>
#include <string_view>

namespace standin::base {

// True when `stored` is a hash of the form hashPassword makes (an earlier version kept plain text).
bool isPasswordHash(std::string_view stored);
// A new hash of `password` with a fresh salt. Throws std::runtime_error when it cannot be made.
std::string hashPassword(std::string_view password);

class PasswordCheck {
 public:
  PasswordCheck();
  PasswordCheck(const PasswordCheck&) = delete;
  PasswordCheck& operator=(const PasswordCheck&) = delete;

  // True when `password` is the one `hash` was made from.
  bool matches(const std::string& hash, std::string_view password);
  // Notes that `password` matches `hash` (known because the hash was just made from it).
  void remember(const std::string& hash, std::string_view password);

 private:
  using Digest = std::array<unsigned char, 32>;
  Digest digestOf(std::string_view password) const;

  std::array<unsigned char, 32> key_{};
  std::mutex mutex_;  // guards the remembered pair
  std::string knownHash_;
  Digest knownDigest_{};
  // One full check at a time: each takes tens of megabytes, and failed logins cannot pile up.
  std::mutex hashing_;
};

}  // namespace standin::base
