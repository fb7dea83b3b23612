#include "app/installer/json_client_config.h"

#include <algorithm>

#include "app/installer/managed_entries.h"

namespace qd {
namespace {

bool isBlank(std::string_view text) {
  return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

// The first element of an OpenCode "command" array when every element is a string.
const Json* openCodeExecutable(const Json& entry) {
  if (!entry.is_object()) return nullptr;
  auto command = entry.find("command");
  if (command == entry.end() || !command->is_array() || command->empty()) return nullptr;
  for (const Json& part : *command) {
    if (!part.is_string()) return nullptr;
  }
  return &command->front();
}

const Json* stringCommand(const Json& entry) {
  if (!entry.is_object()) return nullptr;
  auto command = entry.find("command");
  return command != entry.end() && command->is_string() ? &*command : nullptr;
}

}  // namespace

const char* containerKey(JsonClientKind kind) { return kind == JsonClientKind::openCode ? "mcp" : "mcpServers"; }

Json parseClientConfigJson(std::string_view text) {
  if (isBlank(text)) return Json::object();
  Json config;
  try {
    config = parseJsonExactly(text);
  } catch (const JsonParseError& e) {
    if (e.kind() == JsonParseError::Kind::malformed && Json::accept(text, /*ignore_comments=*/true)) {
      throw ClientConfigContentError("The file contains comments a rewrite would lose.");
    }
    if (e.kind() == JsonParseError::Kind::malformed) throw ClientConfigContentError(e.description());
    throw ClientConfigContentError("A rewrite would change a value: " + e.description() + ".");
  }
  if (config.is_null()) return Json::object();
  if (!config.is_object()) throw ClientConfigContentError("The file's top level is not a JSON object.");
  return config;
}

std::string renderClientConfigJson(const Json& config) { return dumpJson(withSortedKeys(config), 2) + "\n"; }

Json containerObject(const Json& config, const char* key) {
  auto it = config.find(key);
  if (it == config.end() || it->is_null()) return Json::object();
  if (!it->is_object()) throw ClientConfigContentError(std::string("The \"") + key + "\" value is not a JSON object.");
  return *it;
}

Json managedEntry(JsonClientKind kind, const std::string& command, const std::string& name) {
  switch (kind) {
    case JsonClientKind::generic:
      return {{"command", command}, {"args", {"--client", "--profile", name}}};
    case JsonClientKind::droid:
      return {{"type", "stdio"}, {"command", command}, {"args", {"--client", "--profile", name}}, {"disabled", false}};
    case JsonClientKind::openCode:
      return {{"type", "local"}, {"command", {command, "--client", "--profile", name}}, {"enabled", true}};
  }
  return Json::object();
}

Json configByInstallingManagedJSONEntries(Json config, JsonClientKind kind, const std::string& command) {
  const char* key = containerKey(kind);
  Json container = containerObject(config, key);
  for (const auto& legacy : legacyEndpointNames()) container.erase(legacy);
  for (const auto& name : managedEndpointNames()) container[name] = managedEntry(kind, command, name);
  config[key] = std::move(container);
  return config;
}

ManagedRemoval removingManagedJSONEntries(const Json& servers, const std::string& expectedCommand) {
  ManagedRemoval result{Json::object(), {}};
  for (const auto& [name, entry] : servers.items()) {
    const Json* command = stringCommand(entry);
    const bool ours = entry.is_object() &&
                      (isManagedOrLegacyName(name) || (command && isOurCommand(command->get<std::string>(), expectedCommand)));
    if (ours) result.removedKeys.push_back(name);
    else result.remaining[name] = entry;
  }
  std::sort(result.removedKeys.begin(), result.removedKeys.end());
  return result;
}

ManagedRemoval removingManagedOpenCodeEntries(const Json& mcp, const std::string& expectedCommand) {
  ManagedRemoval result{Json::object(), {}};
  for (const auto& [name, entry] : mcp.items()) {
    const Json* executable = openCodeExecutable(entry);
    const bool ours =
        isManagedOrLegacyName(name) || (executable && isOurCommand(executable->get<std::string>(), expectedCommand));
    if (ours) result.removedKeys.push_back(name);
    else result.remaining[name] = entry;
  }
  std::sort(result.removedKeys.begin(), result.removedKeys.end());
  return result;
}

bool holdsManagedEntries(const Json& container, JsonClientKind kind, const std::string* expectedCommand) {
  for (const auto& [name, _] : container.items()) {
    if (isManagedOrLegacyName(name)) return true;
  }
  if (!expectedCommand) return false;
  for (const auto& [name, entry] : container.items()) {
    const Json* command = kind == JsonClientKind::openCode ? openCodeExecutable(entry) : stringCommand(entry);
    if (command && isOurCommand(command->get<std::string>(), *expectedCommand)) return true;
  }
  return false;
}

}  // namespace qd
