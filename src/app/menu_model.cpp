#include "app/menu_model.h"

#include <algorithm>

namespace qd {
namespace {

StatusColor iconColorOf(const MenuState& s) {
  if (s.xpcAuthRejected) return StatusColor::red;
  if (s.shouldShowStartupState || s.daemonStartupInProgress) return StatusColor::orange;
  if (s.daemonStartupFailed || !s.daemonAlive) return StatusColor::gray;
  return s.tinderboxAlive ? StatusColor::green : StatusColor::yellow;
}

std::string titleOf(const MenuState& s) {
  if (!s.daemonAlive && s.xpcAuthRejected) return "Auth Error";
  if (!s.daemonAlive && s.shouldShowStartupState) return "Starting Service";
  if (!s.daemonAlive && s.daemonStartupFailed) return "Service Error";
  return s.daemonAlive ? "Dorarov Running" : "Dorarov Stopped";
}

// These rows do not test daemonAlive first: a rejected connection is told even while an
// earlier record still shows the daemon alive.
std::string subtitleOf(const MenuState& s) {
  if (s.xpcAuthRejected) return MenuModel::authRejectedSubtitle;
  if (s.shouldShowStartupState) return "Launching daemon and verifying connection (usually 1-3s)";
  if (s.daemonStartupFailed) return "Could not connect to daemon. Restart Service or Email Diagnostics.";
  if (s.daemonAlive && !s.tinderboxAlive && s.tinderboxAppRunning) {
    return "Tinderbox is open but not toolbox-controlled; click Connect Tinderbox";
  }
  if (s.daemonAlive && !s.tinderboxAlive) return "Tinderbox not connected (optional); daemon is serving";
  return "Quarvel Dorarov is not currently running";
}

StatusColor dotColorOf(const MenuState& s) {
  if (!s.daemonAlive && s.xpcAuthRejected) return StatusColor::red;
  if (!s.daemonAlive && s.shouldShowStartupState) return StatusColor::orange;
  if (!s.daemonAlive && s.daemonStartupFailed) return StatusColor::red;
  if (s.daemonAlive) return s.tinderboxAlive ? StatusColor::green : StatusColor::yellow;
  return StatusColor::gray;
}

}  // namespace

MenuModel MenuModel::from(const MenuState& s) {
  MenuModel model;
  model.iconColor = iconColorOf(s);
  model.dotColor = dotColorOf(s);
  model.title = titleOf(s);
  const bool alarming = !s.daemonAlive && (s.xpcAuthRejected || s.daemonStartupFailed);
  model.titleColor = alarming ? TextColor::red : TextColor::primary;
  model.busy = s.daemonStartupInProgress;

  if (!s.daemonAlive || !s.tinderboxAlive) {
    model.secondLine = subtitleOf(s);
    model.secondLineColor = alarming ? TextColor::red : TextColor::secondary;
  } else if (s.connectedClients) {
    // The menu's own connection to the daemon is not an external client.
    model.secondLine = std::to_string(std::max<std::int64_t>(*s.connectedClients - 1, 0)) + " external clients";
    model.secondLineColor = TextColor::secondary;
  }

  model.items = {MenuItem::settings, MenuItem::separator};
  if (!s.daemonAlive) {
    model.items.insert(model.items.end(),
                       {MenuItem::restartService, MenuItem::emailDiagnostics, MenuItem::viewLogs, MenuItem::separator});
  } else if (s.tinderboxAlive) {
    model.items.insert(model.items.end(), {MenuItem::restartTinderbox, MenuItem::quitTinderbox});
  } else if (s.tinderboxAppRunning) {
    model.items.push_back(MenuItem::connectTinderbox);
  } else {
    model.items.push_back(MenuItem::openTinderbox);
  }
  if (model.items.back() != MenuItem::separator) model.items.push_back(MenuItem::separator);
  model.items.push_back(MenuItem::quit);
  return model;
}

std::string menuItemText(MenuItem item) {
  switch (item) {
    case MenuItem::separator: return "";
    case MenuItem::settings: return "Settings...";
    case MenuItem::restartService: return "Restart Service";
    case MenuItem::emailDiagnostics: return "Email Diagnostics...";
    case MenuItem::viewLogs: return "View Logs";
    case MenuItem::restartTinderbox: return "Restart Tinderbox";
    case MenuItem::quitTinderbox: return "Quit Tinderbox";
    case MenuItem::connectTinderbox: return "Connect Tinderbox";
    case MenuItem::openTinderbox: return "Open Tinderbox";
    case MenuItem::quit: return "Quit";
  }
  return "";
}

}  // namespace qd
