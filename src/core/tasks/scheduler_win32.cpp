// The scheduler on Windows: the back-end interfaces over mstask's ITaskScheduler, ITask (with
// IScheduledWorkItem and IPersistFile), ITaskTrigger, IEnumWorkItems and IProvideTaskPage.
// Every interface is held by an owner that releases it, every string the scheduler allocates is
// freed with CoTaskMemFree, and COM stays initialised on the thread while anything of this file
// holds an interface. Texts are UTF-8 outside and UTF-16 towards COM; results pass through
// unchanged.
#include "core/tasks/scheduler_win32.h"

// The Windows headers build on one another: their order matters.
// clang-format off
#include <objbase.h>
#include <objidl.h>
#include <commctrl.h>
#include <prsht.h>
#include <mstask.h>
// clang-format on
// prsht.h names PropertySheetA or PropertySheetW "PropertySheet", which is also a method of the
// back-end interface; the call below names PropertySheetW itself.
#undef PropertySheet

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "core/sys/com_win32.h"
#include "core/tasks/system_error.h"
#include "core/text/utf16.h"

namespace bv::tasks {

const GUID kClsidCTaskScheduler = {
    0x148BD52A, 0xA2AB, 0x11CE, {0xB1, 0x1F, 0x00, 0xAA, 0x00, 0x53, 0x05, 0x03}};
const GUID kIidITaskScheduler = {
    0x148BD527, 0xA2AB, 0x11CE, {0xB1, 0x1F, 0x00, 0xAA, 0x00, 0x53, 0x05, 0x03}};
const GUID kClsidCTask = {0x148BD520, 0xA2AB, 0x11CE, {0xB1, 0x1F, 0x00, 0xAA, 0x00, 0x53, 0x05, 0x03}};
const GUID kIidITask = {0x148BD524, 0xA2AB, 0x11CE, {0xB1, 0x1F, 0x00, 0xAA, 0x00, 0x53, 0x05, 0x03}};
const GUID kIidIPersistFile = {0x0000010B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const GUID kIidIProvideTaskPage = {
    0x4086658A, 0xCBBB, 0x11CF, {0xB6, 0x04, 0x00, 0xC0, 0x4F, 0xD8, 0xD5, 0x65}};

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "COM's text is UTF-16");

constexpr HResult kPointer = 0x80004003;  // E_POINTER: a success without the object asked for

HResult resultOf(HRESULT result) { return static_cast<HResult>(result); }

// COM that cannot be initialised: the standard check's ComError.
[[noreturn]] void failEntry(HRESULT failure) {
  throw ComError(systemErrorText(resultOf(failure)), resultOf(failure));
}

// COM on this thread, apartment-threaded, entered once and shared by every object of this file
// on the thread; left when the last of them is gone, so no interface outlives it. A thread that
// is already in the multithreaded apartment can make the calls as well. The objects must be
// released on the thread that made them, as COM's apartment rules demand anyway. Raises ComError
// when COM cannot be initialised.
using Apartment = std::shared_ptr<sys::ComApartment>;
Apartment apartmentOfThisThread() {
  thread_local std::weak_ptr<sys::ComApartment> current;
  if (auto held = current.lock()) return held;
  auto apartment = std::make_shared<sys::ComApartment>(failEntry);
  current = apartment;
  return apartment;
}

using sys::ComPtr;

std::string utf8Of(const wchar_t* text) {
  if (text == nullptr) return {};
  return text::utf16ToUtf8(std::u16string(text, text + std::wcslen(text)));
}

// A string the callee allocated with CoTaskMemAlloc.
class CoTaskMemText {
 public:
  CoTaskMemText() = default;
  ~CoTaskMemText() { ::CoTaskMemFree(text_); }
  CoTaskMemText(const CoTaskMemText&) = delete;
  CoTaskMemText& operator=(const CoTaskMemText&) = delete;

  LPWSTR* put() noexcept {
    ::CoTaskMemFree(std::exchange(text_, nullptr));
    return &text_;
  }
  std::string utf8() const { return utf8Of(text_); }

