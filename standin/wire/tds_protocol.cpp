#include "standin/wire/tds_protocol.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

#include "standin/base/text.h"

namespace standin::wire {

using base::serverCodePageBytesToUtf8;
using base::utf16leToUtf8;
using base::utf8ToServerCodePageBytes;
using base::utf8ToUtf16le;
using sql::BatchResult;
using sql::Binary;
using sql::Column;
using sql::DateTime;
using sql::EnvChange;
using sql::isNull;
using sql::Message;
using sql::ProcedureDone;
using sql::ResultSet;
using sql::ReturnStatus;
using sql::ReturnValue;
using sql::Row;
using sql::SqlType;
using sql::StatementDone;
using sql::Value;
using sql::valueToText;

// ---------- Reader ----------

namespace {
[[noreturn]] void truncatedRequest() { throw ProtocolError("truncated request"); }
}  // namespace

Reader::Reader(std::string_view data) : ByteReader(data, &truncatedRequest) {}

std::string Reader::ucs2(std::size_t chars) { return utf16leToUtf8(bytes(chars * 2)); }

// ---------- login ----------

std::string decodePassword(std::string_view bytes) {
  std::string out(bytes);
  for (char& c : out) {
    auto b = static_cast<unsigned char>(static_cast<unsigned char>(c) ^ 0xA5);
    b = static_cast<unsigned char>(((b << 4) | (b >> 4)) & 0xFF);
    c = static_cast<char>(b);
  }
  return out;
}

std::string encodePassword(std::string_view bytes) {
  std::string out(bytes);
  for (char& c : out) {
    auto b = static_cast<unsigned char>(c);
    b = static_cast<unsigned char>((((b << 4) | (b >> 4)) & 0xFF) ^ 0xA5);
    c = static_cast<char>(b);
  }
  return out;
}

Login7 parseLogin7(std::string_view payload) {
  Reader r(payload);
  if (payload.size() < 86) throw ProtocolError("LOGIN7 too short");
  Login7 l;
  r.u32();  // length
  l.tdsVersion = r.u32();
  l.packetSize = r.u32();
  r.skip(4 + 4 + 4);  // client program version, process id, connection id
  r.u8();             // option flags 1
  l.optionFlags2 = r.u8();
  r.skip(2 + 4 + 4);  // type flags, option flags 3, time zone, LCID
  auto field = [&](bool isPassword) {
    const std::uint16_t offset = r.u16();
    const std::uint16_t chars = r.u16();
    if (chars == 0) return std::string();
    const std::size_t end = static_cast<std::size_t>(offset) + static_cast<std::size_t>(chars) * 2;
    if (end > payload.size()) throw ProtocolError("LOGIN7 field outside the packet");
    const std::string_view raw = payload.substr(offset, static_cast<std::size_t>(chars) * 2);
    return utf16leToUtf8(isPassword ? std::string_view(decodePassword(raw)) : raw);
  };
  l.hostName = field(false);
  l.userName = field(false);
  {
    const std::uint16_t offset = r.u16();
    const std::uint16_t chars = r.u16();
    const std::size_t end = static_cast<std::size_t>(offset) + static_cast<std::size_t>(chars) * 2;
    if (end > payload.size()) throw ProtocolError("LOGIN7 password outside the packet");
    l.password = utf16leToUtf8(decodePassword(payload.substr(offset, static_cast<std::size_t>(chars) * 2)));
  }
  l.appName = field(false);
  l.serverName = field(false);
  r.skip(4);     // extension
  field(false);  // client interface name
  l.language = field(false);
  l.database = field(false);
  return l;
}

std::string preloginReply(const base::ProductVersion& version) {
  // VERSION, ENCRYPTION (not supported), INSTOPT, THREADID (empty), MARS (off) [MS-TDS] 2.2.6.5
  std::string out;
  auto entry = [&](std::uint8_t token, std::uint16_t offset, std::uint16_t length) {
    out.push_back(static_cast<char>(token));
    out.push_back(static_cast<char>(offset >> 8));
    out.push_back(static_cast<char>(offset & 0xFF));
    out.push_back(static_cast<char>(length >> 8));
    out.push_back(static_cast<char>(length & 0xFF));
  };
  const std::uint16_t base = 5 * 5 + 1;
  entry(0x00, base, 6);
  entry(0x01, base + 6, 1);
  entry(0x02, base + 7, 1);
  entry(0x03, base + 8, 0);
  entry(0x04, base + 8, 1);
  out.push_back(static_cast<char>(0xFF));
  out.push_back(static_cast<char>(version.major));
  out.push_back(static_cast<char>(version.minor));
  out.push_back(static_cast<char>((version.build >> 8) & 0xFF));
  out.push_back(static_cast<char>(version.build & 0xFF));
  out.push_back(0);
  out.push_back(0);
  out.push_back(0x02);  // ENCRYPT_NOT_SUP
  out.push_back(0x00);  // INSTOPT
  out.push_back(0x00);  // MARS off
  return out;
}

void skipAllHeaders(Reader& r, std::uint32_t tdsVersion) {
  if (tdsVersion < 0x72000000 || r.left() < 4) return;
  base::ByteReader length(r.rest());
  const std::uint32_t total = length.u32();
  if (total >= 4 && total <= r.left()) r.skip(total);
}

// ---------- RPC ----------

namespace {

const char* procedureById(std::uint16_t id) {
  switch (id) {
    case 1:
      return "sp_cursor";
    case 2:
      return "sp_cursoropen";
    case 3:
      return "sp_cursorprepare";
    case 4:
      return "sp_cursorexecute";
    case 5:
      return "sp_cursorprepexec";
    case 6:
      return "sp_cursorunprepare";
    case 7:
      return "sp_cursorfetch";
    case 8:
      return "sp_cursoroption";
    case 9:
      return "sp_cursorclose";
    case 10:
      return "sp_executesql";
    case 11:
      return "sp_prepare";
    case 12:
      return "sp_execute";
    case 13:
      return "sp_prepexec";
    case 14:
      return "sp_prepexecrpc";
    case 15:
      return "sp_unprepare";
    default:
      return "";
  }
}

// A length the type does not have is a malformed request, never a value ([MS-TDS] 2.2.5.4).
std::uint8_t lengthOf(std::uint8_t length, std::initializer_list<std::uint8_t> allowed, const char* type) {
  for (const auto a : allowed)
    if (a == length) return length;
  throw ProtocolError(std::string("a ") + type + " value of " + std::to_string(length) + " bytes");
}

// Partially length-prefixed bytes ([MS-TDS] 2.2.5.2.3); nullopt for NULL.
std::optional<std::string> readPlp(Reader& r) {
  const std::uint64_t total = r.u64();
  if (total == 0xFFFFFFFFFFFFFFFFULL) return std::nullopt;
  std::string out;
  while (true) {
    const std::uint32_t chunk = r.u32();
    if (chunk == 0) break;
    out.append(r.bytes(chunk));
  }
  return out;
}

DateTime fromDaysSince0001(std::int64_t days, double secondsOfDay) {
  // 0001-01-01 is 693595 days before 1900-01-01
  DateTime dt;
  dt.days = static_cast<std::int32_t>(days - 693595);
  dt.ticks = static_cast<std::uint32_t>(std::llround(secondsOfDay * 300.0));
  return dt;
}

using Parameter = engine::Session::Parameter;
using K = SqlType::Kind;

// One reader for each kind of parameter value ([MS-TDS] 2.2.5.4 and 2.2.5.5): each reads the
// type's TYPE_INFO after its type byte, then the value, into the parameter.

// INTN, BITN and the fixed-length integers and bit.
void readInteger(Reader& r, std::uint8_t type, Parameter& p) {
  switch (type) {
    case 0x30:  // INT1
      p.type = SqlType{K::TinyInt, 0};
      p.value = static_cast<std::int64_t>(r.u8());
      return;
    case 0x32:  // BIT
      p.type = SqlType{K::Bit, 0};
      p.value = static_cast<std::int64_t>(r.u8() != 0);
      return;
    case 0x34:  // INT2
      p.type = SqlType{K::SmallInt, 0};
      p.value = r.signedLe(2);
      return;
    case 0x38:  // INT4
      p.type = SqlType::integer();
      p.value = r.signedLe(4);
      return;
    case 0x7F:  // INT8
      p.type = SqlType::bigint();
      p.value = r.signedLe(8);
      return;
    default:
      break;
  }
  const bool bit = type == 0x68;
  const std::uint8_t max = bit ? lengthOf(r.u8(), {1}, "bit") : lengthOf(r.u8(), {1, 2, 4, 8}, "int");
  const std::uint8_t len = bit ? lengthOf(r.u8(), {0, 1}, "bit") : lengthOf(r.u8(), {0, 1, 2, 4, 8}, "int");
  if (len > max) throw ProtocolError("an int value longer than its type");
  p.type = bit        ? SqlType{K::Bit, 0}
           : max == 8 ? SqlType::bigint()
           : max == 2 ? SqlType{K::SmallInt, 0}
           : max == 1 ? SqlType{K::TinyInt, 0}
                      : SqlType::integer();
  if (len == 0) return;
  // A one-byte integer is a tinyint, never negative.
  p.value = len == 1 && !bit ? static_cast<std::int64_t>(r.u8()) : r.signedLe(len);
}

// FLTN, FLT4, FLT8.
void readFloat(Reader& r, std::uint8_t type, Parameter& p) {
  std::uint8_t len = type == 0x3B ? 4 : 8;
  if (type == 0x6D) {
    lengthOf(r.u8(), {4, 8}, "float");
    len = lengthOf(r.u8(), {0, 4, 8}, "float");
  }
  p.type = SqlType{K::Float, 0};
  if (len == 4) {
    const std::uint32_t bits = r.u32();
    float f = 0;
    std::memcpy(&f, &bits, 4);
    p.value = static_cast<double>(f);
  } else if (len == 8) {
    const std::uint64_t bits = r.u64();
    double d = 0;
    std::memcpy(&d, &bits, 8);
    p.value = d;
  }
}

// MONEYN, MONEY, SMALLMONEY.
void readMoney(Reader& r, std::uint8_t type, Parameter& p) {
  std::uint8_t len = type == 0x7A ? 4 : 8;
  if (type == 0x6E) {
    lengthOf(r.u8(), {4, 8}, "money");
    len = lengthOf(r.u8(), {0, 4, 8}, "money");
  }
  p.type = SqlType{K::Float, 0};
  if (len == 4) {
    p.value = static_cast<double>(static_cast<std::int32_t>(r.u32())) / 10000.0;
  } else if (len == 8) {
    const auto hi = static_cast<std::int64_t>(static_cast<std::int32_t>(r.u32()));
    const std::uint32_t lo = r.u32();
    p.value = static_cast<double>(hi * 4294967296LL + lo) / 10000.0;
  }
}

// DATETIMN, DATETIME, SMALLDATETIME.
void readDateTime(Reader& r, std::uint8_t type, Parameter& p) {
  std::uint8_t len = type == 0x3A ? 4 : 8;
  if (type == 0x6F) {
    lengthOf(r.u8(), {4, 8}, "datetime");
    len = lengthOf(r.u8(), {0, 4, 8}, "datetime");
  }
  p.type = SqlType{K::DateTime, 0};
  DateTime dt;
  if (len == 8) {
    dt.days = static_cast<std::int32_t>(r.u32());
    dt.ticks = r.u32();
    p.value = dt;
  } else if (len == 4) {
    dt.days = r.u16();
    dt.ticks = static_cast<std::uint32_t>(r.u16()) * 60u * 300u;
    p.value = dt;
  }
}

// DATEN (TDS 7.3).
void readDate(Reader& r, Parameter& p) {
  p.type = SqlType{K::DateTime, 0};
  const std::uint8_t len = lengthOf(r.u8(), {0, 3}, "date");
  if (len == 3) p.value = fromDaysSince0001(static_cast<std::int64_t>(r.unsignedLe(3)), 0);
}

// TIMEN, DATETIME2N, DATETIMEOFFSETN (TDS 7.3).
void readTimeOfDay(Reader& r, std::uint8_t type, Parameter& p) {
  const std::uint8_t scale = r.u8();
  if (scale > 7) throw ProtocolError("a time scale of " + std::to_string(scale));
  const std::uint8_t len = r.u8();
  p.type = SqlType{K::DateTime, 0};
  if (len == 0) return;
  const std::size_t timeLen = scale <= 2 ? 3 : scale <= 4 ? 4 : 5;
  const std::uint64_t units = r.unsignedLe(timeLen);
  const double secs = static_cast<double>(units) / std::pow(10.0, scale);
  std::int64_t days = 693595;  // 1900-01-01 for a bare time
  if (type != 0x29) days = static_cast<std::int64_t>(r.unsignedLe(3));
  if (type == 0x2B) r.skip(2);
  if (len != timeLen + (type == 0x29 ? 0 : 3) + (type == 0x2B ? 2 : 0))
    throw ProtocolError("bad date/time length");
  p.value = fromDaysSince0001(days, secs);
}

// DECIMALN, NUMERICN: a sign byte and 4, 8, 12 or 16 bytes of magnitude, for at most 38 digits.
void readDecimal(Reader& r, Parameter& p) {
  lengthOf(r.u8(), {5, 9, 13, 17}, "decimal");
  const std::uint8_t precision = r.u8();
  const std::uint8_t scale = r.u8();
  if (precision < 1 || precision > 38 || scale > precision)
    throw ProtocolError("a decimal of precision " + std::to_string(precision) + " and scale " +
                        std::to_string(scale));
  const std::uint8_t len = lengthOf(r.u8(), {0, 5, 9, 13, 17}, "decimal");
  p.type = scale == 0 ? SqlType::bigint() : SqlType{K::Float, 0};
  if (len == 0) return;
  const bool positive = r.u8() == 1;
  const std::string_view mag = r.bytes(len - 1u);
  long double v = 0;
  for (std::size_t i = mag.size(); i-- > 0;) v = v * 256.0L + static_cast<unsigned char>(mag[i]);
  if (!positive) v = -v;
  if (scale == 0 && std::fabs(static_cast<double>(v)) < 9.2e18) {
    p.value = static_cast<std::int64_t>(v);
  } else {
    p.type = SqlType{K::Float, 0};
    p.value = static_cast<double>(v / std::pow(10.0L, scale));
  }
}

// GUID, as SQL Server prints a uniqueidentifier.
void readGuid(Reader& r, Parameter& p) {
  lengthOf(r.u8(), {16}, "uniqueidentifier");
  const std::uint8_t len = lengthOf(r.u8(), {0, 16}, "uniqueidentifier");
  p.type = SqlType::nvarchar(36);
  if (len != 16) return;
  const std::string_view g = r.bytes(16);
  char buf[40];
  auto b = [&](int i) {
    return static_cast<unsigned>(static_cast<unsigned char>(g[static_cast<std::size_t>(i)]));
  };
  std::snprintf(buf, sizeof buf, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b(3),
                b(2), b(1), b(0), b(5), b(4), b(7), b(6), b(8), b(9), b(10), b(11), b(12), b(13), b(14),
                b(15));
  p.value = std::string(buf);
}

// NVARCHAR, NCHAR, BIGVARCHAR, BIGCHAR, BIGVARBINARY, BIGBINARY, with (max) as PLP.
void readCharactersOrBytes(Reader& r, std::uint8_t type, Parameter& p) {
  const std::uint16_t max = r.u16();
  const bool text = type != 0xA5 && type != 0xAD;
  if (text) r.skip(5);  // collation
  const bool unicode = type == 0xE7 || type == 0xEF;
  std::optional<std::string> raw;
  if (max == 0xFFFF) {
    raw = readPlp(r);
  } else {
    const std::uint16_t len = r.u16();
    if (len != 0xFFFF) raw = std::string(r.bytes(len));
  }
  if (unicode) {
    p.type = SqlType::nvarchar(max == 0xFFFF ? -1 : std::max(1, max / 2));
    if (raw) p.value = utf16leToUtf8(*raw);
  } else if (text) {
    p.type = SqlType::varchar(max == 0xFFFF ? -1 : std::max<int>(1, max));
    if (raw) p.value = serverCodePageBytesToUtf8(*raw);
  } else {
    p.type = SqlType{K::VarBinary, max == 0xFFFF ? -1 : std::max<int>(1, max)};
    if (raw) p.value = Binary{*raw};
  }
}

// NTEXT, TEXT, IMAGE.
void readLongValue(Reader& r, std::uint8_t type, Parameter& p) {
  r.u32();  // max length
  if (type != 0x22) r.skip(5);
  const std::uint32_t len = r.u32();
  std::optional<std::string> raw;
  if (len != 0xFFFFFFFFu) raw = std::string(r.bytes(len));
  if (type == 0x63) {
    p.type = SqlType::nvarchar(-1);
    if (raw) p.value = utf16leToUtf8(*raw);
  } else if (type == 0x23) {
    p.type = SqlType::varchar(-1);
    if (raw) p.value = serverCodePageBytesToUtf8(*raw);
  } else {
    p.type = SqlType{K::VarBinary, -1};
    if (raw) p.value = Binary{*raw};
  }
}

void readValue(Reader& r, std::uint8_t type, Parameter& p) {
  switch (type) {
    case 0x26:  // INTN
    case 0x68:  // BITN
    case 0x30:  // INT1
    case 0x32:  // BIT
    case 0x34:  // INT2
    case 0x38:  // INT4
    case 0x7F:  // INT8
      return readInteger(r, type, p);
    case 0x6D:  // FLTN
    case 0x3B:  // FLT4
    case 0x3E:  // FLT8
      return readFloat(r, type, p);
    case 0x6E:  // MONEYN
    case 0x3C:  // MONEY
    case 0x7A:  // SMALLMONEY
      return readMoney(r, type, p);
    case 0x6F:  // DATETIMN
    case 0x3D:  // DATETIME
    case 0x3A:  // SMALLDATETIME
      return readDateTime(r, type, p);
    case 0x28:  // DATEN
      return readDate(r, p);
    case 0x29:  // TIMEN
    case 0x2A:  // DATETIME2N
    case 0x2B:  // DATETIMEOFFSETN
      return readTimeOfDay(r, type, p);
    case 0x6A:  // DECIMALN
    case 0x6C:  // NUMERICN
      return readDecimal(r, p);
    case 0x24:  // GUID
      return readGuid(r, p);
    case 0xE7:  // NVARCHAR
    case 0xEF:  // NCHAR
    case 0xA7:  // BIGVARCHAR
    case 0xAF:  // BIGCHAR
    case 0xA5:  // BIGVARBINARY
    case 0xAD:  // BIGBINARY
      return readCharactersOrBytes(r, type, p);
    case 0x63:  // NTEXT
    case 0x23:  // TEXT
    case 0x22:  // IMAGE
      return readLongValue(r, type, p);
    default:
      throw ProtocolError("RPC parameter of an unsupported data type 0x" + std::to_string(type));
  }
}

}  // namespace

RpcRequest parseRpc(std::string_view payload, std::uint32_t tdsVersion) {
  Reader r(payload);
  skipAllHeaders(r, tdsVersion);
  RpcRequest req;
  const std::uint16_t nameLength = r.u16();
  if (nameLength == 0xFFFF) {
    req.procedure = procedureById(r.u16());
  } else {
    req.procedure = r.ucs2(nameLength);
  }
  r.u16();  // option flags
  while (!r.atEnd()) {
    const auto first = static_cast<std::uint8_t>(r.rest().front());
    if (first == 0x80 || first == 0xFF)
      break;  // another RPC follows in the same batch; not used by clients here
    Parameter p;
    p.name = r.bVarchar();
    const std::uint8_t status = r.u8();
    p.output = (status & 0x01) != 0;
    readValue(r, r.u8(), p);
    req.params.push_back(std::move(p));
  }
  return req;
}

TmRequest parseTransactionManager(std::string_view payload, std::uint32_t tdsVersion) {
  Reader r(payload);
  skipAllHeaders(r, tdsVersion);
  TmRequest t;
  t.type = r.u16();
  if (t.type == 7 || t.type == 8) {
    if (!r.atEnd()) r.skip(r.u8());  // transaction name
    if (!r.atEnd()) t.beginNew = (r.u8() & 0x01) != 0;
  }
  return t;
}

// ---------- TokenWriter ----------

void TokenWriter::u16(std::uint16_t v) {
  u8(static_cast<std::uint8_t>(v & 0xFF));
  u8(static_cast<std::uint8_t>(v >> 8));
}
void TokenWriter::u32(std::uint32_t v) {
  for (int i = 0; i < 4; ++i) u8(static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF));
}
void TokenWriter::u64(std::uint64_t v) {
  for (int i = 0; i < 8; ++i) u8(static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF));
}

