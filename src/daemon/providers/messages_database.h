#pragma once

// Reading the Messages application's database (~/Library/Messages/chat.db) with SQLite:
// one conversation or the unread incoming messages, newest first, as message records
// ({"sender", "is_from_me", "date", "content", and "has_attachments": true when the row
// has any}). The file is opened read-only and never changed.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "daemon/utilities/json.h"

namespace qd::MessagesDatabase {

// The error domain of every query failure.
inline constexpr const char* kErrorDomain = "MessagesToolProvider";
// Queries never return more rows than this.
inline constexpr std::int64_t kMaxRows = 50;
// A query still running after this long is interrupted.
inline constexpr std::chrono::seconds kQueryTimeLimit{10};

// <home>/Library/Messages/chat.db
std::filesystem::path databasePath(const std::filesystem::path& home);

// The handle identifiers to look a phone number up by (always exactly one): the digits and
// "+" of the text, written as "+1" and ten digits for North American numbers; a number
// that already starts with "+" and another country code stays as it is.
std::vector<std::string> normalizePhoneNumber(std::string_view phoneNumber);

// The SQL of the two reads; `limit` is held to [0, 50] (a negative LIMIT would mean "no
// limit" to SQLite).
std::string conversationQuery(std::string_view phoneNumber, std::int64_t limit);
std::string unreadQuery(std::int64_t limit);

// Runs one query against the database at `path` (read-only) and converts its rows to
// message records, in row order. Blocks: call it on the blocking pool. Throws
// ProcessRunnerError in kErrorDomain: code 2 "Failed to query Messages database: timed out
// after 10s" when interrupted at `timeLimit`, else code 1 with SQLite's own message.
Json queryMessagesDatabase(const std::filesystem::path& path, const std::string& query,
                           std::chrono::milliseconds timeLimit = kQueryTimeLimit);

// The records as pretty-printed JSON text; "[]" for none.
std::string formatMessagesJSON(const Json& records);

}  // namespace qd::MessagesDatabase
