// The transport on Windows: the system's CDO for Windows 2000 ("CDO.Message", cdosys.dll)
// through late-bound automation. The message's Configuration.Fields get the SMTP settings under
// http://schemas.microsoft.com/cdo/configuration/, then From, To, Subject and TextBody are set
// with the body part's charset UTF-8, and Send sends. CDO verifies certificates against the
// system's store; smtpusessl makes it use TLS. Every COM reference, VARIANT and BSTR has an
// owner that releases it; the password's BSTR is wiped before it is freed.
// The Windows headers build on one another: their order matters.
// clang-format off
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
// clang-format on

#include <cstdio>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>

#include "core/mail/cdo_win32.h"
#include "core/mail/header_encoding.h"
#include "core/mail/mail_transport.h"
#include "core/mail/transport_text.h"
#include "core/sys/wipe.h"
#include "core/text/utf16.h"

namespace bv::mail {
namespace {

CdoMessageFactory& factoryOverride() {
  static CdoMessageFactory factory;
  return factory;
}

constexpr const wchar_t* kFieldPrefix = L"http://schemas.microsoft.com/cdo/configuration/";
constexpr long kSendUsingPort = 2;  // cdoSendUsingPort
constexpr long kAnonymous = 0;      // cdoAnonymous
constexpr long kBasic = 1;          // cdoBasic

std::string utf8(const wchar_t* text, std::size_t length) {
  if (text == nullptr || length == 0) return {};
  return text::utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text), length));
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
    if (used > 0) text += " " + utf8(buffer, used);
  }
  if (buffer != nullptr) ::LocalFree(buffer);
  return text;
}

// A failed automation call: which one, and what CDO or the system said.
class CallFailed : public std::runtime_error {
 public:
  CallFailed(const std::string& call, const std::string& reason) : std::runtime_error(call + ": " + reason) {}
};

// COM on this thread for the owner's lifetime. A thread already in another apartment
// (RPC_E_CHANGED_MODE) can still make the calls; only a successful start is undone.
class ComApartment {
 public:
  ComApartment() : result_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {
    if (FAILED(result_) && result_ != RPC_E_CHANGED_MODE)
      throw CallFailed("CoInitializeEx", hresultText(result_));
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
  IDispatch** out() noexcept {
    reset();
    return &object_;
  }

 private:
  void reset() noexcept {
    if (object_ != nullptr) std::exchange(object_, nullptr)->Release();
  }
  IDispatch* object_ = nullptr;
};

// A VARIANT cleared on every path; a secret text is wiped first.
class Variant {
 public:
  Variant() noexcept { ::VariantInit(&value_); }
  ~Variant() {
    if (secret_ && value_.vt == VT_BSTR && value_.bstrVal != nullptr) {
      sys::wipeMemory(value_.bstrVal, ::SysStringByteLen(value_.bstrVal));
    }
    ::VariantClear(&value_);
  }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;

  static Variant text(const std::string& utf8Text, bool secret = false) {
    Variant result;
    std::u16string wide = text::utf8ToUtf16(utf8Text);
    result.value_.vt = VT_BSTR;
    result.value_.bstrVal =
        ::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(wide.data()), static_cast<UINT>(wide.size()));
    result.secret_ = secret;
    if (secret) sys::wipe(wide);
    if (result.value_.bstrVal == nullptr) throw std::bad_alloc();
    return result;
  }
  static Variant number(long value) {
    Variant result;
    result.value_.vt = VT_I4;
    result.value_.lVal = value;
    return result;
  }
  static Variant boolean(bool value) {
    Variant result;
    result.value_.vt = VT_BOOL;
    result.value_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return result;
  }
  Variant(Variant&& other) noexcept : value_(other.value_), secret_(other.secret_) {
    ::VariantInit(&other.value_);
  }

  VARIANT* get() noexcept { return &value_; }

  // The object a property returned, with a reference of its own.
  Dispatch object(const char* call) const {
    if (value_.vt != VT_DISPATCH || value_.pdispVal == nullptr) throw CallFailed(call, "no object");
    Dispatch result;
    value_.pdispVal->AddRef();
    *result.out() = value_.pdispVal;
    return result;
  }

 private:
  VARIANT value_;
  bool secret_ = false;
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
    std::string text = info_.bstrDescription == nullptr
                           ? std::string()
                           : utf8(info_.bstrDescription, ::SysStringLen(info_.bstrDescription));
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
    if (text.empty()) return hresultText(info_.scode != 0 ? info_.scode : DISP_E_EXCEPTION);
    return text;
  }

 private:
  EXCEPINFO info_;
};

// Calls a member by name. `arguments` are in reverse order, as DISPPARAMS wants them; a property
// put passes its value as the one named argument DISPID_PROPERTYPUT.
void invoke(IDispatch* object, const wchar_t* name, const char* call, WORD kind, std::span<VARIANT> arguments,
            VARIANT* result) {
  DISPID member = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &member);
  if (FAILED(hr)) throw CallFailed(call, hresultText(hr));

  DISPPARAMS parameters{};
  DISPID putId = DISPID_PROPERTYPUT;
  parameters.rgvarg = arguments.empty() ? nullptr : arguments.data();
  parameters.cArgs = static_cast<UINT>(arguments.size());
  if (kind == DISPATCH_PROPERTYPUT) {
    parameters.rgdispidNamedArgs = &putId;
    parameters.cNamedArgs = 1;
  }
  ExceptionInfo exception;
  UINT badArgument = 0;
  hr = object->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, kind, &parameters, result, exception.get(),
                      &badArgument);
  if (hr == DISP_E_EXCEPTION) throw CallFailed(call, exception.describe());
  if (FAILED(hr)) throw CallFailed(call, hresultText(hr));
}

