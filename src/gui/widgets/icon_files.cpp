#include "gui/widgets/icon_files.h"

#include <QIconEngine>
#include <QPainter>
#include <QPixmap>
#include <optional>
#include <utility>

namespace bv::widgets {

namespace {

// Answers the sizes without opening a file; the first pixmap makes the icon QIcon::addFile
// would have made and hands every request on to it, so it looks exactly the same.
class FilesIconEngine : public QIconEngine {
 public:
  explicit FilesIconEngine(QList<IconFile> files) : files_(std::move(files)) {}

  QIconEngine* clone() const override { return new FilesIconEngine(files_); }

  QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
    if (mode != QIcon::Normal || state != QIcon::Off) return {};
    QList<QSize> sizes;
    for (const IconFile& file : files_) sizes.append(file.size);
    return sizes;
  }

  // As QIcon::addFile's engine answers: the best file's size, made to fit what was asked. Of two
  // sizes the smaller is better when both are large enough, else the larger.
  QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    if (loaded_) return loaded_->actualSize(size, mode, state);
    const auto area = [](const QSize& s) { return qint64{s.width()} * s.height(); };
    const auto better = [&](const QSize& a, const QSize& b) {
      return area(a) >= area(size) && area(b) >= area(size) ? area(a) < area(b) : area(a) > area(b);
    };
    QSize actual;
    for (const IconFile& file : files_) {
      if (actual.isEmpty() || better(file.size, actual)) actual = file.size;
    }
    if (actual.width() > size.width() || actual.height() > size.height())
      actual.scale(size, Qt::KeepAspectRatio);
    return actual;
  }

  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    // The caller has already applied the device pixel ratio.
    return icon().pixmap(size, 1.0, mode, state);
  }

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
    const qreal ratio = painter->device() != nullptr ? painter->device()->devicePixelRatio() : 1.0;
    painter->drawPixmap(rect, pixmap(rect.size() * ratio, mode, state));
  }

 private:
  const QIcon& icon() {
    if (!loaded_) {
      loaded_.emplace();
      for (const IconFile& file : files_) loaded_->addFile(file.path, file.size);
    }
    return *loaded_;
  }

  QList<IconFile> files_;
  std::optional<QIcon> loaded_;
};

}  // namespace

QIcon iconFromFiles(const QList<IconFile>& files) { return QIcon(new FilesIconEngine(files)); }

}  // namespace bv::widgets
