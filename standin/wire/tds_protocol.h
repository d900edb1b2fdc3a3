// TDS encoding and decoding: packets, the login, tokens ([MS-TDS] 2.2).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "standin/base/byte_reader.h"
#include "standin/engine/engine.h"
#include "standin/sql/results.h"

namespace standin::wire {

// Packet types [MS-TDS] 2.2.3.1.1
enum PacketType : std::uint8_t {
  kSqlBatch = 0x01,
  kRpc = 0x03,
  kTabularResult = 0x04,
  kAttention = 0x06,
  kTransactionManager = 0x0E,
  kLogin7 = 0x10,
  kSspi = 0x11,
  kPrelogin = 0x12,
};

enum PacketStatus : std::uint8_t {
  kEom = 0x01,
  kIgnore = 0x02,
  kResetConnection = 0x08,
  kResetKeepTransaction = 0x10
};

// DONE status bits [MS-TDS] 2.2.7.6
enum DoneStatus : std::uint16_t {
  kDoneFinal = 0x0000,
  kDoneMore = 0x0001,
  kDoneError = 0x0002,
  kDoneInxact = 0x0004,
  kDoneCount = 0x0010,
  kDoneAttn = 0x0020,
  kDoneSrvError = 0x0100,
};

struct ProtocolError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Collation Japanese_CI_AS: LCID 0x0411, ignore case/kana/width, sort id 0 ([MS-TDS] 2.2.5.1.2).
inline const std::string kCollation("\x11\x04\xD0\x00\x00", 5);

// Reads a request's payload; a read past its end is a ProtocolError.
class Reader : public base::ByteReader {
 public:
  explicit Reader(std::string_view data);
  std::string ucs2(std::size_t chars);  // to UTF-8
  std::string bVarchar() { return ucs2(u8()); }
};

struct Login7 {
  std::uint32_t tdsVersion = 0;
  std::uint32_t packetSize = 4096;
  std::uint8_t optionFlags2 = 0;
  std::string hostName, userName, password, appName, serverName, language, database;
  bool integrated() const { return (optionFlags2 & 0x80) != 0; }
};

Login7 parseLogin7(std::string_view payload);
// The obfuscation of [MS-TDS] 2.2.6.4: swap nibbles, then XOR 0xA5 (and back).
std::string decodePassword(std::string_view bytes);
std::string encodePassword(std::string_view bytes);

std::string preloginReply(const base::ProductVersion& version);

// Skips ALL_HEADERS when a request carries them (TDS 7.2+).
void skipAllHeaders(Reader& r, std::uint32_t tdsVersion);

struct RpcRequest {
  std::string procedure;  // by name, or the name of a well-known procedure id
  std::vector<engine::Session::Parameter> params;
};
RpcRequest parseRpc(std::string_view payload, std::uint32_t tdsVersion);

struct TmRequest {
  std::uint16_t type = 0;  // 5 begin, 7 commit, 8 rollback
  bool beginNew = false;
};
TmRequest parseTransactionManager(std::string_view payload, std::uint32_t tdsVersion);

// Builds a reply token by token for one negotiated TDS version.
class TokenWriter {
 public:
  TokenWriter(std::uint32_t tdsVersion, std::string serverName)
      : version_(tdsVersion), serverName_(std::move(serverName)) {}
  const std::string& bytes() const { return out_; }
  bool empty() const { return out_.empty(); }

  void envChange(std::uint8_t type, const std::string& newValue, const std::string& oldValue);
  void envChangeBytes(std::uint8_t type, const std::string& newValue, const std::string& oldValue);
  void message(const sql::Message& m);
  void loginAck(const base::ProductVersion& product);
  void columns(const std::vector<sql::Column>& cols);
  void row(const std::vector<sql::Column>& cols, const sql::Row& values);
  void done(std::uint8_t token, std::uint16_t status, std::uint16_t curCmd, std::uint64_t count);
  void returnStatus(std::int32_t value);
  void returnValue(const sql::ReturnValue& rv);
  // Writes a whole engine result; makes the last DONE final.
  void result(const sql::BatchResult& r);
  // Where each statement's tokens of a result end (after its DONE), in order.
  const std::vector<std::size_t>& statementEnds() const { return statementEnds_; }

 private:
  void u8(std::uint8_t v) { out_.push_back(static_cast<char>(v)); }
  void u16(std::uint16_t v);
  void u32(std::uint32_t v);
  void u64(std::uint64_t v);
  void bVarchar(const std::string& utf8);
  void usVarchar(const std::string& utf8);
  void typeInfo(const sql::SqlType& t);
  void value(const sql::SqlType& t, const sql::Value& v);
  bool modern() const { return version_ >= 0x72000000; }

  std::uint32_t version_;
  std::string serverName_;
  std::string out_;
  std::size_t lastDoneAt_ = std::string::npos;  // offset of the last DONE/DONEPROC token
  std::vector<std::size_t> statementEnds_;
};

inline constexpr std::uint8_t kTokenDone = 0xFD;
inline constexpr std::uint8_t kTokenDoneProc = 0xFE;
inline constexpr std::uint8_t kTokenDoneInProc = 0xFF;

}  // namespace standin::wire
