#pragma once

// The Advanced tab: custom tool manifests. The switch enables them; the folders editor
// (one path per line; Tab leaves it) and "Max Custom Tools" (a signed integer, committed
// on Enter or when the field loses focus) are disabled while the switch is off and keep
// their values. The model holds the maximum to at least 1 when it sends it.

#include <QWidget>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;

namespace qd {

class ToolSettingsViewModel;

class AdvancedTab : public QWidget {
  Q_OBJECT

 public:
  explicit AdvancedTab(ToolSettingsViewModel& model, QWidget* parent = nullptr);

 private:
  void showModel();
  void commitMaxCustomTools();

  ToolSettingsViewModel& model_;
  QCheckBox* enable_;
  QPlainTextEdit* directories_;
  QLineEdit* maxTools_;
};

}  // namespace qd
