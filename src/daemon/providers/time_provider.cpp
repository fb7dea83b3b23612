#include "daemon/providers/time_provider.h"

#include "daemon/providers/apple_script.h"
#include "daemon/providers/icu_time.h"
#include "daemon/providers/provider_arguments.h"

namespace qd {
namespace {

Json stringProperty() { return Json{{"type", "string"}}; }

}  // namespace

std::vector<MCPTool> TimeToolProvider::tools() const {
  MCPTool now;
  now.name = "time_now";
  now.description = "Get current local time (defaults to America/Halifax).";
  now.inputSchema.type = "object";
  now.inputSchema.properties = Json{{"timezone", stringProperty()}};

  MCPTool convert;
  convert.name = "time_convert";
  convert.description = "Convert current time between timezones.";
  convert.inputSchema.type = "object";
  convert.inputSchema.properties = Json{{"fromTimezone", stringProperty()}, {"toTimezone", stringProperty()}};
  convert.inputSchema.required = std::vector<std::string>{"toTimezone"};
  return {now, convert};
}

bool TimeToolProvider::canHandle(std::string_view toolName) const {
  return toolName == "time_now" || toolName == "time_convert";
}

asio::awaitable<std::optional<Json>> TimeToolProvider::handle(std::string toolName, std::string, Json arguments) {
  // Help is answered whatever the tool name, before the name is checked.
  if (stringArgument(arguments, "operation") == "help") co_return AppleScriptHelpers::textResult(helpText());
  if (toolName == "time_now") {
    const std::string zone = stringArgument(arguments, "timezone").value_or(defaultTimeZoneID_);
    co_return AppleScriptHelpers::textResult(formatNow(zone));
  }
  if (toolName == "time_convert") {
    const std::string from = stringArgument(arguments, "fromTimezone").value_or(defaultTimeZoneID_);
    const auto to = stringArgument(arguments, "toTimezone");
    if (!to || to->empty()) co_return AppleScriptHelpers::textResult("Missing toTimezone");
    co_return AppleScriptHelpers::textResult(convertNow(from, *to));
  }
  co_return std::nullopt;
}

std::string TimeToolProvider::formatNow(const std::string& timeZoneID) const {
  const auto zone = icutime::knownTimeZone(timeZoneID);
  if (!zone) return "Invalid timezone: " + timeZoneID;
  const std::string time = icutime::format(clock_.wallNow(), *zone, "yyyy-MM-dd'T'HH:mm:ssXXX");
  // Known zone identifiers need no JSON escaping, so the text is written as it stands.
  return "{\n  \"timezone\": \"" + timeZoneID + "\",\n  \"localTimeISO8601\": \"" + time + "\"\n}";
}

std::string TimeToolProvider::convertNow(const std::string& from, const std::string& toTimeZoneID) const {
  const auto fromZone = icutime::knownTimeZone(from);
  const auto toZone = icutime::knownTimeZone(toTimeZoneID);
  if (!fromZone || !toZone) return "Invalid timezone(s): from=" + from + ", to=" + toTimeZoneID;
  const auto now = clock_.wallNow();
  constexpr const char* pattern = "yyyy-MM-dd HH:mm:ss ZZZZ";
  return "{\n  \"fromTimezone\": \"" + from + "\",\n  \"toTimezone\": \"" + toTimeZoneID +
         "\",\n  \"fromLocalTime\": \"" + icutime::format(now, *fromZone, pattern) + "\",\n  \"toLocalTime\": \"" +
         icutime::format(now, *toZone, pattern) + "\"\n}";
}

const std::string& TimeToolProvider::helpText() {
  static const std::string text =
      "# Time Tools\n"
      "\n"
      "## time_now\n"
      "Get the current local time in a timezone.\n"
      "- timezone (optional): IANA timezone identifier. Default: America/Halifax\n"
      "\n"
      "## time_convert\n"
      "Show the current moment in two timezones.\n"
      "- fromTimezone (optional): IANA timezone identifier. Default: America/Halifax\n"
      "- toTimezone (required): IANA timezone identifier\n"
      "\n"
      "## Timezone Format\n"
      "Use IANA timezone identifiers, for example America/New_York, Europe/London, Asia/Tokyo, America/Bogota.";
  return text;
}

}  // namespace qd
