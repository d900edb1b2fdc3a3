// The TDS encodings the client depends on ([MS-TDS] 2.2): login, tokens, version rules.
#include <gtest/gtest.h>

#include "raw_tds_client.h"
#include "standin/base/text.h"
#include "standin/base/version.h"
#include "standin/wire/tds_protocol.h"

using namespace standin;
using namespace standin::base;
using namespace standin::sql;
using namespace standin::wire;
using standintest::login7;

namespace {

std::uint8_t at(const std::string& s, std::size_t i) { return static_cast<std::uint8_t>(s.at(i)); }

void put16(std::string& s, std::size_t at16, std::uint16_t v) {
  s[at16] = static_cast<char>(v & 0xFF);
  s[at16 + 1] = static_cast<char>(v >> 8);
}

}  // namespace

TEST(TdsLogin, PasswordObfuscationIsNibbleSwapThenXor) {
  // 'a' = 0x61 -> swapped 0x16 -> xor 0xA5 = 0xB3; the high byte 0x00 becomes 0xA5.
  const std::string encoded = encodePassword(utf8ToUtf16le("a"));
  EXPECT_EQ(at(encoded, 0), 0xB3);
  EXPECT_EQ(at(encoded, 1), 0xA5);
  EXPECT_EQ(utf16leToUtf8(decodePassword(encodePassword(utf8ToUtf16le("p;w{d}x'日")))), "p;w{d}x'日");
}

TEST(TdsLogin, Login7FieldsAreRead) {
  const Login7 l = parseLogin7(login7("sa", "Sa-pass;w'rd1", "master"));
  EXPECT_EQ(l.tdsVersion, kTds72);
  EXPECT_EQ(l.packetSize, 4096u);
  EXPECT_EQ(l.userName, "sa");
  EXPECT_EQ(l.password, "Sa-pass;w'rd1");
  EXPECT_EQ(l.database, "master");
  EXPECT_EQ(l.language, "us_english");
  EXPECT_FALSE(l.integrated());
  EXPECT_TRUE(parseLogin7(login7("", "", "", kTds74, 0x83)).integrated());
}

TEST(TdsLogin, FieldsOutsideThePacketAreAProtocolError) {
  std::string bad = login7("sa", "x", "");
  put16(bad, 40, 0x7000);
  EXPECT_THROW(parseLogin7(bad), ProtocolError);
  EXPECT_THROW(parseLogin7(std::string(20, '\0')), ProtocolError);
}

TEST(TdsLogin, PreloginSaysNoEncryptionAndNoMars) {
  const std::string r = preloginReply(productVersionFor(2005));
  // option table: VERSION, ENCRYPTION, INSTOPT, THREADID, MARS, terminator
  EXPECT_EQ(at(r, 5), 0x01);
  const std::size_t encryptionAt = (at(r, 6) << 8) | at(r, 7);
  EXPECT_EQ(at(r, encryptionAt), 0x02);
  EXPECT_EQ(at(r, 20), 0x04);
  const std::size_t marsAt = (at(r, 21) << 8) | at(r, 22);
  EXPECT_EQ(at(r, marsAt), 0x00);
  EXPECT_EQ(at(r, 25), 0xFF);
}

TEST(TdsVersion, TheLowerVersionIsReported) {
  EXPECT_EQ(negotiateTdsVersion(kTds74, productVersionFor(2005).tdsVersion), kTds72);
  EXPECT_EQ(negotiateTdsVersion(kTds71, productVersionFor(2012).tdsVersion), kTds71);
  EXPECT_EQ(negotiateTdsVersion(kTds74, productVersionFor(2000).tdsVersion), kTds71);
  EXPECT_EQ(negotiateTdsVersion(kTds74, productVersionFor(2008).tdsVersion), kTds73);
}

TEST(TdsTokens, LoginAckCarriesInterfaceOneAndABigEndianVersion) {
  TokenWriter w(kTds72, "BOX");
  w.loginAck(productVersionFor(2005));
  const std::string& b = w.bytes();
  EXPECT_EQ(at(b, 0), 0xAD);
  EXPECT_EQ(static_cast<std::size_t>(at(b, 1) | (at(b, 2) << 8)), b.size() - 3);
  EXPECT_EQ(at(b, 3), 1);
  EXPECT_EQ(at(b, 4), 0x72);
  EXPECT_EQ(at(b, 5), 0x09);
  EXPECT_EQ(at(b, 6), 0x00);
  EXPECT_EQ(at(b, 7), 0x02);
  EXPECT_EQ(at(b, b.size() - 4), 9);  // product major version
}

