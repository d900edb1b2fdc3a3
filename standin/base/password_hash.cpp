#include "standin/base/password_hash.h"

#include <sodium.h>

#include <stdexcept>

namespace standin::base {

namespace {

void initialiseSodium() {
  // Safe to call from several threads and more than once.
  if (sodium_init() < 0) throw std::runtime_error("libsodium could not be initialised");
}

}  // namespace

bool isPasswordHash(std::string_view stored) {
  return stored.rfind("$argon2id$", 0) == 0 || stored.rfind("$argon2i$", 0) == 0;
}

std::string hashPassword(std::string_view password) {
  initialiseSodium();
  char out[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str(out, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                        crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
    throw std::runtime_error("the password hash could not be made (out of memory)");
  return out;
}

PasswordCheck::PasswordCheck() {
  initialiseSodium();
  randombytes_buf(key_.data(), key_.size());
}

PasswordCheck::Digest PasswordCheck::digestOf(std::string_view password) const {
  Digest d{};
  crypto_generichash(d.data(), d.size(), reinterpret_cast<const unsigned char*>(password.data()),
                     password.size(), key_.data(), key_.size());
  return d;
}

bool PasswordCheck::matches(const std::string& hash, std::string_view password) {
  if (!isPasswordHash(hash)) return false;
  const Digest digest = digestOf(password);
  {
    std::lock_guard lock(mutex_);
    if (knownHash_ == hash && sodium_memcmp(knownDigest_.data(), digest.data(), digest.size()) == 0)
      return true;
  }
  bool ok = false;
  {
    std::lock_guard lock(hashing_);
    ok = crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
  }
  if (ok) remember(hash, password);
  return ok;
}

void PasswordCheck::remember(const std::string& hash, std::string_view password) {
  const Digest digest = digestOf(password);
  std::lock_guard lock(mutex_);
  knownHash_ = hash;
  knownDigest_ = digest;
}

}  // namespace standin::base
