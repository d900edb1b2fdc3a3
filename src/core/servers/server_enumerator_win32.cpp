// The server enumerator on Windows: SQL-DMO's "SQLDMO.Application" through late-bound
// automation (IDispatch calls by name), or the SSRP browser where that class is not
// registered. Every COM reference, VARIANT and BSTR is held by an owner that releases it.
// The Windows headers build on one another: their order matters.
// clang-format off
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
// clang-format on

#include <cstdio>
#include <cwchar>
#include <span>
#include <string>
#include <utility>

#include "core/servers/server_enumerator.h"
#include "core/servers/sqldmo_win32.h"
#include "core/servers/ssrp_browser.h"

namespace bv::servers {
namespace {

std::string utf8(const wchar_t* text, int length) {
  if (text == nullptr || length == 0) return {};
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string result(static_cast<std::size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, length, result.data(), bytes, nullptr, nullptr);
  return result;
}

std::string utf8(BSTR text) {
  return text == nullptr ? std::string() : utf8(text, static_cast<int>(::SysStringLen(text)));
}

// "0x80040154 <the system's text>".
std::string hresultText(HRESULT result) {
  char code[16] = {};
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result));
  std::string text = code;
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(result), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  if (length != 0 && buffer != nullptr) {
    DWORD used = length;
    while (used > 0 && (buffer[used - 1] == L'\r' || buffer[used - 1] == L'\n')) --used;
    if (used > 0) text += " " + utf8(buffer, static_cast<int>(used));
  }
  if (buffer != nullptr) ::LocalFree(buffer);
  return text;
}

[[noreturn]] void failCall(const char* call, HRESULT result) {
  throw EnumerationError(std::string(call) + ": " + hresultText(result));
}

