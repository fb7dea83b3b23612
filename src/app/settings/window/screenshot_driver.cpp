// The settings window's screenshot driver for scripts/settings-screenshots.sh: shows the
// production window over the running daemon (it must be installed as bin/QuarvelDorarov
// beside the daemon executable, or the daemon refuses it), walks through the states worth
// seeing and saves one PNG of the screen area of the window for each. Prints one line per
// shot, the switch click times, and any tab whose content does not fit at the minimum size.
//
//   QuarvelDorarov --out <dir> --phase release    one shot of the release tier's tabs
//   QuarvelDorarov --out <dir> --phase full --daemon-pid <pid>
//                                                  every other shot; stops the daemon last
// --min-tools <n> waits until the daemon's catalog holds at least n tools.

#include <signal.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QKeyEvent>
#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/settings/tool_settings_view_model.h"
#include "app/settings/window/clients_tab.h"
#include "app/settings/window/settings_window_root.h"
#include "app/settings/window/tools/tools_tab.h"
#include "app/widget_alerts.h"

namespace {

using qd::SettingsWindowRoot;
using qd::ToolSettingsViewModel;

bool waitUntil(const std::function<bool()>& condition, int seconds) {
  QElapsedTimer timer;
  timer.start();
  while (!condition()) {
    if (timer.elapsed() > seconds * 1000) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// Lets the window paint (the X server draws asynchronously).
void settle() {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < 400) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

class Driver {
 public:
  Driver(QString out, SettingsWindowRoot& root, ToolSettingsViewModel& model)
      : out_(std::move(out)), root_(root), model_(model) {}

  // The screen under the window, so popups and sheets over it are in the picture too.
  void shot(const QString& name, QWidget* widget = nullptr) {
    settle();
    QWidget* target = widget ? widget : root_.window();
    const QRect frame = target->frameGeometry();
    const QPixmap pixmap =
        QGuiApplication::primaryScreen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    const QString path = out_ + "/" + name + ".png";
    const bool saved = pixmap.save(path);
    std::printf("%s %s (%dx%d)\n", saved ? "shot" : "FAILED shot", qPrintable(path), target->width(),
                target->height());
    failures_ += saved ? 0 : 1;
  }

  void showTab(const QString& label) {
    for (int i = 0; i < root_.tabs()->count(); ++i) {
      if (root_.tabs()->tabText(i) == label) root_.tabs()->setCurrentIndex(i);
    }
  }

  // Shoots the modal alert the action opens, then dismisses it.
  void shotOfAlert(const QString& name, const std::function<void()>& action) {
    bool shotTaken = false;
    QTimer::singleShot(0, [&] {
      if (!waitUntil([] { return QApplication::activeModalWidget() != nullptr; }, 10)) return;
      QWidget* alert = QApplication::activeModalWidget();
      shot(name, alert);
      shotTaken = true;
      if (auto* box = qobject_cast<QMessageBox*>(alert)) box->accept();
    });
    action();
    if (!shotTaken) {
      std::printf("FAILED shot %s: no alert\n", qPrintable(name));
      ++failures_;
    }
  }

  // Flips the tool's switch and waits for the window to repaint, n times.
  void printClickTimes(const std::string& tool, int n) {
    std::vector<double> times;
    for (int i = 0; i < n; ++i) {
      QElapsedTimer timer;
      timer.start();
      model_.setToolEnabledConsideringOperations(!model_.isEnabled(tool), tool);
      QCoreApplication::processEvents();
      root_.repaint();
      times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    std::printf("switch click (%s, %zu tools shown): median %.2f ms, max %.2f ms\n", tool.c_str(),
                model_.toolNames().size(), times[times.size() / 2], times.back());
  }

  // The Tools tab's detail: the item view with the most rows once a category is selected.
  QAbstractItemView* detailView() const {
    QAbstractItemView* best = nullptr;
    for (auto* view : root_.toolsTab()->findChildren<QAbstractItemView*>()) {
      if (!view->isVisible() || view->model() == nullptr) continue;
      if (best == nullptr || view->model()->rowCount() > best->model()->rowCount()) best = view;
    }
    return best;
  }

  static void press(QWidget* target, int key) {
    QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
    QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(target, &down);
    QApplication::sendEvent(target, &up);
  }

  // Puts the detail's current row on the tool (by its shown name), else on the first row.
  static void selectRow(QAbstractItemView* view, const std::string& tool) {
    QAbstractItemModel* model = view->model();
    QModelIndex chosen = model->index(0, 0);
    for (int row = 0; row < model->rowCount(); ++row) {
      const QModelIndex index = model->index(row, 0);
      if (index.data(Qt::DisplayRole).toString() == QString::fromStdString(tool)) chosen = index;
    }
    view->setFocus(Qt::TabFocusReason);
    view->setCurrentIndex(chosen);
    view->scrollTo(chosen);
  }

  // A switch click as the user makes it, Space on the current row, until the window has
  // repainted, n times.
  void printKeyClickTimes(QAbstractItemView* view, int n) {
    std::vector<double> times;
    for (int i = 0; i < n; ++i) {
      QElapsedTimer timer;
      timer.start();
      press(view, Qt::Key_Space);
      QCoreApplication::processEvents();
      root_.repaint();
      times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    std::printf("switch click (Space in the tool list, %d rows): median %.2f ms, max %.2f ms\n",
                view->model()->rowCount(), times[times.size() / 2], times.back());
  }

  void reportClipping() {
    for (int i = 0; i < root_.tabs()->count(); ++i) {
      QWidget* page = root_.tabs()->widget(i);
      const QSize needed = page->minimumSizeHint();
      const bool fits = needed.width() <= page->width() && needed.height() <= page->height();
      std::printf("%s at %dx%d: tab \"%s\" needs %dx%d\n", fits ? "fits" : "CLIPPED", root_.width(), root_.height(),
                  qPrintable(root_.tabs()->tabText(i)), needed.width(), needed.height());
      failures_ += fits ? 0 : 1;
    }
  }

  int failures() const { return failures_; }
  void fail(const char* what) {
    std::printf("FAILED: %s\n", what);
    ++failures_;
  }

 private:
  QString out_;
  SettingsWindowRoot& root_;
  ToolSettingsViewModel& model_;
  int failures_ = 0;
};

QString argumentAfter(const QStringList& args, const QString& name) {
  const qsizetype at = args.indexOf(name);
  return at >= 0 && at + 1 < args.size() ? args[at + 1] : QString();
}

// The largest category and a tool in it, preferring one with operations.
std::pair<std::string, std::string> busiestCategory(const ToolSettingsViewModel& model) {
  std::pair<std::string, std::string> best;
  std::size_t most = 0;
  for (const auto& [category, tools] : model.groupedTools()) {
    if (tools.size() <= most) continue;
    most = tools.size();
    best = {category, tools.front()};
    for (const auto& tool : tools) {
      if (!model.operations(tool).empty()) {
        best.second = tool;
        break;
      }
    }
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  const QStringList args = application.arguments();
  const QString out = argumentAfter(args, "--out");
  const QString phase = argumentAfter(args, "--phase");
  if (out.isEmpty() || (phase != "release" && phase != "full")) {
    std::fprintf(stderr, "usage: %s --out <dir> --phase release|full [--daemon-pid <pid>]\n", argv[0]);
    return 2;
  }

  qd::MessageBoxAlerts alerts;
  ToolSettingsViewModel model;
  SettingsWindowRoot::Options options;
  options.alerts = &alerts;
  // The tray's updater is not part of this program; its alert is played by a stand-in.
  options.checkForUpdates = [&alerts] {
    alerts.present({qd::Alert::Style::informational, "Software Updates",
                    "Updates are installed with the package this program came from."});
  };
  SettingsWindowRoot root(model, std::move(options));
  root.show();
  Driver driver(out, root, model);

  if (!waitUntil([&] { return model.settingsLoaded(); }, 30)) driver.fail("the settings did not load");
  if (!waitUntil([&] { return !model.metadataFetcher().isLoading() && !model.toolNames().empty(); }, 30)) {
    driver.fail("the tool catalog did not load");
  }
  // The daemon offers its note app's tools once that server has started: ask again until
  // the catalog is as large as the caller expects.
  const std::size_t minTools = argumentAfter(args, "--min-tools").toULong();
  waitUntil([&] {
    if (model.metadataFetcher().isLoading() || model.toolNames().size() >= minTools) {
      return model.toolNames().size() >= minTools;
    }
    QThread::msleep(250);
    model.metadataFetcher().loadToolMetadata();
    return false;
  }, 60);
  std::printf("tier \"%s\", %zu tools in the catalog\n", model.featureTier().c_str(), model.toolNames().size());

  if (phase == "release") {
    driver.shot("release-tier-tabs");
    root.close();
    return driver.failures() == 0 ? 0 : 1;
  }

  const QStringList tabs{"Settings", "Tools", "Clients", "Logging", "Advanced"};
  for (const QString& tab : tabs) {
    driver.showTab(tab);
    driver.shot("tab-" + tab.toLower());
  }

  driver.showTab("Settings");
  QAbstractButton* checkNow = nullptr;
  for (auto* button : root.findChildren<QAbstractButton*>()) {
    if (button->text() == "Check Now") checkNow = button;
  }
  driver.shotOfAlert("settings-check-now-alert", [&] { checkNow->click(); });

  const auto [category, tool] = busiestCategory(model);
  driver.showTab("Tools");
  root.toolsTab()->selectCategory(QString::fromStdString(category));
  driver.shot("tools-category-selected");
  driver.printClickTimes(tool, 20);
  if (QAbstractItemView* detail = driver.detailView()) {
    Driver::selectRow(detail, tool);
    driver.printKeyClickTimes(detail, 20);
    Driver::press(detail, Qt::Key_Right);
    driver.shot("tools-tool-expanded");
    Driver::press(detail, Qt::Key_Return);
    driver.shot("tools-popover-open");
    // The popup opens beside the schema button, so it may reach past the window.
    if (QWidget* popup = QApplication::activePopupWidget()) driver.shot("tools-popover-content", popup);
    if (QWidget* popup = QApplication::activePopupWidget()) Driver::press(popup, Qt::Key_Escape);
  } else {
    std::printf("skipped: the Tools tab shows no tool list, so no expanded tool and no popover\n");
  }

  driver.showTab("Clients");
  for (const auto& row : root.clientsTab()->rows()) {
    if (row.id == "claude_code") row.button->click();
  }
  waitUntil([&] { return root.clientsTab()->rows().front().installed; }, 10);
  driver.shot("clients-one-installed");

  root.resize(SettingsWindowRoot::minimumWindowSize);
  for (const QString& tab : tabs) {
    driver.showTab(tab);
    driver.shot("minimum-" + tab.toLower());
  }
  // The top of the sidebar, where descriptions wrap, beside the first category's tools.
  if (!model.groupedTools().empty()) {
    driver.showTab("Tools");
    root.toolsTab()->selectCategory(QString::fromStdString(model.groupedTools().front().first));
    driver.shot("minimum-tools-first-category");
  }
  driver.reportClipping();
  root.resize(SettingsWindowRoot::defaultWindowSize);

  // The daemon goes away: the catalog empties ("Starting Up") and a save fails.
  const long daemonPid = argumentAfter(args, "--daemon-pid").toLong();
  if (daemonPid > 0) {
    ::kill(static_cast<pid_t>(daemonPid), SIGTERM);
    waitUntil([&] { return ::kill(static_cast<pid_t>(daemonPid), 0) != 0; }, 30);
    model.metadataFetcher().loadToolMetadata();
    waitUntil([&] { return !model.metadataFetcher().isLoading(); }, 30);
    driver.showTab("Tools");
    driver.shot("tools-starting-up");

    driver.showTab("Advanced");
    model.setMaxCustomTools(model.maxCustomTools() + 1);
    if (!waitUntil([&] { return model.statusMessage().starts_with(ToolSettingsViewModel::saveFailedPrefix); }, 30)) {
      driver.fail("the save did not fail");
    }
    driver.shot("status-line-failed-save");
  }
  root.hide();
  return driver.failures() == 0 ? 0 : 1;
}
