#include "gui/forms/agent_service_check.h"

#include "core/agent/agent_service_check.h"
#include "core/agent/service_control.h"
#include "gui/widgets/prompts.h"
#include "gui/widgets/qt_text.h"

namespace bv::forms {
namespace {

class BoxPrompts final : public agent::AgentCheckPrompts {
 public:
  explicit BoxPrompts(QWidget* owner) : owner_(owner) {}
  bool askYesNo(const std::string& text) override {
    return widgets::prompts().confirmYesNo(owner_, widgets::toQString(text));
  }
  void showError(const std::string& text) override {
    widgets::prompts().error(owner_, widgets::toQString(text));
  }

 private:
  QWidget* owner_;
};

}  // namespace

bool checkAgentService(QWidget* owner, bool serverIsLocal) {
  BoxPrompts boxes(owner);
  return agent::checkAgentService(serverIsLocal, agent::serviceManager(), boxes);
}

}  // namespace bv::forms
