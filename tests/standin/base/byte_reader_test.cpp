// The little-endian reader under the TDS decoder and the backup file reader.
#include <gtest/gtest.h>

#include <string>

#include "standin/base/byte_reader.h"

using standin::base::ByteReader;
using standin::base::ShortInput;

namespace {

struct Truncated {};
[[noreturn]] void throwTruncated() { throw Truncated{}; }

}  // namespace

TEST(ByteReader, ReadsLittleEndianIntegersOfEveryWidth) {
  const std::string bytes("\x01\x02\x03\x04\x05\x06\x07\x08\xFE\xFF\xFF\x80\x00\x00\x00", 15);
  ByteReader r(bytes);
  EXPECT_EQ(r.u16(), 0x0201u);
  EXPECT_EQ(r.u32(), 0x06050403u);
  EXPECT_EQ(r.bytes(2), std::string("\x07\x08", 2));
  EXPECT_EQ(r.signedLe(2), -2);         // sign-extended from its top bit
  EXPECT_EQ(r.unsignedLe(3), 0x80FFu);  // three bytes, no sign
  EXPECT_EQ(r.left(), 2u);
  EXPECT_THROW(r.unsignedLe(9), std::length_error);
}

TEST(ByteReader, AReadPastTheEndThrowsTheCallersErrorAndMovesNothing) {
  const std::string three("\x01\x02\x03", 3);
  ByteReader withHandler(three, &throwTruncated);
  EXPECT_THROW(withHandler.u32(), Truncated);
  EXPECT_EQ(withHandler.pos(), 0u);
  EXPECT_EQ(withHandler.u16(), 0x0201u);
  ByteReader plain(three);
  plain.skip(3);
  EXPECT_TRUE(plain.atEnd());
  EXPECT_THROW(plain.u8(), ShortInput);
}
