// The one seam through which the program talks to the user outside its own windows: message
// boxes, the file dialog and the desktop's URL handler. The application installs the Qt
// implementation; tests install a recorder that reads each box and answers it.
#pragma once

#include <QString>
#include <QUrl>
#include <optional>

class QWidget;

namespace bv::widgets {

class Prompts {
 public:
  virtual ~Prompts() = default;
  // Error icon, OK.
  virtual void error(QWidget* owner, const QString& text) = 0;
  // Information icon, OK.
  virtual void information(QWidget* owner, const QString& text) = 0;
  // Warning icon, OK.
  virtual void warning(QWidget* owner, const QString& text) = 0;
  // OK and Cancel; true for OK. Closing the box counts as Cancel.
  virtual bool confirmOkCancel(QWidget* owner, const QString& text) = 0;
  // Yes and No; true for Yes. Closing the box counts as No.
  virtual bool confirmYesNo(QWidget* owner, const QString& text) = 0;
  // The file-open dialog with default settings; the chosen full path, or nothing on cancel.
  virtual std::optional<QString> openFileName(QWidget* owner) = 0;
  // Opens a document with the desktop's handler; the outcome is not looked at.
  virtual void openUrl(const QUrl& url) = 0;
};

// The prompts in force: the Qt ones unless a PromptsOverride is alive.
Prompts& prompts();

// Installs other prompts for its lifetime (tests); restores the previous ones after.
class PromptsOverride {
 public:
  explicit PromptsOverride(Prompts& replacement);
  ~PromptsOverride();
  PromptsOverride(const PromptsOverride&) = delete;
  PromptsOverride& operator=(const PromptsOverride&) = delete;

 private:
  Prompts* previous_;
};

// The title of every box the program shows.
QString boxTitle();

}  // namespace bv::widgets
