#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "app/settings/window/tools/category_delegate.h"
#include "app/settings/window/tools/category_sidebar.h"
#include "app/settings/window/tools/tool_detail_delegate.h"
#include "app/settings/window/tools/tool_schema_popover.h"
#include "tools_tab_test_support.h"

namespace qd {
namespace {

using test::CatalogTool;

std::vector<std::string> menuTexts(QMenu& menu) {
  std::vector<std::string> texts;
  for (QAction* action : menu.actions()) {
    if (action->isSeparator()) continue;
    texts.push_back(action->text().toStdString() + (action->isEnabled() ? "" : " [off]"));
  }
  return texts;
}

QAction* menuAction(QMenu& menu, int position) {
  int at = 0;
  for (QAction* action : menu.actions()) {
    if (action->isSeparator()) continue;
    if (at++ == position) return action;
  }
  return nullptr;
}

// The sidebar's delegate, noting where each row was painted and where its description went.
class PaintRecordingCategoryDelegate : public CategoryDelegate {
 public:
  using CategoryDelegate::CategoryDelegate;
  struct Painted {
    QRect row;
    QRect description;
  };
  mutable std::map<int, Painted> painted;

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    painted[index.row()] = {option.rect, geometry(option, index).description};
    CategoryDelegate::paint(painter, option, index);
  }
};

// Rows painted in order, each description inside its own row and no row over the next.
void expectDescriptionsInsideTheirRows(const std::vector<std::pair<QRect, QRect>>& rows, const std::string& where) {
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto& [row, description] = rows[i];
    SCOPED_TRACE(where + ", row " + std::to_string(i));
    EXPECT_GE(description.top(), row.top());
    EXPECT_LE(description.bottom(), row.bottom());
    if (i + 1 < rows.size()) {
      EXPECT_EQ(rows[i + 1].first.top(), row.bottom() + 1);
    }
  }
}

TEST(ToolsTabTest, WrappedDescriptionsStayInsideTheirRowsAtEveryWindowSize) {
  test::ToolsFixture fixture;
  ToolsTab& tab = fixture.open();
  auto* recorder = new PaintRecordingCategoryDelegate(tab.sidebar());
  tab.sidebar()->setItemDelegate(recorder);
  // Every category with a description: enough rows for a scroll bar, several that wrap.
  std::vector<CatalogTool> tools;
  for (const char* category :
       {"Router Core", "Tinderbox Core", "TBX Navigation", "TBX Document", "TBX Export", "Bookends", "OmniFocus",
        "DEVONthink", "Apple Apps: Contacts", "Apple Apps: Notes", "Apple Apps: Mail", "Apple Apps: Messages",
        "Apple Apps: Reminders", "Apple Apps: Calendar", "Apple Apps: Maps", "ATBRef", "Time"}) {
    tools.push_back({std::string("tool of ") + category, category});
  }
  const std::string longText =
      "Detailed diagnostics of the daemon (pid, socket, lock and health files, and its runtime state), long enough "
      "to wrap past two lines in any window.";
  for (int i = 0; i < 12; ++i) {
    tools.push_back({"detail_" + std::to_string(i), "Router Core", "read", false, {}, i % 2 ? "Short." : longText});
  }
  fixture.feed(tools);
  tab.selectCategory("Router Core");

  for (const QSize size : {SettingsWindowRoot::defaultWindowSize, SettingsWindowRoot::minimumWindowSize,
                           SettingsWindowRoot::defaultWindowSize}) {
    const std::string where = std::to_string(size.width()) + "x" + std::to_string(size.height());
    fixture.root->resize(size);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();

    CategorySidebar& sidebar = *tab.sidebar();
    ASSERT_TRUE(sidebar.verticalScrollBar()->isVisible()) << where;
    recorder->painted.clear();
    sidebar.viewport()->grab();
    std::vector<std::pair<QRect, QRect>> sidebarRows;
    for (const auto& [row, painted] : recorder->painted) {
      if (row != static_cast<int>(sidebarRows.size())) break;  // from the first row on, those on screen
      sidebarRows.emplace_back(painted.row, painted.description);
    }
    ASSERT_GE(sidebarRows.size(), 8u) << where;
    expectDescriptionsInsideTheirRows(sidebarRows, "sidebar at " + where);

    // The detail's tool rows, where its delegate puts their descriptions.
    ToolTreeView& list = fixture.list();
    auto* delegate = qobject_cast<ToolDetailDelegate*>(list.itemDelegate());
    ASSERT_NE(delegate, nullptr);
    std::vector<std::pair<QRect, QRect>> toolRows;
    for (int i = 0; i < 12; ++i) {
      const QModelIndex tool = fixture.toolRow("detail_" + std::to_string(i));
      const QRect row = list.visualRect(tool);
      toolRows.emplace_back(row, delegate->geometry(row, tool, list.viewport()).secondLine);
    }
    std::sort(toolRows.begin(), toolRows.end(),
              [](const auto& a, const auto& b) { return a.first.top() < b.first.top(); });
    expectDescriptionsInsideTheirRows(toolRows, "tool list at " + where);
  }
}