 private:
  LPWSTR text_ = nullptr;
};

// The UTF-16 form of a text argument, wiped when it goes (a password is one). Not valid for text
// that is not UTF-8 or that holds a NUL, which the call would silently cut short.
class WideArgument {
 public:
  explicit WideArgument(std::string_view utf8) {
    std::optional<std::u16string> utf16 = text::utf8ToUtf16Exact(utf8);
    if (!utf16) return;
    if (utf16->find(u'\0') == std::u16string::npos) {
      text_.assign(utf16->begin(), utf16->end());
      valid_ = true;
    }
    ::SecureZeroMemory(utf16->data(), utf16->size() * sizeof(char16_t));
  }
  ~WideArgument() { ::SecureZeroMemory(text_.data(), text_.size() * sizeof(wchar_t)); }
  WideArgument(const WideArgument&) = delete;
  WideArgument& operator=(const WideArgument&) = delete;

  bool valid() const { return valid_; }
  const wchar_t* get() const { return text_.c_str(); }

 private:
  std::wstring text_;
  bool valid_ = false;
};

SystemTime systemTimeOf(const SYSTEMTIME& time) {
  return {time.wYear, time.wMonth,  time.wDayOfWeek, time.wDay,
          time.wHour, time.wMinute, time.wSecond,    time.wMilliseconds};
}

// TRIGGER_TYPE_UNION holds the union's members at the places of the .JOB file's three words
// ([MS-TSCH] 2.4.2.11), low byte first: its bytes are TriggerUnionWords.
static_assert(std::endian::native == std::endian::little);
static_assert(sizeof(TRIGGER_TYPE_UNION) >= sizeof(TriggerUnionWords));
static_assert(offsetof(WEEKLY, rgfDaysOfTheWeek) == 2 && offsetof(MONTHLYDATE, rgfMonths) == 4 &&
              offsetof(MONTHLYDOW, rgfDaysOfTheWeek) == 2 && offsetof(MONTHLYDOW, rgfMonths) == 4);

// TASK_TRIGGER field by field; of the union only the members the type uses.
TaskTrigger taskTriggerOf(const TASK_TRIGGER& raw) {
  TaskTrigger trigger;
  trigger.beginYear = raw.wBeginYear;
  trigger.beginMonth = raw.wBeginMonth;
  trigger.beginDay = raw.wBeginDay;
  trigger.endYear = raw.wEndYear;
  trigger.endMonth = raw.wEndMonth;
  trigger.endDay = raw.wEndDay;
  trigger.startHour = raw.wStartHour;
  trigger.startMinute = raw.wStartMinute;
  trigger.minutesDuration = raw.MinutesDuration;
  trigger.minutesInterval = raw.MinutesInterval;
  trigger.flags = raw.rgFlags;
  trigger.type = static_cast<TriggerType>(static_cast<std::uint32_t>(raw.TriggerType));
  TriggerUnionWords words{};
  std::memcpy(words.data(), &raw.Type, sizeof words);
  setUnionWords(trigger, words);
  return trigger;
}

// The caller has checked that the type is a known one.
TASK_TRIGGER rawTriggerOf(const TaskTrigger& trigger) {
  TASK_TRIGGER raw{};
  raw.cbTriggerSize = sizeof(TASK_TRIGGER);
  raw.wBeginYear = trigger.beginYear;
  raw.wBeginMonth = trigger.beginMonth;
  raw.wBeginDay = trigger.beginDay;
  raw.wEndYear = trigger.endYear;
  raw.wEndMonth = trigger.endMonth;
  raw.wEndDay = trigger.endDay;
  raw.wStartHour = trigger.startHour;
  raw.wStartMinute = trigger.startMinute;
  raw.MinutesDuration = trigger.minutesDuration;
  raw.MinutesInterval = trigger.minutesInterval;
  raw.rgFlags = trigger.flags;
  raw.TriggerType = static_cast<TASK_TRIGGER_TYPE>(static_cast<std::uint32_t>(trigger.type));
  const TriggerUnionWords words = unionWords(trigger);
  std::memcpy(&raw.Type, words.data(), sizeof words);
  return raw;
}

template <typename Call>
HResult callWithText(std::string_view text, Call call) {
  const WideArgument wide(text);
  if (!wide.valid()) return kInvalidArgument;
  return resultOf(call(wide.get()));
}

// A call that answers with a CoTaskMem string; `text` changes only on success.
template <typename Call>
HResult readText(std::string& text, Call call) {
  CoTaskMemText answer;
  const HRESULT result = call(answer.put());
  if (SUCCEEDED(result)) text = answer.utf8();
  return resultOf(result);
}

class Win32Trigger final : public SchedulerTrigger {
 public:
  Win32Trigger(Apartment apartment, ComPtr<ITaskTrigger> trigger)
      : apartment_(std::move(apartment)), trigger_(std::move(trigger)) {}

