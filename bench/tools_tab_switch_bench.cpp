// bench-deps: qd_settings_tools_tab qd_settings_model
// A switch click in the settings window's Tools tab with 500 tools in one category (every
// tenth with three operations): Space on the current tool row, until the tab has processed
// the change and repainted, on the offscreen platform. Beside it the floor: the same
// switch flipped on the settings model with no window at all. Target: a click within
// 30 ms in a release build.
// Usage: tools_tab_switch_bench [clicks]

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/settings/tool_settings_view_model.h"
#include "app/settings/window/tools/tool_detail_model.h"
#include "app/settings/window/tools/tool_detail_view.h"
#include "app/settings/window/tools/tools_tab.h"

namespace {

qd::Json catalog() {
  qd::Json tools = qd::Json::array();
  for (int i = 0; i < 500; ++i) {
    qd::Json tool{{"name", "tool_" + std::to_string(1000 + i)},
                  {"description", "Does thing number " + std::to_string(i) + " to the notes it is given."},
                  {"parameters", qd::Json::array()},
                  {"readOnly", i % 3 == 0},
                  {"capability", i % 3 == 0 ? "read" : "readwrite"},
                  {"group", "Big"}};
    if (i % 10 == 0) tool["operations"] = {"list", "create", "delete"};
    tools.push_back(tool);
  }
  return qd::Json{{"timestamp", 1}, {"tools", tools}};
}

struct Figures {
  double median;
  double p90;
  double max;
};

Figures figures(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return {times[times.size() / 2], times[times.size() * 9 / 10], times.back()};
}

template <typename Step>
std::vector<double> timeSteps(int n, Step step) {
  std::vector<double> times;
  for (int i = 0; i < n; ++i) {
    QElapsedTimer timer;
    timer.start();
    step();
    times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
  }
  return times;
}

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  const int clicks = argc > 1 ? std::max(10, std::atoi(argv[1])) : 200;

  const qd::Json tools = catalog();
  const qd::AdminCall admin = [tools](const std::string& method, const std::optional<qd::Json>&) -> qd::Json {
    if (method == "app_get_tool_catalog") return tools;
    if (method == "app_get_settings") return qd::Json::object();
    return qd::Json{{"saved", true}};
  };
  qd::ToolMetadataFetcher fetcher(admin);
  qd::ToolSettingsViewModel::Options options;
  options.adminCall = admin;
  options.schedule = [](std::chrono::milliseconds, std::function<void()>) {};  // no saves
  options.metadataFetcher = &fetcher;
  options.readAutoDownloadUpdates = [] { return false; };
  options.writeAutoDownloadUpdates = [](bool) {};
  options.loadCatalog = false;
  qd::ToolSettingsViewModel model(std::move(options));
  fetcher.loadToolMetadata();
  fetcher.waitForLoads();
  while (!model.settingsLoaded() || fetcher.toolMetadata().size() < 500) QCoreApplication::processEvents();

  const std::string tool = "tool_1250";  // has operations
  const std::vector<double> floor = timeSteps(clicks, [&] {
    model.setToolEnabledConsideringOperations(!model.isEnabled(tool), tool);
    QCoreApplication::processEvents();
  });

  qd::ToolsTab tab(model);
  tab.resize(700, 560);
  tab.show();
  fetcher.waitForLoads();
  QCoreApplication::processEvents();
  tab.selectCategory("Big");
  qd::ToolTreeView* list = tab.detail()->list();
  list->setFocus();
  list->setCurrentIndex(tab.detail()->model()->indexOfTool(tool));
  tab.repaint();
  const std::vector<double> window = timeSteps(clicks, [&] {
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    QApplication::sendEvent(list, &down);
    QCoreApplication::processEvents();
    tab.repaint();
  });

  const Figures f = figures(floor);
  const Figures w = figures(window);
  std::printf("switch click, 500 tools in one category, %d clicks\n", clicks);
  std::printf("%-28s median %7.3f ms  p90 %7.3f ms  max %7.3f ms\n", "model only (floor)", f.median, f.p90, f.max);
  std::printf("%-28s median %7.3f ms  p90 %7.3f ms  max %7.3f ms\n", "Tools tab (Space, repaint)", w.median, w.p90,
              w.max);
  std::printf("ratio tab / floor (median): %.1f\n", f.median > 0 ? w.median / f.median : 0.0);
  return w.median <= 30.0 ? 0 : 1;
}