TEST(ToolsTabTest, StartsUpWithoutACatalogThenSelectsTheFirstCategoryAndRepairsTheSelection) {
  test::ToolsFixture fixture;
  ToolsTab& tab = fixture.open();
  EXPECT_TRUE(tab.startingUp());
  EXPECT_TRUE(tab.showsPlaceholder());
  EXPECT_TRUE(tab.selectedCategory().isEmpty());
  EXPECT_EQ(tab.bulkButton()->text(), "Enable All Tools");
  const int asked = fixture.admin.count("app_get_tool_catalog");
  EXPECT_GE(asked, 1);  // shown: the catalog was asked for
  test::findByText<QPushButton>(tab, "Retry Now")->click();
  fixture.waitForCatalog();
  EXPECT_EQ(fixture.admin.count("app_get_tool_catalog"), asked + 1);

  // The application becoming active asks again.
  QMetaObject::invokeMethod(qApp, "applicationStateChanged", Qt::DirectConnection,
                            Q_ARG(Qt::ApplicationState, Qt::ApplicationActive));
  fixture.waitForCatalog();
  EXPECT_EQ(fixture.admin.count("app_get_tool_catalog"), asked + 2);

  fixture.feed({{"b_tool", "Beta"}, {"a_tool", "Alpha"}, {"c_tool", "Gamma"}});
  EXPECT_FALSE(tab.startingUp());
  EXPECT_FALSE(tab.showsPlaceholder());
  EXPECT_EQ(tab.selectedCategory(), "Alpha");
  EXPECT_EQ(tab.sidebar()->currentIndex().data().toString(), "Alpha");
  EXPECT_EQ(fixture.detail().category(), "Alpha");
  // The checkboxes have no visible label of their own: the rows name them.
  EXPECT_EQ(tab.sidebar()->currentIndex().data(Qt::AccessibleTextRole).toString(), "Alpha");
  EXPECT_EQ(fixture.toolRow("a_tool").data(Qt::AccessibleTextRole).toString(), "a_tool");
  EXPECT_TRUE(fixture.toolRow("a_tool").data(Qt::AccessibleDescriptionRole).toString().contains("View MCP tool schema"));

  tab.selectCategory("Gamma");
  tab.selectCategory("Nowhere");  // unknown: nothing changes
  EXPECT_EQ(fixture.detail().category(), "Gamma");
  fixture.feed({{"b_tool", "Beta"}, {"a_tool", "Alpha"}});  // Gamma vanished
  EXPECT_EQ(tab.selectedCategory(), "Alpha");
  EXPECT_EQ(fixture.detail().category(), "Alpha");

  // The daemon goes away: the catalog empties.
  *fixture.catalog = Json();
  fixture.fetcher.loadToolMetadata();
  fixture.waitForCatalog();
  EXPECT_TRUE(tab.startingUp());
  EXPECT_TRUE(tab.showsPlaceholder());
  EXPECT_TRUE(tab.selectedCategory().isEmpty());
}

