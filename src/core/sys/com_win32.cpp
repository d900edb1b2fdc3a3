#include "core/sys/com_win32.h"

#include <cstdio>
#include <memory>

#include "core/sys/wipe.h"

namespace bv::sys {
namespace {

struct LocalFreeDeleter {
  void operator()(wchar_t* buffer) const { ::LocalFree(buffer); }
};

}  // namespace

std::string utf8Of(std::wstring_view text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string result(static_cast<std::size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, result.data(), bytes, nullptr, nullptr);
  return result;
}

std::string systemMessage(DWORD number) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      number, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  const std::unique_ptr<wchar_t, LocalFreeDeleter> owned(buffer);
  if (length == 0 || buffer == nullptr) return {};
  std::wstring_view text(buffer, length);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n')) text.remove_suffix(1);
  return utf8Of(text);
}

std::string hresultText(HRESULT result) {
  char code[16] = {};
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result));
  std::string text = code;
  const std::string message = systemMessage(static_cast<DWORD>(result));
  if (!message.empty()) text += " " + message;
  return text;
}

ComApartment::ComApartment(Raise raise) : entry_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {
  if (FAILED(entry_) && entry_ != RPC_E_CHANGED_MODE) raise(entry_);
}

ComApartment::~ComApartment() {
  if (SUCCEEDED(entry_)) ::CoUninitialize();
}

Variant::~Variant() {
  if (secret_ && value_.vt == VT_BSTR && value_.bstrVal != nullptr) {
    wipeMemory(value_.bstrVal, ::SysStringByteLen(value_.bstrVal));
  }
  ::VariantClear(&value_);
}

ExceptionInfo::~ExceptionInfo() {
  ::SysFreeString(info_.bstrSource);
  ::SysFreeString(info_.bstrDescription);
  ::SysFreeString(info_.bstrHelpFile);
}

std::string ExceptionInfo::description() {
  if (info_.pfnDeferredFillIn != nullptr) info_.pfnDeferredFillIn(&info_);
  if (info_.bstrDescription == nullptr) return {};
  return utf8Of(std::wstring_view(info_.bstrDescription, ::SysStringLen(info_.bstrDescription)));
}

HRESULT invokeByName(IDispatch* object, const wchar_t* name, WORD kind, std::span<VARIANT> arguments,
                     VARIANT* result, ExceptionInfo& exception) {
  DISPID member = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  const HRESULT found = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &member);
  if (FAILED(found)) return found;

  DISPPARAMS parameters{};
  DISPID putId = DISPID_PROPERTYPUT;
  parameters.rgvarg = arguments.empty() ? nullptr : arguments.data();
  parameters.cArgs = static_cast<UINT>(arguments.size());
  if (kind == DISPATCH_PROPERTYPUT) {
    parameters.rgdispidNamedArgs = &putId;
    parameters.cNamedArgs = 1;
  }
  UINT badArgument = 0;
  return object->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, kind, &parameters, result, exception.get(),
                        &badArgument);
}

}  // namespace bv::sys
