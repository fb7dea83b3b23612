#pragma once

// How every journal writer lays out notes in the note app: containers along a path,
// unique titles within a container, the existence query, attribute writes. All of it is
// best effort: nothing here fails outward, and without a connected client nothing is sent
// (noteExists answers false).
//
// Paths are names joined by "/" from the document root, with a leading "/"; a name that
// holds "/" is not escaped. Runs on the io thread; each call to the note app is an await
// at which other work may run.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <asio/awaitable.hpp>

#include "daemon/core/coordination_context.h"
#include "daemon/core/note_app_client.h"

namespace qd {

// Attribute name and value pairs, written in this order.
using NoteAttributes = std::vector<std::pair<std::string, std::string>>;

// The text of a value inside a double-quoted query string: backslashes doubled, then
// double quotes escaped.
std::string escapedQueryString(const std::string& text);

class NoteHelpers {
 public:
  NoteHelpers(NoteAppClient& client, NoteJournalState& state) : client_(client), state_(state) {}

  // Makes sure of every container along the path, outermost first. "a/b", "/a/b/" and
  // "//a//b" name the same two containers; a path of only slashes does nothing.
  asio::awaitable<void> ensurePath(std::string path);

  // Makes sure of one container below `parent` ("" counts as "/"). A known path costs no
  // call; otherwise the note is looked up and, when not found, created. The path becomes
  // known only once it was found or "create_note" answered without isError, so a failure
  // is tried again by the next caller.
  asio::awaitable<void> ensureContainer(std::string name, std::string parent);

  // Asks "get_notes" for $Name=="name" & $Container=="container". True when the answer's
  // text does not hold "Found 0 notes"; false without a client, when the call fails, or
  // when the answer is flagged isError (no document open tells nothing about the note).
  asio::awaitable<bool> noteExists(std::string name, std::string container);

  // The base title on its first use in the container during the daemon's life, then
  // "<base> (2)", "<base> (3)", ... Needs no client and does not suspend.
  std::string uniqueNoteTitle(const std::string& containerPath, const std::string& baseTitle);

  // One "set_value" per attribute with a non-empty value, in order; failures are dropped.
  asio::awaitable<void> setNoteMetadata(std::string notePath, NoteAttributes metadata);

  // One "set_value", also for an empty value; a failure is dropped.
  asio::awaitable<void> setTinderboxValue(std::string path, std::string attribute, std::string value);

  // A call whose failure the writer ignores: the result, or none when the call threw or
  // there is no client.
  asio::awaitable<std::optional<CallToolResult>> call(std::string tool, Json arguments);

  bool isConnected() const { return client_.isConnected(); }

 private:
  NoteAppClient& client_;
  NoteJournalState& state_;
};

// True when the call gave a result not flagged isError.
bool succeeded(const std::optional<CallToolResult>& result);

}  // namespace qd
