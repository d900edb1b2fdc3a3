// Helpers for the runner's tests: a temporary folder, file reading, a loopback listener that
// tells whether anybody connected, and running the real Brackenrun as a child process.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace brtest {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "brackenrun-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// The file's bytes; empty when it is missing or no regular file.
inline std::string readFile(const std::filesystem::path& file) {
  if (!std::filesystem::is_regular_file(file)) return {};
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// A file descriptor closed on every path.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = other.release();
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// Listens on 127.0.0.1 at an ephemeral port and never answers; says whether a client came.
class SilentListener {
 public:
  SilentListener() : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    if (fd_.get() < 0) throw std::runtime_error("socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd_.get(), 8) != 0 ||
        ::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      throw std::runtime_error("listen");
    }
    port_ = ntohs(address.sin_port);
    ::fcntl(fd_.get(), F_SETFL, O_NONBLOCK);
  }
  std::uint16_t port() const { return port_; }
  std::string serverText() const { return "127.0.0.1," + std::to_string(port_); }
  // True when a connection is waiting in the backlog (one that came and went still counts).
  bool anybodyConnected() const {
    const Fd client(::accept(fd_.get(), nullptr, nullptr));
    return client.get() >= 0;
  }

 private:
  Fd fd_;
  std::uint16_t port_ = 0;
};

struct ProcessResult {
  int status = -1;  // the exit status, or -1 when the child did not exit normally
  std::string out;
  std::string err;
};

// Runs the program with the arguments (argv[0] is the program) and exactly the given
// environment, and collects both outputs to the end.
inline ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments,
                                const std::map<std::string, std::string>& environment) {
  int outPipe[2];
  int errPipe[2];
  if (::pipe(outPipe) != 0) throw std::runtime_error("pipe");
  Fd outRead(outPipe[0]), outWrite(outPipe[1]);
  if (::pipe(errPipe) != 0) throw std::runtime_error("pipe");
  Fd errRead(errPipe[0]), errWrite(errPipe[1]);

  std::vector<std::string> argvStorage{program};
  argvStorage.insert(argvStorage.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& word : argvStorage) argv.push_back(word.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStorage;
  for (const auto& [key, value] : environment) envStorage.push_back(key + "=" + value);
  std::vector<char*> envp;
  for (auto& entry : envStorage) envp.push_back(entry.data());
  envp.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    ::dup2(outWrite.get(), STDOUT_FILENO);
    ::dup2(errWrite.get(), STDERR_FILENO);
    ::close(outRead.get());
    ::close(errRead.get());
    ::execve(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  outWrite.reset();
  errWrite.reset();

  ProcessResult result;
  pollfd fds[2] = {{outRead.get(), POLLIN, 0}, {errRead.get(), POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  while (open > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        fds[i].fd = -1;
        --open;
      }
    }
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace brtest
