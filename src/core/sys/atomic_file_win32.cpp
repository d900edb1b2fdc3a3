#include "core/sys/atomic_file.h"

#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <string>

namespace bv::sys {
namespace {

AtomicWriteResult failed(DWORD error, const std::string& step) {
  return AtomicWriteResult{false, static_cast<int>(error), step + ": error " + std::to_string(error)};
}

class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() { close(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  HANDLE get() const noexcept { return handle_; }
  bool valid() const noexcept { return handle_ != INVALID_HANDLE_VALUE; }
  bool close() noexcept {
    if (handle_ == INVALID_HANDLE_VALUE) return true;
    const BOOL closed = ::CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return closed != FALSE;
  }

 private:
  HANDLE handle_;
};

std::wstring randomSuffix() {
  static constexpr wchar_t kLetters[] = L"abcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char random[12] = {};
  ::BCryptGenRandom(nullptr, random, sizeof random, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
  std::wstring out;
  for (const unsigned char byte : random) out.push_back(kLetters[byte % (sizeof kLetters / sizeof *kLetters - 1)]);
  return out;
}

}  // namespace

AtomicWriteResult writeFileAtomically(const std::filesystem::path& target, std::string_view bytes, unsigned) {
  const std::filesystem::path temporary =
      target.parent_path() / (L"." + target.filename().wstring() + L".tmp-" + randomSuffix());
  FileHandle out(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                               nullptr));
  if (!out.valid()) return failed(::GetLastError(), "create " + temporary.string());
  const auto discard = [&](DWORD error, const std::string& step) {
    out.close();
    ::DeleteFileW(temporary.c_str());
    return failed(error, step);
  };
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(out.get(), bytes.data() + done, chunk, &written, nullptr) || written == 0) {
      return discard(::GetLastError(), "write " + temporary.string());
    }
    done += written;
  }
  if (!::FlushFileBuffers(out.get())) return discard(::GetLastError(), "flush " + temporary.string());
  if (!out.close()) return discard(::GetLastError(), "close " + temporary.string());
  if (!::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = ::GetLastError();
    ::DeleteFileW(temporary.c_str());
    return failed(error, "rename " + temporary.string());
  }
  return AtomicWriteResult{true, 0, {}};
}

}  // namespace bv::sys
