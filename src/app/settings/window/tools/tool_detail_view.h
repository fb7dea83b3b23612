#pragma once

// The Tools tab's detail pane for one category: a header (name, tool count, the category's
// hint) over the tool list. The list is one tree view over ToolDetailModel; rows are drawn
// by ToolDetailDelegate, with no widget per row.
//
// Keys on the list: Space switches the current tool or operation, Right and Left expand and
// collapse a tool's operations, Enter opens the schema popup of the current tool, and
// Escape closes it, returning focus to the row. Mouse: the disclosure arrow, the switch,
// the check boxes and the schema button.
//
// Row state is kept by tool name (and section) for as long as the row stays in the list:
// a new catalog for the same category keeps the expanded tools and the current row; another
// category, or a tool moving to another section, drops them.

#include <QPointer>
#include <QTreeView>
#include <QWidget>

#include <set>
#include <string>
#include <utility>
#include <vector>

class QLabel;

namespace qd {

class ToolSettingsViewModel;
class ToolDetailModel;
class ToolDetailDelegate;
class ToolSchemaPopover;

class ToolTreeView : public QTreeView {
  Q_OBJECT

 public:
  explicit ToolTreeView(QWidget* parent = nullptr);
  void setDetailDelegate(ToolDetailDelegate* delegate);

 signals:
  void schemaRequested(const QModelIndex& toolRow);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void toggle(const QModelIndex& index);
  ToolDetailDelegate* delegate_ = nullptr;
  QPersistentModelIndex pressed_;
};

class ToolDetailView : public QWidget {
  Q_OBJECT

 public:
  ToolDetailView(ToolSettingsViewModel& model, QWidget* parent = nullptr);
  ~ToolDetailView() override;

  // Shows the category's tools, resetting the list (also for the same category: a new catalog).
  void setCategory(const std::string& category, const std::vector<std::string>& tools);
  // Follows a settings change without resetting the list.
  void refresh();

  ToolTreeView* list() const { return list_; }
  ToolDetailModel* model() const { return model_; }
  // The open schema popup, or null.
  ToolSchemaPopover* popover() const;
  void openSchema(const QModelIndex& toolRow);

 private:
  void rememberRows();
  void restoreRows();
  void showHeader();

  ToolSettingsViewModel& settings_;
  ToolDetailModel* model_;
  ToolDetailDelegate* delegate_;
  ToolTreeView* list_;
  QLabel* title_;
  QLabel* count_;
  QWidget* hintRow_;
  QLabel* hint_;
  QPointer<ToolSchemaPopover> popover_;
  std::set<std::pair<int, std::string>> expanded_;  // (section, tool)
  std::pair<int, std::string> current_{-1, {}};
  std::string currentOperation_;
};

}  // namespace qd