TEST(ToolsTabTest, CategoryRowsCountCapabilitiesAndSwitchOnlyAvailableTools) {
  test::ToolsFixture fixture;
  *fixture.settings = Json{{"requireExplicitToolEnable", true}};
  ToolsTab& tab = fixture.open();
  fixture.feed({{"bk_read", "Bookends", "read"},
                {"bk_write", "Bookends", "write"},
                {"r1", "Mixed", "read"},
                {"r2", "Mixed", "read"},
                {"w1", "Mixed", "write"},
                {"rw1", "Mixed", std::nullopt},  // no capability counts as read-write
                {"odd", "Mixed", "sometimes"},
                {"agent_tool", "Agent Coordination"}});
  CategoryListModel& categories = *tab.categories();
  const int bookends = categories.rowOf("Bookends");
  const int mixed = categories.rowOf("Mixed");
  const QModelIndex bookendsRow = categories.index(bookends);
  const QModelIndex mixedRow = categories.index(mixed);
  EXPECT_FALSE(bookendsRow.data(CategoryListModel::AvailableRole).toBool());
  EXPECT_TRUE(mixedRow.data(CategoryListModel::AvailableRole).toBool());
  EXPECT_EQ(bookendsRow.data(CategoryListModel::DescriptionRole).toString(), "Reference management");
  EXPECT_EQ(categories.index(categories.rowOf("Agent Coordination")).data(CategoryListModel::DescriptionRole).toString(),
            "");
  EXPECT_EQ(mixedRow.data(CategoryListModel::ReadOnlyCountRole).toInt(), 2);
  EXPECT_EQ(mixedRow.data(CategoryListModel::WriteOnlyCountRole).toInt(), 1);
  EXPECT_EQ(mixedRow.data(CategoryListModel::ReadWriteCountRole).toInt(), 1);

  // The unavailable category: counts include its tools, every action leaves them alone.
  std::unique_ptr<QMenu> menu(tab.categoryMenu(bookends));
  EXPECT_EQ(menuTexts(*menu), (std::vector<std::string>{"Enable All", "Enable Read-Only (1)", "Enable Write-Only (1)",
                                                        "Enable Read-Write (0) [off]", "Disable All"}));
  for (QAction* action : menu->actions()) action->trigger();
  categories.setData(bookendsRow, Qt::Checked, Qt::CheckStateRole);
  QCoreApplication::processEvents();
  EXPECT_FALSE(fixture.model->isEnabled("bk_read"));
  EXPECT_FALSE(fixture.model->isEnabled("bk_write"));
  EXPECT_EQ(categories.index(bookends).data(Qt::CheckStateRole), Qt::Unchecked);

  // Read-only adds the read tools and leaves the others off.
  menu.reset(tab.categoryMenu(mixed));
  menuAction(*menu, 1)->trigger();
  QCoreApplication::processEvents();
  EXPECT_TRUE(fixture.model->isEnabled("r1") && fixture.model->isEnabled("r2"));
  EXPECT_FALSE(fixture.model->isEnabled("w1") || fixture.model->isEnabled("rw1"));
  EXPECT_EQ(categories.index(mixed).data(Qt::CheckStateRole), Qt::Unchecked);

  // The checkbox sets the whole category; then the first item reads "Disable All".
  categories.setData(categories.index(mixed), Qt::Checked, Qt::CheckStateRole);
  QCoreApplication::processEvents();
  EXPECT_EQ(categories.index(mixed).data(Qt::CheckStateRole), Qt::Checked);
  EXPECT_EQ(categories.index(mixed).data(Qt::ToolTipRole).toString(), "Disable all tools");
  menu.reset(tab.categoryMenu(mixed));
  EXPECT_EQ(menuAction(*menu, 0)->text(), "Disable All");

  // The last item always disables, also when the first reads "Enable All".
  fixture.model->setToolEnabledConsideringOperations(false, "r1");
  menu.reset(tab.categoryMenu(mixed));
  EXPECT_EQ(menuAction(*menu, 0)->text(), "Enable All");
  menuAction(*menu, 4)->trigger();
  for (const char* tool : {"r1", "r2", "w1", "rw1", "odd"}) EXPECT_FALSE(fixture.model->isEnabled(tool)) << tool;
}

