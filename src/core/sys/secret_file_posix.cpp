#include "core/sys/secret_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/sys/unique_fd.h"
#include "core/sys/wipe.h"

namespace bv::sys {
namespace {

// The path as a shell word, for the command a reason tells the user to run.
std::string shellWord(const std::string& text) {
  std::string out = "'";
  for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

SecretFile refused(std::string reason) { return {SecretFile::State::Refused, {}, std::move(reason)}; }

}  // namespace

SecretFile readSecretFile(const std::filesystem::path& file, std::size_t maxBytes) {
  const std::string name = file.string();
  // O_NONBLOCK: a FIFO planted under the name must not hold the reader; it is refused below.
  const UniqueFd fd(::open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) {
    const int error = errno;
    if (error == ENOENT) return {};
    if (error == ELOOP) {
      return refused(name + " はシンボリックリンクのため使いません（ほかのファイルを指していることがあります）。" +
                     "リンクを削除し、設定を保存し直してください。");
    }
    return {SecretFile::State::Unreadable, {}, std::string("ファイルを読み込めませんでした（") + std::strerror(error) + "）。"};
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) {
    return {SecretFile::State::Unreadable, {}, std::string("ファイルを調べられませんでした（") + std::strerror(errno) + "）。"};
  }
  if (!S_ISREG(info.st_mode)) return refused(name + " は通常のファイルではないため使いません。");
  if (info.st_uid != ::geteuid()) {
    return refused(name + " の所有者が実行ユーザーではないため使いません。削除して、このユーザーで設定を保存し直して" +
                   "ください。");
  }
  if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    return refused(name + " をほかのユーザーが読み書きできるため使いません。「chmod 600 " + shellWord(name) +
                   "」を実行して、本人だけが読み書きできるようにしてください。");
  }
  if (static_cast<std::size_t>(info.st_size) > maxBytes) {
    return {SecretFile::State::Unreadable, {}, "ファイルが大きすぎます。"};
  }
  ::fcntl(fd.get(), F_SETFL, 0);  // a regular file: ordinary reads from here on
  SecretFile result{SecretFile::State::Read, {}, {}};
  std::string& text = result.text;
  text.resize(maxBytes + 1);
  std::size_t got = 0;
  while (got < text.size()) {
    const ssize_t n = ::read(fd.get(), text.data() + got, text.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      wipe(text);
      return {SecretFile::State::Unreadable, {}, std::string("ファイルを読み込めませんでした（") + std::strerror(errno) + "）。"};
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (got > maxBytes) {
    wipe(text);
    return {SecretFile::State::Unreadable, {}, "ファイルが大きすぎます。"};
  }
  text.resize(got);
  return result;
}

}  // namespace bv::sys
