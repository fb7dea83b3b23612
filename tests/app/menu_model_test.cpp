#include "app/menu_model.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace qd {
namespace {

using I = MenuItem;
using C = StatusColor;
using T = TextColor;

struct Row {
  const char* name;
  MenuState state;
  C icon, dot;
  const char* title;
  T titleColor;
  std::optional<std::string> secondLine;
  T secondLineColor;
  std::vector<MenuItem> items;
};

const std::vector<MenuItem> stoppedItems = {I::settings,         I::separator, I::restartService,
                                            I::emailDiagnostics, I::viewLogs,  I::separator, I::quit};

MenuState alive(bool tinderbox, std::optional<std::int64_t> clients = 1) {
  MenuState s;
  s.daemonAlive = true;
  s.tinderboxAlive = tinderbox;
  s.connectedClients = clients;
  return s;
}

TEST(MenuModelTest, FollowsThePublishedState) {
  MenuState launch;
  launch.daemonStartupInProgress = true;
  launch.shouldShowStartupState = true;
  MenuState auth;
  auth.xpcAuthRejected = true;
  MenuState failed;
  failed.daemonStartupFailed = true;
  MenuState openNotControlled = alive(false);
  openNotControlled.tinderboxAppRunning = true;
  MenuState authWhileAlive = alive(true);
  authWhileAlive.xpcAuthRejected = true;

  const std::vector<Row> rows = {
      {"right after launch", launch, C::orange, C::orange, "Starting Service", T::primary,
       "Launching daemon and verifying connection (usually 1-3s)", T::secondary, stoppedItems},
      {"auth rejected", auth, C::red, C::red, "Auth Error", T::red, MenuModel::authRejectedSubtitle, T::red,
       stoppedItems},
      {"failed start", failed, C::gray, C::red, "Service Error", T::red,
       "Could not connect to daemon. Restart Service or Email Diagnostics.", T::red, stoppedItems},
      {"stopped", MenuState{}, C::gray, C::gray, "Dorarov Stopped", T::primary,
       "Quarvel Dorarov is not currently running", T::secondary, stoppedItems},
      {"alive, note app closed", alive(false), C::yellow, C::yellow, "Dorarov Running", T::primary,
       "Tinderbox not connected (optional); daemon is serving", T::secondary,
       {I::settings, I::separator, I::openTinderbox, I::separator, I::quit}},
      {"open but not controlled", openNotControlled, C::yellow, C::yellow, "Dorarov Running", T::primary,
       "Tinderbox is open but not toolbox-controlled; click Connect Tinderbox", T::secondary,
       {I::settings, I::separator, I::connectTinderbox, I::separator, I::quit}},
      {"alive with 0 clients", alive(true, 0), C::green, C::green, "Dorarov Running", T::primary,
       "0 external clients", T::secondary,
       {I::settings, I::separator, I::restartTinderbox, I::quitTinderbox, I::separator, I::quit}},
      {"alive with 1 client", alive(true, 1), C::green, C::green, "Dorarov Running", T::primary,
       "0 external clients", T::secondary,
       {I::settings, I::separator, I::restartTinderbox, I::quitTinderbox, I::separator, I::quit}},
      {"alive with 5 clients", alive(true, 5), C::green, C::green, "Dorarov Running", T::primary,
       "4 external clients", T::secondary,
       {I::settings, I::separator, I::restartTinderbox, I::quitTinderbox, I::separator, I::quit}},
      {"alive without a record", alive(true, std::nullopt), C::green, C::green, "Dorarov Running", T::primary,
       std::nullopt, T::secondary,
       {I::settings, I::separator, I::restartTinderbox, I::quitTinderbox, I::separator, I::quit}},
      // The icon and subtitle tell the refusal; title, dot and items follow the live daemon.
      {"auth rejected while alive", authWhileAlive, C::red, C::green, "Dorarov Running", T::primary,
       "0 external clients", T::secondary, {I::settings, I::separator, I::restartTinderbox, I::quitTinderbox, I::separator, I::quit}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const MenuModel model = MenuModel::from(row.state);
    EXPECT_EQ(model.iconColor, row.icon);
    EXPECT_EQ(model.dotColor, row.dot);
    EXPECT_EQ(model.title, row.title);
    EXPECT_EQ(model.titleColor, row.titleColor);
    EXPECT_EQ(model.secondLine, row.secondLine);
    if (row.secondLine) {
      EXPECT_EQ(model.secondLineColor, row.secondLineColor);
    }
    EXPECT_EQ(model.items, row.items);
    EXPECT_EQ(model.busy, row.state.daemonStartupInProgress);
  }
}

TEST(MenuModelTest, NoteAppItemsExcludeEachOther) {
  for (int bits = 0; bits < 8; ++bits) {
    MenuState s;
    s.daemonAlive = bits & 1;
    s.tinderboxAlive = bits & 2;
    s.tinderboxAppRunning = bits & 4;
    const auto items = MenuModel::from(s).items;
    const auto has = [&](MenuItem i) { return std::count(items.begin(), items.end(), i) == 1; };
    const int groups = (has(I::restartTinderbox) && has(I::quitTinderbox)) + has(I::connectTinderbox) +
                       has(I::openTinderbox);
    EXPECT_EQ(groups, s.daemonAlive ? 1 : 0) << bits;
    EXPECT_EQ(has(I::restartService), !s.daemonAlive) << bits;
    EXPECT_EQ(items.front(), I::settings);
    EXPECT_EQ(items.back(), I::quit);
  }
}

}  // namespace
}  // namespace qd
