#include "daemon/tinderbox/note_app_arguments.h"

#include "daemon/runtime/text_trim.h"
#include "daemon/utilities/script_literal.h"

namespace qd::noteapp {

std::optional<std::string> stringArgument(const Json& arguments, const char* key) {
  if (!arguments.is_object()) return std::nullopt;
  const auto found = arguments.find(key);
  if (found == arguments.end() || !found->is_string()) return std::nullopt;
  return found->get<std::string>();
}

std::string trimmedArgument(const Json& arguments, const char* key) {
  return trimWhitespaceAndNewlines(stringArgument(arguments, key).value_or(""));
}

std::string documentClause(const std::string& document) {
  const std::string escaped = scriptLiteralEscaped(document);
  return "set d to first document whose (name is \"" + escaped + "\" or name is \"" + escaped + ".tbx\")";
}

std::string scriptString(const std::string& text) { return "\"" + scriptLiteralEscaped(text) + "\""; }

}  // namespace qd::noteapp
