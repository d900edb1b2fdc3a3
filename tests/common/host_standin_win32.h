// Windows only: the native stand-in server that the Windows tests reach under Wine. CTest starts
// it before those tests (the host_standin fixture, host_standin.sh) on 127.0.0.1 at an ephemeral
// port, SSRP off, and leaves what they need in the folder that BV_STANDIN_STATE names.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace bvtest {

struct HostStandin {
  std::uint16_t port = 0;
  std::string saPassword;
  // An empty folder for backup files as the server names it (a host path) ...
  std::string scratchDir;
  // ... and the same folder as this program reaches it.
  std::filesystem::path scratchFolder;

  std::string serverText() const { return "127.0.0.1," + std::to_string(port); }
};

// Reads the stand-in's state; throws std::runtime_error when BV_STANDIN_STATE is not set or
// the server did not leave its port there.
HostStandin hostStandin();

// A host path as a program under Wine reaches it: drive Z: is the host's root folder.
std::filesystem::path hostPathUnderWine(const std::string& hostPath);

}  // namespace bvtest
