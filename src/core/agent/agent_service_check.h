// The check that the scheduling button makes before it opens the Agent job dialog: for a
// server on this computer, the SQL Server Agent service must run and start automatically; when
// it does not, the user is offered to set it so. Qt-free: the questions go through the small
// interface below, which the dialog's side answers with message boxes.
#pragma once

#include <string>
#include <string_view>

#include "core/agent/service_control.h"

namespace bv::agent {

inline constexpr std::string_view kAskAgentAutoStart =
    "スケジュール機能を利用するにはSQLServerAgentサービスが動作している必要があります。\r\n"
    "今ここで自動起動に設定しますか？";
inline constexpr std::string_view kAgentAutoStartFailed = "Agentサービスの自動開始設定に失敗しました。";
inline constexpr std::string_view kAgentStartFailed = "Agentサービスの開始に失敗しました。";

class AgentCheckPrompts {
 public:
  virtual ~AgentCheckPrompts() = default;
  // Question icon, Yes and No; true for Yes.
  virtual bool askYesNo(const std::string& text) = 0;
  // Error icon, OK.
  virtual void showError(const std::string& text) = 0;
};

// Runs the check; true when the job dialog is to open.
//   remote server: true, and no service is looked at;
//   running and automatic: true without a word (the start type is asked only when it runs);
//   otherwise the question; any answer but Yes: true, the service untouched;
//   Yes: automatic start (false with kAgentAutoStartFailed when refused), then a start unless
//   it already runs (false with kAgentStartFailed when refused); nothing is undone.
bool checkAgentService(bool serverIsLocal, ServiceManager& manager, AgentCheckPrompts& prompts);

}  // namespace bv::agent
