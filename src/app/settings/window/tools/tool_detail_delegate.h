#pragma once

// Draws the rows of the Tools tab's detail: section headers, tool rows (disclosure,
// switch, name with its operation-count and read/write badges, description or the reason
// the tool is unavailable, schema button) and operation rows (check box and name, on the
// operations panel's ground). The view asks geometry() where the clickable parts are.

#include <QStyledItemDelegate>

namespace qd {

class ToolDetailDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                 const QModelIndex& index) override;

  struct Geometry {
    QRect disclosure;   // tool rows with operations
    QRect toggle;       // a tool's switch or an operation's check box
    QRect name;
    QRect badges;       // starts right of the name's text
    QRect secondLine;   // description or reason
    QRect schema;       // tool rows
  };
  // For the row occupying rect (the view's visual rectangle of the index).
  Geometry geometry(const QRect& rect, const QModelIndex& index, const QWidget* widget) const;
  // Rows are laid out for this width (the view's viewport).
  void setRowWidth(int width) { rowWidth_ = width; }
  int rowWidth() const { return rowWidth_; }

 private:
  int rowWidth_ = 400;
};

}  // namespace qd
