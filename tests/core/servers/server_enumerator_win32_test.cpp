// Windows: where "SQLDMO.Application" is not registered (current Windows, Wine), the SSRP
// browser takes SQL-DMO's place; the codes that mean "not installed" are told apart from real
// failures; and the automation calls themselves run against objects every Windows (and Wine)
// has: Scripting.Dictionary answers Count and Item as SQL-DMO's NameList does.
// The Windows headers build on one another: their order matters.
// clang-format off
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
// clang-format on

#include <gtest/gtest.h>

#include <string>

#include "core/servers/server_enumerator.h"
#include "core/servers/sqldmo_win32.h"
#include "core/servers/ssrp_browser.h"
#include "ssrp_test_responder.h"

namespace bv::servers {
namespace {

// COM for one test, and one automation object made by its ProgID.
class AutomationObject {
 public:
  explicit AutomationObject(const wchar_t* progId) {
    started_ = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    CLSID classId{};
    if (SUCCEEDED(::CLSIDFromProgID(progId, &classId))) {
      ::CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                         reinterpret_cast<void**>(&object_));
    }
  }
  ~AutomationObject() {
    if (object_ != nullptr) object_->Release();
    if (started_) ::CoUninitialize();
  }
  AutomationObject(const AutomationObject&) = delete;
  AutomationObject& operator=(const AutomationObject&) = delete;
  IDispatch* get() const { return object_; }

  // Dictionary.Add(key, text).
  HRESULT add(long key, const wchar_t* text) {
    DISPID member = 0;
    LPOLESTR name = const_cast<LPOLESTR>(L"Add");
    HRESULT hr = object_->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &member);
    if (FAILED(hr)) return hr;
    VARIANT arguments[2];  // reverse order: item, then key
    ::VariantInit(&arguments[0]);
    ::VariantInit(&arguments[1]);
    arguments[0].vt = VT_BSTR;
    arguments[0].bstrVal = ::SysAllocString(text);
    arguments[1].vt = VT_I4;
    arguments[1].lVal = key;
    DISPPARAMS parameters{arguments, nullptr, 2, 0};
    hr = object_->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters, nullptr,
                         nullptr, nullptr);
    ::VariantClear(&arguments[0]);
    ::VariantClear(&arguments[1]);
    return hr;
  }

 private:
  bool started_ = false;
  IDispatch* object_ = nullptr;
};

bool sqlDmoRegistered() {
  CLSID classId{};
  return SUCCEEDED(::CLSIDFromProgID(L"SQLDMO.Application", &classId));
}

TEST(SqlDmoAbsent, TheSsrpBrowserTakesItsPlace) {
  if (sqlDmoRegistered()) GTEST_SKIP() << "SQL-DMO is installed here";
  bvtest::SsrpTestResponder responder({{bvtest::ssrpReply(bvtest::ssrpRecord("HOST", "MSSQLSERVER") +
                                                          bvtest::ssrpRecord("HOST", "SQLEXPRESS"))}});
  const auto enumerator = createServerEnumerator(responder.target(std::chrono::milliseconds(1000)));
  const auto* ssrp = dynamic_cast<const SsrpEnumerator*>(enumerator.get());
  ASSERT_NE(ssrp, nullptr);
  EXPECT_EQ(ssrp->target().port, responder.port());
  const auto names = enumerator->ListAvailableSQLServers();
  ASSERT_EQ(names->Count(), 2);
  EXPECT_EQ(names->Item(1), "HOST");
  EXPECT_EQ(names->Item(2), "HOST\\SQLEXPRESS");
}

TEST(SqlDmoAbsent, NotInstalledCodesAreToldFromFailures) {
  for (const std::uint32_t missing :
       {0x800401F3u, 0x80040154u, 0x80040150u, 0x800401F8u, 0x8007007Eu, 0x80070002u}) {
    EXPECT_TRUE(isSqlDmoMissing(static_cast<std::int32_t>(missing))) << std::hex << missing;
  }
  for (const std::uint32_t failure : {0x00000000u, 0x80004005u, 0x80070005u, 0x80080005u}) {
    EXPECT_FALSE(isSqlDmoMissing(static_cast<std::int32_t>(failure))) << std::hex << failure;
  }
}

TEST(AutomationEnumerator, AClassThatIsNotInstalledGivesNothing) {
  EXPECT_EQ(createAutomationEnumerator(L"Brackenvale.NoSuchClass"), nullptr);
}

TEST(AutomationEnumerator, AnObjectWithoutTheMethodFailsWithItsCode) {
  const auto enumerator = createAutomationEnumerator(L"Scripting.Dictionary");
  ASSERT_NE(enumerator, nullptr);
  try {
    enumerator->ListAvailableSQLServers();
    FAIL() << "a dictionary listed servers";
  } catch (const EnumerationError& error) {
    const std::string message = error.what();
    const std::string lead = "サーバの一覧を取得できませんでした。\r\n\r\nListAvailableSQLServers: ";
    EXPECT_EQ(message.rfind(lead, 0), 0u) << message;
    EXPECT_NE(message.find("0x80020006"), std::string::npos) << message;  // DISP_E_UNKNOWNNAME
  }
}

TEST(AutomationNameList, CountAndOneBasedItemByName) {
  AutomationObject dictionary(L"Scripting.Dictionary");
  ASSERT_NE(dictionary.get(), nullptr);
  ASSERT_EQ(dictionary.add(1, L"HOST"), S_OK);
  ASSERT_EQ(dictionary.add(2, L"HOST\\SQLEXPRESS"), S_OK);
  ASSERT_EQ(dictionary.add(3, L"\u30B5\u30FC\u30D0"), S_OK);  // サーバ
  const auto names = automationNameList(dictionary.get());
  ASSERT_EQ(names->Count(), 3);
  EXPECT_EQ(names->Item(1), "HOST");
  EXPECT_EQ(names->Item(2), "HOST\\SQLEXPRESS");
  EXPECT_EQ(names->Item(3), "サーバ");
}

TEST(AutomationNameList, AnObjectWithoutCountFailsWithItsCode) {
  AutomationObject files(L"Scripting.FileSystemObject");
  ASSERT_NE(files.get(), nullptr);
  const auto names = automationNameList(files.get());
  try {
    names->Count();
    FAIL() << "a file system object counted names";
  } catch (const EnumerationError& error) {
    const std::string message = error.what();
    EXPECT_NE(message.find("NameList.Count: 0x80020006"), std::string::npos) << message;
  }
}

}  // namespace
}  // namespace bv::servers