Dispatch getObject(IDispatch* object, const wchar_t* name, const char* call,
                   std::span<VARIANT> arguments = {}) {
  Variant result;
  invoke(object, name, call, DISPATCH_METHOD | DISPATCH_PROPERTYGET, arguments, result.get());
  return result.object(call);
}

void put(IDispatch* object, const wchar_t* name, const char* call, Variant value) {
  invoke(object, name, call, DISPATCH_PROPERTYPUT, std::span<VARIANT>(value.get(), 1), nullptr);
}

void callMethod(IDispatch* object, const wchar_t* name, const char* call) {
  Variant ignored;
  invoke(object, name, call, DISPATCH_METHOD, {}, ignored.get());
}

// Configuration.Fields.Item(prefix + name).Value = value.
void setField(IDispatch* fields, const wchar_t* name, Variant value) {
  const std::wstring fullName = std::wstring(kFieldPrefix) + name;
  Variant key;
  key.get()->vt = VT_BSTR;
  key.get()->bstrVal = ::SysAllocStringLen(fullName.data(), static_cast<UINT>(fullName.size()));
  if (key.get()->bstrVal == nullptr) throw std::bad_alloc();
  const Dispatch field = getObject(fields, L"Item", "Fields.Item", std::span<VARIANT>(key.get(), 1));
  put(field.get(), L"Value", "Field.Value", std::move(value));
}

// "Name" <addr@host>, or the bare address; CDO encodes the name in the message's charset.
std::string mailboxText(const MailAddress& address) {
  const std::string name = singleLine(address.displayName);
  if (name.empty()) return singleLine(address.address);
  return "\"" + name + "\" <" + singleLine(address.address) + ">";
}

bool isClassMissing(HRESULT result) { return result == REGDB_E_CLASSNOTREG || result == CO_E_CLASSSTRING; }

HRESULT createMessage(Dispatch& message) {
  if (factoryOverride()) return static_cast<HRESULT>(factoryOverride()(message.out()));
  CLSID classId{};
  const HRESULT found = ::CLSIDFromProgID(L"CDO.Message", &classId);
  if (FAILED(found)) return found;
  return ::CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                            reinterpret_cast<void**>(message.out()));
}

void send(const MailSettings& settings, const MailMessage& message, IDispatch* cdoMessage) {
  const Dispatch configuration = getObject(cdoMessage, L"Configuration", "Message.Configuration");
  const Dispatch fields = getObject(configuration.get(), L"Fields", "Configuration.Fields");
  setField(fields.get(), L"sendusing", Variant::number(kSendUsingPort));
  setField(fields.get(), L"smtpserver", Variant::text(settings.server));
  setField(fields.get(), L"smtpserverport", Variant::number(settings.port));
  setField(fields.get(), L"smtpusessl", Variant::boolean(settings.security != Security::None));
  setField(fields.get(), L"smtpconnectiontimeout",
           Variant::number(static_cast<long>(settings.timeout.count())));
  setField(fields.get(), L"smtpauthenticate",
           Variant::number(settings.userName.empty() ? kAnonymous : kBasic));
  if (!settings.userName.empty()) {
    setField(fields.get(), L"sendusername", Variant::text(settings.userName));
    setField(fields.get(), L"sendpassword", Variant::text(settings.password, true));
  }
  callMethod(fields.get(), L"Update", "Fields.Update");

  // The charset first, so that the subject and the text are written in it.
  const Dispatch bodyPart = getObject(cdoMessage, L"BodyPart", "Message.BodyPart");
  put(bodyPart.get(), L"Charset", "BodyPart.Charset", Variant::text("utf-8"));
  std::string to;
  for (const MailAddress& recipient : message.to) to += (to.empty() ? "" : ", ") + mailboxText(recipient);
  put(cdoMessage, L"From", "Message.From", Variant::text(mailboxText(message.from)));
  put(cdoMessage, L"To", "Message.To", Variant::text(to));
  put(cdoMessage, L"Subject", "Message.Subject", Variant::text(singleLine(message.subject)));
  put(cdoMessage, L"TextBody", "Message.TextBody", Variant::text(message.body));
  callMethod(cdoMessage, L"Send", "Message.Send");
}

}  // namespace

CdoFactoryOverride::CdoFactoryOverride(CdoMessageFactory factory)
    : previous_(std::exchange(factoryOverride(), std::move(factory))) {}

CdoFactoryOverride::~CdoFactoryOverride() { factoryOverride() = std::move(previous_); }

SendResult sendMail(const MailSettings& settings, const MailMessage& message) {
  if (auto refused = transport::refusedSettings(settings))
    return transport::withoutSecrets(*refused, settings);
  SendResult result;
  try {
    ComApartment apartment;
    Dispatch cdoMessage;
    const HRESULT created = createMessage(cdoMessage);
    if (isClassMissing(created)) {
      result.error = "CDO（cdosys.dll）がないため、メールを送信できません。\n詳細: " + hresultText(created);
    } else if (FAILED(created) || cdoMessage.get() == nullptr) {
      result.error = "CDOのメッセージを作成できませんでした。\n詳細: " + hresultText(created);
    } else {
      send(settings, message, cdoMessage.get());
      result.sent = true;
    }
  } catch (const CallFailed& failure) {
    result.error =
        "メールを送信できませんでした（" + transport::serverText(settings) + "）。\n詳細: " + failure.what();
  }
  return transport::withoutSecrets(std::move(result), settings);
}

}  // namespace bv::mail
