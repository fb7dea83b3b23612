#pragma once

// Draws a sidebar row of the Tools tab: the category checkbox, the name over its
// capability badges, the orange warning when none of its tools can be used, and the
// description. A click on the checkbox, or Space on the row, flips it through the model.

#include <QStyledItemDelegate>

namespace qd {

class CategoryDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;
  bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                 const QModelIndex& index) override;

  // Where the row's parts go inside its rectangle.
  struct Geometry {
    QRect checkBox;
    QRect name;
    QRect badges;  // empty when no count is above zero
    QRect warning;
    QRect description;  // empty without a description
  };
  Geometry geometry(const QStyleOptionViewItem& option, const QModelIndex& index) const;
};

}  // namespace qd
