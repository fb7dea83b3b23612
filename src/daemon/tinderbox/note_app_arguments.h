#pragma once

// Reading the arguments of the note-app operations: a value counts only with the right
// JSON type; a missing key and a value of another type are alike.

#include <optional>
#include <string>

#include "daemon/utilities/json.h"

namespace qd::noteapp {

std::optional<std::string> stringArgument(const Json& arguments, const char* key);
// The string argument trimmed, or "" when it is absent.
std::string trimmedArgument(const Json& arguments, const char* key);
// The document clause: one script line matching a name with or without ".tbx".
std::string documentClause(const std::string& document);
// `"` + escaped + `"`.
std::string scriptString(const std::string& text);

}  // namespace qd::noteapp