void TokenWriter::bVarchar(const std::string& utf8) {
  std::string wide = utf8ToUtf16le(utf8);
  if (wide.size() > 255 * 2) wide.resize(255 * 2);
  u8(static_cast<std::uint8_t>(wide.size() / 2));
  out_ += wide;
}

void TokenWriter::usVarchar(const std::string& utf8) {
  std::string wide = utf8ToUtf16le(utf8);
  if (wide.size() > 65535 * 2) wide.resize(65535 * 2);
  u16(static_cast<std::uint16_t>(wide.size() / 2));
  out_ += wide;
}

void TokenWriter::envChange(std::uint8_t type, const std::string& newValue, const std::string& oldValue) {
  TokenWriter body(version_, serverName_);
  body.u8(type);
  body.bVarchar(newValue);
  body.bVarchar(oldValue);
  u8(0xE3);
  u16(static_cast<std::uint16_t>(body.out_.size()));
  out_ += body.out_;
}

void TokenWriter::envChangeBytes(std::uint8_t type, const std::string& newValue,
                                 const std::string& oldValue) {
  u8(0xE3);
  u16(static_cast<std::uint16_t>(1 + 1 + newValue.size() + 1 + oldValue.size()));
  u8(type);
  u8(static_cast<std::uint8_t>(newValue.size()));
  out_ += newValue;
  u8(static_cast<std::uint8_t>(oldValue.size()));
  out_ += oldValue;
}

