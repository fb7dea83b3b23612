#pragma once

// The operations that drive the note app's windows and documents: note URLs and
// navigation, document and note operations, menu clicks, view capture, export and
// printing. Each builds its script or command line, runs it through NoteAppCommands (one
// at a time, never on a blocked io thread) and reads back the answer. Arguments count only
// when they are strings (copies: a JSON integer; exportChildren: JSON true). Results are
// MCP tool results; failures are DaemonError or the child-process layer's launch error.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <asio/awaitable.hpp>

#include "daemon/config/configuration.h"
#include "daemon/tinderbox/clipboard_image.h"
#include "daemon/tinderbox/note_app_commands.h"
#include "daemon/utilities/clock.h"
#include "daemon/utilities/json.h"

namespace qd {

struct NoteAppSettings {
  double subprocessTimeout = 15;       // seconds, for every script and command
  std::filesystem::path exportsDir;    // export files and saved view images
  std::chrono::milliseconds clipboardWait = std::chrono::seconds(10);
  std::chrono::milliseconds clipboardPoll = std::chrono::milliseconds(100);
  const Clock* clock = &Clock::system();  // the clipboard wait's deadline
  std::chrono::milliseconds afterNavigation = std::chrono::milliseconds(250);
};

// The daemon's settings: its subprocess time-out and exports folder.
NoteAppSettings noteAppSettingsFrom(const Configuration& configuration);

class NoteAppOperations {
 public:
  NoteAppOperations(NoteAppCommands& commands, ClipboardImageReader& clipboard, NoteAppSettings settings)
      : commands_(commands), clipboard_(clipboard), settings_(std::move(settings)) {}

  // Navigation.
  asio::awaitable<Json> buildNoteURL(Json arguments);
  asio::awaitable<Json> openURL(Json arguments);
  // navigate_to_note, navigate_to_note_view and set_tinderbox_view: the same navigation,
  // answered with `successText`.
  asio::awaitable<Json> navigateToNote(Json arguments, std::string successText);

  // Documents and notes.
  asio::awaitable<Json> openDocument(Json arguments);
  asio::awaitable<Json> saveDocument(Json arguments);
  asio::awaitable<Json> closeDocument(Json arguments);
  asio::awaitable<Json> listWindows(Json arguments);
  asio::awaitable<Json> selectNote(Json arguments);
  asio::awaitable<Json> deleteNotes(Json arguments);
  asio::awaitable<Json> noteExists(Json arguments);

  // Clicks a menu item of the note app through System Events, after navigating when the
  // arguments name a document or a path.
  asio::awaitable<Json> clickMenuItem(Json arguments, std::string menuBarItem, std::string menuItem,
                                      double preClickDelaySeconds, std::optional<double> scriptTimeoutSeconds,
                                      std::string successText);

  // View capture: an image result with the new clipboard PNG, also saved in the exports folder.
  asio::awaitable<Json> copyView(Json arguments);

  // Export and printing.
  asio::awaitable<Json> exportDocument(Json arguments);
  asio::awaitable<Json> exportNote(Json arguments);
  asio::awaitable<Json> printNote(Json arguments);
  asio::awaitable<Json> printDocument(Json arguments);

  // Which operation name reaches which handler; none for a name not handled here.
  asio::awaitable<std::optional<Json>> perform(std::string operation, Json arguments);

 private:
  asio::awaitable<std::string> resolveDocument(std::string document);
  asio::awaitable<std::string> runScript(std::vector<std::string> lines);
  asio::awaitable<void> pause(std::chrono::milliseconds duration);

  NoteAppCommands& commands_;
  ClipboardImageReader& clipboard_;
  NoteAppSettings settings_;
};

// {"content": [{"type": "text", "text": text}]}
Json noteAppTextResult(std::string text);

}  // namespace qd
