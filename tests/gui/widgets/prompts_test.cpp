// The program's real boxes on the offscreen platform (not the recorder): the captions of their
// buttons, as the system's boxes show them, and the answer each button gives; and Qt's own texts
// in Japanese once the translation is installed.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <memory>

#include "gui/widgets/prompts.h"
#include "gui/widgets/translation.h"

namespace {

using bv::widgets::prompts;

// While the next box shows: its buttons' captions, then a click on the one with that caption.
class BoxAnswer {
 public:
  explicit BoxAnswer(QString click) : click_(std::move(click)) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      timer_.stop();
      for (QAbstractButton* button : box->buttons()) captions << button->text();
      captions.sort();
      icon = box->icon();
      for (QAbstractButton* button : box->buttons()) {
        if (button->text() == click_) {
          button->click();
          return;
        }
      }
      box->done(-1);  // the caption was not there: close without an answer
    });
    timer_.start();
  }
  QStringList captions;
  QMessageBox::Icon icon = QMessageBox::NoIcon;

 private:
  QString click_;
  QTimer timer_;
};

TEST(QtPrompts, AConfirmationOffersOkAndCancelInTheSystemsWords) {
  {
    BoxAnswer answer(QStringLiteral("キャンセル"));
    EXPECT_FALSE(
        prompts().confirmOkCancel(nullptr, QStringLiteral("バックアップを開始します。よろしいですか？")));
    EXPECT_EQ(answer.captions, (QStringList{QStringLiteral("OK"), QStringLiteral("キャンセル")}));
    EXPECT_EQ(answer.icon, QMessageBox::Question);
  }
  BoxAnswer ok(QStringLiteral("OK"));
  EXPECT_TRUE(prompts().confirmOkCancel(nullptr, QStringLiteral("よろしいですか？")));
}

TEST(QtPrompts, AQuestionOffersYesAndNoInTheSystemsWords) {
  {
    BoxAnswer answer(QStringLiteral("いいえ"));
    EXPECT_FALSE(prompts().confirmYesNo(nullptr, QStringLiteral("今ここで自動起動に設定しますか？")));
    EXPECT_EQ(answer.captions, (QStringList{QStringLiteral("いいえ"), QStringLiteral("はい")}));
  }
  BoxAnswer yes(QStringLiteral("はい"));
  EXPECT_TRUE(prompts().confirmYesNo(nullptr, QStringLiteral("今ここで自動起動に設定しますか？")));
}

TEST(QtPrompts, ErrorInformationAndWarningHaveOnlyOk) {
  const std::pair<std::function<void()>, QMessageBox::Icon> boxes[] = {
      {[] { prompts().error(nullptr, QStringLiteral("e")); }, QMessageBox::Critical},
      {[] { prompts().information(nullptr, QStringLiteral("i")); }, QMessageBox::Information},
      {[] { prompts().warning(nullptr, QStringLiteral("w")); }, QMessageBox::Warning},
  };
  for (const auto& [show, icon] : boxes) {
    BoxAnswer answer(QStringLiteral("OK"));
    show();
    EXPECT_EQ(answer.captions, QStringList{QStringLiteral("OK")});
    EXPECT_EQ(answer.icon, icon);
  }
}

TEST(Translation, AMissingTranslationIsNoFailure) {
  QTemporaryDir empty;
  EXPECT_FALSE(bv::widgets::installJapaneseTranslation(*QApplication::instance(), empty.path()));
  QLineEdit edit;
  const std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
  EXPECT_FALSE(menu->actions().isEmpty());
}

TEST(Translation, QtsOwnTextsTurnJapanese) {
  ASSERT_TRUE(bv::widgets::installJapaneseTranslation(*QApplication::instance()));
  QLineEdit edit;
  const std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
  QStringList texts;
  for (QAction* action : menu->actions()) texts << action->text();
  EXPECT_TRUE(texts.join(QLatin1Char('|')).contains(QStringLiteral("元に戻す")))
      << texts.join(QLatin1Char('|')).toStdString();
}

}  // namespace
