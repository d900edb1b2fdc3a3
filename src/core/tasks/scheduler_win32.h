// The scheduler on Windows: mstask's Task Scheduler 1.0 objects behind the back-end interfaces.
// Declares the identifiers the back end calls with (the SDK defines the same values under the
// CLSID_/IID_ names; these names can stand beside them) and the property sheet that shows a
// work item's pages. Windows only.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "core/tasks/scheduler_backend.h"

namespace bv::tasks {

extern const GUID kClsidCTaskScheduler;  // {148BD52A-A2AB-11CE-B11F-00AA00530503}
extern const GUID kIidITaskScheduler;    // {148BD527-A2AB-11CE-B11F-00AA00530503}
extern const GUID kClsidCTask;           // {148BD520-A2AB-11CE-B11F-00AA00530503}
extern const GUID kIidITask;             // {148BD524-A2AB-11CE-B11F-00AA00530503}
extern const GUID kIidIPersistFile;      // {0000010B-0000-0000-C000-000000000046}
extern const GUID kIidIProvideTaskPage;  // {4086658A-CBBB-11CF-B604-00C04FD8D565}

// Shows the pages (HPROPSHEETPAGEs, in order) modally in one property sheet over the owner
// window (may be null), with the caption as its title and no Apply button. The sheet
// takes the pages over and destroys them. Returns PropertySheetW's answer: 1 or more when the
// user closed it with OK (Windows documents 0 when no page had changes to save; Wine answers 1),
// 0 after Cancel, -1 when the sheet could not be shown or there is no page to show.
int showTaskPropertySheet(HWND ownerWindow, const std::string& caption,
                          const std::vector<TaskPageHandle>& pages);

}  // namespace bv::tasks
