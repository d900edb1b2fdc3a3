#include "standin/base/byte_reader.h"

namespace standin::base {

void ByteReader::need(std::size_t n) const {
  if (has(n)) return;
  if (onShort_) onShort_();
  throw ShortInput("the data ends too early");
}

std::uint64_t ByteReader::unsignedLe(std::size_t n) {
  if (n > 8) throw std::length_error("an integer of more than 8 bytes");
  need(n);
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < n; ++i)
    v |= static_cast<std::uint64_t>(static_cast<unsigned char>(data_[pos_ + i])) << (8 * i);
  pos_ += n;
  return v;
}

std::int64_t ByteReader::signedLe(std::size_t n) {
  std::uint64_t v = unsignedLe(n);
  if (n > 0 && n < 8 && (v >> (8 * n - 1)) & 1u) v |= ~0ULL << (8 * n);
  return static_cast<std::int64_t>(v);
}

std::string_view ByteReader::bytes(std::size_t n) {
  need(n);
  const auto v = data_.substr(pos_, n);
  pos_ += n;
  return v;
}

}  // namespace standin::base
