#pragma once

// The Tools tab of the settings window: a header with one bulk button, a sidebar of tool
// categories and the detail of the selected category. It holds no settings of its own:
// every switch writes the settings model, whose change announcement the window root turns
// into a debounced save.
//
// Until the catalog has arrived the sidebar shows "Starting Up" with "Retry Now" and the
// detail a placeholder. The selection always names a category of the grouping: the first
// one once a catalog arrives, and again when the selected one disappears. The catalog is
// asked for whenever the tab is shown and when the application becomes active while it is
// shown. A new catalog resets the lists; a settings change only updates the rows it
// touches, after the change's burst of announcements (one pass per event-loop turn).
// Until the settings are loaded every switch is disabled; browsing and schemas work.

#include <QString>
#include <QWidget>

#include <optional>

class QMenu;
class QPushButton;
class QStackedWidget;

namespace qd {

class ToolSettingsViewModel;
class CategoryListModel;
class CategorySidebar;
class ToolDetailView;

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

  CategorySidebar* sidebar() const { return sidebar_; }
  CategoryListModel* categories() const { return categories_; }
  ToolDetailView* detail() const { return detail_; }
  QPushButton* bulkButton() const { return bulk_; }
  // The sidebar shows "Starting Up" (no catalog yet).
  bool startingUp() const;
  // The detail shows the placeholder instead of a category.
  bool showsPlaceholder() const;
  // The context menu of a sidebar row, unshown (the caller owns it).
  QMenu* categoryMenu(int row, QWidget* parent = nullptr);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QWidget* buildHeader();
  QWidget* buildStartingUp();
  QWidget* buildPlaceholder();
  void catalogChanged();
  void scheduleRefresh();
  void refreshSettings();
  void repairSelection();
  void showSelection();
  void showDetail();
  void updateHeader();

  ToolSettingsViewModel& model_;
  QString selectedCategory_;
  CategoryListModel* categories_;
  CategorySidebar* sidebar_;
  ToolDetailView* detail_;
  QPushButton* bulk_ = nullptr;
  QStackedWidget* sidebarStack_;
  QStackedWidget* detailStack_;
  QWidget* startingUp_;
  QWidget* placeholder_;
  bool refreshPending_ = false;
};

}  // namespace qd
