#include "gui/widgets/prompts.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <utility>

namespace bv::widgets {
namespace {

QMessageBox::StandardButton showBox(QWidget* owner, QMessageBox::Icon icon, const QString& text,
                                    QMessageBox::StandardButtons buttons,
                                    QMessageBox::StandardButton escape) {
  QMessageBox box(icon, boxTitle(), text, buttons, owner);
  box.setEscapeButton(escape);
  // The captions the system's own boxes carry, whatever language Qt speaks.
  const std::pair<QMessageBox::StandardButton, QString> captions[] = {
      {QMessageBox::Ok, QStringLiteral("OK")},
      {QMessageBox::Cancel, QStringLiteral("キャンセル")},
      {QMessageBox::Yes, QStringLiteral("はい")},
      {QMessageBox::No, QStringLiteral("いいえ")},
  };
  for (const auto& [button, caption] : captions) {
    if (QAbstractButton* shown = box.button(button)) shown->setText(caption);
  }
  const int answer = box.exec();
  return static_cast<QMessageBox::StandardButton>(answer);
}

class QtPrompts final : public Prompts {
 public:
  void error(QWidget* owner, const QString& text) override {
    showBox(owner, QMessageBox::Critical, text, QMessageBox::Ok, QMessageBox::Ok);
  }
  void information(QWidget* owner, const QString& text) override {
    showBox(owner, QMessageBox::Information, text, QMessageBox::Ok, QMessageBox::Ok);
  }
  void warning(QWidget* owner, const QString& text) override {
    showBox(owner, QMessageBox::Warning, text, QMessageBox::Ok, QMessageBox::Ok);
  }
  bool confirmOkCancel(QWidget* owner, const QString& text) override {
    return showBox(owner, QMessageBox::Question, text, QMessageBox::Ok | QMessageBox::Cancel,
                   QMessageBox::Cancel) == QMessageBox::Ok;
  }
  bool confirmYesNo(QWidget* owner, const QString& text) override {
    return showBox(owner, QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
           QMessageBox::Yes;
  }
  std::optional<QString> openFileName(QWidget* owner) override {
    const QString path = QFileDialog::getOpenFileName(owner);
    if (path.isEmpty()) return std::nullopt;
    return path;
  }
  void openUrl(const QUrl& url) override { QDesktopServices::openUrl(url); }
};

QtPrompts& qtPrompts() {
  static QtPrompts instance;
  return instance;
}

Prompts* current = nullptr;

}  // namespace

Prompts& prompts() { return current != nullptr ? *current : qtPrompts(); }

PromptsOverride::PromptsOverride(Prompts& replacement) : previous_(current) { current = &replacement; }

PromptsOverride::~PromptsOverride() { current = previous_; }

QString boxTitle() {
  const QString name = QApplication::applicationDisplayName();
  return name.isEmpty() ? QStringLiteral("Brackenvale") : name;
}

}  // namespace bv::widgets