void TokenWriter::message(const Message& m) {
  TokenWriter body(version_, serverName_);
  body.u32(static_cast<std::uint32_t>(m.number));
  body.u8(static_cast<std::uint8_t>(m.state));
  // Severity-10 messages travel with class 0, as SQL Server sends them.
  body.u8(static_cast<std::uint8_t>(m.severity == 10 ? 0 : m.severity));
  body.usVarchar(m.text);
  body.bVarchar(serverName_);
  body.bVarchar(m.procedure);
  if (modern()) {
    body.u32(static_cast<std::uint32_t>(m.line));
  } else {
    body.u16(static_cast<std::uint16_t>(m.line));
  }
  u8(m.isError() ? 0xAA : 0xAB);
  u16(static_cast<std::uint16_t>(body.out_.size()));
  out_ += body.out_;
}

void TokenWriter::loginAck(const base::ProductVersion& product) {
  TokenWriter body(version_, serverName_);
  body.u8(1);  // interface: T-SQL
  // The TDS version is big-endian here.
  body.u8(static_cast<std::uint8_t>(version_ >> 24));
  body.u8(static_cast<std::uint8_t>((version_ >> 16) & 0xFF));
  body.u8(static_cast<std::uint8_t>((version_ >> 8) & 0xFF));
  body.u8(static_cast<std::uint8_t>(version_ & 0xFF));
  body.bVarchar("Microsoft SQL Server");
  body.u8(static_cast<std::uint8_t>(product.major));
  body.u8(static_cast<std::uint8_t>(product.minor));
  body.u8(static_cast<std::uint8_t>((product.build >> 8) & 0xFF));
  body.u8(static_cast<std::uint8_t>(product.build & 0xFF));
  u8(0xAD);
  u16(static_cast<std::uint16_t>(body.out_.size()));
  out_ += body.out_;
}