  HResult GetTrigger(TaskTrigger& trigger) override {
    TASK_TRIGGER raw{};
    raw.cbTriggerSize = sizeof(TASK_TRIGGER);
    const HRESULT result = trigger_->GetTrigger(&raw);
    if (SUCCEEDED(result)) trigger = taskTriggerOf(raw);
    return resultOf(result);
  }
  HResult SetTrigger(const TaskTrigger& trigger) override {
    // A value outside the SDK's enumeration cannot be put into TASK_TRIGGER_TYPE; the
    // scheduler refuses unknown types the same way.
    if (!isKnownTriggerType(static_cast<std::uint32_t>(trigger.type))) return kInvalidArgument;
    TASK_TRIGGER raw = rawTriggerOf(trigger);  // SetTrigger takes a pointer to non-const
    return resultOf(trigger_->SetTrigger(&raw));
  }
  HResult GetTriggerString(std::string& text) override {
    return readText(text, [&](LPWSTR* answer) { return trigger_->GetTriggerString(answer); });
  }

 private:
  Apartment apartment_;  // outlives trigger_
  ComPtr<ITaskTrigger> trigger_;
};

class Win32TaskPages final : public TaskPages {
 public:
  Win32TaskPages(Apartment apartment, ComPtr<IProvideTaskPage> provider, NativeWindow owner)
      : apartment_(std::move(apartment)), provider_(std::move(provider)), owner_(owner) {}
  // A page that was made but never handed to a sheet is destroyed here.
  ~Win32TaskPages() override {
    for (HPROPSHEETPAGE page : unshown_) ::DestroyPropertySheetPage(page);
  }
  Win32TaskPages(const Win32TaskPages&) = delete;
  Win32TaskPages& operator=(const Win32TaskPages&) = delete;

  HResult GetPage(TaskPageType type, bool persistChanges, TaskPageHandle& page) override {
    HPROPSHEETPAGE made = nullptr;
    const HRESULT result = provider_->GetPage(static_cast<TASKPAGE>(static_cast<int>(type)),
                                              persistChanges ? TRUE : FALSE, &made);
    if (FAILED(result)) return resultOf(result);
    if (made == nullptr) return kPointer;
    unshown_.push_back(made);
    page = made;
    return resultOf(result);
  }

  int PropertySheet(const std::string& caption, const std::vector<TaskPageHandle>& pages) override {
    // The sheet takes its pages over.
    for (TaskPageHandle page : pages) {
      std::erase(unshown_, static_cast<HPROPSHEETPAGE>(page));
    }
    return showTaskPropertySheet(reinterpret_cast<HWND>(static_cast<std::uintptr_t>(owner_)), caption, pages);
  }

 private:
  Apartment apartment_;  // outlives provider_
  ComPtr<IProvideTaskPage> provider_;
  NativeWindow owner_;
  std::vector<HPROPSHEETPAGE> unshown_;
};

class Win32WorkItem final : public SchedulerWorkItem {
 public:
  Win32WorkItem(Apartment apartment, ComPtr<ITask> task)
      : apartment_(std::move(apartment)), task_(std::move(task)) {}

  HResult SetApplicationName(const std::string& path) override {
    return callWithText(path, [&](LPCWSTR text) { return task_->SetApplicationName(text); });
  }
  HResult GetApplicationName(std::string& path) override {
    return readText(path, [&](LPWSTR* answer) { return task_->GetApplicationName(answer); });
  }
  HResult SetParameters(const std::string& parameters) override {
    return callWithText(parameters, [&](LPCWSTR text) { return task_->SetParameters(text); });
  }
  HResult GetParameters(std::string& parameters) override {
    return readText(parameters, [&](LPWSTR* answer) { return task_->GetParameters(answer); });
  }
  HResult GetFlags(std::uint32_t& flags) override {
    DWORD value = 0;
    const HRESULT result = task_->GetFlags(&value);
    if (SUCCEEDED(result)) flags = value;
    return resultOf(result);
  }
  HResult SetFlags(std::uint32_t flags) override { return resultOf(task_->SetFlags(flags)); }
  HResult SetAccountInformation(const std::string& user, const std::string& password) override {
    const WideArgument wideUser(user);
    const WideArgument widePassword(password);
    if (!wideUser.valid() || !widePassword.valid()) return kInvalidArgument;
    return resultOf(task_->SetAccountInformation(wideUser.get(), widePassword.get()));
  }
  HResult GetAccountInformation(std::string& user) override {
    return readText(user, [&](LPWSTR* answer) { return task_->GetAccountInformation(answer); });
  }

