#pragma once

// The Clients tab: one row per AI client of the client table, in its order, with a status
// dot (green when our entries are in the client's default configuration file), the title,
// the file's path (elided in the middle; the full path is the tooltip) and "Install" (the
// prominent button) or "Remove" (a plain one). While the tab is shown it re-reads the
// installed state every 2.5 s.
//
// The rows are built once and updated in place, so a refresh keeps the focus and a press
// in progress. The installed tests read the client files (~/.claude.json can be large) on
// a worker thread, one refresh at a time; a refresh asked meanwhile runs after it, and a
// result read before an install or removal finished is dropped for a fresh one. Install
// and remove run on the GUI thread, since their alerts are modal.

#include <QThreadPool>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "app/installer/alert_presenter.h"
#include "app/installer/client_library.h"
#include "app/installer/mcp_installer.h"

class QLabel;
class QPushButton;

namespace qd {

class ClientsTab : public QWidget {
  Q_OBJECT

 public:
  static constexpr std::chrono::milliseconds refreshInterval{2500};

  ClientsTab(AlertPresenter& alerts, MCPInstallerOptions options, QWidget* parent = nullptr);
  // Waits for a refresh in flight.
  ~ClientsTab() override;

  // One tick: re-reads the installed state of every row off the GUI thread.
  void refresh();
  bool refreshTimerActive() const { return timer_.isActive(); }

  struct RowView {
    std::string id;
    std::optional<std::string> path;
    bool installed = false;
    QPushButton* button = nullptr;
  };
  std::vector<RowView> rows() const;

 signals:
  // A refresh's results were applied to the rows.
  void refreshed();

 protected:
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  struct Row {
    ClientLibraryEntry entry;
    std::optional<std::string> path;
    bool installed = false;
    QLabel* dot = nullptr;
    QPushButton* button = nullptr;
  };

  void buildRow(Row& row, QWidget* list);
  void showRow(Row& row);
  void press(Row& row);
  void applyRefresh(std::vector<bool> installed);

  MCPInstallerOptions options_;
  MCPInstaller installer_;
  std::vector<Row> rows_;
  QTimer timer_;
  QThreadPool pool_;
  bool refreshing_ = false;
  bool refreshAgain_ = false;  // a refresh was asked while one ran
  bool stale_ = false;         // an install or removal ran while a refresh was reading
};

}  // namespace qd
