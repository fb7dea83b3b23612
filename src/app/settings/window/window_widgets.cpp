#include "app/settings/window/window_widgets.h"

#include <QAbstractButton>
#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace qd {

QIcon themedIcon(const QString& themeName, QStyle::StandardPixmap fallback) {
  return QIcon::fromTheme(themeName, QApplication::style()->standardIcon(fallback));
}

QWidget* noteRow(const QIcon& icon, const QString& title, const QString& text, QWidget* parent,
                 bool subheadlineTitle) {
  auto* row = new QWidget(parent);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(8);
  auto* symbol = new QLabel(row);
  symbol->setPixmap(icon.pixmap(16, 16));
  layout->addWidget(symbol, 0, Qt::AlignTop);

  auto* column = new QVBoxLayout;
  column->setSpacing(4);
  auto* heading = new QLabel(title, row);
  QFont headingFont = heading->font();
  headingFont.setBold(true);
  if (!subheadlineTitle) headingFont.setPointSizeF(headingFont.pointSizeF() * 0.9);
  heading->setFont(headingFont);
  auto* caption = new QLabel(text, row);
  caption->setWordWrap(true);
  caption->setTextInteractionFlags(Qt::TextSelectableByMouse);
  QFont captionFont = caption->font();
  captionFont.setPointSizeF(captionFont.pointSizeF() * 0.9);
  caption->setFont(captionFont);
  caption->setForegroundRole(QPalette::PlaceholderText);
  column->addWidget(heading);
  column->addWidget(caption);
  layout->addLayout(column, 1);
  return row;
}

QLayout* trailingRow(QAbstractButton* button) {
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  row->addWidget(button);
  return row;
}

QString homeRelativePath(const std::filesystem::path& path, const std::filesystem::path& home) {
  const std::string text = path.lexically_normal().string();
  std::string base = home.lexically_normal().string();
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  if (!base.empty() && base != "/" && (text == base || text.starts_with(base + "/"))) {
    return QString::fromStdString("~" + text.substr(base.size()));
  }
  return QString::fromStdString(text);
}

}  // namespace qd
