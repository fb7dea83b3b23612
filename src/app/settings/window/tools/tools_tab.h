#pragma once

// The Tools tab of the settings window: a header with one bulk button, a sidebar of tool
// categories and the detail of the selected category. It holds no settings of its own:
// every switch writes the settings model, whose change announcement the window root turns
// into a debounced save.

#include <QString>
#include <QWidget>

namespace qd {

class ToolSettingsViewModel;

class ToolsTab : public QWidget {
  Q_OBJECT

 public:
  // The model outlives the tab (the window root owns both).
  explicit ToolsTab(ToolSettingsViewModel& model, QWidget* parent = nullptr);
  ~ToolsTab() override;

  // The selected category; empty when none is selected.
  QString selectedCategory() const;
  // Selects a category by name (for drivers and tests); an unknown name changes nothing.
  void selectCategory(const QString& name);

 private:
  ToolSettingsViewModel& model_;
  QString selectedCategory_;
};

}  // namespace qd
