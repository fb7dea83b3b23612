#include "app/settings/window/tools/item_painting.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTextLayout>
#include <QToolTip>
#include <QHelpEvent>
#include <QWidget>

#include <algorithm>

namespace qd::ItemPainting {

QPixmap dotPixmap(const QColor& colour, int side) {
  QPixmap pixmap(side, side);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(colour);
  painter.drawEllipse(0, 0, side, side);
  return pixmap;
}

QColor secondaryText(const QPalette& palette) { return palette.color(QPalette::PlaceholderText); }
QColor orange() { return QColor(230, 126, 0); }
QColor blue() { return QColor(0, 110, 230); }
QColor green() { return QColor(40, 170, 70); }

namespace {

struct SymbolSource {
  const char* themeName;
  int standardPixmap;  // -1: none
  const char* glyph;
};

SymbolSource sourceOf(Symbol symbol) {
  switch (symbol) {
    case Symbol::readOnly:
      return {"view-visible", -1, "\u25C9"};
    case Symbol::writeOnly:
      return {"document-edit", -1, "\u270E"};
    case Symbol::readWrite:
      return {"view-refresh", -1, "\u21C4"};
    case Symbol::categoryWarning:
      return {"dialog-warning", QStyle::SP_MessageBoxWarning, "\u26A0"};
    case Symbol::unavailable:
      return {"dialog-error", -1, "\u24D8"};
    case Symbol::schema:
      return {"dialog-information", QStyle::SP_MessageBoxInformation, "\u24D8"};
    case Symbol::placeholder:
      return {"applications-utilities", QStyle::SP_FileDialogDetailedView, "\u2692"};
    case Symbol::hint:
      return {"dialog-information", QStyle::SP_MessageBoxInformation, "\u24D8"};
  }
  return {"", -1, "?"};
}

}  // namespace

QIcon symbolIcon(Symbol symbol) {
  const SymbolSource source = sourceOf(symbol);
  QIcon icon = QIcon::fromTheme(QString::fromLatin1(source.themeName));
  if (!icon.isNull() || source.standardPixmap < 0) return icon;
  return QApplication::style()->standardIcon(static_cast<QStyle::StandardPixmap>(source.standardPixmap));
}

QString symbolGlyph(Symbol symbol) { return QString::fromUtf8(sourceOf(symbol).glyph); }

void drawSymbol(QPainter& painter, const QRect& square, Symbol symbol, const QColor& glyphColour) {
  // Icons are looked up once per symbol: the theme search is not free and rows draw often.
  static QIcon icons[8];
  static bool looked[8] = {};
  const auto slot = static_cast<std::size_t>(symbol);
  if (!looked[slot]) {
    icons[slot] = symbolIcon(symbol);
    looked[slot] = true;
  }
  if (!icons[slot].isNull()) {
    icons[slot].paint(&painter, square);
    return;
  }
  painter.save();
  QFont font = painter.font();
  font.setPixelSize(std::max(6, square.height()));
  painter.setFont(font);
  painter.setPen(glyphColour);
  painter.drawText(square, Qt::AlignCenter, symbolGlyph(symbol));
  painter.restore();
}

QFont sized(const QFont& base, qreal designSize, bool monospace) {
  QFont font = monospace ? QFontDatabase::systemFont(QFontDatabase::FixedFont) : base;
  const qreal basePoints = base.pointSizeF() > 0 ? base.pointSizeF() : 10.0;
  font.setPointSizeF(basePoints * designSize / 13.0);
  return font;
}

QSize badgeSize(const Badge& badge) {
  const QFontMetrics metrics(badge.font);
  const int width = metrics.horizontalAdvance(badge.text) + 2 * badge.horizontalPadding;
  const int height = metrics.height() + 2 * badge.verticalPadding;
  return {std::max(width, badge.minimumSide), std::max(height, badge.minimumSide)};
}

void drawBadge(QPainter& painter, const QPoint& topLeft, const Badge& badge) {
  const QRect rect(topLeft, badgeSize(badge));
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(badge.ground);
  painter.drawRoundedRect(rect, badge.radius, badge.radius);
  painter.setFont(badge.font);
  painter.setPen(badge.textColour);
  painter.drawText(rect, Qt::AlignCenter, badge.text);
  painter.restore();
}

void drawSwitch(QPainter& painter, const QRect& rect, bool on, bool enabled, const QPalette& palette) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal radius = rect.height() / 2.0;
  QColor track = on ? palette.color(QPalette::Highlight) : palette.color(QPalette::Mid);
  if (!enabled) track.setAlphaF(0.4);
  painter.setPen(Qt::NoPen);
  painter.setBrush(track);
  painter.drawRoundedRect(QRectF(rect), radius, radius);
  const qreal knob = rect.height() - 4;
  const qreal x = on ? rect.right() - knob - 1.5 : rect.left() + 2.5;
  QColor knobColour = Qt::white;
  if (!enabled) knobColour.setAlphaF(0.7);
  painter.setBrush(knobColour);
  painter.drawEllipse(QRectF(x, rect.top() + 2.0, knob, knob));
  painter.restore();
}

