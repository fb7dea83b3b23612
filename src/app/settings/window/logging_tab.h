#pragma once

// The Logging tab: the tool-call logging switch, the destination picker (four exclusive
// buttons; arrow keys move between them), what each destination means, and "Open Logs
// Folder...". The picker is disabled while logging is off and keeps its value. The "File"
// line names the file the daemon really appends to, in its data folder, with the home
// folder written as "~".

#include <QWidget>

#include <array>

#include "platform/environment.h"

class QButtonGroup;
class QCheckBox;
class QLabel;
class QPushButton;

namespace qd {

class ToolSettingsViewModel;

class LoggingTab : public QWidget {
  Q_OBJECT

 public:
  LoggingTab(ToolSettingsViewModel& model, const platform::Environment& environment, QWidget* parent = nullptr);

  // The four lines of the destinations note for this environment.
  static QString destinationsText(const platform::Environment& environment);

 private:
  void showModel();

  ToolSettingsViewModel& model_;
  QCheckBox* enable_;
  QButtonGroup* destinations_;
  std::array<QPushButton*, 4> segments_{};
  QPushButton* openFolder_;
};

}  // namespace qd
