// A fake scheduler back end for the wrapper's paths that no real scheduler here can take: Wine
// has no trigger texts and no task pages and never refuses an account, and the program's own
// store never answers some codes. The test scripts every answer and reads back what the wrapper
// asked. Every work item of one FakeScheduler shares its script.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/tasks/scheduler_backend.h"

namespace bvtest {

struct FakeSchedulerScript {
  // The answer of each back-end method, by its name ("Save", "GetPage", "GetTriggerString",
  // "QueryTaskPages", ...); kOk for a method without one.
  std::map<std::string, bv::tasks::HResult, std::less<>> answers;
  // GetPage's answer for one page type, ahead of answers["GetPage"].
  std::map<bv::tasks::TaskPageType, bv::tasks::HResult> pageAnswers;
  // What PropertySheet returns.
  int sheetResult = 1;
  // The work item's triggers and their texts (GetTriggerCount, GetTriggerString).
  std::vector<std::string> triggerTexts;

  // What the wrapper did, in order: each method's name as it was called.
  std::vector<std::string> calls;
  std::vector<std::string> itemNames;                                // the names of Activate and NewWorkItem
  std::vector<std::pair<bv::tasks::TaskPageType, bool>> pagesAsked;  // GetPage's arguments
  std::vector<std::uint16_t> triggersAsked;                          // GetTrigger's index
  bv::tasks::PageOwner pagesOwner;  // QueryTaskPages' owner
  std::string sheetCaption;
  std::vector<bv::tasks::TaskPageHandle> sheetPages;

  bv::tasks::HResult answer(std::string_view method) const;
  int count(std::string_view method) const;
  // The handle GetPage gives for a page type: a distinct address for each.
  static bv::tasks::TaskPageHandle pageHandle(bv::tasks::TaskPageType type);
};

class FakeScheduler final : public bv::tasks::SchedulerService {
 public:
  FakeScheduler() : script_(std::make_shared<FakeSchedulerScript>()) {}

  FakeSchedulerScript& script() { return *script_; }

  bv::tasks::HResult Activate(const std::string& name,
                              std::unique_ptr<bv::tasks::SchedulerWorkItem>& item) override;
  bv::tasks::HResult NewWorkItem(const std::string& name,
                                 std::unique_ptr<bv::tasks::SchedulerWorkItem>& item) override;
  bv::tasks::HResult Enum(std::unique_ptr<bv::tasks::SchedulerEnumerator>& enumerator) override;

 private:
  std::shared_ptr<FakeSchedulerScript> script_;
};

}  // namespace bvtest
