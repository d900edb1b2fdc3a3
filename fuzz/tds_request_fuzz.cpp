// The stand-in's reading of what a client sends over TDS ([MS-TDS] 2.2.6): LOGIN7, SQL batches,
// RPC requests and transaction-manager requests, decoded as the server decodes them.
//
// Input: byte 0 the packet type ([MS-TDS] 2.2.3.1.1), byte 1 the high byte of the TDS version
// the login negotiated (0x71, 0x72, 0x74, ...; it decides whether ALL_HEADERS come first), then
// the message's payload with the packet headers taken off. The server answers PRELOGIN with its
// own options and reads nothing of the client's, so a PRELOGIN input only has to pass through.
//
// What must hold: every malformed request ends in ProtocolError (which the server turns into an
// error for the client) and never in a crash, a sanitizer report or another exception; the texts
// come out as valid UTF-8; the password obfuscation is its own inverse.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "standin/base/text.h"
#include "standin/base/version.h"
#include "standin/sql/value.h"
#include "standin/wire/tds_protocol.h"

namespace {

using namespace standin;

// UTF-8 that reads back unchanged through UTF-16: what the engine and the trace expect.
bool isValidUtf8(const std::string& text) { return base::utf16leToUtf8(base::utf8ToUtf16le(text)) == text; }

void readLogin(std::string_view payload) {
  FUZZ_CHECK(wire::encodePassword(wire::decodePassword(payload)) == payload);
  const wire::Login7 login = wire::parseLogin7(payload);
  for (const std::string* text : {&login.hostName, &login.userName, &login.password, &login.appName,
                                  &login.serverName, &login.language, &login.database}) {
    FUZZ_CHECK(isValidUtf8(*text));
  }
  // What the server does with the rest of the login before it asks the engine.
  const std::uint32_t negotiated = base::negotiateTdsVersion(login.tdsVersion, base::kTds74);
  FUZZ_CHECK(negotiated <= login.tdsVersion && negotiated <= base::kTds74);
}

void readBatch(std::string_view payload, std::uint32_t version) {
  wire::Reader reader(payload);
  wire::skipAllHeaders(reader, version);
  FUZZ_CHECK(isValidUtf8(base::utf16leToUtf8(payload.substr(reader.pos()))));
}

void readRpc(std::string_view payload, std::uint32_t version) {
  const wire::RpcRequest request = wire::parseRpc(payload, version);
  FUZZ_CHECK(isValidUtf8(request.procedure));
  for (const auto& parameter : request.params) {
    FUZZ_CHECK(isValidUtf8(parameter.name));
    // The trace writes every parameter's value as text.
    (void)sql::valueToText(parameter.value);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint8_t type = data[0];
  const std::uint32_t version = static_cast<std::uint32_t>(data[1]) << 24;
  const std::string_view payload(reinterpret_cast<const char*>(data) + 2, size - 2);
  try {
    switch (type) {
      case wire::kLogin7:
        readLogin(payload);
        break;
      case wire::kSqlBatch:
        readBatch(payload, version);
        break;
      case wire::kRpc:
        readRpc(payload, version);
        break;
      case wire::kTransactionManager:
        (void)wire::parseTransactionManager(payload, version);
        break;
      default:  // PRELOGIN and the types the server refuses by their first byte
        break;
    }
  } catch (const wire::ProtocolError&) {
    // The refusal the server sends back to the client.
  }
  return 0;
}
