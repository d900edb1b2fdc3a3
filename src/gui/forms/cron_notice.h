// Where no cron daemon runs, tasks are stored but never started: the window says so after a
// registration and in the task list. Windows' own scheduler needs no such word.
#pragma once

#include <string_view>

#ifndef _WIN32
#include "core/tasks/crontab_posix.h"
#endif

namespace bv::forms {

inline constexpr std::string_view cronNoticeText() {
  return "cronが動作していないため、登録したタスクは実行されません。";
}

inline bool cronNoticeDue() {
#ifdef _WIN32
  return false;
#else
  return !tasks::cronDaemonRunning();
#endif
}

}  // namespace bv::forms
