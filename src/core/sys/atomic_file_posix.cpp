#include "core/sys/atomic_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/sys/unique_fd.h"

namespace bv::sys {
namespace {

AtomicWriteResult failed(int error, const std::string& step) {
  return AtomicWriteResult{false, error, step + ": " + std::strerror(error)};
}

// ".NAME.tmp-" and twelve random letters: not guessable by another user of the folder.
std::string temporaryNameFor(const std::string& name) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  unsigned char random[12] = {};
  std::size_t got = 0;
  while (got < sizeof random) {
    const ssize_t n = ::getrandom(random + got, sizeof random - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  std::string out = "." + name + ".tmp-";
  for (const unsigned char byte : random) out.push_back(kLetters[byte % (sizeof kLetters - 1)]);
  return out;
}

}  // namespace

AtomicWriteResult writeFileAtomicallyAt(int folderFd, const std::string& name, std::string_view bytes,
                                        unsigned mode) {
  std::string temporary;
  UniqueFd out;
  for (int attempt = 0; attempt < 16 && !out; ++attempt) {
    temporary = temporaryNameFor(name);
    out.reset(::openat(folderFd, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                       static_cast<mode_t>(mode)));
    if (!out && errno != EEXIST) return failed(errno, "create " + temporary);
  }
  if (!out) return failed(EEXIST, "create " + temporary);
  const auto discard = [&](int error, const std::string& step) {
    ::unlinkat(folderFd, temporary.c_str(), 0);
    return failed(error, step);
  };
  // The umask may have taken bits away; the file gets exactly the mode asked for.
  if (::fchmod(out.get(), static_cast<mode_t>(mode)) != 0) return discard(errno, "chmod " + temporary);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(out.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return discard(n < 0 ? errno : EIO, "write " + temporary);
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(out.get()) != 0) return discard(errno, "fsync " + temporary);
  if (!out.close()) return discard(errno, "close " + temporary);
  if (::renameat(folderFd, temporary.c_str(), folderFd, name.c_str()) != 0) {
    return discard(errno, "rename " + temporary + " to " + name);
  }
  ::fsync(folderFd);  // the rename itself survives a crash
  return AtomicWriteResult{true, 0, {}};
}

AtomicWriteResult writeFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                                      unsigned mode) {
  const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
  const UniqueFd folderFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folderFd) return failed(errno, "open " + folder.string());
  return writeFileAtomicallyAt(folderFd.get(), target.filename().string(), bytes, mode);
}

}  // namespace bv::sys
