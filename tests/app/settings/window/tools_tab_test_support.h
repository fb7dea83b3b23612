#pragma once

// The Tools tab tests' fixture: the settings window over a scripted daemon that answers
// the settings and a catalog the test sets, with an empty install root, so the
// application categories (Bookends...) have no tools available.

#include <QAbstractItemView>
#include <QApplication>
#include <QTabWidget>

#include <memory>
#include <string>
#include <vector>

#include "app/settings/window/tools/category_list_model.h"
#include "app/settings/window/tools/tool_detail_model.h"
#include "app/settings/window/tools/tool_detail_view.h"
#include "app/settings/window/tools/tools_tab.h"
#include "app/settings/window/window_test_support.h"
#include "daemon/utilities/tool_availability.h"

namespace qd::test {

struct CatalogTool {
  std::string name;
  std::string group;
  std::optional<std::string> capability = "readwrite";
  bool readOnly = false;
  std::vector<std::string> operations = {};
  std::string description = "";
  std::optional<std::string> liveHelpText = std::nullopt;
  Json parameters = Json::array();
};

inline Json catalogJson(const std::vector<CatalogTool>& tools) {
  Json list = Json::array();
  for (const CatalogTool& tool : tools) {
    Json entry{{"name", tool.name},     {"description", tool.description}, {"parameters", tool.parameters},
               {"readOnly", tool.readOnly}, {"group", tool.group}};
    if (tool.capability) entry["capability"] = *tool.capability;
    if (!tool.operations.empty()) entry["operations"] = tool.operations;
    if (tool.liveHelpText) entry["liveHelpText"] = *tool.liveHelpText;
    list.push_back(entry);
  }
  return Json{{"timestamp", 1}, {"tools", list}};
}

class ToolsFixture : public WindowFixture {
 public:
  std::shared_ptr<Json> catalog = std::make_shared<Json>();  // null: the daemon has none to give
  std::shared_ptr<Json> settings = std::make_shared<Json>(loadedSettings());  // null: unreadable

  ToolsFixture() {
    ToolAvailability::setInstallRoot(temp / "root");
    admin.answer = [catalog = catalog, settings = settings](const std::string& method, const std::optional<Json>&) -> Json {
      if (method == "app_get_settings" && !settings->is_null()) return *settings;
      if (method == "app_get_tool_catalog" && !catalog->is_null()) return *catalog;
      if (method == "app_save_settings") return Json{{"saved", true}};
      throw DaemonAdminAPIError::connectionRejected("connect: Connection refused",
                                                    DaemonAdminAPIError::Cause::connectFailed);
    };
  }
  ~ToolsFixture() { ToolAvailability::setInstallRoot("/"); }

  // The window on its Tools tab, shown; the catalog is whatever the daemon then answers.
  ToolsTab& open() {
    SettingsWindowRoot& window = make("dev");
    window.show();
    window.tabs()->setCurrentWidget(window.toolsTab());
    waitForCatalog();
    return *window.toolsTab();
  }

  // Serves the tools and waits until the tab has them.
  void feed(const std::vector<CatalogTool>& tools) {
    *catalog = catalogJson(tools);
    fetcher.loadToolMetadata();
    waitForCatalog();
  }
  void waitForCatalog() {
    processEventsUntil([this] { return !fetcher.isLoading(); });
    QCoreApplication::processEvents();
  }

  ToolsTab& tab() { return *root->toolsTab(); }
  ToolDetailModel& detail() { return *tab().detail()->model(); }
  ToolTreeView& list() { return *tab().detail()->list(); }
  QModelIndex toolRow(const std::string& tool) { return detail().indexOfTool(tool); }
  Qt::CheckState switchOf(const std::string& tool) {
    return toolRow(tool).data(Qt::CheckStateRole).value<Qt::CheckState>();
  }
  // The detail's top-level rows as shown: section titles and tool names.
  std::vector<std::string> rows() {
    std::vector<std::string> out;
    for (int row = 0; row < detail().rowCount(); ++row) {
      out.push_back(detail().index(row, 0).data(Qt::DisplayRole).toString().toStdString());
    }
    return out;
  }
};

}  // namespace qd::test