TEST(ToolsTabTest, HeaderEnablesEveryToolButDisablesOnlyAvailableOnes) {
  test::ToolsFixture fixture;
  *fixture.settings = Json{{"requireExplicitToolEnable", true}, {"helperToolEnabled", {{"bk_read", true}}}};
  ToolsTab& tab = fixture.open();
  fixture.feed({{"bk_read", "Bookends", "read"}, {"bk_write", "Bookends", "write"}, {"time_now", "Time", "read"}});
  QPushButton& bulk = *tab.bulkButton();
  EXPECT_EQ(bulk.text(), "Enable All Tools");  // only an unavailable tool is on

  bulk.click();
  QCoreApplication::processEvents();
  for (const char* tool : {"bk_read", "bk_write", "time_now"}) EXPECT_TRUE(fixture.model->isEnabled(tool)) << tool;
  EXPECT_EQ(bulk.text(), "Disable All Tools");

  bulk.click();
  QCoreApplication::processEvents();
  EXPECT_FALSE(fixture.model->isEnabled("time_now"));
  EXPECT_TRUE(fixture.model->isEnabled("bk_read"));
  EXPECT_TRUE(fixture.model->isEnabled("bk_write"));
  EXPECT_EQ(bulk.text(), "Enable All Tools");
}

TEST(ToolsTabTest, SettingsNotLoadedLeaveSwitchesDisabledAndBrowsingUsable) {
  test::ToolsFixture fixture;
  *fixture.settings = Json();
  *fixture.catalog = test::catalogJson({{"mail", "Mail", "write", false, {"read", "send"}}});
  ToolsTab& tab = fixture.open();
  ASSERT_FALSE(fixture.model->settingsLoaded());
  EXPECT_FALSE(tab.bulkButton()->isEnabled());
  EXPECT_FALSE(tab.categories()->flags(tab.categories()->index(0)) & Qt::ItemIsUserCheckable);
  const QModelIndex mail = fixture.toolRow("mail");
  EXPECT_FALSE(mail.flags() & Qt::ItemIsUserCheckable);
  EXPECT_FALSE(fixture.detail().index(0, 0, mail).flags() & Qt::ItemIsUserCheckable);
  std::unique_ptr<QMenu> menu(tab.categoryMenu(0));
  for (QAction* action : menu->actions()) EXPECT_FALSE(action->isEnabled() && !action->isSeparator());

  fixture.list().setFocus();
  fixture.list().setCurrentIndex(mail);
  QTest::keyClick(&fixture.list(), Qt::Key_Space);
  EXPECT_EQ(fixture.admin.count("app_save_settings"), 0);
  QTest::keyClick(&fixture.list(), Qt::Key_Return);  // the schema still opens
  ASSERT_NE(tab.detail()->popover(), nullptr);
  tab.detail()->popover()->close();

  // Once the settings load, the switches work.
  *fixture.settings = test::loadedSettings();
  fixture.model->reload();
  fixture.settle();
  QCoreApplication::processEvents();
  EXPECT_TRUE(tab.bulkButton()->isEnabled());
  EXPECT_TRUE(fixture.toolRow("mail").flags() & Qt::ItemIsUserCheckable);
}

TEST(ToolsTabTest, KeyboardReachesBothListsAndOpensTheCategoryMenu) {
  test::ToolsFixture fixture;
  *fixture.catalog = test::catalogJson({{"time_now", "Time", "read"}, {"time_convert", "Time", "read"}});
  ToolsTab& tab = fixture.open();
  QApplication::setActiveWindow(fixture.root.get());
  tab.bulkButton()->setFocus(Qt::TabFocusReason);
  QTest::keyClick(tab.bulkButton(), Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), tab.sidebar());
  QTest::keyClick(tab.sidebar(), Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), &fixture.list());

  // Space on the sidebar row flips the category checkbox.
  tab.sidebar()->setFocus();
  QTest::keyClick(tab.sidebar(), Qt::Key_Space);
  QCoreApplication::processEvents();
  EXPECT_FALSE(fixture.model->isEnabled("time_now"));
  EXPECT_FALSE(fixture.model->isEnabled("time_convert"));

  for (const auto& [key, modifiers] : std::vector<std::pair<Qt::Key, Qt::KeyboardModifiers>>{
           {Qt::Key_Menu, Qt::NoModifier}, {Qt::Key_F10, Qt::ShiftModifier}}) {
    QTest::keyClick(tab.sidebar(), key, modifiers);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr) << key;
    EXPECT_EQ(menuTexts(*menu), (std::vector<std::string>{"Enable All", "Enable Read-Only (2)",
                                                          "Enable Write-Only (0) [off]", "Enable Read-Write (0) [off]",
                                                          "Disable All"}));
    menu->close();
    QCoreApplication::processEvents();
  }
}

}  // namespace
}  // namespace qd
