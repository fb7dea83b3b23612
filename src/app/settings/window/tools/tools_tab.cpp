#include "app/settings/window/tools/tools_tab.h"

#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "app/settings/tool_settings_view_model.h"
#include "app/settings/window/tools/category_delegate.h"
#include "app/settings/window/tools/category_list_model.h"
#include "app/settings/window/tools/category_sidebar.h"
#include "app/settings/window/tools/item_painting.h"
#include "app/settings/window/tools/tool_detail_view.h"
#include "app/settings/window/tools/tool_library_rules.h"

namespace qd {

namespace {

QFrame* divider(QFrame::Shape shape, QWidget* parent) {
  auto* line = new QFrame(parent);
  line->setFrameShape(shape);
  line->setFrameShadow(QFrame::Sunken);
  return line;
}

QLabel* secondaryLabel(const QString& text, qreal designSize, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setFont(ItemPainting::sized(parent->font(), designSize));
  label->setForegroundRole(QPalette::PlaceholderText);
  label->setWordWrap(true);
  return label;
}

// The sidebar is 200 to 300 wide, 250 when the window lets it.
class SidebarStack : public QStackedWidget {
 public:
  explicit SidebarStack(QWidget* parent) : QStackedWidget(parent) {
    setMinimumWidth(200);
    setMaximumWidth(300);
  }
  QSize sizeHint() const override { return {250, QStackedWidget::sizeHint().height()}; }
};

}  // namespace

ToolsTab::ToolsTab(ToolSettingsViewModel& model, QWidget* parent) : QWidget(parent), model_(model) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(buildHeader());
  layout->addWidget(divider(QFrame::HLine, this));

  auto* body = new QHBoxLayout;
  body->setSpacing(0);
  sidebarStack_ = new SidebarStack(this);
  categories_ = new CategoryListModel(model_, this);
  sidebar_ = new CategorySidebar(sidebarStack_);
  sidebar_->setItemDelegate(new CategoryDelegate(sidebar_));
  sidebar_->setModel(categories_);
  startingUp_ = buildStartingUp();
  sidebarStack_->addWidget(sidebar_);
  sidebarStack_->addWidget(startingUp_);
  body->addWidget(sidebarStack_);
  body->addWidget(divider(QFrame::VLine, this));

  detailStack_ = new QStackedWidget(this);
  detail_ = new ToolDetailView(model_, detailStack_);
  placeholder_ = buildPlaceholder();
  detailStack_->addWidget(detail_);
  detailStack_->addWidget(placeholder_);
  body->addWidget(detailStack_, 1);
  layout->addLayout(body, 1);
  setTabOrder(bulk_, sidebar_);
  setTabOrder(sidebar_, detail_->list());

  connect(sidebar_->selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex& current) {
    if (!current.isValid()) return;
    const QString name = categories_->categoryAt(current.row());
    if (name == selectedCategory_) return;
    selectedCategory_ = name;
    showDetail();
  });
  connect(sidebar_, &CategorySidebar::menuRequested, this, [this](const QModelIndex& index, const QPoint& at) {
    QMenu* menu = categoryMenu(index.row(), this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(at);
  });

  ToolMetadataFetcher& fetcher = model_.metadataFetcher();
  connect(&fetcher, &ToolMetadataFetcher::toolMetadataChanged, this, &ToolsTab::catalogChanged);
  for (auto signal : {&ToolSettingsViewModel::helperToolEnabledChanged, &ToolSettingsViewModel::operationEnabledChanged,
                      &ToolSettingsViewModel::requireExplicitToolEnableChanged,
                      &ToolSettingsViewModel::settingsLoadedChanged}) {
    connect(&model_, signal, this, &ToolsTab::scheduleRefresh);
  }
  connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
    if (state == Qt::ApplicationActive && isVisible()) model_.metadataFetcher().loadToolMetadata();
  });
  catalogChanged();
}

ToolsTab::~ToolsTab() = default;

