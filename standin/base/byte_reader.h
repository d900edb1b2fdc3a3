// Reading the little-endian integers and byte runs that TDS messages and the stand-in's backup
// files are made of. A read past the end never happens: the reader calls its `onShort` handler
// first, which throws what the caller's format calls a short input (a protocol error on the
// wire, a damaged file elsewhere); without one it throws ShortInput.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string_view>

namespace standin::base {

struct ShortInput : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class ByteReader {
 public:
  // Called when a read would pass the end; it must throw.
  using ShortHandler = void (*)();

  explicit ByteReader(std::string_view data, ShortHandler onShort = nullptr)
      : data_(data), onShort_(onShort) {}

  std::size_t pos() const { return pos_; }
  std::size_t left() const { return data_.size() - pos_; }
  bool atEnd() const { return pos_ >= data_.size(); }
  bool has(std::size_t n) const { return left() >= n; }
  std::string_view data() const { return data_; }
  std::string_view rest() const { return data_.substr(pos_); }

  // Throws (through onShort) unless n more bytes are there.
  void need(std::size_t n) const;

  std::uint8_t u8() { return static_cast<std::uint8_t>(unsignedLe(1)); }
  std::uint16_t u16() { return static_cast<std::uint16_t>(unsignedLe(2)); }
  std::uint32_t u32() { return static_cast<std::uint32_t>(unsignedLe(4)); }
  std::uint64_t u64() { return unsignedLe(8); }
  // An integer of n bytes (at most 8; more is std::length_error), unsigned or sign-extended.
  std::uint64_t unsignedLe(std::size_t n);
  std::int64_t signedLe(std::size_t n);
  std::string_view bytes(std::size_t n);
  void skip(std::size_t n) { bytes(n); }

 private:
  std::string_view data_;
  std::size_t pos_ = 0;
  ShortHandler onShort_;
};

}  // namespace standin::base
