// Document and note operations and menu clicks: the scripts sent to the note app (and to
// System Events for the menus) and the reading of their answers.

#include <filesystem>
#include <sstream>

#include "daemon/core/daemon_error.h"
#include "daemon/runtime/text_trim.h"
#include "daemon/tinderbox/note_app_arguments.h"
#include "daemon/tinderbox/note_app_operations.h"
#include "daemon/tinderbox/note_urls.h"
#include "daemon/utilities/unicode_text.h"

namespace qd {

using noteapp::documentClause;
using noteapp::scriptString;
using noteapp::stringArgument;
using noteapp::trimmedArgument;

namespace {

const std::string tellNoteApp = "tell application \"Tinderbox 11\"";

// The absolute, standardised path of a file path: relative to the working folder, "." and
// ".." resolved lexically, no trailing slash; a leading tilde is not expanded.
std::string standardizedFilePath(const std::string& filePath) {
  std::filesystem::path path = std::filesystem::absolute(filePath).lexically_normal();
  std::string text = path.string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

// The shortest decimal form with at least one fractional digit (8 -> "8.0", 0.25 -> "0.25").
std::string delayText(double seconds) {
  std::ostringstream out;
  out.precision(17);
  for (int digits = 1; digits <= 17; ++digits) {
    std::ostringstream attempt;
    attempt.setf(std::ios::fixed);
    attempt.precision(digits);
    attempt << seconds;
    if (std::stod(attempt.str()) == seconds) return attempt.str();
  }
  out << seconds;
  return out.str();
}

// A required, non-empty string argument.
std::string requiredArgument(const Json& arguments, const char* key) {
  std::optional<std::string> value = stringArgument(arguments, key);
  if (!value || value->empty()) throw DaemonError::missingParameter(key);
  return *value;
}

bool errorSays(const DaemonError& error, std::string_view text) {
  return error.kind() == DaemonError::Kind::appleScriptError &&
         std::string_view(error.what()).find(text) != std::string_view::npos;
}

}  // namespace

asio::awaitable<Json> NoteAppOperations::openDocument(Json arguments) {
  const std::string filePath = requiredArgument(arguments, "filePath");
  const std::string path = standardizedFilePath(filePath);
  if (!unicode::lowercased(path).ends_with(".tbx")) throw DaemonError::missingParameter("filePath (.tbx)");
  std::vector<std::string> lines{tellNoteApp, "open POSIX file " + scriptString(path), "activate", "end tell"};
  co_await runScript(std::move(lines));
  co_return noteAppTextResult("Opened document: " + path);
}

asio::awaitable<Json> NoteAppOperations::saveDocument(Json arguments) {
  const std::string document = trimmedArgument(arguments, "document");
  std::vector<std::string> lines =
      document.empty() ? std::vector<std::string>{tellNoteApp, "save front document", "end tell"}
                       : std::vector<std::string>{tellNoteApp, documentClause(document), "save d", "end tell"};
  co_await runScript(std::move(lines));
  co_return noteAppTextResult("Saved document: " + (document.empty() ? std::string("front document") : document));
}

asio::awaitable<Json> NoteAppOperations::closeDocument(Json arguments) {
  const std::string document = trimmedArgument(arguments, "document");
  const std::optional<std::string> requested = stringArgument(arguments, "saving");
  const std::string saving = requested && (*requested == "yes" || *requested == "no" || *requested == "ask")
                                 ? *requested
                                 : std::string("ask");
  std::vector<std::string> lines =
      document.empty()
          ? std::vector<std::string>{tellNoteApp, "close front document saving " + saving, "end tell"}
          : std::vector<std::string>{tellNoteApp, documentClause(document), "close d saving " + saving, "end tell"};
  co_await runScript(std::move(lines));
  co_return noteAppTextResult("Closed document: " + (document.empty() ? std::string("front document") : document));
}

asio::awaitable<Json> NoteAppOperations::listWindows(Json arguments) {
  const std::string document = trimmedArgument(arguments, "document");
  const std::string filter = document.empty() ? std::string("if true then")
                                              : "if dName is " + scriptString(document) + " or dName is " +
                                                    scriptString(document + ".tbx") + " then";
  std::vector<std::string> lines{
      tellNoteApp,
      "set outLines to {}",
      "repeat with w in windows",
      "set dName to \"\"",
      "try",
      "set dName to name of document of w",
      "end try",
      filter,
      "set end of outLines to ((id of w as text) & \"|\" & (name of w as text) & \"|\" & dName & \"|\" & "
      "(visible of w as text) & \"|\" & (index of w as text))",
      "end if",
      "end repeat",
      "set AppleScript's text item delimiters to linefeed",
      "set outText to outLines as text",
      "set AppleScript's text item delimiters to \"\"",
      "return outText",
      "end tell"};
  const std::string output = co_await runScript(std::move(lines));
  co_return noteAppTextResult(trimWhitespaceAndNewlines(output));
}

asio::awaitable<Json> NoteAppOperations::selectNote(Json arguments) {
  const std::string document = requiredArgument(arguments, "document");
  const std::string path = normalizeTinderboxPath(requiredArgument(arguments, "notePath"), true);
  std::vector<std::string> lines{tellNoteApp, "activate", documentClause(document),
                                 "set selected note of d to (find note in d with path " + scriptString(path) + ")",
                                 "end tell"};
  co_await runScript(std::move(lines));
  co_return noteAppTextResult("Selected note: " + path);
}

asio::awaitable<Json> NoteAppOperations::deleteNotes(Json arguments) {
  const std::string document = trimmedArgument(arguments, "document");
  const std::string notePath = stringArgument(arguments, "notePath").value_or("");
  if (trimWhitespaceAndNewlines(notePath).empty()) throw DaemonError::missingParameter("notePath");
  std::vector<std::string> paths;
  std::size_t start = 0;
  while (start <= notePath.size()) {
    const std::size_t end = std::min(notePath.find(';', start), notePath.size());
    const std::string path = normalizeTinderboxPath(notePath.substr(start, end - start), true);
    if (!path.empty()) paths.push_back(path);
    start = end + 1;
  }
  if (paths.empty()) throw DaemonError::missingParameter("notePath");

  std::vector<std::string> deleted;
  std::vector<std::string> failed;
  for (const std::string& path : paths) {
    // The path goes into the note app's own action code, where the script literal's
    // escaping does not reach: a quote or backslash could end the string there and run
    // code of its own, so such a path is refused and no script runs for it.
    if (path.find_first_of("\"\\") != std::string::npos) {
      failed.push_back(path);
      continue;
    }
    std::vector<std::string> lines{tellNoteApp,
                                   document.empty() ? std::string("set d to front document") : documentClause(document),
                                   "set result to evaluate d with " + scriptString("delete(\"" + path + "\")"),
                                   "return result", "end tell"};
    bool ok = false;
    try {
      const std::string output = trimWhitespaceAndNewlines(co_await runScript(std::move(lines)));
      ok = !output.empty() && output != "false";
    } catch (const std::exception&) {
      ok = false;  // counted as failed; the other paths still run
    }
    (ok ? deleted : failed).push_back(path);
  }
  const auto joined = [](const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
    return text;
  };
  if (failed.empty()) {
    co_return noteAppTextResult("Deleted " + std::to_string(deleted.size()) + (deleted.size() == 1 ? " note" : " notes") +
                                ": " + joined(deleted));
  }
  co_return noteAppTextResult("Deleted " + std::to_string(deleted.size()) + " of " + std::to_string(paths.size()) +
                              " notes. Failed: " + joined(failed));
}

asio::awaitable<Json> NoteAppOperations::noteExists(Json arguments) {
  const std::string document = requiredArgument(arguments, "document");
  const std::string path = normalizeTinderboxPath(requiredArgument(arguments, "notePath"), true);
  std::vector<std::string> lines{tellNoteApp, documentClause(document),
                                 "set foundIt to exists (find note in d with path " + scriptString(path) + ")",
                                 "return foundIt as text", "end tell"};
  std::string output;
  try {
    output = co_await runScript(std::move(lines));
  } catch (const DaemonError& error) {
    // The document is not open.
    if (errorSays(error, "Invalid index. (-1719)")) output = "false";
    else throw;
  }
  co_return noteAppTextResult(unicode::lowercased(trimWhitespaceAndNewlines(output)) == "true" ? "true" : "false");
}

asio::awaitable<Json> NoteAppOperations::clickMenuItem(Json arguments, std::string menuBarItem, std::string menuItem,
                                                       double preClickDelaySeconds,
                                                       std::optional<double> scriptTimeoutSeconds,
                                                       std::string successText) {
  if (arguments.is_object() && (arguments.contains("document") || arguments.contains("path"))) {
    std::string navigated = "navigated";
    co_await navigateToNote(arguments, std::move(navigated));
    co_await pause(settings_.afterNavigation);
  }
  std::vector<std::string> lines{"tell application \"Tinderbox 11\" to activate", "tell application \"System Events\"",
                                 "tell process \"Tinderbox 11\""};
  if (preClickDelaySeconds > 0) lines.push_back("delay " + delayText(preClickDelaySeconds));
  lines.push_back("click menu item " + scriptString(menuItem) + " of menu " + scriptString(menuBarItem) + " of menu bar item " +
                  scriptString(menuBarItem) + " of menu bar 1");
  lines.push_back("return \"ok\"");
  lines.push_back("end tell");
  lines.push_back("end tell");
  try {
    co_await commands_.runAppleScript(std::move(lines), scriptTimeoutSeconds.value_or(settings_.subprocessTimeout));
  } catch (const DaemonError& error) {
    if (!errorSays(error, "not allowed assistive access")) throw;
    throw DaemonError::appleScriptError(
        "UI scripting permission is required for Tinderbox View menu actions. Grant Accessibility access to the host "
        "app running the daemon, then retry.");
  }
  co_return noteAppTextResult(std::move(successText));
}

}  // namespace qd
