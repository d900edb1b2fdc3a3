// The server browser's reading of an SVR_RESP datagram ([MC-SQLR] 2.2.5), which any host on the
// network may send.
//
// What must hold: no crash and no sanitizer report; every instance read keeps the protocol's
// limits (names 1..255 bytes without "\" or ";", a version of 1..16 digits and dots); and the
// instances, written into a reply of their own, read back the same.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/servers/ssrp_reply.h"
#include "fuzz_check.h"

namespace {

using bv::servers::SsrpInstance;

bool isName(const std::string& name) {
  return !name.empty() && name.size() <= 255 && name.find_first_of("\\;") == std::string::npos;
}

bool isVersion(const std::string& version) {
  return !version.empty() && version.size() <= 16 &&
         version.find_first_not_of("0123456789.") == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<SsrpInstance> instances = bv::servers::parseSvrResp(std::span(data, size));
  if (instances.empty()) return 0;

  std::string respData;
  for (const SsrpInstance& instance : instances) {
    FUZZ_CHECK(isName(instance.serverName));
    FUZZ_CHECK(isName(instance.instanceName));
    FUZZ_CHECK(isVersion(instance.version));
    FUZZ_CHECK(!bv::servers::serverDisplayName(instance).empty());
    respData += "ServerName;" + instance.serverName + ";InstanceName;" + instance.instanceName +
                ";IsClustered;" + (instance.clustered ? "Yes" : "No") + ";Version;" + instance.version + ";;";
  }
  // What a valid reply held always fits a reply again: the protocol parts dropped only shorten it.
  const std::vector<std::uint8_t> again = bv::servers::makeSvrResp(respData);
  const std::vector<SsrpInstance> reread = bv::servers::parseSvrResp(again);
  FUZZ_CHECK(reread.size() == instances.size());
  for (std::size_t i = 0; i < instances.size(); ++i) {
    FUZZ_CHECK(reread[i].serverName == instances[i].serverName);
    FUZZ_CHECK(reread[i].instanceName == instances[i].instanceName);
    FUZZ_CHECK(reread[i].clustered == instances[i].clustered);
    FUZZ_CHECK(reread[i].version == instances[i].version);
  }
  return 0;
}
