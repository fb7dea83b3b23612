#pragma once

// The journal note of one agent action: under "/Quarvel Dorarov/Agent Logs/<agent>" (the
// name used as it is, so a "/" in it nests deeper), titled by the base title made unique in
// that container, holding the text, with MVNType "AgentLog", MVNAgent, MVNLoggedAt and the
// context values the caller has (empty ones are not written). Written only while logging
// is on and the note app is connected; never fails its caller.

#include <optional>
#include <string>

#include <asio/awaitable.hpp>

#include "daemon/core/coordination_context.h"

namespace qd {

// Where an entry came from, as the hook sync knows it; other writers leave it empty.
struct AgentLogContext {
  std::optional<std::string> source;
  std::optional<std::string> hookEvent;
  std::optional<std::string> sessionID;
  std::optional<std::string> sourcePath;
  std::optional<std::string> team;
  std::optional<std::string> teammate;
};

asio::awaitable<void> writeAgentLogNote(CoordinationContext& context, std::string agent, std::string baseTitle,
                                        std::string text, AgentLogContext details);
// Without context values (every writer but the hook sync).
asio::awaitable<void> writeAgentLogNote(CoordinationContext& context, std::string agent, std::string baseTitle,
                                        std::string text);

}  // namespace qd
