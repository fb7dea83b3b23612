#pragma once

// What every application provider shares: the text reply, the AppleScript string-literal
// escape, the lane a script runs on, and running a script's lines through osascript.
// (Hexadecimal text to bytes is bytesFromHex in utilities/hex_text.h.)

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <asio/awaitable.hpp>

#include "daemon/providers/script_runner.h"
#include "daemon/utilities/json.h"

namespace qd::AppleScriptHelpers {

// {"content": [{"type": "text", "text": text}]}
Json textResult(std::string text);

// Backslashes doubled first, then every double quote preceded by a backslash; nothing else
// changes (line breaks, tabs and non-ASCII pass as they are). For every value placed inside
// a double-quoted AppleScript string literal.
std::string escape(std::string_view text);

// The lane of a script that is not a provider's own: the first application the joined
// lines address, in a fixed order (Contacts, Notes, Messages, Mail, Reminders, Calendar,
// Maps), else "apple-mcp".
std::string laneForScript(const std::vector<std::string>& lines);

// The closing lines of a listing script that gathered its items in `outLines`: the items
// joined by line feeds are returned, and AppleScript's text item delimiters reset.
void appendLineJoinedReturn(std::vector<std::string>& lines);

// A script's output, white space and line breaks trimmed, as a decimal integer with an
// optional leading "+" or "-"; none when it is empty, does not read or overflows.
std::optional<std::int64_t> outputInteger(std::string_view output);

// The osascript arguments for a script: "-e" and the line, for each line.
std::vector<std::string> scriptArguments(const std::vector<std::string>& lines);

// The run of a script's lines with the given lane, time-out, error domain and failure
// description. Await `runner.run(std::move(run))` with it: the runner's errors pass
// through unchanged.
ScriptRun scriptRun(const std::vector<std::string>& lines, std::string lane, double timeoutSeconds,
                    std::string errorDomain, std::string failureDescription);

// The shared runner: lane by laneForScript, 15 s, domain "AppleScriptHelpers", "AppleScript failed".
asio::awaitable<std::string> runAppleScript(ScriptRunner& runner, std::vector<std::string> lines);

}  // namespace qd::AppleScriptHelpers
