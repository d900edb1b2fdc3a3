// COM for the program's Windows parts (the task scheduler, the CDO mail transport, SQL-DMO): COM
// entered on the thread for an owner's lifetime, one reference to an interface, a VARIANT and an
// Invoke's exception description released on every path, a call by name through IDispatch, and
// the system's texts for result codes. Windows only; Qt-free.
#pragma once

// The Windows headers build on one another: their order matters.
// clang-format off
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
// clang-format on

#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace bv::sys {

// UTF-8 of a UTF-16 text of the system's; unpaired surrogates become U+FFFD.
std::string utf8Of(std::wstring_view text);

// The system's text for a message number (FormatMessageW, the system's language) without its
// closing line break; empty when the system has none.
std::string systemMessage(DWORD number);

// "0x80040154 <the system's text>", or the code alone where the system has no text.
std::string hresultText(HRESULT result);

// COM on this thread, apartment-threaded, for the owner's lifetime. A thread already in the
// multithreaded apartment (RPC_E_CHANGED_MODE) can still make the calls; only a successful entry
// is undone. Any other failure goes to `raise`, which throws the caller's own error.
class ComApartment {
 public:
  using Raise = void (*)(HRESULT failure);
  explicit ComApartment(Raise raise);
  ~ComApartment();
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  HRESULT entry_;
};

// One reference to a COM interface.
template <typename Interface>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { reset(); }
  ComPtr(ComPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      reset();
      object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;

  // A further reference to an object held elsewhere (none for null).
  static ComPtr share(Interface* object) noexcept {
    ComPtr result;
    if (object != nullptr) object->AddRef();
    result.object_ = object;
    return result;
  }

  Interface* get() const noexcept { return object_; }
  Interface* operator->() const noexcept { return object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }

  // For a call that hands over a new reference; any old one is released first.
  Interface** put() noexcept {
    reset();
    return &object_;
  }
  void** putVoid() noexcept { return reinterpret_cast<void**>(put()); }

  // QueryInterface into `other`.
  template <typename Other>
  HRESULT query(const IID& iid, ComPtr<Other>& other) const {
    return object_->QueryInterface(iid, other.putVoid());
  }

  void reset() noexcept {
    if (object_ != nullptr) std::exchange(object_, nullptr)->Release();
  }

 private:
  Interface* object_ = nullptr;
};

// A VARIANT cleared on every path; a secret text is wiped first.
class Variant {
 public:
  Variant() noexcept { ::VariantInit(&value_); }
  ~Variant();
  Variant(Variant&& other) noexcept : value_(other.value_), secret_(other.secret_) { ::VariantInit(&other.value_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;

  VARIANT* get() noexcept { return &value_; }
  const VARIANT& value() const noexcept { return value_; }
  // The text it holds is a secret (a password): wiped before it is freed.
  void markSecret() noexcept { secret_ = true; }

 private:
  VARIANT value_;
  bool secret_ = false;
};

// The exception description of a failed Invoke, its strings freed on every path.
class ExceptionInfo {
 public:
  ExceptionInfo() noexcept : info_{} {}
  ~ExceptionInfo();
  ExceptionInfo(const ExceptionInfo&) = delete;
  ExceptionInfo& operator=(const ExceptionInfo&) = delete;

  EXCEPINFO* get() noexcept { return &info_; }
  // The description the object gave (filled in first where it defers that); may be empty.
  std::string description();
  // The code it reported: its scode, or DISP_E_EXCEPTION when it gave none.
  HRESULT code() const noexcept { return info_.scode != 0 ? info_.scode : DISP_E_EXCEPTION; }

 private:
  EXCEPINFO info_;
};

// Calls a member by name as `kind` (DISPATCH_METHOD, DISPATCH_PROPERTYGET, ...). `arguments` are
// in reverse order, as DISPPARAMS wants them; a property put passes its value as the one named
// argument DISPID_PROPERTYPUT. `result` may be null. Returns GetIDsOfNames' failure, else
// Invoke's answer; with DISP_E_EXCEPTION, `exception` describes it.
HRESULT invokeByName(IDispatch* object, const wchar_t* name, WORD kind, std::span<VARIANT> arguments,
                     VARIANT* result, ExceptionInfo& exception);

}  // namespace bv::sys
