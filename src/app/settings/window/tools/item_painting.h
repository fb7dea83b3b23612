#pragma once

// Drawing pieces the Tools tab's delegates share: the colours that carry meaning (orange
// for warnings and write tools, blue for read-only ones), symbols (the XDG theme's icon,
// else a standard style icon, else a glyph), badges, the tool switch, a check box, and
// text wrapped to a number of lines with the last one elided.

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QRect>
#include <QString>

#include <vector>

class QHelpEvent;
class QPainter;
class QPalette;
class QWidget;

namespace qd::ItemPainting {

QColor secondaryText(const QPalette& palette);
QColor orange();
QColor blue();
QColor green();

// A filled circle `side` pixels wide on a transparent ground (status dots).
QPixmap dotPixmap(const QColor& colour, int side);

enum class Symbol { readOnly, writeOnly, readWrite, categoryWarning, unavailable, schema, placeholder, hint };

// The theme's icon, else the style's, else a null icon (then the glyph is drawn).
QIcon symbolIcon(Symbol symbol);
QString symbolGlyph(Symbol symbol);
void drawSymbol(QPainter& painter, const QRect& square, Symbol symbol, const QColor& glyphColour);

// A font of the base's family sized relative to a 13-point body text (the sizes the tab's
// design names), so the design's proportions follow the desktop's font size.
QFont sized(const QFont& base, qreal designSize, bool monospace = false);

// The value made from the base font, made again only when the font changes: delegates ask
// for their fonts at every paint and size hint, and the system's fixed font is a platform
// query. One cache per `make` (each lambda is its own type).
template <typename Make>
const auto& perBaseFont(const QFont& base, Make make) {
  using Value = decltype(make(base));
  static QFont key;
  static Value value;
  static bool made = false;
  if (!made || !(base == key)) {
    value = make(base);
    key = base;
    made = true;
  }
  return value;
}

// A badge at the top-left corner: text on a rounded ground. Answers its width.
struct Badge {
  QString text;
  QFont font;
  QColor textColour;
  QColor ground;
  int horizontalPadding = 4;
  int verticalPadding = 2;
  int radius = 3;
  int minimumSide = 0;  // a square badge of at least this side
};
QSize badgeSize(const Badge& badge);
void drawBadge(QPainter& painter, const QPoint& topLeft, const Badge& badge);

// The on/off switch of a tool, 30x16.
inline constexpr QSize switchSize{30, 16};
void drawSwitch(QPainter& painter, const QRect& rect, bool on, bool enabled, const QPalette& palette);
void drawCheckBox(QPainter& painter, const QRect& rect, bool on, bool enabled, const QWidget* widget);
int checkBoxSide(const QWidget* widget);

// A line of wrapped text: what it shows and where its baseline starts, from the top-left
// corner of the text's rectangle.
struct WrappedLine {
  QString text;
  QPointF baseline;
};
// The text wrapped at this width into at most maxLines lines (at least 1), the last one
// elided when text is left over; line breaks in the text count as spaces. None for an
// empty text or width. A row's size and its painting both come from these lines.
std::vector<WrappedLine> wrapLines(const QString& text, const QFont& font, int width, int maxLines);
// The lines the text takes at this width, at most maxLines (at least 1).
int wrappedLineCount(const QString& text, const QFont& font, int width, int maxLines);
// Draws the lines of wrapLines from the rect's top.
void drawWrapped(QPainter& painter, const QRect& rect, const QString& text, const QFont& font, int maxLines);

// Shows the tooltip of a part of a row, or hides any when the part has none (empty text).
bool showToolTip(QHelpEvent* event, QWidget* view, const QString& text);

}  // namespace qd::ItemPainting
