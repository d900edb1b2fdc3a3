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

#include <span>
#include <stdexcept>
#include <string>
#include <utility>

#include "core/mail/cdo_win32.h"
#include "core/mail/header_encoding.h"
#include "core/mail/mail_transport.h"
#include "core/mail/transport_text.h"
#include "core/sys/com_win32.h"
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

using sys::hresultText;
using Dispatch = sys::ComPtr<IDispatch>;
using sys::Variant;

// A failed automation call: which one, and what CDO or the system said.
class CallFailed : public std::runtime_error {
 public:
  CallFailed(const std::string& call, const std::string& reason) : std::runtime_error(call + ": " + reason) {}
};

[[noreturn]] void failEntry(HRESULT failure) { throw CallFailed("CoInitializeEx", hresultText(failure)); }

Variant textVariant(const std::string& utf8Text, bool secret = false) {
  Variant result;
  std::u16string wide = text::utf8ToUtf16(utf8Text);
  result.get()->vt = VT_BSTR;
  result.get()->bstrVal =
      ::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(wide.data()), static_cast<UINT>(wide.size()));
  if (secret) {
    result.markSecret();
    sys::wipe(wide);
  }
  if (result.get()->bstrVal == nullptr) throw std::bad_alloc();
  return result;
}

Variant numberVariant(long value) {
  Variant result;
  result.get()->vt = VT_I4;
  result.get()->lVal = value;
  return result;
}

Variant booleanVariant(bool value) {
  Variant result;
  result.get()->vt = VT_BOOL;
  result.get()->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return result;
}

// The object a property returned, with a reference of its own.
Dispatch objectOf(const Variant& value, const char* call) {
  if (value.value().vt != VT_DISPATCH || value.value().pdispVal == nullptr) throw CallFailed(call, "no object");
  return Dispatch::share(value.value().pdispVal);
}

// What a failed Invoke's exception said, without its closing line breaks; the code's text where
// it said nothing.
std::string describe(sys::ExceptionInfo& exception) {
  std::string text = exception.description();
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
  if (text.empty()) return hresultText(exception.code());
  return text;
}

// Calls a member by name; a failure raises CallFailed naming the call.
void invoke(IDispatch* object, const wchar_t* name, const char* call, WORD kind, std::span<VARIANT> arguments,
            VARIANT* result) {
  sys::ExceptionInfo exception;
  const HRESULT hr = sys::invokeByName(object, name, kind, arguments, result, exception);
  if (hr == DISP_E_EXCEPTION) throw CallFailed(call, describe(exception));
  if (FAILED(hr)) throw CallFailed(call, hresultText(hr));
}

Dispatch getObject(IDispatch* object, const wchar_t* name, const char* call,
                   std::span<VARIANT> arguments = {}) {
  Variant result;
  invoke(object, name, call, DISPATCH_METHOD | DISPATCH_PROPERTYGET, arguments, result.get());
  return objectOf(result, call);
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
  if (factoryOverride()) return static_cast<HRESULT>(factoryOverride()(message.put()));
  CLSID classId{};
  const HRESULT found = ::CLSIDFromProgID(L"CDO.Message", &classId);
  if (FAILED(found)) return found;
  return ::CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, message.putVoid());
}

void send(const MailSettings& settings, const MailMessage& message, IDispatch* cdoMessage) {
  const Dispatch configuration = getObject(cdoMessage, L"Configuration", "Message.Configuration");
  const Dispatch fields = getObject(configuration.get(), L"Fields", "Configuration.Fields");
  setField(fields.get(), L"sendusing", numberVariant(kSendUsingPort));
  setField(fields.get(), L"smtpserver", textVariant(settings.server));
  setField(fields.get(), L"smtpserverport", numberVariant(settings.port));
  setField(fields.get(), L"smtpusessl", booleanVariant(settings.security != Security::None));
  setField(fields.get(), L"smtpconnectiontimeout",
           numberVariant(static_cast<long>(settings.timeout.count())));
  setField(fields.get(), L"smtpauthenticate",
           numberVariant(settings.userName.empty() ? kAnonymous : kBasic));
  if (!settings.userName.empty()) {
    setField(fields.get(), L"sendusername", textVariant(settings.userName));
    setField(fields.get(), L"sendpassword", textVariant(settings.password, true));
  }
  callMethod(fields.get(), L"Update", "Fields.Update");

  // The charset first, so that the subject and the text are written in it.
  const Dispatch bodyPart = getObject(cdoMessage, L"BodyPart", "Message.BodyPart");
  put(bodyPart.get(), L"Charset", "BodyPart.Charset", textVariant("utf-8"));
  std::string to;
  for (const MailAddress& recipient : message.to) to += (to.empty() ? "" : ", ") + mailboxText(recipient);
  put(cdoMessage, L"From", "Message.From", textVariant(mailboxText(message.from)));
  put(cdoMessage, L"To", "Message.To", textVariant(to));
  put(cdoMessage, L"Subject", "Message.Subject", textVariant(singleLine(message.subject)));
  put(cdoMessage, L"TextBody", "Message.TextBody", textVariant(message.body));
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
    const sys::ComApartment apartment(failEntry);
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
