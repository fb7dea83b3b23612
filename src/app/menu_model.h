#pragma once

// What the tray shows for one moment of the health monitor's published state: the icon's
// colour, the status header (dot, title, second line, their text colours, the busy mark
// during a start) and the menu's items in order. Pure: no Qt, so every row of the tables
// is tested without a display.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qd {

enum class StatusColor { red, orange, gray, green, yellow };
enum class TextColor { primary, secondary, red };

enum class MenuItem {
  separator,
  settings,
  restartService,
  emailDiagnostics,
  viewLogs,
  restartTinderbox,
  quitTinderbox,
  connectTinderbox,
  openTinderbox,
  quit,
};

// The published state the tray reads.
struct MenuState {
  bool daemonAlive = false;
  bool tinderboxAlive = false;
  bool tinderboxAppRunning = false;
  bool daemonStartupInProgress = false;
  bool daemonStartupFailed = false;
  bool xpcAuthRejected = false;
  bool shouldShowStartupState = false;
  // The health record's connectedClients; none without a record.
  std::optional<std::int64_t> connectedClients;
};

struct MenuModel {
  static constexpr const char* authRejectedSubtitle =
      "Daemon is running but refusing connection — this app is not the one installed beside the daemon. "
      "Start the app from the same installation.";

  StatusColor iconColor = StatusColor::gray;
  StatusColor dotColor = StatusColor::gray;
  std::string title;
  TextColor titleColor = TextColor::primary;
  // The header's second line; none when the daemon and the note app are alive without a
  // health record.
  std::optional<std::string> secondLine;
  TextColor secondLineColor = TextColor::secondary;
  // A start is under way.
  bool busy = false;
  // Below the header and its separator.
  std::vector<MenuItem> items;

  static MenuModel from(const MenuState& state);
};

// The item's label ("Settings...", "Quit", ...); empty for a separator.
std::string menuItemText(MenuItem item);

}  // namespace qd
