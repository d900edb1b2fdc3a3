#include "gui/widgets/form_layout.h"

#include <QHeaderView>
#include <QStyle>
#include <QTreeWidget>

namespace bv::widgets {

void makeReportList(QTreeWidget* list, std::span<const ListColumn> columns, int minimumHeight) {
  list->setColumnCount(static_cast<int>(columns.size()));
  QStringList captions;
  for (const auto& column : columns) captions << QString::fromUtf8(column.caption);
  list->setHeaderLabels(captions);
  list->setRootIsDecorated(false);
  list->setItemsExpandable(false);
  list->setUniformRowHeights(true);
  list->setAllColumnsShowFocus(true);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setSortingEnabled(false);
  QHeaderView* header = list->header();
  header->setStretchLastSection(false);
  header->setSectionsMovable(false);
  header->setMinimumSectionSize(20);
  int width = 0;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    header->resizeSection(static_cast<int>(i), columns[i].width);
    width += columns[i].width;
  }
  list->setMinimumSize(
      width + 2 * list->frameWidth() + list->style()->pixelMetric(QStyle::PM_ScrollBarExtent), minimumHeight);
}

}  // namespace bv::widgets
