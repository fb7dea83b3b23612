#include "daemon/tinderbox/tool_call_note.h"

namespace qd {

ToolCallNote makeToolCallNote(const ToolCallRecord& record) {
  std::string arguments;
  try {
    arguments = dumpJson(record.arguments, 2);
  } catch (const std::exception&) {
    // A value JSON cannot write (a non-finite number) leaves the compact display form.
    arguments = record.arguments.dump(-1, ' ', false, Json::error_handler_t::replace);
  }
  std::string text = "Agent: " + record.agent;
  text += "\nTool: " + record.tool;
  text += "\nCategory: " + record.category;
  text += "\nDuration: " + std::to_string(record.durationMs);
  text += "ms\nSuccess: ";
  text += record.success ? "true" : "false";
  text += "\nError: " + record.error.value_or("none");
  text += "\nArguments: " + arguments;
  return ToolCallNote{"Tool Call - " + record.tool, std::move(text)};
}

asio::awaitable<void> writeToolCallNote(NoteHelpers& notes, ToolCallNote note, std::string loggedAt) {
  const std::string container = kToolCallNoteContainer;
  std::string path = container;
  co_await notes.ensurePath(std::move(path));
  const std::string title = notes.uniqueNoteTitle(container, note.baseTitle);
  std::string createTool = "create_note";
  Json createArguments{{"name", title}, {"container", container}, {"text", std::move(note.text)}};
  co_await notes.call(std::move(createTool), std::move(createArguments));

  // The six source attributes are empty for a router call; setNoteMetadata writes only
  // attributes that have a value.
  std::string notePath = container + "/" + title;
  NoteAttributes attributes{{"MVNType", "AgentLog"},    {"MVNAgent", "Router Calls"}, {"MVNLoggedAt", std::move(loggedAt)},
                            {"MVNSource", ""},          {"MVNHookEvent", ""},         {"MVNSessionID", ""},
                            {"MVNSourcePath", ""},      {"MVNTeam", ""},              {"MVNTeammate", ""}};
  co_await notes.setNoteMetadata(std::move(notePath), std::move(attributes));
}

}  // namespace qd
