#include "daemon/providers/messages_database.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <memory>

#include <unicode/unistr.h>

#include "daemon/providers/attributed_body.h"
#include "daemon/runtime/process_runner.h"
#include "daemon/utilities/unicode_text.h"

namespace qd::MessagesDatabase {
namespace {

constexpr const char* kFailure = "Failed to query Messages database";
// A writer holding the database briefly is waited for this long before the query fails
// as locked; the Messages application keeps its own writes short.
constexpr int kBusyTimeoutMilliseconds = 500;
// How many virtual-machine steps pass between two looks at the clock.
constexpr int kProgressSteps = 1000;

const char* const kSelectList = R"(SELECT
    m.ROWID as message_id,
    CASE
        WHEN m.text IS NOT NULL AND m.text != '' THEN m.text
        WHEN m.attributedBody IS NOT NULL THEN hex(m.attributedBody)
        ELSE NULL
    END as content,
    datetime(m.date/1000000000 + strftime('%s', '2001-01-01'), 'unixepoch', 'localtime') as date,
    h.id as sender,
    m.is_from_me,
    m.cache_has_attachments,
    CASE
        WHEN m.text IS NOT NULL AND m.text != '' THEN 0
        WHEN m.attributedBody IS NOT NULL THEN 1
        ELSE 2
    END as content_type
FROM message m
INNER JOIN handle h ON h.ROWID = m.handle_id
)";

std::string rowLimit(std::int64_t limit) { return std::to_string(std::clamp<std::int64_t>(limit, 0, kMaxRows)); }

std::string sqlLiteral(std::string_view text) {
  std::string out = "'";
  for (const char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

bool allDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

// Text from the database may hold anything: ill-formed UTF-8 becomes U+FFFD, value by
// value, so one bad message never spoils the reply.
std::string wellFormed(std::string_view bytes) {
  if (unicode::isValidUtf8(bytes)) return std::string(bytes);
  std::string out;
  icu::UnicodeString::fromUTF8(icu::StringPiece(bytes.data(), static_cast<std::int32_t>(bytes.size())))
      .toUTF8String(out);
  return out;
}

struct Closer {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};

struct Deadline {
  std::chrono::steady_clock::time_point at;
  std::chrono::milliseconds limit;
  bool passed = false;
};

int checkDeadline(void* context) {
  auto* deadline = static_cast<Deadline*>(context);
  if (std::chrono::steady_clock::now() >= deadline->at) deadline->passed = true;
  return deadline->passed ? 1 : 0;
}

[[noreturn]] void fail(sqlite3* db, const Deadline& deadline, int status) {
  if (deadline.passed || status == SQLITE_INTERRUPT) {
    throw ProcessRunnerError(kErrorDomain, 2,
                             std::string(kFailure) + ": timed out after " +
                                 std::to_string(std::chrono::duration_cast<std::chrono::seconds>(deadline.limit).count()) +
                                 "s");
  }
  const char* message = db ? sqlite3_errmsg(db) : sqlite3_errstr(status);
  throw ProcessRunnerError(kErrorDomain, 1, std::string(kFailure) + ": " + message);
}

std::optional<std::string> textColumn(sqlite3_stmt* statement, int column) {
  if (sqlite3_column_type(statement, column) != SQLITE_TEXT) return std::nullopt;
  const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
  const int size = sqlite3_column_bytes(statement, column);
  return wellFormed(std::string_view(bytes ? bytes : "", static_cast<std::size_t>(size)));
}

bool isIntegerOne(sqlite3_stmt* statement, int column) {
  return sqlite3_column_type(statement, column) == SQLITE_INTEGER && sqlite3_column_int64(statement, column) == 1;
}

// Columns: message_id, content, date, sender, is_from_me, cache_has_attachments, content_type.
Json messageRecord(sqlite3_stmt* statement) {
  Json record = Json::object();
  record["sender"] = textColumn(statement, 3).value_or("");
  record["is_from_me"] = isIntegerOne(statement, 4);
  record["date"] = textColumn(statement, 2).value_or("");
  std::string content = textColumn(statement, 1).value_or("");
  if (isIntegerOne(statement, 6) && !content.empty()) content = decodeAttributedBody(content);
  record["content"] = content.empty() ? "[No text content]" : content;
  if (isIntegerOne(statement, 5)) record["has_attachments"] = true;
  return record;
}

}  // namespace

std::filesystem::path databasePath(const std::filesystem::path& home) { return home / "Library/Messages/chat.db"; }

std::vector<std::string> normalizePhoneNumber(std::string_view phoneNumber) {
  std::string cleaned;
  for (const char c : phoneNumber) {
    if ((c >= '0' && c <= '9') || c == '+') cleaned += c;
  }
  const std::string_view view(cleaned);
  if (view.size() == 12 && view.starts_with("+1") && allDigits(view.substr(2))) return {cleaned};
  if (view.size() == 11 && view.starts_with('1') && allDigits(view)) return {"+" + cleaned};
  if (view.size() == 10 && allDigits(view)) return {"+1" + cleaned};
  if (view.starts_with("+1")) return {cleaned};
  if (view.starts_with('1')) return {"+" + cleaned};
  // Another country's code is already complete: "+1" in front would make a number that
  // no handle has.
  if (view.size() >= 2 && view[0] == '+' && view[1] >= '0' && view[1] <= '9') return {cleaned};
  return {"+1" + cleaned};
}

std::string conversationQuery(std::string_view phoneNumber, std::int64_t limit) {
  std::string ids;
  for (const auto& id : normalizePhoneNumber(phoneNumber)) {
    if (!ids.empty()) ids += ",";
    ids += sqlLiteral(id);
  }
  return std::string(kSelectList) + "WHERE h.id IN (" + ids + ")\n" +
         "    AND (m.text IS NOT NULL OR m.attributedBody IS NOT NULL OR m.cache_has_attachments = 1)\n"
         "    AND m.is_from_me IS NOT NULL\n"
         "    AND m.item_type = 0\n"
         "    AND m.is_audio_message = 0\n"
         "ORDER BY m.date DESC\n"
         "LIMIT " +
         rowLimit(limit);
}

std::string unreadQuery(std::int64_t limit) {
  return std::string(kSelectList) +
         "WHERE m.is_from_me = 0\n"
         "    AND m.is_read = 0\n"
         "    AND (m.text IS NOT NULL OR m.attributedBody IS NOT NULL OR m.cache_has_attachments = 1)\n"
         "    AND m.is_audio_message = 0\n"
         "    AND m.item_type = 0\n"
         "ORDER BY m.date DESC\n"
         "LIMIT " +
         rowLimit(limit);
}

Json queryMessagesDatabase(const std::filesystem::path& path, const std::string& query,
                           std::chrono::milliseconds timeLimit) {
  Deadline deadline{std::chrono::steady_clock::now() + timeLimit, timeLimit};
  // A plain path, not a URI: "?" or "%" in the home folder's name mean nothing here. Not
  // immutable either: the Messages application writes the database while we read it.
  sqlite3* rawDb = nullptr;
  const int opened = sqlite3_open_v2(path.c_str(), &rawDb, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
  std::unique_ptr<sqlite3, Closer> db(rawDb);
  if (opened != SQLITE_OK) fail(db.get(), deadline, opened);
  sqlite3_busy_timeout(db.get(), kBusyTimeoutMilliseconds);
  sqlite3_progress_handler(db.get(), kProgressSteps, checkDeadline, &deadline);

  sqlite3_stmt* rawStatement = nullptr;
  const int prepared = sqlite3_prepare_v2(db.get(), query.c_str(), static_cast<int>(query.size()), &rawStatement, nullptr);
  std::unique_ptr<sqlite3_stmt, Closer> statement(rawStatement);
  if (prepared != SQLITE_OK) fail(db.get(), deadline, prepared);

  Json records = Json::array();
  for (;;) {
    const int status = sqlite3_step(statement.get());
    if (status == SQLITE_DONE) break;
    if (status != SQLITE_ROW) fail(db.get(), deadline, status);
    records.push_back(messageRecord(statement.get()));
  }
  return records;
}

std::string formatMessagesJSON(const Json& records) {
  try {
    return dumpJson(records, 2);
  } catch (...) {
    return "[]";
  }
}

}  // namespace qd::MessagesDatabase