  HResult GetTriggerCount(std::uint16_t& count) override {
    WORD value = 0;
    const HRESULT result = task_->GetTriggerCount(&value);
    if (SUCCEEDED(result)) count = value;
    return resultOf(result);
  }
  HResult GetTrigger(std::uint16_t index, std::unique_ptr<SchedulerTrigger>& trigger) override {
    ComPtr<ITaskTrigger> made;
    const HRESULT result = task_->GetTrigger(index, made.put());
    if (FAILED(result)) return resultOf(result);
    if (!made) return kPointer;
    trigger = std::make_unique<Win32Trigger>(apartment_, std::move(made));
    return resultOf(result);
  }
  HResult CreateTrigger(std::uint16_t& index, std::unique_ptr<SchedulerTrigger>& trigger) override {
    ComPtr<ITaskTrigger> made;
    WORD newIndex = 0;
    const HRESULT result = task_->CreateTrigger(&newIndex, made.put());
    if (FAILED(result)) return resultOf(result);
    if (!made) return kPointer;
    index = newIndex;
    trigger = std::make_unique<Win32Trigger>(apartment_, std::move(made));
    return resultOf(result);
  }
  HResult DeleteTrigger(std::uint16_t index) override { return resultOf(task_->DeleteTrigger(index)); }

  HResult GetNextRunTime(SystemTime& time) override {
    SYSTEMTIME value{};
    const HRESULT result = task_->GetNextRunTime(&value);
    time = systemTimeOf(value);
    return resultOf(result);
  }
  HResult GetMostRecentRunTime(SystemTime& time) override {
    SYSTEMTIME value{};
    const HRESULT result = task_->GetMostRecentRunTime(&value);
    time = systemTimeOf(value);
    return resultOf(result);
  }
  HResult GetExitCode(std::uint32_t& exitCode) override {
    DWORD value = 0;
    const HRESULT result = task_->GetExitCode(&value);
    exitCode = value;
    return resultOf(result);
  }
  HResult GetStatus(HResult& status) override {
    HRESULT value = S_OK;
    const HRESULT result = task_->GetStatus(&value);
    if (SUCCEEDED(result)) status = resultOf(value);
    return resultOf(result);
  }

  HResult Save() override {
    ComPtr<IPersistFile> file;
    const HRESULT asked = task_.query(kIidIPersistFile, file);
    if (FAILED(asked)) return resultOf(asked);
    return resultOf(file->Save(nullptr, TRUE));
  }
  HResult GetCurFile(std::string& path) override {
    ComPtr<IPersistFile> file;
    const HRESULT asked = task_.query(kIidIPersistFile, file);
    if (FAILED(asked)) return resultOf(asked);
    return readText(path, [&](LPOLESTR* answer) { return file->GetCurFile(answer); });
  }

  // The system's own pages, over the owner's window; the owner's page is for systems without them.
  HResult QueryTaskPages(const PageOwner& owner, std::unique_ptr<TaskPages>& pages) override {
    ComPtr<IProvideTaskPage> provider;
    const HRESULT asked = task_.query(kIidIProvideTaskPage, provider);
    if (FAILED(asked)) return resultOf(asked);
    pages = std::make_unique<Win32TaskPages>(apartment_, std::move(provider), owner.window);
    return resultOf(asked);
  }

 private:
  Apartment apartment_;  // outlives task_
  ComPtr<ITask> task_;
};

// The names an IEnumWorkItems::Next call allocated: the array and each name.
class FetchedNames {
 public:
  FetchedNames() = default;
  ~FetchedNames() {
    if (names_ == nullptr) return;
    for (ULONG i = 0; i < fetched_; ++i) ::CoTaskMemFree(names_[i]);
    ::CoTaskMemFree(names_);
  }
  FetchedNames(const FetchedNames&) = delete;
  FetchedNames& operator=(const FetchedNames&) = delete;

  LPWSTR** names() noexcept { return &names_; }
  ULONG* fetched() noexcept { return &fetched_; }
  bool hasOne() const { return names_ != nullptr && fetched_ == 1 && names_[0] != nullptr; }
  std::string first() const { return utf8Of(names_[0]); }

