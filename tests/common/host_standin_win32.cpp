#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "host_standin_win32.h"

namespace bvtest {
namespace {

std::string readState(const std::string& stateDir, const char* name) {
  std::ifstream in(hostPathUnderWine(stateDir + "/" + name), std::ios::binary);
  if (!in) throw std::runtime_error(std::string("the stand-in server left no ") + name + " in " + stateDir);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

std::filesystem::path hostPathUnderWine(const std::string& hostPath) {
  std::string windows = "Z:" + hostPath;
  for (char& c : windows) {
    if (c == '/') c = '\\';
  }
  const std::u8string text(windows.begin(), windows.end());
  return std::filesystem::path(text);
}

HostStandin hostStandin() {
  const char* state = std::getenv("BV_STANDIN_STATE");
  if (state == nullptr || *state == '\0') {
    throw std::runtime_error("BV_STANDIN_STATE is not set: run these tests through CTest");
  }
  HostStandin standin;
  standin.port = static_cast<std::uint16_t>(std::stoul(readState(state, "port")));
  standin.saPassword = readState(state, "password");
  standin.scratchDir = std::string(state) + "/scratch";
  standin.scratchFolder = hostPathUnderWine(standin.scratchDir);
  return standin;
}

}  // namespace bvtest
