#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include "app/settings/window/tools/item_painting.h"
#include "app/settings/window/window_test_support.h"

namespace qd {
namespace {

const QString longText = QStringLiteral(
    "Reads the note at the given path with its attributes, children and links, follows aliases to their originals "
    "and answers at most the given number of items, oldest first.");

QImage drawn(const QString& text, const QFont& font, const QSize& size, int maxLines) {
  QImage image(size, QImage::Format_ARGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.setPen(Qt::black);
  ItemPainting::drawWrapped(painter, QRect(QPoint(0, 0), size), text, font, maxLines);
  return image;
}

TEST(ItemPaintingTest, WrappedTextTakesAtMostItsLinesAndElidesTheLast) {
  test::widgetApplication();
  const QFont font = QApplication::font();
  const QFontMetrics metrics(font);
  const int width = 160;
  struct Case {
    QString text;
    int maxLines;
    std::size_t fewestLines;
    std::size_t mostLines;
    bool elided;
  };
  const Case cases[] = {
      {longText, 2, 2, 2, true},
      {longText, 1, 1, 1, true},
      {longText, 0, 1, 1, true},  // at least one line
      {longText, 99, 3, 98, false},
      {QStringLiteral("Short."), 2, 1, 1, false},
      {QStringLiteral("Two\nwords"), 2, 1, 1, false},  // a line break counts as a space
      {QString(), 2, 0, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.left(20).toStdString() + " in " + std::to_string(c.maxLines) + " lines");
    const std::vector<ItemPainting::WrappedLine> lines = ItemPainting::wrapLines(c.text, font, width, c.maxLines);
    ASSERT_GE(lines.size(), c.fewestLines);
    ASSERT_LE(lines.size(), c.mostLines);
    EXPECT_EQ(ItemPainting::wrappedLineCount(c.text, font, width, c.maxLines), std::max<int>(1, lines.size()));
    for (std::size_t i = 0; i < lines.size(); ++i) {
      EXPECT_LE(metrics.horizontalAdvance(lines[i].text.trimmed()), width) << i;
      if (i > 0) {
        EXPECT_GE(lines[i].baseline.y() - lines[i - 1].baseline.y(), metrics.height()) << i;
      }
    }
    if (!lines.empty()) {
      EXPECT_EQ(lines.back().text.endsWith(QChar(0x2026)), c.elided);
    }
  }
  EXPECT_EQ(ItemPainting::wrapLines(QStringLiteral("Two\nwords"), font, width, 2).front().text, "Two words");
}

TEST(ItemPaintingTest, CuttingTextShortLeavesTheLinesAboveTheCutAsTheyWere) {
  test::widgetApplication();
  const QFont font = QApplication::font();
  const QSize size(160, 10 * QFontMetrics(font).lineSpacing());
  const QImage all = drawn(longText, font, size, 99);
  const QImage two = drawn(longText, font, size, 2);
  // The first line is drawn alike whether the text ends after two lines or goes on.
  const int firstLine = QFontMetrics(font).height();
  EXPECT_EQ(all.copy(0, 0, size.width(), firstLine), two.copy(0, 0, size.width(), firstLine));
  // Nothing is drawn below the second line.
  const int below = 2 * QFontMetrics(font).lineSpacing() + 1;
  const QImage blank = drawn(QString(), font, size, 2);
  EXPECT_EQ(two.copy(0, below, size.width(), size.height() - below), blank.copy(0, below, size.width(), size.height() - below));
}

}  // namespace
}  // namespace qd