namespace {
int wireChars(const SqlType& t) { return t.length <= 0 || t.length > 4000 ? 4000 : t.length; }
int wireBytes(const SqlType& t) { return t.length <= 0 || t.length > 8000 ? 8000 : t.length; }
}  // namespace

void TokenWriter::typeInfo(const SqlType& t) {
  switch (t.kind) {
    case K::Int:
      u8(0x26);
      u8(4);
      break;
    case K::BigInt:
      u8(0x26);
      u8(8);
      break;
    case K::SmallInt:
      u8(0x26);
      u8(2);
      break;
    case K::TinyInt:
      u8(0x26);
      u8(1);
      break;
    case K::Bit:
      u8(0x68);
      u8(1);
      break;
    case K::Float:
      u8(0x6D);
      u8(8);
      break;
    case K::DateTime:
      u8(0x6F);
      u8(8);
      break;
    case K::NVarChar:
      u8(0xE7);
      u16(static_cast<std::uint16_t>(wireChars(t) * 2));
      out_ += kCollation;
      break;
    case K::VarChar:
      u8(0xA7);
      u16(static_cast<std::uint16_t>(wireBytes(t)));
      out_ += kCollation;
      break;
    case K::VarBinary:
      u8(0xA5);
      u16(static_cast<std::uint16_t>(wireBytes(t)));
      break;
  }
}

