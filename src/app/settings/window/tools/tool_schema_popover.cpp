#include "app/settings/window/tools/tool_schema_popover.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

#include "app/settings/tool_schema.h"
#include "app/settings/window/tools/item_painting.h"

namespace qd {

namespace {

QLabel* caption(const QString& text, QWidget* parent, bool monospace = false) {
  auto* label = new QLabel(text, parent);
  label->setFont(ItemPainting::sized(parent->font(), 11, monospace));
  label->setForegroundRole(QPalette::PlaceholderText);
  label->setWordWrap(true);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return label;
}

QLabel* badge(const QString& text, const QColor& colour, QWidget* parent, bool bold = false) {
  auto* label = new QLabel(text, parent);
  QFont font = ItemPainting::sized(parent->font(), 10);
  font.setBold(bold);
  label->setFont(font);
  label->setStyleSheet(QStringLiteral("QLabel { background: rgba(%1, %2, %3, 0.2); border-radius: 4px; "
                                      "padding: 2px 6px; }")
                           .arg(colour.red())
                           .arg(colour.green())
                           .arg(colour.blue()));
  return label;
}

QLabel* statusDot(const QColor& colour, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setPixmap(ItemPainting::dotPixmap(colour, 6));
  return label;
}

QFrame* divider(QWidget* parent) {
  auto* line = new QFrame(parent);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  return line;
}

}  // namespace

ToolSchemaPopover::ToolSchemaPopover(const QString& toolName, const ToolMetadataFetcher& fetcher, QWidget* parent)
    : QFrame(parent, Qt::Popup), toolName_(toolName) {
  setAttribute(Qt::WA_DeleteOnClose);
  setFrameShape(QFrame::StyledPanel);
  setFixedSize(popoverSize);
  setAccessibleName(tr("MCP Tool Schema"));
  setAccessibleDescription(toolName);

  const std::string tool = toolName.toStdString();
  const bool live = ToolSchema::isLiveData(tool, fetcher);

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  auto* scroll = new QScrollArea(this);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  outer->addWidget(scroll);

  auto* content = new QWidget(scroll);
  auto* layout = new QVBoxLayout(content);
  layout->setSpacing(12);

  // Header.
  auto* header = new QVBoxLayout;
  header->setSpacing(4);
  auto* titleRow = new QHBoxLayout;
  auto* title = new QLabel(toolName, content);
  QFont titleFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  titleFont.setPointSizeF(content->font().pointSizeF() * 1.1);
  titleFont.setBold(true);
  title->setFont(titleFont);
  title->setTextInteractionFlags(Qt::TextSelectableByMouse);
  titleRow->addWidget(title);
  titleRow->addStretch(1);
  if (const std::optional<bool> readOnly = fetcher.isReadOnly(tool)) {
    titleRow->addWidget(*readOnly ? badge(tr("READ-ONLY"), ItemPainting::blue(), content, true)
                                  : badge(tr("WRITE"), ItemPainting::orange(), content, true));
  }
  auto* status = new QWidget(content);
  auto* statusLayout = new QHBoxLayout(status);
  statusLayout->setContentsMargins(0, 0, 0, 0);
  statusLayout->setSpacing(4);
  statusLayout->addWidget(statusDot(live ? ItemPainting::green() : ItemPainting::orange(), status));
  auto* statusText = new QLabel(live ? tr("Live") : tr("Static"), status);
  statusText->setFont(ItemPainting::sized(content->font(), 10));
  statusText->setForegroundRole(QPalette::PlaceholderText);
  statusLayout->addWidget(statusText);
  status->setToolTip(live ? tr("Schema loaded from running daemon") : tr("Using built-in schema (daemon not running)"));
  status->setObjectName(QStringLiteral("schemaStatus"));
  titleRow->addWidget(status);
  header->addLayout(titleRow);
  header->addWidget(caption(tr("MCP Tool Schema"), content));
  layout->addLayout(header);
  layout->addWidget(divider(content));

  // Description.
  auto* description = new QVBoxLayout;
  description->setSpacing(4);
  description->addWidget(caption(tr("Description"), content));
  auto* descriptionText = new QLabel(QString::fromStdString(ToolSchema::shownDescription(tool, fetcher)), content);
  descriptionText->setWordWrap(true);
  descriptionText->setTextInteractionFlags(Qt::TextSelectableByMouse);
  description->addWidget(descriptionText);
  layout->addLayout(description);
  layout->addWidget(divider(content));

  // Parameters.
  auto* parameters = new QVBoxLayout;
  parameters->setSpacing(8);
  parameters->addWidget(caption(tr("Input Schema"), content));
  const std::vector<ToolSchema::ToolParameter> rows = ToolSchema::parameters(tool, fetcher);
  if (rows.empty()) {
    QLabel* none = caption(tr("No parameters"), content);
    QFont italic = none->font();
    italic.setItalic(true);
    none->setFont(italic);
    parameters->addWidget(none);
  }
  for (const ToolSchema::ToolParameter& parameter : rows) {
    auto* block = new QVBoxLayout;
    block->setSpacing(4);
    block->setContentsMargins(0, 2, 0, 2);
    auto* line = new QHBoxLayout;
    line->setSpacing(6);
    auto* name = new QLabel(QString::fromStdString(parameter.name), content);
    name->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    name->setTextInteractionFlags(Qt::TextSelectableByMouse);
    line->addWidget(name);
    if (parameter.required) line->addWidget(badge(tr("required"), ItemPainting::orange(), content));
    line->addWidget(badge(QString::fromStdString(parameter.type), ItemPainting::blue(), content));
    line->addStretch(1);
    block->addLayout(line);
    if (parameter.description) block->addWidget(caption(QString::fromStdString(*parameter.description), content));
    parameters->addLayout(block);
  }
  layout->addLayout(parameters);
  layout->addWidget(divider(content));

  // The name clients call.
  auto* callName = new QVBoxLayout;
  callName->setSpacing(4);
  callName->addWidget(caption(tr("MCP Tool Name"), content));
  callName->addWidget(caption(toolName, content, true));
  layout->addLayout(callName);
  layout->addStretch(1);

  scroll->setWidget(content);
}

void ToolSchemaPopover::showBeside(const QRect& anchor) {
  anchor_ = anchor;
  const bool rightToLeft = layoutDirection() == Qt::RightToLeft;
  QPoint at(rightToLeft ? anchor.left() - popoverSize.width() : anchor.right() + 1,
            anchor.center().y() - popoverSize.height() / 2);
  const QScreen* screen = QGuiApplication::screenAt(anchor.center());
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen != nullptr) {
    const QRect area = screen->availableGeometry();
    // No room on the trailing side: the other side, still beside the button.
    if (!rightToLeft && at.x() + popoverSize.width() > area.right() + 1) at.setX(anchor.left() - popoverSize.width());
    if (rightToLeft && at.x() < area.left()) at.setX(anchor.right() + 1);
    at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() + 1 - popoverSize.width())));
    at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() + 1 - popoverSize.height())));
  }
  move(at);
  show();
}

void ToolSchemaPopover::hideEvent(QHideEvent* event) {
  QFrame::hideEvent(event);
  emit closed();
}

}  // namespace qd
