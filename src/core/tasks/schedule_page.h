// The schedule page, where the user sets a task's schedule, and what a form hands the scheduler
// for the pages it shows. On Windows the system shows its own pages (IProvideTaskPage) over the
// form's window; elsewhere the program shows a page of its own, which the form hands down with
// its window (tests hand in a scripted one). The page works on a copy: the triggers change only
// on OK. Qt-free.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/tasks/task_trigger.h"

namespace bv::tasks {

// A window of the system's, as a property sheet takes its owner: an HWND on Windows, the window
// system's id elsewhere (both are what Qt calls a WId). None: no owner.
enum class NativeWindow : std::uintptr_t { None = 0 };

class SchedulePage {
 public:
  virtual ~SchedulePage() = default;
  // Shows the page modally over the owner window with the caption. Returns 1 when the user
  // pressed OK, after `triggers` received the page's triggers; any other value leaves them as
  // they were.
  virtual int show(NativeWindow owner, const std::string& caption, std::vector<TaskTrigger>& triggers) = 0;
};

// Whom a task's pages are shown for, as the form that asks hands it down to the scheduler's back
// end: the form's window, and the schedule page to show where the system has none of its own.
// Without a page there the work item has no pages to show, as the system answers for one without
// IProvideTaskPage (E_NOINTERFACE); the system's own pages (Windows) need none.
struct PageOwner {
  SchedulePage* page = nullptr;
  NativeWindow window = NativeWindow::None;
};

}  // namespace bv::tasks