void TokenWriter::value(const SqlType& t, const Value& v) {
  const bool null = isNull(v);
  auto asInt = [&]() -> std::int64_t {
    if (const auto* i = std::get_if<std::int64_t>(&v)) return *i;
    if (const auto* d = std::get_if<double>(&v)) return static_cast<std::int64_t>(*d);
    if (const auto* s = std::get_if<std::string>(&v)) return std::atoll(s->c_str());
    return 0;
  };
  switch (t.kind) {
    case K::Int:
    case K::BigInt:
    case K::SmallInt:
    case K::TinyInt:
    case K::Bit: {
      const int width = t.kind == K::BigInt ? 8 : t.kind == K::Int ? 4 : t.kind == K::SmallInt ? 2 : 1;
      if (null) {
        u8(0);
        break;
      }
      u8(static_cast<std::uint8_t>(width));
      const auto x = static_cast<std::uint64_t>(asInt());
      for (int i = 0; i < width; ++i) u8(static_cast<std::uint8_t>((x >> (8 * i)) & 0xFF));
      break;
    }
    case K::Float: {
      if (null) {
        u8(0);
        break;
      }
      double d = 0;
      if (const auto* p = std::get_if<double>(&v))
        d = *p;
      else
        d = static_cast<double>(asInt());
      std::uint64_t bits = 0;
      std::memcpy(&bits, &d, 8);
      u8(8);
      u64(bits);
      break;
    }
    case K::DateTime: {
      const auto* dt = std::get_if<DateTime>(&v);
      if (null || !dt) {
        u8(0);
        break;
      }
      u8(8);
      u32(static_cast<std::uint32_t>(dt->days));
      u32(dt->ticks);
      break;
    }
    case K::NVarChar: {
      if (null) {
        u16(0xFFFF);
        break;
      }
      std::string bytes = utf8ToUtf16le(valueToText(v));
      const std::size_t cap = static_cast<std::size_t>(wireChars(t)) * 2;
      if (bytes.size() > cap) bytes.resize(cap);
      u16(static_cast<std::uint16_t>(bytes.size()));
      out_ += bytes;
      break;
    }
    case K::VarChar: {
      if (null) {
        u16(0xFFFF);
        break;
      }
      std::string bytes = utf8ToServerCodePageBytes(valueToText(v));
      const std::size_t cap = static_cast<std::size_t>(wireBytes(t));
      if (bytes.size() > cap) bytes.resize(cap);
      u16(static_cast<std::uint16_t>(bytes.size()));
      out_ += bytes;
      break;
    }
    case K::VarBinary: {
      if (null) {
        u16(0xFFFF);
        break;
      }
      std::string bytes;
      if (const auto* b = std::get_if<Binary>(&v))
        bytes = b->bytes;
      else
        bytes = valueToText(v);
      const std::size_t cap = static_cast<std::size_t>(wireBytes(t));
      if (bytes.size() > cap) bytes.resize(cap);
      u16(static_cast<std::uint16_t>(bytes.size()));
      out_ += bytes;
      break;
    }
  }
}

