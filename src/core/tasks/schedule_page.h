// The schedule page, where the user sets a task's schedule. On Windows the system shows its own
// page (IProvideTaskPage); elsewhere the program installs a page of its own at start-up, and
// tests install a scripted one. The page works on a copy: the triggers change only on OK.
// Qt-free.
#pragma once

#include <string>
#include <vector>

#include "core/tasks/task_trigger.h"

namespace bv::tasks {

class SchedulePage {
 public:
  virtual ~SchedulePage() = default;
  // Shows the page modally over `ownerWindow` (an opaque window handle; may be null) with the
  // caption. Returns 1 when the user pressed OK, after `triggers` received the page's triggers;
  // any other value leaves them as they were.
  virtual int show(void* ownerWindow, const std::string& caption, std::vector<TaskTrigger>& triggers) = 0;
};

// The page in force; null when none is installed.
SchedulePage* installedSchedulePage();

// Installs a page for its lifetime; the previous one is back after.
class SchedulePageInstallation {
 public:
  explicit SchedulePageInstallation(SchedulePage& page);
  ~SchedulePageInstallation();
  SchedulePageInstallation(const SchedulePageInstallation&) = delete;
  SchedulePageInstallation& operator=(const SchedulePageInstallation&) = delete;

 private:
  SchedulePage* previous_;
};

}  // namespace bv::tasks
