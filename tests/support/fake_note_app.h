#pragma once

// A recording stand-in for the note app's MCP server: it keeps a set of notes (container
// path and name), answers "get_notes" for the query the note helpers send, records every
// call in order, and can be told to fail a tool (throw, or answer isError) or to hold
// calls until released.

#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include <asio/this_coro.hpp>

#include "daemon/core/note_app_client.h"
#include "daemon/runtime/one_shot.h"
#include "daemon/tinderbox/note_helpers.h"

namespace qd::test {

struct RecordedCall {
  std::string tool;
  Json arguments;
};

class FakeNoteApp final : public NoteAppClient {
 public:
  enum class Failure { none, thrown, isError };

  bool connected = true;
  std::vector<RecordedCall> calls;
  std::set<std::pair<std::string, std::string>> notes;  // (container, name)
  std::map<std::string, Failure> failures;              // by tool name
  bool holdCalls = false;                               // park every call until releaseHeld()

  bool isConnected() const override { return connected; }

  asio::awaitable<CallToolResult> callTool(std::string name, Json arguments) override {
    calls.push_back({name, arguments});
    if (holdCalls) {
      auto turn = std::make_shared<OneShot<std::monostate>>(co_await asio::this_coro::executor);
      held_.push_back(turn);
      co_await turn->wait();
    }
    const Failure failure = failures.contains(name) ? failures[name] : Failure::none;
    if (failure == Failure::thrown) throw std::runtime_error("note app failed");
    if (failure == Failure::isError) co_return CallToolResult::text("No document open", true);
    if (name == "get_notes") co_return CallToolResult::text(answerQuery(arguments.value("query", "")));
    if (name == "create_note") notes.insert({arguments.value("container", ""), arguments.value("name", "")});
    co_return CallToolResult::text("ok");
  }

  std::size_t heldCount() const { return held_.size(); }
  void releaseHeld() {
    holdCalls = false;
    for (auto& turn : held_) turn->resume(std::monostate{});
    held_.clear();
  }

  // The calls of one tool, in order.
  std::vector<Json> argumentsOf(const std::string& tool) const {
    std::vector<Json> out;
    for (const auto& c : calls) {
      if (c.tool == tool) out.push_back(c.arguments);
    }
    return out;
  }
  std::vector<std::string> toolSequence() const {
    std::vector<std::string> out;
    for (const auto& c : calls) out.push_back(c.tool);
    return out;
  }
  // The last value written to an attribute of a note, or "" when none was.
  std::string attribute(const std::string& notePath, const std::string& attribute) const {
    std::string value;
    for (const auto& c : calls) {
      if (c.tool == "set_value" && c.arguments["notes"] == notePath && c.arguments["attribute"] == attribute) {
        value = c.arguments["value"];
      }
    }
    return value;
  }

 private:
  std::string answerQuery(const std::string& query) const {
    for (const auto& [container, name] : notes) {
      const std::string expected =
          "$Name==\"" + escapedQueryString(name) + "\" & $Container==\"" + escapedQueryString(container) + "\"";
      if (expected == query) return "Found 1 notes";
    }
    return "Found 0 notes";
  }

  std::vector<std::shared_ptr<OneShot<std::monostate>>> held_;
};

}  // namespace qd::test
