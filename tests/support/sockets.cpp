#include "sockets.h"

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace bvtest {
namespace {

struct SocketRow {
  std::string local;
  std::string remote;
  std::uint16_t localPort = 0;
  std::uint16_t remotePort = 0;
  int state = 0;  // include/net/tcp_states.h: 1 established, 8 close-wait, ...
  std::string inode;
};

std::uint16_t portOf(const std::string& address) {
  const auto colon = address.rfind(':');
  return colon == std::string::npos
             ? 0
             : static_cast<std::uint16_t>(std::stoul(address.substr(colon + 1), nullptr, 16));
}

// The rows of /proc/net/<table>: "sl local rem st tx:rx tr:when retrnsmt uid timeout inode ...".
std::vector<SocketRow> readTable(const std::string& table) {
  std::vector<SocketRow> rows;
  std::ifstream in("/proc/net/" + table);
  std::string line;
  std::getline(in, line);  // the header
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
    if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >>
          inode))
      continue;
    rows.push_back({local, remote, portOf(local), portOf(remote), std::stoi(state, nullptr, 16), inode});
  }
  return rows;
}

std::string commandLineOf(const std::string& pid) {
  std::ifstream in("/proc/" + pid + "/cmdline", std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  while (!text.empty() && text.back() == '\0') text.pop_back();
  for (char& c : text)
    if (c == '\0') c = ' ';
  return text;
}

// The inodes of the sockets this process holds open.
std::set<std::string> ownSocketInodes() {
  std::set<std::string> inodes;
  std::error_code ec;
  for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
    std::error_code linkError;
    const std::string target = std::filesystem::read_symlink(fd.path(), linkError).string();
    if (!linkError && target.rfind("socket:[", 0) == 0) inodes.insert(target.substr(8, target.size() - 9));
  }
  return inodes;
}

}  // namespace

std::vector<std::string> openClientSockets(std::uint16_t remotePort) {
  constexpr int kEstablished = 1;
  constexpr int kCloseWait = 8;
  const std::set<std::string> own = ownSocketInodes();
  std::vector<std::string> open;
  for (const char* table : {"tcp", "tcp6"}) {
    for (const SocketRow& row : readTable(table)) {
      if (row.remotePort != remotePort || (row.state != kEstablished && row.state != kCloseWait)) continue;
      if (own.count(row.inode) == 0) continue;
      open.push_back(row.local + " -> " + row.remote +
                     (row.state == kEstablished ? " established" : " close-wait"));
    }
  }
  return open;
}

std::string whoHoldsPort(const std::string& protocol, std::uint16_t port) {
  std::set<std::string> inodes;
  for (const std::string& table : {protocol, protocol + "6"}) {
    for (const SocketRow& row : readTable(table)) {
      if (row.localPort == port && row.inode != "0") inodes.insert(row.inode);
    }
  }
  if (inodes.empty()) return {};

  std::string holders;
  std::error_code ec;
  for (const auto& process : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string pid = process.path().filename();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code fdError;
    for (const auto& fd : std::filesystem::directory_iterator(process.path() / "fd", fdError)) {
      std::error_code linkError;
      const std::string target = std::filesystem::read_symlink(fd.path(), linkError).string();
      if (linkError || target.rfind("socket:[", 0) != 0) continue;
      if (inodes.count(target.substr(8, target.size() - 9)) == 0) continue;
      if (!holders.empty()) holders += ", ";
      holders += "pid " + pid + " (" + commandLineOf(pid) + ")";
      break;
    }
  }
  if (holders.empty()) {
    holders = "a process this test cannot see (socket inode";
    for (const auto& inode : inodes) holders += " " + inode;
    holders += "; another user's, or another container's on a shared network)";
  }
  return holders;
}

}  // namespace bvtest
