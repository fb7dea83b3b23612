#include "app/settings/window/tools/category_sidebar.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QResizeEvent>

namespace qd {

CategorySidebar::CategorySidebar(QWidget* parent) : QListView(parent) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setResizeMode(QListView::Adjust);
  setUniformItemSizes(false);
  setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setFocusPolicy(Qt::StrongFocus);
  setAccessibleName(tr("Tool categories"));
}

void CategorySidebar::keyPressEvent(QKeyEvent* event) {
  const bool menuKey = event->key() == Qt::Key_Menu ||
                       (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier);
  if (!menuKey) {
    QListView::keyPressEvent(event);
    return;
  }
  // Accepted here, so the platform does not send a context-menu event of its own as well.
  event->accept();
  requestForCurrent();
}

void CategorySidebar::contextMenuEvent(QContextMenuEvent* event) {
  if (event->reason() == QContextMenuEvent::Keyboard) {
    requestForCurrent();
    return;
  }
  const QModelIndex index = indexAt(event->pos());
  if (!index.isValid()) return;
  setCurrentIndex(index);
  emit menuRequested(index, event->globalPos());
}

void CategorySidebar::resizeEvent(QResizeEvent* event) {
  QListView::resizeEvent(event);
  // The list lays its rows out again only when its height changes; the row heights depend
  // on the width, and rows laid out for a wider viewport overlap once it narrows.
  if (viewport()->width() == laidOutWidth_) return;
  laidOutWidth_ = viewport()->width();
  scheduleDelayedItemsLayout();
}

void CategorySidebar::requestForCurrent() {
  const QModelIndex index = currentIndex();
  if (!index.isValid()) return;
  const QRect rect = visualRect(index);
  emit menuRequested(index, viewport()->mapToGlobal(QPoint(rect.left() + 24, rect.center().y())));
}

}  // namespace qd
