#include "app/settings/window/clients_tab.h"

#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "app/settings/window/tools/item_painting.h"

namespace qd {
namespace {

// Nothing of the installed test alerts; this keeps the worker's installer from needing
// the window's presenter.
class SilentAlerts final : public AlertPresenter {
 public:
  void present(const Alert&) override {}
};

// One line of text elided in the middle to the label's width.
class MiddleElidedLabel : public QLabel {
 public:
  MiddleElidedLabel(QString text, QWidget* parent) : QLabel(parent), full_(std::move(text)) {
    setToolTip(full_);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setMinimumWidth(40);
    setText(full_);
  }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QLabel::resizeEvent(event);
    setText(fontMetrics().elidedText(full_, Qt::ElideMiddle, width()));
  }

 private:
  QString full_;
};

// The palette of a button filled with the accent colour.
QPalette accentPalette(QPalette palette) {
  for (const auto group : {QPalette::Active, QPalette::Inactive}) {
    palette.setColor(group, QPalette::Button, palette.color(group, QPalette::Highlight));
    palette.setColor(group, QPalette::ButtonText, palette.color(group, QPalette::HighlightedText));
  }
  return palette;
}

}  // namespace

ClientsTab::ClientsTab(AlertPresenter& alerts, MCPInstallerOptions options, QWidget* parent)
    : QWidget(parent), options_(options), installer_(alerts, std::move(options)) {
  pool_.setMaxThreadCount(1);
  timer_.setInterval(refreshInterval);
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, &ClientsTab::refresh);

  auto* layout = new QVBoxLayout(this);
  auto* scroll = new QScrollArea(this);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::StyledPanel);
  auto* list = new QWidget(scroll);
  auto* listLayout = new QVBoxLayout(list);
  listLayout->setSpacing(0);

  const ClientConfigLocations locations = installer_.locations();
  for (const auto& entry : ClientLibrary::stableClients()) {
    Row row;
    row.entry = entry;
    const auto found = locations.defaultLocations(entry.id);
    if (!found.empty()) row.path = found.front().path;
    rows_.push_back(std::move(row));
  }
  for (auto& row : rows_) {
    buildRow(row, list);
    listLayout->addWidget(row.button->parentWidget());
  }
  listLayout->addStretch(1);
  scroll->setWidget(list);
  layout->addWidget(scroll);
}

ClientsTab::~ClientsTab() {
  timer_.stop();
  pool_.waitForDone();
}

void ClientsTab::buildRow(Row& row, QWidget* list) {
  auto* widget = new QWidget(list);
  auto* layout = new QHBoxLayout(widget);
  layout->setContentsMargins(8, 4, 8, 4);
  layout->setSpacing(12);
  row.dot = new QLabel(widget);
  row.dot->setFixedSize(8, 8);
  layout->addWidget(row.dot, 0, Qt::AlignVCenter);

  auto* column = new QVBoxLayout;
  column->setSpacing(2);
  auto* title = new QLabel(QString::fromStdString(row.entry.title), widget);
  QFont titleFont = title->font();
  titleFont.setWeight(QFont::Medium);
  title->setFont(titleFont);
  column->addWidget(title);
  if (row.path) {
    auto* path = new MiddleElidedLabel(QString::fromStdString(*row.path), widget);
    QFont captionFont = path->font();
    captionFont.setPointSizeF(captionFont.pointSizeF() * 0.9);
    path->setFont(captionFont);
    path->setForegroundRole(QPalette::PlaceholderText);
    column->addWidget(path);
  }
  layout->addLayout(column, 1);

  row.button = new QPushButton(widget);
  layout->addWidget(row.button, 0, Qt::AlignVCenter);
  const std::string id = row.entry.id;
  connect(row.button, &QPushButton::clicked, this, [this, id] {
    for (auto& candidate : rows_) {
      if (candidate.entry.id == id) press(candidate);
    }
  });
  showRow(row);
}

void ClientsTab::showRow(Row& row) {
  row.dot->setPixmap(ItemPainting::dotPixmap(row.installed ? QColor(0x34, 0xc7, 0x59) : palette().color(QPalette::Mid), 8));
  row.dot->setAccessibleName(row.installed ? tr("Installed") : tr("Not installed"));
  row.button->setText(row.installed ? tr("Remove") : tr("Install"));
  // "Install" is the prominent action: the style's default-button look, filled with the
  // accent colour. "Remove" is a plain button. (Outside a dialog a default button takes no
  // Return key, so several rows may show it.)
  row.button->setDefault(!row.installed);
  row.button->setPalette(row.installed ? QPalette() : accentPalette(palette()));
  row.button->setAccessibleDescription(QString::fromStdString(row.entry.title));
}

void ClientsTab::press(Row& row) {
  if (row.path) {
    const bool holdsEntries = row.installed ? !installer_.uninstall(*row.path, row.entry.id)
                                            : installer_.install(*row.path, row.entry.id, "user", true);
    row.installed = holdsEntries;
    showRow(row);
  }
  if (refreshing_) stale_ = true;
  refresh();
}

void ClientsTab::refresh() {
  if (refreshing_) {
    refreshAgain_ = true;
    return;
  }
  refreshing_ = true;
  stale_ = false;
  std::vector<std::optional<std::string>> paths;
  for (const auto& row : rows_) paths.push_back(row.path);
  QPointer<ClientsTab> self(this);
  pool_.start([self, paths = std::move(paths), options = options_] {
    SilentAlerts silent;
    const MCPInstaller reader(silent, options);
    std::vector<bool> installed;
    for (const auto& path : paths) installed.push_back(path && reader.isInstalledInConfigPath(*path));
    // The destructor waits for this task, so the tab is still alive here; a posted call
    // that arrives after it is gone is dropped with it.
    QMetaObject::invokeMethod(
        self.data(), [self, installed = std::move(installed)]() mutable {
          if (self) self->applyRefresh(std::move(installed));
        },
        Qt::QueuedConnection);
  });
}

void ClientsTab::applyRefresh(std::vector<bool> installed) {
  refreshing_ = false;
  if (stale_ || refreshAgain_) {
    // Read before an install or removal finished, or a newer tick is waiting: read again.
    const bool stale = stale_;
    refreshAgain_ = false;
    refresh();
    if (stale) return;
  }
  for (std::size_t i = 0; i < rows_.size() && i < installed.size(); ++i) {
    if (rows_[i].installed == installed[i]) continue;
    rows_[i].installed = installed[i];
    showRow(rows_[i]);
  }
  emit refreshed();
}

std::vector<ClientsTab::RowView> ClientsTab::rows() const {
  std::vector<RowView> out;
  for (const auto& row : rows_) out.push_back({row.entry.id, row.path, row.installed, row.button});
  return out;
}

void ClientsTab::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  // The dots and the accent of "Install" take their colours from the palette.
  if (event->type() != QEvent::PaletteChange) return;
  for (auto& row : rows_) showRow(row);
}

void ClientsTab::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  refresh();
  timer_.start();
}

void ClientsTab::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  timer_.stop();
}

}  // namespace qd