void TokenWriter::columns(const std::vector<Column>& cols) {
  u8(0x81);
  u16(static_cast<std::uint16_t>(cols.size()));
  for (const auto& c : cols) {
    if (modern()) {
      u32(0);
    } else {
      u16(0);
    }
    u16(static_cast<std::uint16_t>(c.nullable ? 0x0009 : 0x0008));
    typeInfo(c.type);
    bVarchar(c.name);
  }
}

void TokenWriter::row(const std::vector<Column>& cols, const Row& values) {
  u8(0xD1);
  for (std::size_t i = 0; i < cols.size(); ++i) value(cols[i].type, i < values.size() ? values[i] : Value{});
}

void TokenWriter::done(std::uint8_t token, std::uint16_t status, std::uint16_t curCmd, std::uint64_t count) {
  if (token != kTokenDoneInProc) lastDoneAt_ = out_.size();
  u8(token);
  u16(status);
  u16(curCmd);
  if (modern()) {
    u64(count);
  } else {
    u32(static_cast<std::uint32_t>(count));
  }
}

void TokenWriter::returnStatus(std::int32_t v) {
  u8(0x79);
  u32(static_cast<std::uint32_t>(v));
}

void TokenWriter::returnValue(const ReturnValue& rv) {
  u8(0xAC);
  u16(static_cast<std::uint16_t>(rv.ordinal));
  bVarchar(rv.name);
  u8(0x01);
  if (modern()) {
    u32(0);
  } else {
    u16(0);
  }
  u16(0x0009);
  typeInfo(rv.type);
  value(rv.type, rv.value);
}