QWidget* ToolsTab::buildHeader() {
  auto* header = new QWidget(this);
  header->setAutoFillBackground(true);
  header->setBackgroundRole(QPalette::Base);
  auto* row = new QHBoxLayout(header);
  auto* title = new QLabel(tr("Tool Library"), header);
  QFont font = title->font();
  font.setBold(true);
  title->setFont(font);
  bulk_ = new QPushButton(header);
  bulk_->setFlat(true);
  bulk_->setToolTip(tr("Bulk enable or disable all tools."));
  row->addWidget(title);
  row->addStretch(1);
  row->addWidget(bulk_);
  connect(bulk_, &QPushButton::clicked, this, [this] {
    if (model_.settingsLoaded()) ToolLibrary::toggleAllTools(model_);
  });
  return header;
}

QWidget* ToolsTab::buildStartingUp() {
  auto* pane = new QWidget(sidebarStack_);
  auto* column = new QVBoxLayout(pane);
  column->setContentsMargins(12, 12, 12, 12);
  column->setSpacing(8);
  auto* title = new QLabel(tr("Starting Up"), pane);
  title->setFont(ItemPainting::sized(font(), 12));
  QPalette palette = title->palette();
  palette.setColor(QPalette::WindowText, ItemPainting::orange());
  title->setPalette(palette);
  auto* retry = new QPushButton(tr("Retry Now"), pane);
  retry->setFlat(true);
  connect(retry, &QPushButton::clicked, this, [this] { model_.metadataFetcher().loadToolMetadata(); });
  column->addWidget(title);
  column->addWidget(secondaryLabel(tr("Tool library will populate when the tool catalog is ready."), 11, pane));
  column->addWidget(retry, 0, Qt::AlignLeft);
  column->addStretch(1);
  return pane;
}

QWidget* ToolsTab::buildPlaceholder() {
  auto* pane = new QWidget(detailStack_);
  auto* column = new QVBoxLayout(pane);
  column->setSpacing(12);
  column->addStretch(1);
  auto* symbol = new QLabel(pane);
  const QIcon icon = ItemPainting::symbolIcon(ItemPainting::Symbol::placeholder);
  if (icon.isNull()) {
    symbol->setText(ItemPainting::symbolGlyph(ItemPainting::Symbol::placeholder));
  } else {
    symbol->setPixmap(icon.pixmap(48, 48));
  }
  symbol->setAlignment(Qt::AlignCenter);
  auto* title = secondaryLabel(tr("Select a category"), 13, pane);
  QFont font = title->font();
  font.setBold(true);
  title->setFont(font);
  title->setAlignment(Qt::AlignCenter);
  auto* text = secondaryLabel(
      tr("Choose a tool category from the sidebar to view and configure individual tools."), 12, pane);
  text->setAlignment(Qt::AlignCenter);
  // A fixed width, so the wrapped text gets the height it needs.
  text->setFixedWidth(300);
  column->addWidget(symbol, 0, Qt::AlignHCenter);
  column->addWidget(title, 0, Qt::AlignHCenter);
  column->addWidget(text, 0, Qt::AlignHCenter);
  column->addStretch(1);
  return pane;
}

QString ToolsTab::selectedCategory() const { return selectedCategory_; }

void ToolsTab::selectCategory(const QString& name) {
  if (categories_->rowOf(name) < 0 || name == selectedCategory_) return;
  selectedCategory_ = name;
  showSelection();
  showDetail();
}

bool ToolsTab::startingUp() const { return sidebarStack_->currentWidget() == startingUp_; }

bool ToolsTab::showsPlaceholder() const { return detailStack_->currentWidget() == placeholder_; }

void ToolsTab::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  model_.metadataFetcher().loadToolMetadata();
  repairSelection();
  showSelection();
}