TEST(TdsTokens, MessageLayoutFollowsTheVersionAndSeverityTenTravelsAsZero) {
  const Message m{5701, 2, 10, "Changed database context to 'x'.", 1, {}};
  TokenWriter old(kTds71, "BOX");
  old.message(m);
  TokenWriter modern(kTds72, "BOX");
  modern.message(m);
  EXPECT_EQ(modern.bytes().size(), old.bytes().size() + 2);  // LONG line number instead of USHORT
  EXPECT_EQ(at(old.bytes(), 0), 0xAB);                       // INFO
  EXPECT_EQ(at(old.bytes(), 8), 0);                          // class
  TokenWriter err(kTds72, "BOX");
  err.message(Message{18456, 1, 14, "Login failed for user 'sa'.", 1, {}});
  EXPECT_EQ(at(err.bytes(), 0), 0xAA);  // ERROR
  EXPECT_EQ(at(err.bytes(), 8), 14);
}

TEST(TdsTokens, OnlyTheLastDoneOfAReplyIsFinal) {
  BatchResult r;
  r.items.push_back(StatementDone{false, 1, false, StatementDone::Command::Select});
  r.items.push_back(Message{3013, 1, 16, "x", 1, {}});
  r.items.push_back(StatementDone{true, std::nullopt, false, StatementDone::Command::Other});
  TokenWriter w(kTds71, "BOX");
  w.result(r);
  const std::string& b = w.bytes();
  ASSERT_EQ(at(b, 0), kTokenDone);
  EXPECT_EQ(at(b, 1), kDoneMore | kDoneCount);
  EXPECT_EQ(at(b, 5), 1);  // 4-byte count in 7.1
  const std::size_t last = b.size() - 9;
  EXPECT_EQ(at(b, last), kTokenDone);
  EXPECT_EQ(at(b, last + 1), kDoneError);  // DONE_ERROR, no DONE_MORE

  BatchResult empty;
  TokenWriter w2(kTds74, "BOX");
  w2.result(empty);
  EXPECT_EQ(w2.bytes(), std::string("\xFD\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00", 13));
}

TEST(TdsTokens, TransactionDescriptorsAreSentFromTds72Only) {
  BatchResult r;
  r.items.push_back(EnvChange{EnvChange::Kind::BeginTransaction, std::string("\x01\0\0\0\0\0\0\0", 8), {}});
  TokenWriter old(kTds71, "BOX");
  old.result(r);
  EXPECT_NE(at(old.bytes(), 0), 0xE3);
  TokenWriter modern(kTds72, "BOX");
  modern.result(r);
  ASSERT_EQ(at(modern.bytes(), 0), 0xE3);
  EXPECT_EQ(at(modern.bytes(), 3), 8);  // type 8, begin transaction
  EXPECT_EQ(at(modern.bytes(), 4), 8);  // 8-byte descriptor
}

TEST(TdsRequests, RpcByNameAndById) {
  std::string p;
  // ALL_HEADERS with one transaction descriptor header (22 bytes)
  p += std::string("\x16\0\0\0\x12\0\0\0\x02\0", 10) + std::string(8, '\0') + std::string("\x01\0\0\0", 4);
  const std::string name = utf8ToUtf16le("sp_tables");
  p += static_cast<char>(name.size() / 2);
  p += '\0';
  p += name;
  p += std::string(2, '\0');  // option flags
  auto nvarchar = [&](const std::string& n, const std::string& v) {
    const std::string n16 = utf8ToUtf16le(n), v16 = utf8ToUtf16le(v);
    p += static_cast<char>(n16.size() / 2);
    p += n16;
    p += '\0';
    p += '\xE7';
    p += std::string("\x00\x01", 2);  // max 256 bytes
    p += kCollation;
    p += static_cast<char>(v16.size() & 0xFF);
    p += static_cast<char>(v16.size() >> 8);
    p += v16;
  };
  nvarchar("@table_name", "");
  nvarchar("@table_qualifier", "%");
  const RpcRequest r = parseRpc(p, kTds72);
  EXPECT_EQ(r.procedure, "sp_tables");
  ASSERT_EQ(r.params.size(), 2u);
  EXPECT_EQ(r.params[1].name, "@table_qualifier");
  EXPECT_EQ(std::get<std::string>(r.params[1].value), "%");

  std::string byId("\xFF\xFF\x0D\x00\x00\x00", 6);  // ProcID 13, no ALL_HEADERS in 7.1
  byId += std::string("\x00\x01\x26\x04\x00", 5);   // unnamed OUTPUT INTN(4) NULL
  const RpcRequest prep = parseRpc(byId, kTds71);
  EXPECT_EQ(prep.procedure, "sp_prepexec");
  ASSERT_EQ(prep.params.size(), 1u);
  EXPECT_TRUE(prep.params[0].output);
  EXPECT_TRUE(isNull(prep.params[0].value));
  EXPECT_THROW(parseRpc(std::string("\x05\x00\x41", 3), kTds71), ProtocolError);
}

namespace {

// An RPC of sp_executesql by ProcID (TDS 7.1, no ALL_HEADERS) with one unnamed parameter: the
// type byte, its TYPE_INFO and value as given.
std::string rpcWithParameter(const std::string& typeInfoAndValue) {
  return std::string("\xFF\xFF\x0A\x00\x00\x00", 6) + std::string("\x00\x00", 2) + typeInfoAndValue;
}

}  // namespace

