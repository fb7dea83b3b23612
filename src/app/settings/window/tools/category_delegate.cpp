#include "app/settings/window/tools/category_delegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "app/settings/window/tools/category_list_model.h"
#include "app/settings/window/tools/item_painting.h"

namespace qd {

namespace {

using ItemPainting::Symbol;

constexpr int horizontalPadding = 6;
constexpr int verticalPadding = 4;
constexpr int descriptionLines = 2;
constexpr int warningSide = 14;

struct Fonts {
  QFont name;
  QFont badge;
  QFont description;
};

const Fonts& fontsFor(const QFont& base) {
  return ItemPainting::perBaseFont(base, [](const QFont& font) {
    return Fonts{font, ItemPainting::sized(font, 10), ItemPainting::sized(font, 10)};
  });
}

struct BadgeSpec {
  Symbol symbol;
  int role;
};
constexpr BadgeSpec badgeSpecs[] = {{Symbol::readOnly, CategoryListModel::ReadOnlyCountRole},
                                    {Symbol::writeOnly, CategoryListModel::WriteOnlyCountRole},
                                    {Symbol::readWrite, CategoryListModel::ReadWriteCountRole}};

bool hasBadges(const QModelIndex& index) {
  for (const BadgeSpec& spec : badgeSpecs) {
    if (index.data(spec.role).toInt() > 0) return true;
  }
  return false;
}

// The width a row is measured and painted at: the view's viewport, one width for the size
// hint and the painting, so both wrap the description into the same lines.
int rowWidth(const QStyleOptionViewItem& option) {
  if (const auto* view = qobject_cast<const QAbstractItemView*>(option.widget)) return view->viewport()->width();
  return option.rect.width() > 0 ? option.rect.width() : 250;
}

}  // namespace

CategoryDelegate::Geometry CategoryDelegate::geometry(const QStyleOptionViewItem& option,
                                                      const QModelIndex& index) const {
  const Fonts& fonts = fontsFor(option.font);
  const int width = rowWidth(option);
  const QRect rect(option.rect.topLeft(), QSize(width, option.rect.height()));
  const int side = ItemPainting::checkBoxSide(option.widget);
  const int nameHeight = QFontMetrics(fonts.name).height();
  const int badgeHeight = hasBadges(index) ? QFontMetrics(fonts.badge).height() : 0;
  const int blockHeight = nameHeight + (badgeHeight > 0 ? 2 + badgeHeight : 0);
  const int top = rect.top() + verticalPadding;

  Geometry g;
  g.checkBox = QRect(rect.left() + horizontalPadding, top + (blockHeight - side) / 2, side, side);
  const int textLeft = g.checkBox.right() + 1 + 8;
  const bool available = index.data(CategoryListModel::AvailableRole).toBool();
  const int textRight = rect.right() - horizontalPadding - (available ? 0 : warningSide + 8);
  g.name = QRect(textLeft, top, std::max(0, textRight - textLeft), nameHeight);
  if (badgeHeight > 0) g.badges = QRect(textLeft, top + nameHeight + 2, g.name.width(), badgeHeight);
  if (!available) {
    g.warning = QRect(rect.right() - horizontalPadding - warningSide, top + (blockHeight - warningSide) / 2,
                      warningSide, warningSide);
  }
  const QString description = index.data(CategoryListModel::DescriptionRole).toString();
  if (!description.isEmpty()) {
    // Indented past the checkbox, under the name.
    const int left = rect.left() + horizontalPadding + 26;
    const int descriptionWidth = std::max(0, rect.right() - horizontalPadding - left);
    const int lines = ItemPainting::wrappedLineCount(description, fonts.description, descriptionWidth, descriptionLines);
    g.description = QRect(left, top + blockHeight + 4, descriptionWidth,
                          lines * QFontMetrics(fonts.description).lineSpacing());
  }
  return g;
}

QSize CategoryDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QStyleOptionViewItem opt = option;
  opt.rect = QRect(0, 0, rowWidth(option), 0);
  const Geometry g = geometry(opt, index);
  const int bottom = std::max({g.checkBox.bottom(), g.badges.isNull() ? g.name.bottom() : g.badges.bottom(),
                               g.description.isNull() ? 0 : g.description.bottom()});
  return {opt.rect.width(), bottom + 1 + verticalPadding};
}

void CategoryDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QStyleOptionViewItem background = option;
  initStyleOption(&background, index);
  background.text.clear();
  background.features &= ~QStyleOptionViewItem::HasCheckIndicator;
  const QWidget* widget = option.widget;
  QStyle* style = widget ? widget->style() : QApplication::style();
  style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);

  const Fonts& fonts = fontsFor(option.font);
  const Geometry g = geometry(option, index);
  const bool selected = option.state & QStyle::State_Selected;
  const QPalette& palette = option.palette;
  const QColor primary = palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
  const QColor secondary = selected ? primary : ItemPainting::secondaryText(palette);

  const bool checkable = index.flags() & Qt::ItemIsUserCheckable;
  ItemPainting::drawCheckBox(*painter, g.checkBox, index.data(Qt::CheckStateRole).value<Qt::CheckState>() == Qt::Checked,
                             checkable, widget);

  painter->save();
  painter->setFont(fonts.name);
  painter->setPen(primary);
  const QString name = index.data(Qt::DisplayRole).toString();
  painter->drawText(g.name, Qt::AlignLeft | Qt::AlignVCenter,
                    QFontMetrics(fonts.name).elidedText(name, Qt::ElideRight, g.name.width()));

  if (!g.badges.isNull()) {
    int x = g.badges.left();
    const int iconSide = QFontMetrics(fonts.badge).height() - 2;
    painter->setFont(fonts.badge);
    for (const BadgeSpec& spec : badgeSpecs) {
      const int count = index.data(spec.role).toInt();
      if (count <= 0) continue;
      const QRect icon(x, g.badges.top() + (g.badges.height() - iconSide) / 2, iconSide, iconSide);
      ItemPainting::drawSymbol(*painter, icon, spec.symbol, secondary);
      x = icon.right() + 1 + 2;
      const QString text = QString::number(count);
      painter->setPen(secondary);
      const int textWidth = QFontMetrics(fonts.badge).horizontalAdvance(text);
      painter->drawText(QRect(x, g.badges.top(), textWidth, g.badges.height()), Qt::AlignVCenter, text);
      x += textWidth + 8;
    }
  }
  if (!g.warning.isNull()) ItemPainting::drawSymbol(*painter, g.warning, Symbol::categoryWarning, ItemPainting::orange());
  if (!g.description.isNull()) {
    painter->setPen(secondary);
    ItemPainting::drawWrapped(*painter, g.description, index.data(CategoryListModel::DescriptionRole).toString(),
                              fonts.description, descriptionLines);
  }
  painter->restore();
}

bool CategoryDelegate::editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                                   const QModelIndex& index) {
  if (!(index.flags() & Qt::ItemIsUserCheckable)) return false;
  auto* categories = qobject_cast<CategoryListModel*>(model);
  if (categories == nullptr) return false;
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      return mouse->button() == Qt::LeftButton && geometry(option, index).checkBox.contains(mouse->position().toPoint());
    }
    case QEvent::MouseButtonRelease: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() != Qt::LeftButton || !geometry(option, index).checkBox.contains(mouse->position().toPoint())) {
        return false;
      }
      categories->toggle(index);
      return true;
    }
    case QEvent::KeyPress: {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (key != Qt::Key_Space && key != Qt::Key_Select) return false;
      categories->toggle(index);
      return true;
    }
    default:
      return false;
  }
}

bool CategoryDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                                 const QModelIndex& index) {
  if (event->type() != QEvent::ToolTip) return QStyledItemDelegate::helpEvent(event, view, option, index);
  const Geometry g = geometry(option, index);
  QString text;
  if (g.checkBox.contains(event->pos())) text = index.data(Qt::ToolTipRole).toString();
  if (g.warning.contains(event->pos())) text = tr("Some tools require additional apps");
  return ItemPainting::showToolTip(event, view, text);
}

}  // namespace qd
