// What the program sets up at start-up, made cheaper without a visible change: the program's
// icon reads its files only when first drawn, and the interface font names only the family Qt
// would pick from the whole list.
#include <gtest/gtest.h>

#include <QFontInfo>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QTemporaryDir>

#include "gui/widgets/icon_files.h"
#include "gui/widgets/interface_font.h"

namespace {

using bv::widgets::IconFile;

TEST(IconFromFiles, OpensNoFileUntilDrawnAndThenLooksAsTheIconQtMakesOfTheSameFiles) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QList<QSize> sizes{{16, 16}, {32, 32}, {48, 48}, {256, 256}};
  QList<IconFile> files;
  for (const QSize& size : sizes)
    files.append({folder.filePath(QStringLiteral("%1.png").arg(size.width())), size});
  const QList<QSize> asked{{8, 8},     {16, 16},   {20, 20},   {40, 40},
                           {100, 100}, {256, 256}, {300, 300}, {24, 16}};

  // None of the files exists yet: all that can be answered comes from the list.
  QIcon icon = bv::widgets::iconFromFiles(files);
  EXPECT_FALSE(icon.isNull());
  EXPECT_EQ(icon.availableSizes(), sizes);
  QList<QSize> answeredBeforeReading;
  for (const QSize& size : asked) answeredBeforeReading.append(icon.actualSize(size));

  // Each size in a colour of its own, so that a pixmap shows which file it came from.
  for (int i = 0; i < files.size(); ++i) {
    QImage image(files[i].size, QImage::Format_ARGB32);
    image.fill(QColor::fromHsv(i * 80, 200, 200));
    ASSERT_TRUE(image.save(files[i].path));
  }
  QIcon reference;
  for (const IconFile& file : files) reference.addFile(file.path, file.size);

  for (int i = 0; i < asked.size(); ++i) {
    const QSize size = asked[i];
    SCOPED_TRACE(testing::Message() << size.width() << "x" << size.height());
    EXPECT_EQ(answeredBeforeReading[i], reference.actualSize(size));
    EXPECT_EQ(icon.actualSize(size), reference.actualSize(size));
    for (const QIcon::Mode mode : {QIcon::Normal, QIcon::Disabled}) {
      const QImage drawn = icon.pixmap(size, mode).toImage();
      EXPECT_FALSE(drawn.isNull());
      EXPECT_EQ(drawn, reference.pixmap(size, mode).toImage());
    }
  }
}

TEST(InterfaceFont, NamesOnlyTheFamilyTheWholeListDrawsWith) {
  QFont listed;
  listed.setFamilies(bv::widgets::interfaceFontFamilies());
  listed.setPixelSize(12);
  const QFont font = bv::widgets::interfaceFont();
  for (const bool bold : {false, true}) {
    QFont ours = font;
    QFont theirs = listed;
    ours.setBold(bold);
    theirs.setBold(bold);
    EXPECT_EQ(QFontInfo(ours).family(), QFontInfo(theirs).family()) << bold;
    EXPECT_EQ(QFontInfo(ours).pixelSize(), 12);
    EXPECT_EQ(QFontInfo(ours).bold(), bold);
  }
  // Here (fonts-ipafont-gothic, no Windows fonts) the first installed family is IPAPGothic.
  EXPECT_EQ(font.families(), QStringList{QStringLiteral("IPAPGothic")});
}

}  // namespace