void ToolsTab::catalogChanged() {
  categories_->refresh();
  sidebarStack_->setCurrentWidget(categories_->rowCount() > 0 ? static_cast<QWidget*>(sidebar_) : startingUp_);
  repairSelection();
  showSelection();
  showDetail();  // a new catalog: the detail's rows are rebuilt
  updateHeader();
}

void ToolsTab::scheduleRefresh() {
  // One bulk action announces a change per tool and operation: follow them once.
  if (refreshPending_) return;
  refreshPending_ = true;
  QMetaObject::invokeMethod(this, &ToolsTab::refreshSettings, Qt::QueuedConnection);
}

void ToolsTab::refreshSettings() {
  refreshPending_ = false;
  categories_->refreshSummaries();
  detail_->refresh();
  updateHeader();
}

void ToolsTab::repairSelection() {
  if (categories_->rowCount() == 0) {
    selectedCategory_.clear();
    return;
  }
  if (!selectedCategory_.isEmpty() && categories_->rowOf(selectedCategory_) >= 0) return;
  selectedCategory_ = categories_->categoryAt(0);
}

void ToolsTab::showSelection() {
  const int row = categories_->rowOf(selectedCategory_);
  const QModelIndex wanted = row >= 0 ? categories_->index(row) : QModelIndex();
  if (sidebar_->currentIndex() == wanted) return;
  if (wanted.isValid()) {
    sidebar_->setCurrentIndex(wanted);
  } else {
    sidebar_->selectionModel()->clear();
  }
}

void ToolsTab::showDetail() {
  const int row = categories_->rowOf(selectedCategory_);
  if (row < 0) {
    detail_->setCategory({}, {});
    detailStack_->setCurrentWidget(placeholder_);
    return;
  }
  detail_->setCategory(selectedCategory_.toStdString(), categories_->toolsAt(row));
  detailStack_->setCurrentWidget(detail_);
}

void ToolsTab::updateHeader() {
  bulk_->setText(ToolLibrary::anyToolsEnabled(model_) ? tr("Disable All Tools") : tr("Enable All Tools"));
  bulk_->setEnabled(model_.settingsLoaded());
}

QMenu* ToolsTab::categoryMenu(int row, QWidget* parent) {
  auto* menu = new QMenu(parent);
  if (row < 0 || row >= categories_->rowCount()) return menu;
  const std::vector<std::string> tools = categories_->toolsAt(row);
  const ToolLibrary::CategorySummary summary = ToolLibrary::summarize(model_, tools);
  const bool editable = model_.settingsLoaded();
  menu->setAccessibleName(categories_->categoryAt(row));

  const auto add = [&](const QString& text, bool enabled, std::function<void()> action) {
    QAction* item = menu->addAction(text);
    item->setEnabled(editable && enabled);
    connect(item, &QAction::triggered, this, [this, action = std::move(action)] {
      if (model_.settingsLoaded()) action();
    });
  };
  add(summary.enabled ? tr("Disable All") : tr("Enable All"), true, [this, tools] {
    // The opposite of the category's state when chosen, not when the menu opened.
    ToolLibrary::setTools(model_, tools, !ToolLibrary::summarize(model_, tools).enabled);
  });
  menu->addSeparator();
  const struct {
    QString text;
    int count;
    std::string_view capability;
  } capabilityItems[] = {
      {tr("Enable Read-Only (%1)"), summary.readOnlyCount, ToolLibrary::readCapability},
      {tr("Enable Write-Only (%1)"), summary.writeOnlyCount, ToolLibrary::writeCapability},
      {tr("Enable Read-Write (%1)"), summary.readWriteCount, ToolLibrary::readWriteCapability},
  };
  for (const auto& item : capabilityItems) {
    add(item.text.arg(item.count), item.count > 0, [this, tools, capability = std::string(item.capability)] {
      ToolLibrary::setToolsOfCapability(model_, tools, capability, true);
    });
  }
  menu->addSeparator();
  add(tr("Disable All"), true, [this, tools] { ToolLibrary::setTools(model_, tools, false); });
  return menu;
}

}  // namespace qd
