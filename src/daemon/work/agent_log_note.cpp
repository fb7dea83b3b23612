#include "daemon/work/agent_log_note.h"

#include "daemon/tinderbox/note_helpers.h"
#include "daemon/tinderbox/note_time.h"
#include "daemon/utilities/unix_time.h"

namespace qd {

asio::awaitable<void> writeAgentLogNote(CoordinationContext& context, std::string agent, std::string baseTitle,
                                        std::string text, AgentLogContext details) {
  // The connection first: reading the settings copies them.
  if (!context.noteApp.isConnected() || !context.toolSettingsStore.current().enableLogging) co_return;
  NoteHelpers notes(context.noteApp, context.journal);
  const std::string container = "/Quarvel Dorarov/Agent Logs/" + agent;
  std::string path = container;
  co_await notes.ensurePath(std::move(path));

  // The title is taken before the next await, so two entries logged together get distinct names.
  const std::string name = notes.uniqueNoteTitle(container, baseTitle);
  std::string tool = "create_note";
  Json arguments{{"name", name}, {"container", container}, {"text", std::move(text)}};
  co_await notes.call(std::move(tool), std::move(arguments));

  std::string notePath = container + "/" + name;
  NoteAttributes attributes{{"MVNType", "AgentLog"},
                            {"MVNAgent", agent},
                            {"MVNLoggedAt", iso8601Seconds(unixMilliseconds(context.clock.wallNow()))},
                            {"MVNSource", details.source.value_or("")},
                            {"MVNHookEvent", details.hookEvent.value_or("")},
                            {"MVNSessionID", details.sessionID.value_or("")},
                            {"MVNSourcePath", details.sourcePath.value_or("")},
                            {"MVNTeam", details.team.value_or("")},
                            {"MVNTeammate", details.teammate.value_or("")}};
  co_await notes.setNoteMetadata(std::move(notePath), std::move(attributes));
}

asio::awaitable<void> writeAgentLogNote(CoordinationContext& context, std::string agent, std::string baseTitle,
                                        std::string text) {
  AgentLogContext none;
  co_await writeAgentLogNote(context, std::move(agent), std::move(baseTitle), std::move(text), std::move(none));
}

}  // namespace qd
