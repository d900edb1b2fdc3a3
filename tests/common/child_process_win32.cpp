#include <windows.h>

#include <array>
#include <stdexcept>
#include <utility>
#include <vector>

#include "child_process_win32.h"

namespace bvtest {
namespace {

// A kernel handle, closed on every path.
class Handle {
 public:
  explicit Handle(HANDLE handle = nullptr) : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
  ~Handle() {
    if (handle_ != nullptr) ::CloseHandle(handle_);
  }
  Handle(Handle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Handle& operator=(Handle&&) = delete;
  HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  HANDLE handle_;
};

std::wstring wide(const std::string& text) {
  if (text.empty()) return {};
  const int length =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), length);
  return out;
}

// An inheritable temporary file that the child writes and this process reads back; it is
// removed when the last handle closes.
Handle outputFile() {
  std::array<wchar_t, MAX_PATH + 1> folder{};
  std::array<wchar_t, MAX_PATH + 1> name{};
  if (::GetTempPathW(static_cast<DWORD>(folder.size()), folder.data()) == 0 ||
      ::GetTempFileNameW(folder.data(), L"bvo", 0, name.data()) == 0) {
    throw std::runtime_error("no temporary file for a child's output");
  }
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  Handle file(::CreateFileW(name.data(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  if (!file) throw std::runtime_error("the temporary file for a child's output cannot be opened");
  return file;
}

std::string readAll(const Handle& file) {
  ::SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN);
  std::string text;
  std::array<char, 4096> buffer{};
  DWORD got = 0;
  while (::ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got > 0) {
    text.append(buffer.data(), got);
  }
  return text;
}

}  // namespace

std::string utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::string lineFeeds(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out.push_back(text[i]);
  }
  return out;
}

std::string quotedCommandLine(const std::filesystem::path& program, const std::string& arguments) {
  std::string line = "\"" + utf8(program) + "\"";
  if (!arguments.empty()) line += " " + arguments;
  return line;
}

std::filesystem::path besideThisProgram(const std::wstring& fileName) {
  std::vector<wchar_t> self(32768);
  const DWORD length = ::GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
  if (length == 0 || length >= self.size()) throw std::runtime_error("GetModuleFileNameW");
  return std::filesystem::path(std::wstring(self.data(), length)).parent_path() / fileName;
}

ChildResult runCommandLine(const std::filesystem::path& program, const std::string& commandLine,
                           const std::string& standardInput) {
  const Handle out = outputFile();
  const Handle err = outputFile();
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  Handle input = standardInput.empty()
                     ? Handle(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            &inherit, OPEN_EXISTING, 0, nullptr))
                     : outputFile();
  if (!standardInput.empty()) {
    DWORD written = 0;
    ::WriteFile(input.get(), standardInput.data(), static_cast<DWORD>(standardInput.size()), &written,
                nullptr);
    ::SetFilePointer(input.get(), 0, nullptr, FILE_BEGIN);
  }

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input.get();
  startup.hStdOutput = out.get();
  startup.hStdError = err.get();
  PROCESS_INFORMATION started{};
  std::wstring line = wide(commandLine);
  const std::wstring application = program.wstring();
  ChildResult result;
  if (!::CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &started)) {
    result.err = "CreateProcessW failed: " + std::to_string(::GetLastError());
    return result;
  }
  const Handle process(started.hProcess);
  const Handle thread(started.hThread);
  if (::WaitForSingleObject(process.get(), 120000) != WAIT_OBJECT_0) {
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), 10000);
  } else {
    DWORD code = 0;
    if (::GetExitCodeProcess(process.get(), &code)) result.status = static_cast<int>(code);
  }
  result.out = readAll(out);
  result.err = readAll(err);
  return result;
}

}  // namespace bvtest
