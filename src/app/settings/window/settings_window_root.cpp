#include "app/settings/window/settings_window_root.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QTabWidget>
#include <QVBoxLayout>

#include <stdexcept>

#include "app/settings/tool_settings_view_model.h"
#include "app/settings/window/advanced_tab.h"
#include "app/settings/window/clients_tab.h"
#include "app/settings/window/general_tab.h"
#include "app/settings/window/logging_tab.h"
#include "app/settings/window/tools/tools_tab.h"
#include "app/settings/window/window_widgets.h"

namespace qd {

SettingsWindowRoot::SettingsWindowRoot(ToolSettingsViewModel& model, Options options, QWidget* parent)
    : QWidget(parent), model_(model) {
  if (options.alerts == nullptr) throw std::invalid_argument("SettingsWindowRoot needs an alert presenter");
  setWindowTitle(tr("Settings"));
  setMinimumSize(minimumWindowSize);
  resize(defaultWindowSize);

  auto* layout = new QVBoxLayout(this);
  tabs_ = new QTabWidget(this);
  toolsTab_ = new ToolsTab(model_, tabs_);
  clientsTab_ = new ClientsTab(*options.alerts, options.installer, tabs_);
  tabs_->addTab(new GeneralTab(model_, options.checkForUpdates, tabs_),
                themedIcon(QStringLiteral("preferences-system"), QStyle::SP_ComputerIcon), tr("Settings"));
  tabs_->addTab(toolsTab_, themedIcon(QStringLiteral("applications-utilities"), QStyle::SP_FileDialogDetailedView),
                tr("Tools"));
  tabs_->addTab(clientsTab_, themedIcon(QStringLiteral("computer"), QStyle::SP_DesktopIcon), tr("Clients"));
  // Exact comparison: "Release" or an empty tier is not the release tier.
  if (model_.featureTier() != "release") {
    tabs_->addTab(new LoggingTab(model_, options.environment, tabs_),
                  themedIcon(QStringLiteral("text-x-generic"), QStyle::SP_FileIcon), tr("Logging"));
    tabs_->addTab(new AdvancedTab(model_, tabs_),
                  themedIcon(QStringLiteral("dialog-warning"), QStyle::SP_MessageBoxWarning), tr("Advanced"));
  }
  layout->addWidget(tabs_, 1);

  statusLine_ = new QWidget(this);
  auto* statusLayout = new QHBoxLayout(statusLine_);
  statusLayout->setContentsMargins(0, 0, 0, 0);
  statusLabel_ = new QLabel(statusLine_);
  statusLabel_->setWordWrap(true);
  statusLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  retry_ = new QPushButton(tr("Retry"), statusLine_);
  auto* statusIcon = new QLabel(statusLine_);
  statusIcon->setPixmap(themedIcon(QStringLiteral("dialog-warning"), QStyle::SP_MessageBoxWarning).pixmap(16, 16));
  statusLayout->addWidget(statusIcon);
  statusLayout->addWidget(statusLabel_, 1);
  statusLayout->addWidget(retry_);
  layout->addWidget(statusLine_);

  connect(retry_, &QPushButton::clicked, this, [this] { model_.reload(); });
  connect(&model_, &ToolSettingsViewModel::changed, this, [this] {
    // Only while shown: hiding saved everything edited, and a hidden window must not keep
    // retrying a failing save (each failure is itself a change) for the rest of the run.
    if (isVisible()) model_.scheduleAutoSave();
    showStatus();
  });
  connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
    if (state == Qt::ApplicationActive && isVisible()) model_.reload();
  });
  auto* close = new QShortcut(QKeySequence::Close, this);
  close->setContext(Qt::WindowShortcut);
  connect(close, &QShortcut::activated, this, [this] { window()->close(); });

  if (options.registerPreStop) {
    options.registerPreStop([model = &model_] { model->flushPendingSave(); });
  }
  showStatus();
}

SettingsWindowRoot::~SettingsWindowRoot() = default;

QString SettingsWindowRoot::statusText() const { return statusLine_->isHidden() ? QString() : statusLabel_->text(); }

void SettingsWindowRoot::showStatus() {
  const std::string& message = model_.statusMessage();
  const bool loaded = model_.settingsLoaded();
  QString text;
  if (!loaded) {
    text = message.empty() ? tr("Loading settings from the service...") : QString::fromStdString(message);
    text += QLatin1Char(' ') + tr("Settings cannot be changed until they are read from the service.");
  } else if (!message.empty() && message != ToolSettingsViewModel::savedStatus) {
    text = QString::fromStdString(message);
  }
  statusLabel_->setText(text);
  retry_->setVisible(!loaded);
  statusLine_->setHidden(text.isEmpty());
}

void SettingsWindowRoot::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  model_.reload();
}

void SettingsWindowRoot::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  // Closing hides the window; an edit still inside the debounce is saved now.
  model_.save();
}

}  // namespace qd
