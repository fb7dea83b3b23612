#pragma once

// The Tools tab's category list. Besides the list's own keys it asks for a row's context
// menu by mouse, by the Menu key and by Shift+F10 (the keyboard ones for the current row).
// Rows are laid out again whenever the viewport's width changes (the window is resized, the
// scroll bar comes or goes): a description wraps to that width, so row heights follow it.

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
  void resizeEvent(QResizeEvent* event) override;

 private:
  void requestForCurrent();

  int laidOutWidth_ = -1;
};

}  // namespace qd