 private:
  LPWSTR* names_ = nullptr;
  ULONG fetched_ = 0;
};

class Win32Enumerator final : public SchedulerEnumerator {
 public:
  Win32Enumerator(Apartment apartment, ComPtr<IEnumWorkItems> items)
      : apartment_(std::move(apartment)), items_(std::move(items)) {}

  HResult Next(std::string& name) override {
    FetchedNames fetched;
    const HRESULT result = items_->Next(1, fetched.names(), fetched.fetched());
    if (result != S_OK) return resultOf(result);
    if (!fetched.hasOne()) return kFalse;  // S_OK without a name ends the list as well
    name = fetched.first();
    return kOk;
  }

 private:
  Apartment apartment_;  // outlives items_
  ComPtr<IEnumWorkItems> items_;
};

class Win32Scheduler final : public SchedulerService {
 public:
  Win32Scheduler(Apartment apartment, ComPtr<ITaskScheduler> scheduler)
      : apartment_(std::move(apartment)), scheduler_(std::move(scheduler)) {}

  HResult Activate(const std::string& name, std::unique_ptr<SchedulerWorkItem>& item) override {
    const WideArgument wideName(name);
    if (!wideName.valid()) return kInvalidArgument;
    ComPtr<IUnknown> unknown;
    const HRESULT result = scheduler_->Activate(wideName.get(), kIidITask, unknown.put());
    return adoptTask(result, unknown, item);
  }

  HResult NewWorkItem(const std::string& name, std::unique_ptr<SchedulerWorkItem>& item) override {
    const WideArgument wideName(name);
    if (!wideName.valid()) return kInvalidArgument;
    ComPtr<IUnknown> unknown;
    const HRESULT result = scheduler_->NewWorkItem(wideName.get(), kClsidCTask, kIidITask, unknown.put());
    return adoptTask(result, unknown, item);
  }

  HResult Enum(std::unique_ptr<SchedulerEnumerator>& enumerator) override {
    ComPtr<IEnumWorkItems> items;
    const HRESULT result = scheduler_->Enum(items.put());
    if (FAILED(result)) return resultOf(result);
    if (!items) return kPointer;
    enumerator = std::make_unique<Win32Enumerator>(apartment_, std::move(items));
    return resultOf(result);
  }

 private:
  // The work item behind the object a call answered with, asked for ITask.
  HResult adoptTask(HRESULT result, const ComPtr<IUnknown>& unknown,
                    std::unique_ptr<SchedulerWorkItem>& item) {
    if (FAILED(result) || !unknown) return resultOf(result);
    ComPtr<ITask> task;
    const HRESULT asked = unknown.query(kIidITask, task);
    if (FAILED(asked)) return resultOf(asked);
    item = std::make_unique<Win32WorkItem>(apartment_, std::move(task));
    return resultOf(result);
  }

  Apartment apartment_;  // outlives scheduler_
  ComPtr<ITaskScheduler> scheduler_;
};

}  // namespace

int showTaskPropertySheet(HWND ownerWindow, const std::string& caption,
                          const std::vector<TaskPageHandle>& pages) {
  if (pages.empty()) return -1;  // a sheet without a page would leave the user nothing to do
  const std::u16string caption16 = text::utf8ToUtf16(caption);
  const std::wstring title(caption16.begin(), caption16.end());
  std::vector<HPROPSHEETPAGE> handles;
  handles.reserve(pages.size());
  for (TaskPageHandle page : pages) handles.push_back(static_cast<HPROPSHEETPAGE>(page));

  PROPSHEETHEADERW header{};
  header.dwSize = sizeof(PROPSHEETHEADERW);
  header.dwFlags = PSH_NOAPPLYNOW;
  header.hwndParent = ownerWindow;
  header.pszCaption = title.c_str();
  header.nPages = static_cast<UINT>(handles.size());
  header.phpage = handles.data();
  return static_cast<int>(::PropertySheetW(&header));
}

std::shared_ptr<SchedulerService> createPlatformScheduler() {
  Apartment apartment = apartmentOfThisThread();
  ComPtr<ITaskScheduler> scheduler;
  comCheck(resultOf(::CoCreateInstance(kClsidCTaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                                       kIidITaskScheduler, scheduler.putVoid())));
  if (!scheduler) return nullptr;  // the wrapper reports E_NOINTERFACE
  return std::make_shared<Win32Scheduler>(std::move(apartment), std::move(scheduler));
}

}  // namespace bv::tasks