int checkBoxSide(const QWidget* widget) {
  const QStyle* style = widget ? widget->style() : QApplication::style();
  return style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, widget);
}

void drawCheckBox(QPainter& painter, const QRect& rect, bool on, bool enabled, const QWidget* widget) {
  QStyleOptionButton option;
  option.rect = rect;
  option.state = (on ? QStyle::State_On : QStyle::State_Off) | (enabled ? QStyle::State_Enabled : QStyle::State_None);
  const QStyle* style = widget ? widget->style() : QApplication::style();
  style->drawPrimitive(QStyle::PE_IndicatorCheckBox, &option, &painter, widget);
}

std::vector<WrappedLine> wrapLines(const QString& text, const QFont& font, int width, int maxLines) {
  std::vector<WrappedLine> lines;
  if (text.isEmpty() || width <= 0) return lines;
  maxLines = std::max(1, maxLines);
  // Line breaks in the text count as spaces: the row has room for a few lines only.
  QString flat = text;
  flat.replace(QLatin1Char('\n'), QLatin1Char(' '));
  QTextLayout layout(flat, font);
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout.setTextOption(option);
  layout.beginLayout();
  qreal y = 0;
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(width);
    line.setPosition(QPointF(0, y));
    y += line.height();
    const bool last = static_cast<int>(lines.size()) + 1 == maxLines;
    const bool textLeft = line.textStart() + line.textLength() < flat.size();
    // The last line that fits takes the rest of the text, elided.
    const QString shown = last && textLeft ? QFontMetrics(font).elidedText(flat.mid(line.textStart()), Qt::ElideRight, width)
                                           : flat.mid(line.textStart(), line.textLength());
    lines.push_back({shown, QPointF(0, line.y() + line.ascent())});
    if (last) break;
  }
  layout.endLayout();
  return lines;
}

int wrappedLineCount(const QString& text, const QFont& font, int width, int maxLines) {
  return std::max<int>(1, static_cast<int>(wrapLines(text, font, width, maxLines).size()));
}

void drawWrapped(QPainter& painter, const QRect& rect, const QString& text, const QFont& font, int maxLines) {
  const std::vector<WrappedLine> lines = wrapLines(text, font, rect.width(), maxLines);
  if (lines.empty()) return;
  painter.save();
  painter.setFont(font);
  for (const WrappedLine& line : lines) painter.drawText(QPointF(rect.topLeft()) + line.baseline, line.text);
  painter.restore();
}

bool showToolTip(QHelpEvent* event, QWidget* view, const QString& text) {
  if (text.isEmpty()) {
    QToolTip::hideText();
    event->ignore();
    return false;
  }
  QToolTip::showText(event->globalPos(), text, view);
  return true;
}

}  // namespace qd::ItemPainting
