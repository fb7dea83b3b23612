#pragma once

// The Tools tab's category list. Besides the list's own keys it asks for a row's context
// menu by mouse, by the Menu key and by Shift+F10 (the keyboard ones for the current row).

#include <QListView>

namespace qd {

class CategorySidebar : public QListView {
  Q_OBJECT

 public:
  explicit CategorySidebar(QWidget* parent = nullptr);

 signals:
  // At a global position; the index is the row the menu is for.
  void menuRequested(const QModelIndex& index, const QPoint& globalPosition);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void requestForCurrent();
};

}  // namespace qd
