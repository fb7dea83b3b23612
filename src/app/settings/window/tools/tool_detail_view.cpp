#include "app/settings/window/tools/tool_detail_view.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QVBoxLayout>

#include "app/settings/tool_settings_view_model.h"
#include "app/settings/window/tools/item_painting.h"
#include "app/settings/window/tools/tool_detail_delegate.h"
#include "app/settings/window/tools/tool_detail_model.h"
#include "app/settings/window/tools/tool_schema_popover.h"

namespace qd {

namespace {

using Kind = ToolDetailModel::Kind;

// The tool row of a tool or operation row.
QModelIndex toolRowOf(const QModelIndex& index) {
  if (!index.isValid()) return {};
  return ToolDetailModel::kindOf(index) == Kind::operation ? index.parent() : index;
}

}  // namespace

ToolTreeView::ToolTreeView(QWidget* parent) : QTreeView(parent) {
  setHeaderHidden(true);
  setRootIsDecorated(false);
  setIndentation(0);
  setUniformRowHeights(false);
  setAnimated(false);
  setExpandsOnDoubleClick(false);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  setFocusPolicy(Qt::StrongFocus);
  setAccessibleName(tr("Tools"));
  connect(this, &QTreeView::expanded, this, [this](const QModelIndex& index) {
    // Opened near the bottom: bring its operations into view, keeping the tool's row.
    const int count = model()->rowCount(index);
    if (count > 0) scrollTo(model()->index(count - 1, 0, index));
    scrollTo(index);
  });
}

void ToolTreeView::setDetailDelegate(ToolDetailDelegate* delegate) {
  delegate_ = delegate;
  setItemDelegate(delegate);
}

void ToolTreeView::toggle(const QModelIndex& index) {
  if (auto* rows = qobject_cast<ToolDetailModel*>(model()); rows != nullptr && index.isValid()) rows->toggle(index);
}

void ToolTreeView::keyPressEvent(QKeyEvent* event) {
  const QModelIndex current = currentIndex();
  switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Select:
      toggle(current);
      event->accept();
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (const QModelIndex tool = toolRowOf(current); tool.isValid()) emit schemaRequested(tool);
      event->accept();
      return;
    default:
      QTreeView::keyPressEvent(event);
  }
}

void ToolTreeView::mousePressEvent(QMouseEvent* event) {
  pressed_ = indexAt(event->position().toPoint());
  QTreeView::mousePressEvent(event);
}

void ToolTreeView::mouseDoubleClickEvent(QMouseEvent* event) {
  // A quick second click on a control is a second click, not an activation.
  mousePressEvent(event);
}

void ToolTreeView::mouseReleaseEvent(QMouseEvent* event) {
  QTreeView::mouseReleaseEvent(event);
  const QModelIndex index = indexAt(event->position().toPoint());
  const bool samePress = index.isValid() && index == pressed_;
  pressed_ = QPersistentModelIndex();
  if (!samePress || event->button() != Qt::LeftButton || delegate_ == nullptr) return;
  const ToolDetailDelegate::Geometry g = delegate_->geometry(visualRect(index), index, viewport());
  const QPoint at = event->position().toPoint();
  if (g.toggle.contains(at)) {
    toggle(index);
  } else if (g.disclosure.contains(at)) {
    setExpanded(index, !isExpanded(index));
  } else if (g.schema.contains(at)) {
    emit schemaRequested(index);
  }
}

void ToolTreeView::resizeEvent(QResizeEvent* event) {
  QTreeView::resizeEvent(event);
  // Descriptions wrap to the viewport's width: row heights change with it. Compared with the
  // width the rows were laid out for, not with the width before this event: the viewport
  // may already have its new size when the event arrives (a resize while hidden).
  if (delegate_ == nullptr || viewport()->width() == delegate_->rowWidth()) return;
  delegate_->setRowWidth(viewport()->width());
  scheduleDelayedItemsLayout();
}

ToolDetailView::ToolDetailView(ToolSettingsViewModel& model, QWidget* parent) : QWidget(parent), settings_(model) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  auto* header = new QWidget(this);
  header->setAutoFillBackground(true);
  header->setBackgroundRole(QPalette::Base);
  auto* headerLayout = new QVBoxLayout(header);
  headerLayout->setSpacing(8);
  auto* titleRow = new QHBoxLayout;
  title_ = new QLabel(header);
  QFont titleFont = ItemPainting::sized(font(), 17);
  titleFont.setBold(true);
  title_->setFont(titleFont);
  count_ = new QLabel(header);
  count_->setFont(ItemPainting::sized(font(), 12));
  count_->setForegroundRole(QPalette::PlaceholderText);
  titleRow->addWidget(title_);
  titleRow->addWidget(count_, 0, Qt::AlignBaseline);
  titleRow->addStretch(1);
  headerLayout->addLayout(titleRow);
  hintRow_ = new QWidget(header);
  auto* hintLayout = new QHBoxLayout(hintRow_);
  hintLayout->setContentsMargins(0, 0, 0, 0);
  hintLayout->setSpacing(8);
  auto* hintIcon = new QLabel(hintRow_);
  const QIcon icon = ItemPainting::symbolIcon(ItemPainting::Symbol::hint);
  if (icon.isNull()) {
    hintIcon->setText(ItemPainting::symbolGlyph(ItemPainting::Symbol::hint));
  } else {
    hintIcon->setPixmap(icon.pixmap(14, 14));
  }
  hint_ = new QLabel(hintRow_);
  hint_->setWordWrap(true);
  hint_->setFont(ItemPainting::sized(font(), 11));
  hint_->setForegroundRole(QPalette::PlaceholderText);
  hintLayout->addWidget(hintIcon, 0, Qt::AlignTop);
  hintLayout->addWidget(hint_, 1);
  headerLayout->addWidget(hintRow_);
  layout->addWidget(header);

  auto* line = new QFrame(this);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  layout->addWidget(line);

  model_ = new ToolDetailModel(settings_, this);
  delegate_ = new ToolDetailDelegate(this);
  list_ = new ToolTreeView(this);
  list_->setDetailDelegate(delegate_);
  list_->setModel(model_);
  layout->addWidget(list_, 1);

  connect(list_, &ToolTreeView::schemaRequested, this, &ToolDetailView::openSchema);
  connect(list_, &QTreeView::expanded, this, [this](const QModelIndex& index) {
    expanded_.insert({index.data(ToolDetailModel::SectionRole).toInt(), index.data(Qt::DisplayRole).toString().toStdString()});
  });
  connect(list_, &QTreeView::collapsed, this, [this](const QModelIndex& index) {
    expanded_.erase({index.data(ToolDetailModel::SectionRole).toInt(), index.data(Qt::DisplayRole).toString().toStdString()});
  });
  connect(model_, &QAbstractItemModel::modelAboutToBeReset, this, &ToolDetailView::rememberRows);
  connect(model_, &QAbstractItemModel::modelReset, this, &ToolDetailView::restoreRows);
  showHeader();
}

