// The Agent service check that the scheduling button makes before it opens the job dialog, its
// questions and errors shown over a form through the program's prompts.
#pragma once

class QWidget;

namespace bv::forms {

// On the service manager in force (agent::serviceManager()). True when the job dialog is to
// open: always for a remote server; for a local one when the Agent runs and starts
// automatically, when the user declines to change it, or once it has been set to start
// automatically and been started.
bool checkAgentService(QWidget* owner, bool serverIsLocal);

}  // namespace bv::forms
