#pragma once

// The first tab ("Settings"): the "Updates" group with the automatic-download switch and
// "Check Now", and "Reset to Defaults" below it. The switch and the reset edit settings,
// so they are disabled until the settings have been loaded; "Check Now" always works.

#include <QWidget>

#include <functional>

class QCheckBox;
class QPushButton;

namespace qd {

class ToolSettingsViewModel;

class GeneralTab : public QWidget {
  Q_OBJECT

 public:
  // `checkForUpdates` runs a check the user asked for; the updater reports the outcome.
  GeneralTab(ToolSettingsViewModel& model, std::function<void()> checkForUpdates, QWidget* parent = nullptr);

 private:
  void showModel();

  ToolSettingsViewModel& model_;
  std::function<void()> checkForUpdates_;
  QCheckBox* autoDownload_;
  QPushButton* checkNow_;
  QPushButton* reset_;
};

}  // namespace qd
