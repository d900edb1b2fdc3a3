// Test prompts: records every box the program shows and answers it from a script.
#pragma once

#include <QApplication>
#include <QString>
#include <QUrl>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "gui/widgets/prompts.h"

namespace bvtest {

struct RecordedPrompt {
  enum class Kind { Error, Information, Warning, ConfirmOkCancel, ConfirmYesNo, OpenFile, OpenUrl };
  Kind kind;
  QString text;
  bool hourglass = false;  // whether the wait cursor was showing when the box came up
};

class PromptRecorder final : public bv::widgets::Prompts {
 public:
  PromptRecorder() : override_(*this) {}

  std::vector<RecordedPrompt> boxes;
  std::deque<bool> confirmAnswers;  // answered in order; true (OK / Yes) when the script is empty
  std::deque<std::optional<QString>> fileAnswers;    // nothing (cancel) when the script is empty
  std::function<void(const RecordedPrompt&)> onBox;  // runs while the box is "showing"

  void error(QWidget*, const QString& text) override { record(RecordedPrompt::Kind::Error, text); }
  void information(QWidget*, const QString& text) override {
    record(RecordedPrompt::Kind::Information, text);
  }
  void warning(QWidget*, const QString& text) override { record(RecordedPrompt::Kind::Warning, text); }
  bool confirmOkCancel(QWidget*, const QString& text) override {
    record(RecordedPrompt::Kind::ConfirmOkCancel, text);
    return answer();
  }
  bool confirmYesNo(QWidget*, const QString& text) override {
    record(RecordedPrompt::Kind::ConfirmYesNo, text);
    return answer();
  }
  std::optional<QString> openFileName(QWidget*) override {
    record(RecordedPrompt::Kind::OpenFile, {});
    std::optional<QString> next;
    if (!fileAnswers.empty()) {
      next.swap(fileAnswers.front());
      fileAnswers.pop_front();
    }
    return next;
  }
  void openUrl(const QUrl& url) override { record(RecordedPrompt::Kind::OpenUrl, url.toString()); }

  std::vector<QString> texts(RecordedPrompt::Kind kind) const {
    std::vector<QString> out;
    for (const auto& box : boxes) {
      if (box.kind == kind) out.push_back(box.text);
    }
    return out;
  }
  std::vector<QString> errors() const { return texts(RecordedPrompt::Kind::Error); }

 private:
  void record(RecordedPrompt::Kind kind, const QString& text) {
    boxes.push_back({kind, text,
                     QApplication::overrideCursor() != nullptr &&
                         QApplication::overrideCursor()->shape() == Qt::WaitCursor});
    if (onBox) onBox(boxes.back());
  }
  bool answer() {
    if (confirmAnswers.empty()) return true;
    const bool next = confirmAnswers.front();
    confirmAnswers.pop_front();
    return next;
  }

  bv::widgets::PromptsOverride override_;
};

}  // namespace bvtest
