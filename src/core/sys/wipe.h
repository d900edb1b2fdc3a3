// Wiping a secret's bytes before its memory is given back, in a way the compiler may not leave
// out (explicit_bzero, SecureZeroMemory). Best effort: copies that libraries made are beyond
// reach.
#pragma once

#include <cstddef>
#include <string>

namespace bv::sys {

void wipeMemory(void* data, std::size_t size) noexcept;

template <typename CharT>
void wipe(std::basic_string<CharT>& text) noexcept {
  wipeMemory(text.data(), text.size() * sizeof(CharT));
  text.clear();
}

}  // namespace bv::sys
