#include "fake_cdo_win32.h"

#include <oleauto.h>

#include <functional>
#include <string_view>
#include <utility>

#include "core/text/utf16.h"

namespace mailtest {
namespace {

std::string utf8(BSTR text) {
  if (text == nullptr) return {};
  return bv::text::utf16ToUtf8(
      std::u16string_view(reinterpret_cast<const char16_t*>(text), ::SysStringLen(text)));
}

FakeCdoRecord::Value valueOf(const VARIANT& value) {
  switch (value.vt) {
    case VT_BSTR:
      return {VT_BSTR, utf8(value.bstrVal)};
    case VT_I4:
      return {VT_I4, std::to_string(value.lVal)};
    case VT_BOOL:
      return {VT_BOOL, value.boolVal == VARIANT_FALSE ? "false" : "true"};
    default:
      return {value.vt, "?"};
  }
}

using Member = std::function<HRESULT(WORD kind, DISPPARAMS* parameters, VARIANT* result)>;

// An automation object whose members are named functions. A COM object ends in its own Release,
// never by a delete through the interface, so IDispatch's non-virtual destructor is no fault.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class FakeObject final : public IDispatch {
 public:
  FakeObject(std::shared_ptr<FakeCdoRecord> record, std::vector<std::pair<std::wstring, Member>> members)
      : record_(std::move(record)), members_(std::move(members)) {
    ++record_->liveObjects;
  }
  ~FakeObject() { --record_->liveObjects; }
  FakeObject(const FakeObject&) = delete;
  FakeObject& operator=(const FakeObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (id == IID_IUnknown || id == IID_IDispatch) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (count != 1) return DISP_E_UNKNOWNNAME;
    for (std::size_t i = 0; i < members_.size(); ++i) {
      if (::_wcsicmp(members_[i].first.c_str(), names[0]) == 0) {
        ids[0] = static_cast<DISPID>(i + 1);
        return S_OK;
      }
    }
    ids[0] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD kind, DISPPARAMS* parameters,
                                   VARIANT* result, EXCEPINFO* exception, UINT*) override {
    if (id < 1 || static_cast<std::size_t>(id) > members_.size()) return DISP_E_MEMBERNOTFOUND;
    const HRESULT answer = members_[static_cast<std::size_t>(id) - 1].second(kind, parameters, result);
    if (answer == DISP_E_EXCEPTION && exception != nullptr) {
      *exception = EXCEPINFO{};
      const std::u16string text = bv::text::utf8ToUtf16(record_->sendFailure);
      exception->bstrDescription =
          ::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()));
      exception->scode = E_FAIL;
    }
    return answer;
  }

 private:
  std::shared_ptr<FakeCdoRecord> record_;
  std::vector<std::pair<std::wstring, Member>> members_;
  ULONG references_ = 1;
};
#pragma GCC diagnostic pop

bool isPut(WORD kind, const DISPPARAMS* parameters) {
  return (kind & DISPATCH_PROPERTYPUT) != 0 && parameters->cArgs == 1 && parameters->cNamedArgs == 1 &&
         parameters->rgdispidNamedArgs[0] == DISPID_PROPERTYPUT;
}

bool isGet(WORD kind, const DISPPARAMS* parameters, UINT arguments) {
  return (kind & DISPATCH_PROPERTYGET) != 0 && parameters->cArgs == arguments && parameters->cNamedArgs == 0;
}

// A property that records what is put into it under `name`.
Member recordedProperty(const std::shared_ptr<FakeCdoRecord>& record, std::string name) {
  return [record, name](WORD kind, DISPPARAMS* parameters, VARIANT*) {
    if (!isPut(kind, parameters)) return DISP_E_MEMBERNOTFOUND;
    record->properties[name] = valueOf(parameters->rgvarg[0]);
    record->calls.push_back(name);
    return S_OK;
  };
}

// A property whose value is a new object made by `make`.
Member objectProperty(std::function<IDispatch*()> make, UINT arguments = 0,
                      std::function<IDispatch*(const VARIANT&)> makeFromArgument = {}) {
  return [make, arguments, makeFromArgument](WORD kind, DISPPARAMS* parameters, VARIANT* result) {
    if (!isGet(kind, parameters, arguments) || result == nullptr) return DISP_E_MEMBERNOTFOUND;
    ::VariantInit(result);
    result->vt = VT_DISPATCH;
    result->pdispVal = arguments == 0 ? make() : makeFromArgument(parameters->rgvarg[0]);
    return S_OK;
  };
}

Member method(std::function<HRESULT()> run) {
  return [run](WORD kind, DISPPARAMS* parameters, VARIANT*) {
    if ((kind & DISPATCH_METHOD) == 0 || parameters->cArgs != 0) return DISP_E_MEMBERNOTFOUND;
    return run();
  };
}

IDispatch* makeField(const std::shared_ptr<FakeCdoRecord>& record, std::string name) {
  return new FakeObject(record, {{L"Value", [record, name](WORD kind, DISPPARAMS* parameters, VARIANT*) {
                                    if (!isPut(kind, parameters)) return DISP_E_MEMBERNOTFOUND;
                                    record->fields[name] = valueOf(parameters->rgvarg[0]);
                                    return S_OK;
                                  }}});
}

IDispatch* makeFields(const std::shared_ptr<FakeCdoRecord>& record) {
  return new FakeObject(record, {{L"Item", objectProperty({}, 1,
                                                          [record](const VARIANT& name) {
                                                            return makeField(record, name.vt == VT_BSTR
                                                                                         ? utf8(name.bstrVal)
                                                                                         : "?");
                                                          })},
                                 {L"Update", method([record] {
                                    record->calls.push_back("Fields.Update");
                                    return S_OK;
                                  })}});
}

}  // namespace

HRESULT createFakeCdoMessage(const std::shared_ptr<FakeCdoRecord>& record, IDispatch** message) {
  const auto configuration = [record]() -> IDispatch* {
    return new FakeObject(record, {{L"Fields", objectProperty([record] { return makeFields(record); })}});
  };
  const auto bodyPart = [record]() -> IDispatch* {
    return new FakeObject(record, {{L"Charset", recordedProperty(record, "BodyPart.Charset")}});
  };
  *message = new FakeObject(record, {{L"Configuration", objectProperty(configuration)},
                                     {L"BodyPart", objectProperty(bodyPart)},
                                     {L"From", recordedProperty(record, "From")},
                                     {L"To", recordedProperty(record, "To")},
                                     {L"Subject", recordedProperty(record, "Subject")},
                                     {L"TextBody", recordedProperty(record, "TextBody")},
                                     {L"Send", method([record] {
                                        record->calls.push_back("Send");
                                        return record->sendFailure.empty() ? S_OK : DISP_E_EXCEPTION;
                                      })}});
  return S_OK;
}

}  // namespace mailtest
