// A task store of its own for a test: a scratch folder, a PAM configuration folder with the
// program's service in the shape the test asks for (no real password anywhere), a clock the test
// sets, and the scheduler objects of the wrapper pointed at them while the fixture lives.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/tasks/TaskScdl.h"
#include "core/tasks/schedule_page.h"
#include "core/tasks/scheduler_posix.h"
#include "standin_fixture.h"

namespace bvtest {

// The PAM service file the store's account proof reads.
enum class PamPolicy {
  Permit,          // any password, any account
  DenyPassword,    // every password refused
  DenyAccount,     // the password accepted, the account refused
  MatrixPassword,  // only the password set with setPassword() accepted (pam_matrix)
  NoService,       // no service file at all
  PermitCounting,  // as Permit, each authentication appending a line to proofsFile()
};

class TaskStoreFixture {
 public:
  explicit TaskStoreFixture(PamPolicy policy = PamPolicy::Permit);
  ~TaskStoreFixture();
  TaskStoreFixture(const TaskStoreFixture&) = delete;
  TaskStoreFixture& operator=(const TaskStoreFixture&) = delete;

  const std::filesystem::path& storeFolder() const { return store_; }
  const std::filesystem::path& pamFolder() const { return pam_; }
  std::filesystem::path proofsFile() const { return pam_ / "proofs"; }
  void setPolicy(PamPolicy policy);
  // The one password pam_matrix accepts for `user` (MatrixPassword).
  void setPassword(const std::string& user, const std::string& password);

  // The local time the store sees; the system's clock until a test sets one.
  void setNow(bv::tasks::LocalMinute now) { now_ = std::make_shared<bv::tasks::LocalMinute>(now); }

  // What runs before each task is written (the program installs the executor's entry there).
  void setBeforeCommit(std::function<bv::tasks::HResult(const bv::tasks::JobFile&)> hook) {
    beforeCommit_ = std::move(hook);
  }

  // The options of this store's scheduler, for code that makes its own (the executor).
  bv::tasks::PosixSchedulerOptions options() const;

  // The name of the user the tests run as.
  static std::string currentUser();

 private:
  TempDir root_{"bv-tasks"};
  std::filesystem::path store_;
  std::filesystem::path pam_;
  std::shared_ptr<bv::tasks::LocalMinute> now_;
  std::function<bv::tasks::HResult(const bv::tasks::JobFile&)> beforeCommit_;
  std::unique_ptr<bv::tasks::SchedulerFactoryOverride> override_;
};

// A schedule page whose answer the test scripts: it records the triggers it was shown, the
// caption and the owner window, and on OK hands back the triggers the script makes. A test hands
// it in where a form would hand in the program's page.
class ScriptedSchedulePage final : public bv::tasks::SchedulePage {
 public:
  int show(bv::tasks::NativeWindow owner, const std::string& caption,
           std::vector<bv::tasks::TaskTrigger>& triggers) override;
  // This page over the window.
  bv::tasks::PageOwner owner(bv::tasks::NativeWindow window = bv::tasks::NativeWindow::None) {
    return {this, window};
  }

  int answer = 1;  // 1 = OK
  std::function<void(std::vector<bv::tasks::TaskTrigger>&)> edit;
  int shown = 0;
  std::string lastCaption;
  bv::tasks::NativeWindow lastOwner = bv::tasks::NativeWindow::None;
  std::vector<bv::tasks::TaskTrigger> lastShown;
};

// A daily trigger at hh:mm from the day given, enabled.
bv::tasks::TaskTrigger dailyTrigger(int year, int month, int day, int hour, int minute, int everyDays = 1);

}  // namespace bvtest
