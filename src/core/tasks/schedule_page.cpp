#include "core/tasks/schedule_page.h"

namespace bv::tasks {
namespace {

SchedulePage* current = nullptr;

}  // namespace

SchedulePage* installedSchedulePage() { return current; }

SchedulePageInstallation::SchedulePageInstallation(SchedulePage& page) : previous_(current) {
  current = &page;
}

SchedulePageInstallation::~SchedulePageInstallation() { current = previous_; }

}  // namespace bv::tasks
