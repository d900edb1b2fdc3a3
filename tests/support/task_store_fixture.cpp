#include "task_store_fixture.h"

#include <pwd.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>

namespace bvtest {
namespace fs = std::filesystem;

namespace {

void writeService(const fs::path& folder, const std::string& text) {
  std::ofstream(folder / "brackenvale") << text;
}

}  // namespace

TaskStoreFixture::TaskStoreFixture(PamPolicy policy)
    : store_(root_.path() / "store"), pam_(root_.path() / "pam") {
  fs::create_directories(pam_);
  setPolicy(policy);
  override_ = std::make_unique<bv::tasks::SchedulerFactoryOverride>(
      [this] { return bv::tasks::createPosixScheduler(options()); });
}

TaskStoreFixture::~TaskStoreFixture() = default;

bv::tasks::PosixSchedulerOptions TaskStoreFixture::options() const {
  bv::tasks::PosixSchedulerOptions options;
  options.storeFolder = store_;
  options.accountProof.pamConfigFolder = pam_;
  if (now_) {
    const auto now = now_;
    options.clock = [now] { return *now; };
  }
  if (beforeCommit_) {
    options.beforeCommit = [hook = beforeCommit_](const fs::path&, const bv::tasks::JobFile& job) { return hook(job); };
  }
  return options;
}

void TaskStoreFixture::setPolicy(PamPolicy policy) {
  fs::remove(pam_ / "brackenvale");
  switch (policy) {
    case PamPolicy::Permit:
      writeService(pam_, "auth required pam_permit.so\naccount required pam_permit.so\n");
      break;
    case PamPolicy::DenyPassword:
      writeService(pam_, "auth required pam_deny.so\naccount required pam_permit.so\n");
      break;
    case PamPolicy::DenyAccount:
      writeService(pam_, "auth required pam_permit.so\naccount required pam_deny.so\n");
      break;
    case PamPolicy::MatrixPassword:
      writeService(pam_, "auth required " BV_PAM_MATRIX " passdb=" + (pam_ / "passdb").string() +
                             "\naccount required " BV_PAM_MATRIX " passdb=" + (pam_ / "passdb").string() +
                             "\n");
      break;
    case PamPolicy::NoService:
      break;
    case PamPolicy::PermitCounting:
      writeService(pam_, "auth required pam_exec.so log=" + proofsFile().string() +
                             " /bin/echo proof\nauth required pam_permit.so\naccount required pam_permit.so\n");
      break;
  }
}

void TaskStoreFixture::setPassword(const std::string& user, const std::string& password) {
  std::ofstream(pam_ / "passdb") << user << ':' << password << ":brackenvale\n";
}

std::string TaskStoreFixture::currentUser() {
  const passwd* entry = ::getpwuid(::geteuid());
  if (entry == nullptr) throw std::runtime_error("the test's user has no name");
  return entry->pw_name;
}

int ScriptedSchedulePage::show(bv::tasks::NativeWindow owner, const std::string& caption,
                               std::vector<bv::tasks::TaskTrigger>& triggers) {
  ++shown;
  lastOwner = owner;
  lastCaption = caption;
  lastShown = triggers;
  if (answer == 1 && edit) edit(triggers);
  return answer;
}

bv::tasks::TaskTrigger dailyTrigger(int year, int month, int day, int hour, int minute, int everyDays) {
  bv::tasks::TaskTrigger trigger;
  trigger.type = bv::tasks::TriggerType::Daily;
  trigger.beginYear = static_cast<std::uint16_t>(year);
  trigger.beginMonth = static_cast<std::uint16_t>(month);
  trigger.beginDay = static_cast<std::uint16_t>(day);
  trigger.startHour = static_cast<std::uint16_t>(hour);
  trigger.startMinute = static_cast<std::uint16_t>(minute);
  trigger.daysInterval = static_cast<std::uint16_t>(everyDays);
  return trigger;
}

}  // namespace bvtest
