// The server enumerator on Windows: SQL-DMO's "SQLDMO.Application" through late-bound
// automation (IDispatch calls by name), or the SSRP browser where that class is not
// registered. Every COM reference, VARIANT and BSTR is held by an owner that releases it.
// The Windows headers build on one another: their order matters.
// clang-format off
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
// clang-format on

#include <span>
#include <string>
#include <utility>

#include "core/servers/server_enumerator.h"
#include "core/servers/sqldmo_win32.h"
#include "core/servers/ssrp_browser.h"
#include "core/sys/com_win32.h"

namespace bv::servers {
namespace {

using sys::hresultText;
using Dispatch = sys::ComPtr<IDispatch>;
using sys::Variant;

std::string utf8(BSTR text) {
  return text == nullptr ? std::string() : sys::utf8Of(std::wstring_view(text, ::SysStringLen(text)));
}

[[noreturn]] void failCall(const char* call, HRESULT result) {
  throw EnumerationError(std::string(call) + ": " + hresultText(result));
}

[[noreturn]] void failEntry(HRESULT failure) { failCall("CoInitializeEx", failure); }

// Calls a member by name, as a method or a property get (the way late binding calls a member
// whose result is used). `arguments` are in reverse order, as DISPPARAMS wants them.
void invoke(IDispatch* object, const wchar_t* name, const char* call, std::span<VARIANT> arguments,
            Variant& result) {
  sys::ExceptionInfo exception;
  const HRESULT hr =
      sys::invokeByName(object, name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, arguments, result.get(), exception);
  if (hr == DISP_E_EXCEPTION) {
    std::string text = exception.description();
    if (text.empty()) text = hresultText(exception.code());
    throw EnumerationError(std::string(call) + ": " + text);
  }
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
  sys::ComApartment apartment_{failEntry};  // outlives list_
  Dispatch list_;
};

// SQL-DMO's Application.
class DmoEnumerator final : public ServerEnumerator {
 public:
  // Creates the automation object; false when its class is not installed. Other failures
  // throw.
  bool createApplication(const wchar_t* progId) {
    const std::string what = "CoCreateInstance(" + sys::utf8Of(progId) + ")";
    CLSID classId{};
    HRESULT hr = ::CLSIDFromProgID(progId, &classId);
    if (isSqlDmoMissing(hr)) return false;
    if (FAILED(hr)) failCall(what.c_str(), hr);
    hr = ::CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                            application_.putVoid());
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
  sys::ComApartment apartment_{failEntry};  // outlives application_
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
