// Runs the real Brackenrun as a child process on POSIX: argv words and exactly the given
// environment, both outputs collected to the end.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace brtest {

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

struct ProcessResult {
  int status = -1;  // the exit status, or -1 when the child did not exit normally
  std::string out;
  std::string err;
};

// Runs the program with the arguments (argv[0] is the program) and exactly the given
// environment, the input on its standard input (read from an unlinked scratch file, so any size
// is written before the child starts), and collects both outputs to the end. `onOutput`, when
// given, sees the standard output collected so far each time more of it arrives.
inline ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments,
                                const std::map<std::string, std::string>& environment,
                                const std::string& input = {},
                                const std::function<void(const std::string& out)>& onOutput = {}) {
  char inputPath[] = "/tmp/bv-stdin-XXXXXX";
  Fd inputFile(::mkstemp(inputPath));
  if (inputFile.get() < 0) throw std::runtime_error("mkstemp");
  ::unlink(inputPath);
  if (::write(inputFile.get(), input.data(), input.size()) != static_cast<ssize_t>(input.size()) ||
      ::lseek(inputFile.get(), 0, SEEK_SET) != 0) {
    throw std::runtime_error("scratch input");
  }
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
    ::dup2(inputFile.get(), STDIN_FILENO);
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
        if (i == 0 && onOutput) onOutput(result.out);
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
