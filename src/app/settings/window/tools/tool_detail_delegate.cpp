#include "app/settings/window/tools/tool_detail_delegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTreeView>

#include "app/settings/window/tools/item_painting.h"
#include "app/settings/window/tools/tool_detail_model.h"

namespace qd {

namespace {

using Kind = ToolDetailModel::Kind;
using ItemPainting::Symbol;

constexpr int leftPadding = 8;
constexpr int rightPadding = 8;
constexpr int disclosureWidth = 12;
constexpr int schemaSide = 18;
constexpr int panelLeft = 24;
constexpr int panelRight = 12;
constexpr int panelIndent = 36;

struct Fonts {
  QFont name;
  QFont caption;
  QFont badge;
  QFont operation;
  QFont sectionTitle;
};

const Fonts& fontsFor(const QFont& base) {
  return ItemPainting::perBaseFont(base, [](const QFont& font) {
    QFont badge = ItemPainting::sized(font, 9, true);
    badge.setWeight(QFont::Medium);
    return Fonts{ItemPainting::sized(font, 13, true), ItemPainting::sized(font, 11), badge,
                 ItemPainting::sized(font, 11, true), ItemPainting::sized(font, 12)};
  });
}

Symbol sectionSymbol(int section) {
  switch (static_cast<ToolLibrary::Section>(section)) {
    case ToolLibrary::Section::readOnly:
      return Symbol::readOnly;
    case ToolLibrary::Section::writeOnly:
      return Symbol::writeOnly;
    case ToolLibrary::Section::readWrite:
      break;
  }
  return Symbol::readWrite;
}

ItemPainting::Badge operationsBadge(const Fonts& fonts, int count, const QPalette& palette) {
  QColor ground = ItemPainting::secondaryText(palette);
  ground.setAlphaF(0.1);
  return {ToolDetailModel::tr("%1 ops").arg(count), fonts.badge, ItemPainting::secondaryText(palette), ground, 4, 2, 3, 0};
}

ItemPainting::Badge readWriteBadge(const Fonts& fonts, bool readOnly) {
  QFont font = fonts.badge;
  font.setBold(true);
  return {readOnly ? QStringLiteral("R") : QStringLiteral("W"), font, Qt::white,
          readOnly ? ItemPainting::blue() : ItemPainting::orange(), 0, 0, 3, 14};
}

bool isLastChild(const QModelIndex& index) {
  return index.row() == index.model()->rowCount(index.parent()) - 1;
}

}  // namespace

ToolDetailDelegate::Geometry ToolDetailDelegate::geometry(const QRect& rect, const QModelIndex& index,
                                                          const QWidget* widget) const {
  const Fonts& fonts = fontsFor(widget ? widget->font() : QApplication::font());
  Geometry g;
  const Kind kind = ToolDetailModel::kindOf(index);
  if (kind == Kind::section) return g;
  if (kind == Kind::operation) {
    const int top = rect.top() + (index.row() == 0 ? 4 : 0) + 2;
    const int side = ItemPainting::checkBoxSide(widget);
    const int lineHeight = std::max(side, QFontMetrics(fonts.operation).height());
    const int left = rect.left() + panelLeft + panelIndent;
    g.toggle = QRect(left, top + (lineHeight - side) / 2, side, side);
    g.name = QRect(g.toggle.right() + 1 + 8, top, std::max(0, rect.right() - panelRight - g.toggle.right() - 9),
                   lineHeight);
    return g;
  }
  const int top = rect.top() + 4;
  const int nameHeight = std::max(QFontMetrics(fonts.name).height(), ItemPainting::switchSize.height());
  if (index.data(ToolDetailModel::OperationCountRole).toInt() > 0) {
    g.disclosure = QRect(rect.left() + leftPadding, top, disclosureWidth, nameHeight);
  }
  const int switchLeft = rect.left() + leftPadding + disclosureWidth + 12;
  g.toggle = QRect(QPoint(switchLeft, top + (nameHeight - ItemPainting::switchSize.height()) / 2),
                   ItemPainting::switchSize);
  g.schema = QRect(rect.right() - rightPadding - schemaSide + 1, top, schemaSide, schemaSide);
  const int textLeft = g.toggle.right() + 1 + 12;
  const int textWidth = std::max(0, g.schema.left() - 12 - textLeft);
  const QString name = index.data(Qt::DisplayRole).toString();
  // (+2: eliding measures a little wider than the advance.)
  const int nameWidth = std::min(textWidth, QFontMetrics(fonts.name).horizontalAdvance(name) + 2);
  g.name = QRect(textLeft, top, nameWidth, nameHeight);
  g.badges = QRect(textLeft + nameWidth + 6, top, std::max(0, textWidth - nameWidth - 6), nameHeight);
  const int lines = ItemPainting::wrappedLineCount(index.data(ToolDetailModel::DescriptionRole).toString(),
                                                   fonts.caption, textWidth,
                                                   index.data(ToolDetailModel::LineLimitRole).toInt());
  g.secondLine = QRect(textLeft, top + nameHeight + 4, textWidth, lines * QFontMetrics(fonts.caption).lineSpacing());
  return g;
}

QSize ToolDetailDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  const Fonts& fonts = fontsFor(option.widget ? option.widget->font() : option.font);
  switch (ToolDetailModel::kindOf(index)) {
    case Kind::section:
      return {rowWidth_, QFontMetrics(fonts.sectionTitle).height() + 12};
    case Kind::operation: {
      const Geometry g = geometry(QRect(0, 0, rowWidth_, 0), index, option.widget);
      int height = g.name.bottom() + 1 + 2;
      if (isLastChild(index)) height += 4 + 4;
      return {rowWidth_, height};
    }
    case Kind::tool:
      break;
  }
  const Geometry g = geometry(QRect(0, 0, rowWidth_, 0), index, option.widget);
  return {rowWidth_, std::max(g.secondLine.bottom(), g.schema.bottom()) + 1 + 4};
}

void ToolDetailDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  const QWidget* widget = option.widget;
  const Fonts& fonts = fontsFor(widget ? widget->font() : option.font);
  const QPalette& palette = option.palette;
  const QColor secondary = ItemPainting::secondaryText(palette);
  const Kind kind = ToolDetailModel::kindOf(index);
  painter->save();

  if (kind == Kind::section) {
    const QString title = index.data(Qt::DisplayRole).toString();
    const QString count = QStringLiteral("(%1)").arg(index.data(ToolDetailModel::SectionCountRole).toInt());
    const QFontMetrics titleMetrics(fonts.sectionTitle);
    const QFontMetrics countMetrics(fonts.caption);
    const int iconSide = titleMetrics.height() - 2;
    const int width = iconSide + 6 + titleMetrics.horizontalAdvance(title) + 6 + countMetrics.horizontalAdvance(count);
    int x = option.rect.left() + (option.rect.width() - width) / 2;
    const int centre = option.rect.center().y();
    ItemPainting::drawSymbol(*painter, QRect(x, centre - iconSide / 2, iconSide, iconSide),
                             sectionSymbol(index.data(ToolDetailModel::SectionRole).toInt()), secondary);
    x += iconSide + 6;
    painter->setFont(fonts.sectionTitle);
    // Headers are not selectable, which must not grey them out.
    painter->setPen(palette.color(QPalette::Active, QPalette::Text));
    painter->drawText(QRect(x, option.rect.top(), titleMetrics.horizontalAdvance(title), option.rect.height()),
                      Qt::AlignVCenter, title);
    x += titleMetrics.horizontalAdvance(title) + 6;
    painter->setFont(fonts.caption);
    painter->setPen(secondary);
    painter->drawText(QRect(x, option.rect.top(), countMetrics.horizontalAdvance(count), option.rect.height()),
                      Qt::AlignVCenter, count);
    painter->restore();
    return;
  }

  const bool selected = option.state & QStyle::State_Selected;
  const bool checkable = index.flags() & Qt::ItemIsUserCheckable;
  const bool on = index.data(Qt::CheckStateRole).value<Qt::CheckState>() == Qt::Checked;
  const Geometry g = geometry(option.rect, index, widget);

  if (kind == Kind::operation) {
    // The operations panel: one rounded ground under all of a tool's operation rows.
    QRect ground = option.rect.adjusted(panelLeft, 0, -panelRight, 0);
    if (isLastChild(index)) ground.setBottom(ground.bottom() - 4);
    QRect shape = ground;
    if (index.row() > 0) shape.setTop(shape.top() - 8);
    if (!isLastChild(index)) shape.setBottom(shape.bottom() + 8);
    QColor fill = secondary;
    fill.setAlphaF(selected ? 0.25 : 0.05);
    painter->setClipRect(ground);
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(fill);
    painter->drawRoundedRect(shape, 4, 4);
    painter->setClipping(false);
    if (option.state & QStyle::State_HasFocus) {
      painter->setPen(QPen(palette.color(QPalette::Highlight), 1));
      painter->setBrush(Qt::NoBrush);
      painter->drawRoundedRect(ground.adjusted(1, 1, -1, -1), 3, 3);
    }
    ItemPainting::drawCheckBox(*painter, g.toggle, on, checkable, widget);
    painter->setFont(fonts.operation);
    painter->setPen(secondary);
    painter->drawText(g.name, Qt::AlignLeft | Qt::AlignVCenter,
                      QFontMetrics(fonts.operation).elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight,
                                                               g.name.width()));
    painter->restore();
    return;
  }

  if (selected || (option.state & QStyle::State_HasFocus)) {
    QColor fill = palette.color(QPalette::Highlight);
    fill.setAlphaF(selected ? 0.18 : 0.08);
    painter->fillRect(option.rect, fill);
  }
  if (!g.disclosure.isNull()) {
    QStyleOption arrow;
    arrow.rect = QRect(g.disclosure.left(), g.disclosure.center().y() - 5, 10, 10);
    arrow.palette = palette;
    arrow.palette.setColor(QPalette::ButtonText, secondary);
    arrow.state = QStyle::State_Enabled;
    const auto* view = qobject_cast<const QTreeView*>(widget);
    const bool expanded = view && view->isExpanded(index);
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawPrimitive(expanded ? QStyle::PE_IndicatorArrowDown : QStyle::PE_IndicatorArrowRight, &arrow, painter,
                         widget);
  }
  ItemPainting::drawSwitch(*painter, g.toggle, on, checkable, palette);

  const bool available = index.data(ToolDetailModel::AvailableRole).toBool();
  painter->setFont(fonts.name);
  painter->setPen(available ? palette.color(QPalette::Text) : secondary);
  const QString name = index.data(Qt::DisplayRole).toString();
  painter->drawText(g.name, Qt::AlignLeft | Qt::AlignVCenter,
                    QFontMetrics(fonts.name).elidedText(name, Qt::ElideRight, g.name.width()));

  int x = g.badges.left();
  const auto placeBadge = [&](const ItemPainting::Badge& badge) {
    const QSize size = ItemPainting::badgeSize(badge);
    if (x + size.width() > g.badges.right() + 1) return;
    ItemPainting::drawBadge(*painter, QPoint(x, g.badges.center().y() - size.height() / 2), badge);
    x += size.width() + 6;
  };
  if (const int count = index.data(ToolDetailModel::OperationCountRole).toInt(); count > 0) {
    placeBadge(operationsBadge(fonts, count, palette));
  }
  if (const QVariant readOnly = index.data(ToolDetailModel::ReadOnlyRole); readOnly.isValid()) {
    placeBadge(readWriteBadge(fonts, readOnly.toBool()));
  }

  const QString reason = index.data(ToolDetailModel::UnavailableReasonRole).toString();
  if (!reason.isEmpty()) {
    const int side = QFontMetrics(fonts.caption).height();
    ItemPainting::drawSymbol(*painter, QRect(g.secondLine.topLeft(), QSize(side, side)), Symbol::unavailable,
                             ItemPainting::orange());
    painter->setPen(ItemPainting::orange());
    ItemPainting::drawWrapped(*painter, g.secondLine.adjusted(side + 4, 0, 0, 0), reason, fonts.caption, 1);
  } else {
    painter->setPen(secondary);
    ItemPainting::drawWrapped(*painter, g.secondLine, index.data(ToolDetailModel::DescriptionRole).toString(),
                              fonts.caption, index.data(ToolDetailModel::LineLimitRole).toInt());
  }
  ItemPainting::drawSymbol(*painter, g.schema, Symbol::schema, secondary);
  painter->restore();
}

bool ToolDetailDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                                   const QModelIndex& index) {
  if (event->type() != QEvent::ToolTip || ToolDetailModel::kindOf(index) != Kind::tool) {
    return QStyledItemDelegate::helpEvent(event, view, option, index);
  }
  const Geometry g = geometry(option.rect, index, view);
  QString text;
  if (g.schema.contains(event->pos())) {
    text = tr("View MCP tool schema");
  } else if (g.badges.contains(event->pos())) {
    const QVariant readOnly = index.data(ToolDetailModel::ReadOnlyRole);
    if (readOnly.isValid()) text = readOnly.toBool() ? tr("Read-only tool") : tr("Write-capable tool");
  } else if (g.secondLine.contains(event->pos())) {
    text = index.data(Qt::ToolTipRole).toString();
  }
  return ItemPainting::showToolTip(event, view, text);
}

}  // namespace qd
