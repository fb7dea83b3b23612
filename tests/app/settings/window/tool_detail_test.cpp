#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>

#include "app/settings/window/tools/tool_detail_delegate.h"
#include "app/settings/window/tools/tool_library_rules.h"
#include "app/settings/window/tools/tool_schema_popover.h"
#include "tools_tab_test_support.h"

namespace qd {
namespace {

using namespace std::chrono_literals;
using test::CatalogTool;

TEST(ToolDetailTest, SectionsSortByCodePointAndSkipUnknownCapabilities) {
  test::ToolsFixture fixture;
  ToolsTab& tab = fixture.open();
  fixture.feed({{"tbx_nav", "Cat", "readwrite", true},
                {"tbx_doc", "Cat", "readwrite"},
                {"Zeta", "Cat", "read"},
                {"alpha", "Cat", "read", false},
                {"mover", "Cat", "write"},
                {"odd", "Cat", "sometimes"},
                {"bare", "Cat", std::nullopt}});
  ASSERT_EQ(tab.selectedCategory(), "Cat");
  EXPECT_EQ(fixture.rows(), (std::vector<std::string>{"Read-Only", "Zeta", "alpha", "Write-Only", "mover", "Read-Write",
                                                      "bare", "tbx_doc", "tbx_nav"}));
  EXPECT_EQ(fixture.detail().index(0, 0).data(ToolDetailModel::SectionCountRole).toInt(), 2);
  EXPECT_EQ(fixture.detail().toolCount(), 7);  // "odd" is counted, though in no section
  EXPECT_TRUE(test::findByText<QLabel>(tab, "7 tools"));
  // The badge follows readOnly, the section the capability.
  EXPECT_EQ(fixture.toolRow("tbx_nav").data(ToolDetailModel::ReadOnlyRole), QVariant(true));
  EXPECT_EQ(fixture.toolRow("alpha").data(ToolDetailModel::ReadOnlyRole), QVariant(false));

  // A tool moving to another section loses its row state; the others keep it.
  fixture.feed({{"tbx_nav", "Cat", "readwrite", true, {"a", "b"}},
                {"mover", "Cat", "write", false, {"x"}},
                {"Zeta", "Cat", "read"}});
  fixture.list().expand(fixture.toolRow("tbx_nav"));
  fixture.list().expand(fixture.toolRow("mover"));
  fixture.list().setCurrentIndex(fixture.toolRow("tbx_nav"));
  fixture.feed({{"tbx_nav", "Cat", "readwrite", true, {"a", "b"}},
                {"mover", "Cat", "read", false, {"x"}},
                {"Zeta", "Cat", "read"}});
  EXPECT_TRUE(fixture.list().isExpanded(fixture.toolRow("tbx_nav")));
  EXPECT_FALSE(fixture.list().isExpanded(fixture.toolRow("mover")));
  EXPECT_EQ(fixture.list().currentIndex(), fixture.toolRow("tbx_nav"));
}

TEST(ToolDetailTest, ToolWithOperationsFromTheKeyboard) {
  test::ToolsFixture fixture;
  *fixture.settings = Json{{"operationEnabled", {{"mail.read", true}, {"mail.send", true}, {"mail.draft", false}}}};
  ToolsTab& tab = fixture.open();
  fixture.feed({{"mail", "Mail", "write", false, {"read", "send", "draft"}}, {"plain", "Mail", "write"}});
  (void)tab;
  ToolTreeView& list = fixture.list();
  const QModelIndex mail = fixture.toolRow("mail");
  EXPECT_EQ(mail.data(ToolDetailModel::OperationCountRole).toInt(), 3);
  EXPECT_EQ(fixture.switchOf("mail"), Qt::Unchecked);  // 2 of 3 on
  EXPECT_EQ(fixture.toolRow("plain").data(ToolDetailModel::OperationCountRole).toInt(), 0);
  EXPECT_EQ(fixture.detail().rowCount(fixture.toolRow("plain")), 0);

  list.setFocus();
  list.setCurrentIndex(mail);
  QTest::keyClick(&list, Qt::Key_Space);
  QCoreApplication::processEvents();
  EXPECT_EQ(fixture.switchOf("mail"), Qt::Checked);
  for (const char* operation : {"read", "send", "draft"}) EXPECT_TRUE(fixture.model->isOperationEnabled(operation, "mail"));

  QTest::keyClick(&list, Qt::Key_Right);
  ASSERT_TRUE(list.isExpanded(mail));
  QTest::keyClick(&list, Qt::Key_Down);
  const QModelIndex read = list.currentIndex();
  ASSERT_EQ(read.parent(), mail);
  EXPECT_EQ(read.data().toString(), "read");
  QTest::keyClick(&list, Qt::Key_Space);  // one operation only
  QCoreApplication::processEvents();
  EXPECT_FALSE(fixture.model->isOperationEnabled("read", "mail"));
  EXPECT_TRUE(fixture.model->isEnabled("mail"));
  EXPECT_EQ(fixture.switchOf("mail"), Qt::Unchecked);
  EXPECT_EQ(read.data(Qt::CheckStateRole), Qt::Unchecked);

  QTest::keyClick(&list, Qt::Key_Left);  // to the tool
  QTest::keyClick(&list, Qt::Key_Left);  // collapses it
  EXPECT_EQ(list.currentIndex(), mail);
  EXPECT_FALSE(list.isExpanded(mail));
  QTest::keyClick(&list, Qt::Key_Space);  // on: all three
  QTest::keyClick(&list, Qt::Key_Space);  // off: all three
  QCoreApplication::processEvents();
  for (const char* operation : {"read", "send", "draft"}) EXPECT_FALSE(fixture.model->isOperationEnabled(operation, "mail"));
  EXPECT_FALSE(fixture.model->isEnabled("mail"));
}

TEST(ToolDetailTest, UnavailableToolKeepsItsRowAndItsOperationsSwitchable) {
  test::ToolsFixture fixture;
  ToolsTab& tab = fixture.open();
  fixture.feed({{"bookends_search", "Bookends", "read", false, {"find", "list"}}});
  ASSERT_EQ(tab.selectedCategory(), "Bookends");
  const QModelIndex tool = fixture.toolRow("bookends_search");
  EXPECT_FALSE(tool.data(ToolDetailModel::AvailableRole).toBool());
  EXPECT_EQ(tool.data(ToolDetailModel::DescriptionRole).toString(), "Bookends.app not installed");
  EXPECT_FALSE(tool.flags() & Qt::ItemIsUserCheckable);
  const QModelIndex find = fixture.detail().index(0, 0, tool);
  EXPECT_TRUE(find.flags() & Qt::ItemIsUserCheckable);
  fixture.detail().setData(find, Qt::Unchecked, Qt::CheckStateRole);
  EXPECT_FALSE(fixture.model->isOperationEnabled("find", "bookends_search"));
  EXPECT_TRUE(test::findByText<QLabel>(tab, "Install Bookends.app to enable these tools."));
}

TEST(ToolDetailTest, DescriptionsPreferTinderboxLiveHelpOnlyWhenItHasText) {
  test::ToolsFixture fixture;
  fixture.open();
  struct Case {
    CatalogTool tool;
    std::string shown;
    int lines;
  };
  const std::vector<Case> cases{
      {{"tinderbox", "Tinderbox Core", "readwrite", false, {}, "catalog text", " \n\t "}, "catalog text", 3},
      {{"tinderbox", "Tinderbox Core", "readwrite", false, {}, "catalog text", "\u00a0\u2028"}, "catalog text", 3},
      {{"tinderbox", "Tinderbox Core", "readwrite", false, {}, "catalog text", " live\n"}, " live\n", 3},
      {{"other", "Tinderbox Core", "readwrite", false, {}, "", "ignored"}, "", 2},
  };
  for (const Case& c : cases) {
    fixture.feed({c.tool});
    const QModelIndex row = fixture.toolRow(c.tool.name);
    EXPECT_EQ(row.data(ToolDetailModel::DescriptionRole).toString().toStdString(), c.shown) << c.tool.name;
    EXPECT_EQ(row.data(ToolDetailModel::LineLimitRole).toInt(), c.lines);
  }
  // No catalog entry: the built-in description.
  EXPECT_EQ(ToolLibrary::toolDescription(*fixture.model, "health_check"),
            "Get bridge health, uptime, connection state, and queue metrics.");
}

struct PopoverCase {
  std::string tool;
  QStringList shown;
  QStringList absent;
};

// Opens the popup of each case over the fetcher as it stands and checks its labels.
void expectPopovers(const std::vector<PopoverCase>& cases, const ToolMetadataFetcher& fetcher, const QString& status) {
  for (const PopoverCase& c : cases) {
    ToolSchemaPopover popover(QString::fromStdString(c.tool), fetcher);
    QStringList texts;
    for (QLabel* label : popover.findChildren<QLabel*>()) texts << label->text();
    for (const QString& text : c.shown) EXPECT_TRUE(texts.contains(text)) << c.tool << ": " << text.toStdString();
    for (const QString& text : c.absent) EXPECT_FALSE(texts.contains(text)) << c.tool << ": " << text.toStdString();
    EXPECT_EQ(popover.findChild<QWidget*>("schemaStatus")->toolTip(), status) << c.tool;
    EXPECT_EQ(popover.size(), ToolSchemaPopover::popoverSize);
  }
}

TEST(ToolDetailTest, SchemaPopoverShowsBuiltInOrLiveSchemas) {
  test::ToolsFixture fixture;
  fixture.open();
  expectPopovers({{"notify", {"notify", "Static", "agents", "required", "string", "data", "object", "Message data payload"},
                   {"READ-ONLY", "WRITE", "No parameters"}},
                  {"mail", {"operation", "Operation type (search, list, create, etc.)"}, {"No parameters"}},
                  {"health_check", {"No parameters"}, {"required"}},
                  {"bookends", {"No parameters"}, {}}},
                 fixture.fetcher, "Using built-in schema (daemon not running)");

  fixture.feed({{"notify", "Router Core", "write", false, {}, "live notify"},
                {"health_check", "Router Core", "read", true, {}, "", std::nullopt,
                 Json::array({{{"name", "verbose"}, {"type", "boolean"}, {"description", ""}, {"required", false}}})}});
  expectPopovers({{"notify", {"Live", "WRITE", "No parameters", "live notify"}, {"agents", "Static"}},
                  {"health_check", {"Live", "READ-ONLY", "verbose", "boolean", ""}, {"No parameters", "required"}}},
                 fixture.fetcher, "Schema loaded from running daemon");
}

TEST(ToolDetailTest, EnterOpensThePopoverBesideTheRowAndEscapeReturnsFocus) {
  test::ToolsFixture fixture;
  ToolsTab& tab = fixture.open();
  fixture.feed({{"notify", "Router Core", "write"}, {"health_check", "Router Core", "read"}});
  QApplication::setActiveWindow(fixture.root.get());
  ToolTreeView& list = fixture.list();
  const QModelIndex notify = fixture.toolRow("notify");
  list.setFocus();
  list.setCurrentIndex(notify);
  QTest::keyClick(&list, Qt::Key_Return);
  ToolSchemaPopover* popover = tab.detail()->popover();
  ASSERT_NE(popover, nullptr);
  EXPECT_TRUE(popover->isVisible());
  EXPECT_EQ(popover->toolName(), "notify");
  // Beside the row's schema button: on its trailing side when the screen has room there.
  auto* delegate = qobject_cast<ToolDetailDelegate*>(list.itemDelegate());
  ASSERT_NE(delegate, nullptr);
  const QRect button = delegate->geometry(list.visualRect(notify), notify, list.viewport()).schema;
  const QRect expected(list.viewport()->mapToGlobal(button.topLeft()), button.size());
  const QRect anchor = popover->anchor();
  EXPECT_LE((anchor.center() - expected.center()).manhattanLength(), 4);
  const QRect placed = popover->frameGeometry();
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  // (Within a few pixels: the offscreen platform draws a frame around every window.)
  if (anchor.right() + 1 + placed.width() <= screen.right() + 1) {
    EXPECT_NEAR(placed.left(), anchor.right() + 1, 4);
  } else {
    EXPECT_NEAR(placed.right(), anchor.left() - 1, 4);
  }
  EXPECT_TRUE(placed.top() <= anchor.bottom() && placed.bottom() >= anchor.top());  // level with the button

  QTest::keyClick(popover, Qt::Key_Escape);
  QCoreApplication::processEvents();
  EXPECT_EQ(tab.detail()->popover(), nullptr);
  EXPECT_EQ(list.window()->focusWidget(), &list);  // the window's focus, once it is active again
  EXPECT_EQ(list.currentIndex(), notify);
}

TEST(ToolDetailTest, ASwitchClickAmongFiveHundredToolsUpdatesRowsWithoutAReset) {
  test::ToolsFixture fixture;
  ToolsTab& tab = fixture.open();
  std::vector<CatalogTool> tools;
  for (int i = 0; i < 500; ++i) {
    tools.push_back({"tool_" + std::to_string(1000 + i), "Big", i % 3 == 0 ? "read" : "readwrite", false,
                     i % 10 == 0 ? std::vector<std::string>{"a", "b", "c"} : std::vector<std::string>{}});
  }
  fixture.feed(tools);
  ASSERT_EQ(tab.selectedCategory(), "Big");
  ToolTreeView& list = fixture.list();
  const QModelIndex target = fixture.toolRow("tool_1250");
  list.setFocus();
  list.setCurrentIndex(target);
  list.expand(target);

  QSignalSpy detailResets(&fixture.detail(), &QAbstractItemModel::modelReset);
  QSignalSpy sidebarResets(tab.categories(), &QAbstractItemModel::modelReset);
  QSignalSpy changes(&fixture.detail(), &QAbstractItemModel::dataChanged);
  QElapsedTimer timer;
  timer.start();
  QTest::keyClick(&list, Qt::Key_Space);
  QCoreApplication::processEvents();
  fixture.root->repaint();
  EXPECT_LT(timer.elapsed(), 250);
  EXPECT_EQ(fixture.switchOf("tool_1250"), Qt::Unchecked);
  EXPECT_EQ(detailResets.count(), 0);
  EXPECT_EQ(sidebarResets.count(), 0);
  ASSERT_EQ(changes.count(), 2);  // the tool's row and its three operation rows
  EXPECT_EQ(changes[0][0].value<QModelIndex>(), target);
  EXPECT_TRUE(list.isExpanded(target));
  EXPECT_EQ(list.currentIndex(), target);

  // The change reaches the daemon through the debounced save.
  fixture.scheduler.advance(500ms);
  fixture.settle();
  ASSERT_FALSE(fixture.admin.saves().empty());
  EXPECT_EQ(fixture.admin.saves().back().params->at("settings").at("helperToolEnabled").at("tool_1250"), Json(false));
}

}  // namespace
}  // namespace qd