// COM on this thread for the owner's lifetime. A thread already in another apartment
// (RPC_E_CHANGED_MODE) can still make the calls; only a successful start is undone.
class ComApartment {
 public:
  ComApartment() : result_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {
    if (FAILED(result_) && result_ != RPC_E_CHANGED_MODE) failCall("CoInitializeEx", result_);
  }
  ~ComApartment() {
    if (SUCCEEDED(result_)) ::CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  HRESULT result_;
};

// One reference to an automation object.
class Dispatch {
 public:
  Dispatch() = default;
  ~Dispatch() { reset(); }
  Dispatch(Dispatch&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  Dispatch& operator=(Dispatch&& other) noexcept {
    if (this != &other) {
      reset();
      object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
  }
  Dispatch(const Dispatch&) = delete;
  Dispatch& operator=(const Dispatch&) = delete;

  IDispatch* get() const noexcept { return object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }
  // For a call that hands over a new reference.
  void** out() noexcept {
    reset();
    return reinterpret_cast<void**>(&object_);
  }
  // Takes a further reference to an object held elsewhere.
  static Dispatch share(IDispatch* object) noexcept {
    Dispatch result;
    if (object != nullptr) object->AddRef();
    result.object_ = object;
    return result;
  }

 private:
  void reset() noexcept {
    if (object_ != nullptr) std::exchange(object_, nullptr)->Release();
  }
  IDispatch* object_ = nullptr;
};

// A VARIANT cleared on every path.
class Variant {
 public:
  Variant() noexcept { ::VariantInit(&value_); }
  ~Variant() { ::VariantClear(&value_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  VARIANT* get() noexcept { return &value_; }
  const VARIANT& value() const noexcept { return value_; }

 private:
  VARIANT value_;
};

// The exception description of a failed Invoke, its strings freed on every path.
class ExceptionInfo {
 public:
  ExceptionInfo() noexcept : info_{} {}
  ~ExceptionInfo() {
    ::SysFreeString(info_.bstrSource);
    ::SysFreeString(info_.bstrDescription);
    ::SysFreeString(info_.bstrHelpFile);
  }
  ExceptionInfo(const ExceptionInfo&) = delete;
  ExceptionInfo& operator=(const ExceptionInfo&) = delete;
  EXCEPINFO* get() noexcept { return &info_; }
  std::string describe() {
    if (info_.pfnDeferredFillIn != nullptr) info_.pfnDeferredFillIn(&info_);
    std::string text = utf8(info_.bstrDescription);
    if (text.empty()) return hresultText(info_.scode != 0 ? info_.scode : DISP_E_EXCEPTION);
    return text;
  }

 private:
  EXCEPINFO info_;
};

// Calls a member by name, as a method or a property get (the way late binding calls a member
// whose result is used). `arguments` are in reverse order, as DISPPARAMS wants them.
void invoke(IDispatch* object, const wchar_t* name, const char* call, std::span<VARIANT> arguments,
            Variant& result) {
  DISPID member = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &member);
  if (FAILED(hr)) failCall(call, hr);

  DISPPARAMS parameters{};
  parameters.rgvarg = arguments.empty() ? nullptr : arguments.data();
  parameters.cArgs = static_cast<UINT>(arguments.size());
  ExceptionInfo exception;
  UINT badArgument = 0;
  hr = object->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                      &parameters, result.get(), exception.get(), &badArgument);
  if (hr == DISP_E_EXCEPTION) throw EnumerationError(std::string(call) + ": " + exception.describe());
  if (FAILED(hr)) failCall(call, hr);
}

// The result converted to one type; a result that does not convert is a failed call.
void convert(const Variant& from, VARTYPE type, const char* call, Variant& to) {
  const HRESULT hr = ::VariantChangeType(to.get(), const_cast<VARIANT*>(&from.value()), 0, type);
  if (FAILED(hr)) failCall(call, hr);
}

// SQL-DMO's NameList.
class DmoNameList final : public ServerNameList {
 public:
  explicit DmoNameList(Dispatch list) : list_(std::move(list)) {}

  long Count() override {
    Variant result;
    invoke(list_.get(), L"Count", "NameList.Count", {}, result);
    Variant count;
    convert(result, VT_I4, "NameList.Count", count);
    return static_cast<long>(count.value().lVal);
  }

  std::string Item(long index) override {
    Variant argument;
    argument.get()->vt = VT_I4;
    argument.get()->lVal = static_cast<LONG>(index);
    Variant result;
    invoke(list_.get(), L"Item", "NameList.Item", std::span<VARIANT>(argument.get(), 1), result);
    Variant text;
    convert(result, VT_BSTR, "NameList.Item", text);
    return utf8(text.value().bstrVal);
  }

 private:
  ComApartment apartment_;  // outlives list_
  Dispatch list_;
};

// SQL-DMO's Application.
class DmoEnumerator final : public ServerEnumerator {
 public:
  // Creates the automation object; false when its class is not installed. Other failures
  // throw.
  bool createApplication(const wchar_t* progId) {
    const std::string what = "CoCreateInstance(" + utf8(progId, static_cast<int>(std::wcslen(progId))) + ")";
    CLSID classId{};
    HRESULT hr = ::CLSIDFromProgID(progId, &classId);
    if (isSqlDmoMissing(hr)) return false;
    if (FAILED(hr)) failCall(what.c_str(), hr);
    hr = ::CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                            application_.out());
    if (isSqlDmoMissing(hr)) return false;
    if (FAILED(hr)) failCall(what.c_str(), hr);
    if (!application_) failCall(what.c_str(), E_POINTER);
    return true;
  }

  std::unique_ptr<ServerNameList> ListAvailableSQLServers() override {
    Variant result;
    invoke(application_.get(), L"ListAvailableSQLServers", "ListAvailableSQLServers", {}, result);
    Variant list;
    convert(result, VT_DISPATCH, "ListAvailableSQLServers", list);
    if (list.value().pdispVal == nullptr) failCall("ListAvailableSQLServers", E_POINTER);
    return automationNameList(list.value().pdispVal);
  }

 private:
  ComApartment apartment_;  // outlives application_
  Dispatch application_;
};

}  // namespace

bool isSqlDmoMissing(std::int32_t hresult) {
  // The codes as numbers: some of the SDK's names expand to calls, not constants.
  constexpr std::uint32_t missing[] = {
      0x800401F3,  // CO_E_CLASSSTRING: the ProgID is not registered
      0x80040154,  // REGDB_E_CLASSNOTREG: no server for the class (or only a 32-bit one)
      0x80040150,  // REGDB_E_READREGDB: the registration cannot be read
      0x800401F8,  // CO_E_DLLNOTFOUND: the registered DLL is gone
      0x8007007E,  // HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)
      0x80070002,  // HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
  };
  const auto code = static_cast<std::uint32_t>(hresult);
  for (const std::uint32_t known : missing) {
    if (code == known) return true;
  }
  return false;
}

std::unique_ptr<ServerEnumerator> createAutomationEnumerator(const wchar_t* progId) {
  auto enumerator = std::make_unique<DmoEnumerator>();
  if (!enumerator->createApplication(progId)) return nullptr;
  return enumerator;
}

std::unique_ptr<ServerNameList> automationNameList(IDispatch* list) {
  return std::make_unique<DmoNameList>(Dispatch::share(list));
}

std::unique_ptr<ServerEnumerator> createServerEnumerator(const SsrpTarget& fallback) {
  if (auto dmo = createAutomationEnumerator(L"SQLDMO.Application")) return dmo;
  return std::make_unique<SsrpEnumerator>(fallback);
}

}  // namespace bv::servers