TEST(TdsRequests, RpcValuesOfImpossibleLengthsAreProtocolErrors) {
  // Sound values first: INTN(8) -2, DECIMALN(17) 12345.67.
  const auto intn = parseRpc(
      rpcWithParameter(std::string("\x26\x08\x08", 3) + std::string("\xFE") + std::string(7, '\xFF')),
      kTds71);
  ASSERT_EQ(intn.params.size(), 1u);
  EXPECT_EQ(std::get<std::int64_t>(intn.params[0].value), -2);
  std::string magnitude(16, '\0');
  magnitude[0] = static_cast<char>(1234567 & 0xFF);
  magnitude[1] = static_cast<char>((1234567 >> 8) & 0xFF);
  magnitude[2] = static_cast<char>(1234567 >> 16);
  const auto dec = parseRpc(rpcWithParameter(std::string("\x6A\x11\x26\x02\x11\x01", 6) + magnitude), kTds71);
  ASSERT_EQ(dec.params.size(), 1u);
  EXPECT_DOUBLE_EQ(std::get<double>(dec.params[0].value), 12345.67);

  // An integer declared 255 bytes long, a decimal of 254: refused, never shifted past 64 bits or
  // turned into infinity.
  EXPECT_THROW(parseRpc(rpcWithParameter(std::string("\x26\x04\xFF", 3) + std::string(255, '\x7F')), kTds71),
               ProtocolError);
  EXPECT_THROW(parseRpc(rpcWithParameter(std::string("\x26\xFF\x10", 3) + std::string(16, '\x01')), kTds71),
               ProtocolError);
  EXPECT_THROW(
      parseRpc(rpcWithParameter(std::string("\x6A\xFE\x26\x00\xFE\x01", 6) + std::string(253, '\xFF')),
               kTds71),
      ProtocolError);
  // Lengths a type does not have are refused too, rather than read as the next parameter.
  for (const std::string& bad :
       {std::string("\x6D\x08\x05", 3) + std::string(5, '\0'),               // FLTN(5)
        std::string("\x6E\x08\x06", 3) + std::string(6, '\0'),               // MONEYN(6)
        std::string("\x6F\x08\x07", 3) + std::string(7, '\0'),               // DATETIMN(7)
        std::string("\x68\x01\x02", 3) + std::string(2, '\0'),               // BITN(2)
        std::string("\x24\x10\x09", 3) + std::string(9, '\0'),               // GUID(9)
        std::string("\x28\x02", 2) + std::string(2, '\0'),                   // DATEN(2)
        std::string("\x6A\x11\x26\x00\x07\x01", 6) + std::string(6, '\0'),   // DECIMALN(7)
        std::string("\x6A\x11\x27\x00\x11\x01", 6) + std::string(16, '\0'),  // precision 39
        std::string("\x2A\x09\x08", 3) + std::string(8, '\0')}) {            // DATETIME2N scale 9
    EXPECT_THROW(parseRpc(rpcWithParameter(bad), kTds71), ProtocolError) << static_cast<int>(bad[0]);
  }
}

TEST(TdsRequests, AnIntegerParameterOfMoreThanEightBytesIsAProtocolError) {
  // ProcID 10 (sp_executesql) without ALL_HEADERS, then one unnamed INTN(4) whose value claims
  // nine bytes: no integer type has that many, and reading it as one shifted past 64 bits.
  std::string rpc("\xFF\xFF\x0A\x00\x00\x00", 6);
  rpc += std::string("\x00\x00\x26\x04\x09", 5) + std::string(9, '\x7F');
  EXPECT_THROW(parseRpc(rpc, kTds71), ProtocolError);
  std::string bit("\xFF\xFF\x0A\x00\x00\x00", 6);
  bit += std::string("\x00\x00\x68\x01\x10", 5) + std::string(16, '\x01');  // BITN, sixteen bytes
  EXPECT_THROW(parseRpc(bit, kTds71), ProtocolError);
  // The eight bytes of a BIGINT still read.
  std::string big("\xFF\xFF\x0A\x00\x00\x00", 6);
  big += std::string("\x00\x00\x26\x08\x08", 5) + std::string("\xFE\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 8);
  const RpcRequest read = parseRpc(big, kTds71);
  ASSERT_EQ(read.params.size(), 1u);
  EXPECT_EQ(std::get<std::int64_t>(read.params[0].value), -2);
}

TEST(TdsRequests, TransactionManagerCommitCanBeginTheNextTransaction) {
  const std::string all =
      std::string("\x16\0\0\0\x12\0\0\0\x02\0", 10) + std::string(8, '\0') + std::string("\x01\0\0\0", 4);
  const auto commit = parseTransactionManager(all + std::string("\x07\x00\x00\x01\x00\x00", 6), kTds72);
  EXPECT_EQ(commit.type, 7);
  EXPECT_TRUE(commit.beginNew);
  const auto rollback = parseTransactionManager(all + std::string("\x08\x00\x00\x00", 4), kTds72);
  EXPECT_EQ(rollback.type, 8);
  EXPECT_FALSE(rollback.beginNew);
}
