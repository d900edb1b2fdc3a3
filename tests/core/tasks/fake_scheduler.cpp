#include "fake_scheduler.h"

#include <algorithm>
#include <array>

#include "core/tasks/task_codes.h"

namespace bvtest {
namespace {

using bv::tasks::HResult;
using bv::tasks::isFailure;
using bv::tasks::kOk;
using bv::tasks::SchedulerTrigger;
using bv::tasks::SchedulerWorkItem;
using bv::tasks::SystemTime;
using bv::tasks::TaskPageHandle;
using bv::tasks::TaskPageType;
using bv::tasks::TaskTrigger;

std::array<int, 3> pageMarkers{};

class FakeTrigger final : public SchedulerTrigger {
 public:
  FakeTrigger(std::shared_ptr<FakeSchedulerScript> script, std::uint16_t index)
      : script_(std::move(script)), index_(index) {}

  HResult GetTrigger(TaskTrigger&) override { return called("Trigger.GetTrigger"); }
  HResult SetTrigger(const TaskTrigger&) override { return called("Trigger.SetTrigger"); }
  HResult GetTriggerString(std::string& text) override {
    const HResult answer = called("GetTriggerString");
    if (!isFailure(answer) && index_ < script_->triggerTexts.size()) text = script_->triggerTexts[index_];
    return answer;
  }

 private:
  HResult called(std::string_view method) {
    script_->calls.emplace_back(method);
    return script_->answer(method);
  }

  std::shared_ptr<FakeSchedulerScript> script_;
  std::uint16_t index_;
};

class FakeTaskPages final : public bv::tasks::TaskPages {
 public:
  explicit FakeTaskPages(std::shared_ptr<FakeSchedulerScript> script) : script_(std::move(script)) {}

  HResult GetPage(TaskPageType type, bool persistChanges, TaskPageHandle& page) override {
    script_->calls.emplace_back("GetPage");
    script_->pagesAsked.emplace_back(type, persistChanges);
    const auto scripted = script_->pageAnswers.find(type);
    const HResult answer =
        scripted != script_->pageAnswers.end() ? scripted->second : script_->answer("GetPage");
    if (!isFailure(answer)) page = FakeSchedulerScript::pageHandle(type);
    return answer;
  }

  int PropertySheet(const std::string& caption, const std::vector<TaskPageHandle>& pages) override {
    script_->calls.emplace_back("PropertySheet");
    script_->sheetCaption = caption;
    script_->sheetPages = pages;
    return script_->sheetResult;
  }

 private:
  std::shared_ptr<FakeSchedulerScript> script_;
};

class FakeWorkItem final : public SchedulerWorkItem {
 public:
  explicit FakeWorkItem(std::shared_ptr<FakeSchedulerScript> script) : script_(std::move(script)) {}

  HResult SetApplicationName(const std::string& path) override {
    return answered("SetApplicationName", [&] { applicationName_ = path; });
  }
  HResult GetApplicationName(std::string& path) override {
    return answered("GetApplicationName", [&] { path = applicationName_; });
  }
  HResult SetParameters(const std::string& parameters) override {
    return answered("SetParameters", [&] { parameters_ = parameters; });
  }
  HResult GetParameters(std::string& parameters) override {
    return answered("GetParameters", [&] { parameters = parameters_; });
  }
  HResult GetFlags(std::uint32_t& flags) override {
    return answered("GetFlags", [&] { flags = flags_; });
  }
  HResult SetFlags(std::uint32_t flags) override {
    return answered("SetFlags", [&] { flags_ = flags; });
  }
  HResult SetAccountInformation(const std::string& user, const std::string&) override {
    return answered("SetAccountInformation", [&] { account_ = user; });
  }
  HResult GetAccountInformation(std::string& user) override {
    return answered("GetAccountInformation", [&] { user = account_; });
  }
  HResult GetTriggerCount(std::uint16_t& count) override {
    return answered("GetTriggerCount",
                    [&] { count = static_cast<std::uint16_t>(script_->triggerTexts.size()); });
  }
  HResult GetTrigger(std::uint16_t index, std::unique_ptr<SchedulerTrigger>& trigger) override {
    script_->triggersAsked.push_back(index);
    return answered("GetTrigger", [&] { trigger = std::make_unique<FakeTrigger>(script_, index); });
  }
  HResult CreateTrigger(std::uint16_t& index, std::unique_ptr<SchedulerTrigger>& trigger) override {
    return answered("CreateTrigger", [&] {
      index = static_cast<std::uint16_t>(script_->triggerTexts.size());
      script_->triggerTexts.emplace_back();
      trigger = std::make_unique<FakeTrigger>(script_, index);
    });
  }
  HResult DeleteTrigger(std::uint16_t) override { return called("DeleteTrigger"); }
  HResult GetNextRunTime(SystemTime&) override { return called("GetNextRunTime"); }
  HResult GetMostRecentRunTime(SystemTime&) override { return called("GetMostRecentRunTime"); }
  HResult GetExitCode(std::uint32_t&) override { return called("GetExitCode"); }
  HResult GetStatus(HResult&) override { return called("GetStatus"); }
  HResult Save() override { return called("Save"); }
  HResult GetCurFile(std::string& path) override {
    return answered("GetCurFile", [&] { path = "fake.job"; });
  }
  HResult QueryTaskPages(const bv::tasks::PageOwner& owner, std::unique_ptr<bv::tasks::TaskPages>& pages) override {
    script_->pagesOwner = owner;
    return answered("QueryTaskPages", [&] { pages = std::make_unique<FakeTaskPages>(script_); });
  }

 private:
  HResult called(std::string_view method) {
    script_->calls.emplace_back(method);
    return script_->answer(method);
  }
  // The scripted answer; on a success the method also does its work.
  template <typename Work>
  HResult answered(std::string_view method, Work work) {
    const HResult answer = called(method);
    if (!isFailure(answer)) work();
    return answer;
  }

  std::shared_ptr<FakeSchedulerScript> script_;
  std::string applicationName_;
  std::string parameters_;
  std::uint32_t flags_ = 0;
  std::string account_;
};

}  // namespace

HResult FakeSchedulerScript::answer(std::string_view method) const {
  const auto scripted = answers.find(method);
  return scripted != answers.end() ? scripted->second : kOk;
}

int FakeSchedulerScript::count(std::string_view method) const {
  return static_cast<int>(std::count(calls.begin(), calls.end(), method));
}

TaskPageHandle FakeSchedulerScript::pageHandle(TaskPageType type) {
  return &pageMarkers.at(static_cast<std::size_t>(type));
}

HResult FakeScheduler::Activate(const std::string& name, std::unique_ptr<SchedulerWorkItem>& item) {
  script_->calls.emplace_back("Activate");
  script_->itemNames.push_back(name);
  const HResult answer = script_->answer("Activate");
  if (!isFailure(answer)) item = std::make_unique<FakeWorkItem>(script_);
  return answer;
}

HResult FakeScheduler::NewWorkItem(const std::string& name, std::unique_ptr<SchedulerWorkItem>& item) {
  script_->calls.emplace_back("NewWorkItem");
  script_->itemNames.push_back(name);
  const HResult answer = script_->answer("NewWorkItem");
  if (!isFailure(answer)) item = std::make_unique<FakeWorkItem>(script_);
  return answer;
}

HResult FakeScheduler::Enum(std::unique_ptr<bv::tasks::SchedulerEnumerator>&) {
  script_->calls.emplace_back("Enum");
  return script_->answer("Enum");
}

}  // namespace bvtest