ToolDetailView::~ToolDetailView() {
  if (popover_) popover_->close();
}

void ToolDetailView::setCategory(const std::string& category, const std::vector<std::string>& tools) {
  if (category != model_->category()) {
    expanded_.clear();
    current_ = {-1, {}};
    currentOperation_.clear();
    if (popover_) popover_->close();
  }
  delegate_->setRowWidth(list_->viewport()->width());
  model_->setCategory(category, tools);
  showHeader();
}

void ToolDetailView::refresh() { model_->refresh(); }

ToolSchemaPopover* ToolDetailView::popover() const { return popover_.data(); }

void ToolDetailView::showHeader() {
  title_->setText(QString::fromStdString(model_->category()));
  title_->setAccessibleName(title_->text());
  count_->setText(tr("%1 tools").arg(model_->toolCount()));
  const std::optional<std::string> hint = settings_.groupHint(model_->category());
  hint_->setText(hint ? QString::fromStdString(*hint) : QString());
  hintRow_->setVisible(hint.has_value());
}

void ToolDetailView::rememberRows() {
  const QModelIndex current = list_->currentIndex();
  const QModelIndex tool = toolRowOf(current);
  if (!tool.isValid()) return;
  current_ = {tool.data(ToolDetailModel::SectionRole).toInt(), tool.data(Qt::DisplayRole).toString().toStdString()};
  currentOperation_ = current != tool ? current.data(Qt::DisplayRole).toString().toStdString() : std::string();
}

void ToolDetailView::restoreRows() {
  // The rows are new: a tool keeps its state only in the same section under the same name.
  std::set<std::pair<int, std::string>> kept;
  for (const auto& [section, tool] : expanded_) {
    const QModelIndex index = model_->indexOfTool(tool);
    if (!index.isValid() || index.data(ToolDetailModel::SectionRole).toInt() != section) continue;
    kept.insert({section, tool});
  }
  expanded_ = kept;
  for (const auto& [section, tool] : kept) list_->expand(model_->indexOfTool(tool));

  const QModelIndex tool = model_->indexOfTool(current_.second);
  if (tool.isValid() && tool.data(ToolDetailModel::SectionRole).toInt() == current_.first) {
    QModelIndex target = tool;
    for (int row = 0; row < model_->rowCount(tool); ++row) {
      const QModelIndex operation = model_->index(row, 0, tool);
      if (!currentOperation_.empty() && list_->isExpanded(tool) &&
          operation.data(Qt::DisplayRole).toString().toStdString() == currentOperation_) {
        target = operation;
      }
    }
    list_->setCurrentIndex(target);
  } else {
    current_ = {-1, {}};
  }
  if (popover_ && !model_->indexOfTool(popover_->toolName().toStdString()).isValid()) popover_->close();
}

void ToolDetailView::openSchema(const QModelIndex& toolRow) {
  if (!toolRow.isValid() || ToolDetailModel::kindOf(toolRow) != Kind::tool) return;
  const QString tool = toolRow.data(Qt::DisplayRole).toString();
  if (popover_) {
    const bool same = popover_->toolName() == tool;
    popover_->close();
    if (same) return;  // the button flips the popup
  }
  list_->setCurrentIndex(toolRow);
  const ToolDetailDelegate::Geometry g = delegate_->geometry(list_->visualRect(toolRow), toolRow, list_->viewport());
  const QRect anchor(list_->viewport()->mapToGlobal(g.schema.topLeft()), g.schema.size());
  popover_ = new ToolSchemaPopover(tool, settings_.metadataFetcher(), this);
  connect(popover_, &ToolSchemaPopover::closed, this, [this, tool] {
    // Back to the row the popup belongs to, if it is still shown.
    const QModelIndex row = model_->indexOfTool(tool.toStdString());
    list_->setFocus(Qt::PopupFocusReason);
    if (row.isValid()) list_->setCurrentIndex(row);
  });
  popover_->showBeside(anchor);
}

}  // namespace qd
