// An icon made of image files, one for each size, that reads its files only when it is first
// drawn. The program's icon is set at start-up for every window; with the offscreen platform
// (and on a desktop until a window asks for it) none of its images needs to be decoded then.
#pragma once

#include <QIcon>
#include <QList>
#include <QSize>
#include <QString>

namespace bv::widgets {

struct IconFile {
  QString path;  // a file or a resource (":/icons/...")
  QSize size;    // the size of the image in it
};

// The icon of `files` (the normal, "off" images), as QIcon::addFile makes it for each; no file
// is opened until a pixmap of the icon is asked for or it is painted.
QIcon iconFromFiles(const QList<IconFile>& files);

}  // namespace bv::widgets
