#include "app/settings/window/general_tab.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "app/settings/tool_settings_view_model.h"
#include "app/settings/window/window_widgets.h"

namespace qd {

GeneralTab::GeneralTab(ToolSettingsViewModel& model, std::function<void()> checkForUpdates, QWidget* parent)
    : QWidget(parent), model_(model), checkForUpdates_(std::move(checkForUpdates)) {
  auto* layout = new QVBoxLayout(this);
  layout->setSpacing(16);

  auto* updates = new QGroupBox(tr("Updates"), this);
  auto* updatesLayout = new QVBoxLayout(updates);
  autoDownload_ = new QCheckBox(tr("Automatically Download Updates"), updates);
  autoDownload_->setToolTip(tr("Automatically download app updates when available."));
  checkNow_ = new QPushButton(tr("Check Now"), updates);
  updatesLayout->addWidget(autoDownload_);
  updatesLayout->addLayout(trailingRow(checkNow_));
  layout->addWidget(updates);

  reset_ = new QPushButton(tr("Reset to Defaults"), this);
  layout->addLayout(trailingRow(reset_));
  layout->addStretch(1);

  connect(autoDownload_, &QCheckBox::toggled, this, [this](bool on) { model_.setAutoDownloadUpdates(on); });
  connect(checkNow_, &QPushButton::clicked, this, [this] {
    if (checkForUpdates_) checkForUpdates_();
  });
  connect(reset_, &QPushButton::clicked, this, [this] { model_.resetToDefaults(); });
  connect(&model_, &ToolSettingsViewModel::changed, this, &GeneralTab::showModel);
  showModel();
}

void GeneralTab::showModel() {
  const QSignalBlocker blocker(autoDownload_);
  autoDownload_->setChecked(model_.autoDownloadUpdates());
  autoDownload_->setEnabled(model_.settingsLoaded());
  reset_->setEnabled(model_.settingsLoaded());
}

}  // namespace qd