void TokenWriter::result(const BatchResult& r) {
  for (const auto& item : r.items) {
    if (const auto* m = std::get_if<Message>(&item)) {
      message(*m);
    } else if (const auto* rs = std::get_if<ResultSet>(&item)) {
      columns(rs->columns);
      for (const auto& rowValues : rs->rows) row(rs->columns, rowValues);
    } else if (const auto* e = std::get_if<EnvChange>(&item)) {
      switch (e->kind) {
        case EnvChange::Kind::Database:
        case EnvChange::Kind::Language:
          envChange(static_cast<std::uint8_t>(e->kind), e->newValue, e->oldValue);
          break;
        default:
          // Transaction descriptors exist from TDS 7.2 on.
          if (modern()) envChangeBytes(static_cast<std::uint8_t>(e->kind), e->newValue, e->oldValue);
          break;
      }
    } else if (const auto* d = std::get_if<StatementDone>(&item)) {
      std::uint16_t status = kDoneMore;
      if (d->error) status |= kDoneError;
      if (d->rowCount) status |= kDoneCount;
      done(d->inProcedure ? kTokenDoneInProc : kTokenDone, status, static_cast<std::uint16_t>(d->command),
           d->rowCount ? static_cast<std::uint64_t>(*d->rowCount) : 0);
      if (!d->inProcedure) statementEnds_.push_back(out_.size());
    } else if (const auto* rsv = std::get_if<ReturnStatus>(&item)) {
      returnStatus(rsv->value);
    } else if (const auto* rv = std::get_if<ReturnValue>(&item)) {
      returnValue(*rv);
    } else if (const auto* pd = std::get_if<ProcedureDone>(&item)) {
      done(kTokenDoneProc, static_cast<std::uint16_t>(kDoneMore | (pd->error ? kDoneError : 0)), 0, 0);
    }
  }
  // The last DONE of a reply carries no DONE_MORE; add a final one when the reply ends otherwise.
  if (lastDoneAt_ != std::string::npos) {
    const std::size_t doneSize = 1 + 2 + 2 + (modern() ? 8 : 4);
    if (lastDoneAt_ + doneSize == out_.size()) {
      out_[lastDoneAt_ + 1] =
          static_cast<char>(static_cast<unsigned char>(out_[lastDoneAt_ + 1]) & ~kDoneMore);
      return;
    }
  }
  done(kTokenDone, kDoneFinal, 0, 0);
}

}  // namespace standin::wire
