// Note URLs and navigation: building a note URL, opening one, moving the note app's
// window to a note and view.

#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include "daemon/core/daemon_error.h"
#include "daemon/mcp/mcp_types.h"
#include "daemon/runtime/text_trim.h"
#include "daemon/tinderbox/note_app_arguments.h"
#include "daemon/tinderbox/note_app_operations.h"
#include "daemon/tinderbox/note_urls.h"
#include "daemon/utilities/unicode_text.h"

namespace qd {

using noteapp::stringArgument;

Json noteAppTextResult(std::string text) { return textToolResult(std::move(text)); }

asio::awaitable<std::string> NoteAppOperations::runScript(std::vector<std::string> lines) {
  co_return co_await commands_.runAppleScript(std::move(lines), settings_.subprocessTimeout);
}

asio::awaitable<void> NoteAppOperations::pause(std::chrono::milliseconds duration) {
  asio::steady_timer timer(co_await asio::this_coro::executor, duration);
  co_await timer.async_wait(asio::use_awaitable);
}

asio::awaitable<std::string> NoteAppOperations::resolveDocument(std::string document) {
  if (!document.empty()) co_return document;
  std::vector<std::string> lines{"tell application \"Tinderbox 11\"", "return name of front document", "end tell"};
  std::string output = co_await runScript(std::move(lines));
  std::string name = trimWhitespaceAndNewlines(output);
  if (name.size() >= 4 && unicode::lowercased(name.substr(name.size() - 4)) == ".tbx") name.resize(name.size() - 4);
  if (name.empty()) throw DaemonError::missingParameter("document");
  co_return name;
}

asio::awaitable<Json> NoteAppOperations::buildNoteURL(Json arguments) {
  const std::string document = co_await resolveDocument(noteapp::trimmedArgument(arguments, "document"));
  const std::optional<std::string> path = stringArgument(arguments, "path");
  if (!path) throw DaemonError::missingParameter("path");
  std::string pathPart;
  if (trimWhitespaceAndNewlines(*path) != "/") {
    pathPart = normalizeTinderboxPath(*path, false);
    if (pathPart.empty()) throw DaemonError::missingParameter("path");
  }
  co_return noteAppTextResult(
      noteURL(document, pathPart, stringArgument(arguments, "view"), stringArgument(arguments, "select")));
}

asio::awaitable<Json> NoteAppOperations::openURL(Json arguments) {
  const std::optional<std::string> url = stringArgument(arguments, "url");
  if (!url) throw DaemonError::missingParameter("url");
  if (!isOpenableTinderboxURL(*url)) {
    throw DaemonError::invalidParameter("url must be a valid tinderbox:// URL without control characters");
  }
  co_await commands_.openURL(*url, settings_.subprocessTimeout);
  co_return noteAppTextResult("Opened URL");
}

asio::awaitable<Json> NoteAppOperations::navigateToNote(Json arguments, std::string successText) {
  if (arguments.is_object() && !arguments.contains("view")) arguments["view"] = "outline";
  Json buildArguments = arguments;
  const Json built = co_await buildNoteURL(std::move(buildArguments));
  const Json* text = nullptr;
  if (built.contains("content") && built["content"].is_array() && !built["content"].empty() &&
      built["content"][0].is_object() && built["content"][0].contains("text") && built["content"][0]["text"].is_string()) {
    text = &built["content"][0]["text"];
  }
  if (text == nullptr) throw DaemonError::internalNavigationError();
  Json openArguments = Json::object();
  openArguments["url"] = *text;
  co_await openURL(std::move(openArguments));
  co_return noteAppTextResult(std::move(successText));
}

}  // namespace qd
