// bench-deps: qd_providers
//
// The Messages database reader on a generated chat.db of 1,000,000 messages over 1,000
// handles: a conversation read (limit 50) and the unread read (limit 50) through
// queryMessagesDatabase (open, query, records), without and with the indexes of the real
// schema (message.handle_id, and handle.id unique), beside the floor: the same SQL on an open connection, stepped to its
// end without reading a column. Then decoding a 64 KiB archived body, a plain one and one
// built to make the lazy patterns backtrack.

#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "daemon/providers/attributed_body.h"
#include "daemon/providers/messages_database.h"

namespace {

using Steady = std::chrono::steady_clock;
namespace db = qd::MessagesDatabase;

constexpr int kMessages = 1'000'000;
constexpr int kHandles = 1'000;
constexpr int kRepeats = 15;

void check(int status, sqlite3* handle, const char* what) {
  if (status != SQLITE_OK && status != SQLITE_DONE && status != SQLITE_ROW) {
    throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(handle));
  }
}

std::string handleId(int n) { return "+1902555" + std::to_string(1000 + n); }

void generate(const std::filesystem::path& path) {
  std::filesystem::create_directories(path.parent_path());
  sqlite3* handle = nullptr;
  check(sqlite3_open(path.c_str(), &handle), handle, "open");
  check(sqlite3_exec(handle,
                     "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
                     "CREATE TABLE handle (ROWID INTEGER PRIMARY KEY, id TEXT);"
                     "CREATE TABLE message (ROWID INTEGER PRIMARY KEY, text TEXT, attributedBody BLOB, date INTEGER,"
                     " handle_id INTEGER, is_from_me INTEGER, is_read INTEGER, cache_has_attachments INTEGER,"
                     " item_type INTEGER, is_audio_message INTEGER); BEGIN;",
                     nullptr, nullptr, nullptr),
        handle, "schema");
  sqlite3_stmt* insertHandle = nullptr;
  check(sqlite3_prepare_v2(handle, "INSERT INTO handle VALUES (?, ?)", -1, &insertHandle, nullptr), handle, "prepare");
  for (int h = 1; h <= kHandles; ++h) {
    const std::string id = handleId(h);
    sqlite3_bind_int(insertHandle, 1, h);
    sqlite3_bind_text(insertHandle, 2, id.c_str(), -1, SQLITE_TRANSIENT);
    check(sqlite3_step(insertHandle), handle, "handle");
    sqlite3_reset(insertHandle);
  }
  sqlite3_finalize(insertHandle);

  sqlite3_stmt* insert = nullptr;
  check(sqlite3_prepare_v2(handle,
                           "INSERT INTO message (text, attributedBody, date, handle_id, is_from_me, is_read,"
                           " cache_has_attachments, item_type, is_audio_message) VALUES (?, ?, ?, ?, ?, ?, ?, 0, 0)",
                           -1, &insert, nullptr),
        handle, "prepare");
  std::mt19937 random(7);
  const std::string body = "\x04\x0bstreamtyped\x81\xe8\x03\x84\x01@\x84\x84\x84\x12NSAttributedString\x00\x84\x84"
                           "\x08NSObject\x00\x85\x92\x84\x84\x84\x08NSString\x01\x94\x84\x01+\x1bHello from an archived body"
                           "\x86\x84\x02iI\x01\x1b\x92\x84\x84\x84\x0cNSDictionary\x00\x94\x84\x01i\x01\x92";
  for (int m = 0; m < kMessages; ++m) {
    const bool archived = random() % 4 == 0;
    const std::string text = "message number " + std::to_string(m);
    if (archived) {
      sqlite3_bind_text(insert, 1, "", 0, SQLITE_STATIC);
      sqlite3_bind_blob(insert, 2, body.data(), static_cast<int>(body.size()), SQLITE_STATIC);
    } else {
      sqlite3_bind_text(insert, 1, text.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_null(insert, 2);
    }
    sqlite3_bind_int64(insert, 3, static_cast<sqlite3_int64>(m) * 60'000'000'000LL);
    sqlite3_bind_int(insert, 4, 1 + static_cast<int>(random() % kHandles));
    sqlite3_bind_int(insert, 5, random() % 2 == 0 ? 1 : 0);
    sqlite3_bind_int(insert, 6, random() % 100 == 0 ? 0 : 1);  // one in a hundred unread
    sqlite3_bind_int(insert, 7, random() % 20 == 0 ? 1 : 0);
    check(sqlite3_step(insert), handle, "message");
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  check(sqlite3_exec(handle, "COMMIT;", nullptr, nullptr, nullptr), handle, "commit");
  sqlite3_close(handle);
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double millisecondsSince(Steady::time_point start) {
  return std::chrono::duration<double, std::milli>(Steady::now() - start).count();
}

// queryMessagesDatabase end to end: open, query, records.
double readerMs(const std::filesystem::path& path, const std::string& query, std::size_t& rows) {
  std::vector<double> times;
  for (int i = 0; i < kRepeats; ++i) {
    const auto start = Steady::now();
    rows = db::queryMessagesDatabase(path, query).size();
    times.push_back(millisecondsSince(start));
  }
  return median(times);
}

// The floor: the same SQL on a connection opened once, stepped without reading a column.
double floorMs(const std::filesystem::path& path, const std::string& query) {
  sqlite3* handle = nullptr;
  check(sqlite3_open_v2(path.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr), handle, "open");
  std::vector<double> times;
  for (int i = 0; i < kRepeats; ++i) {
    const auto start = Steady::now();
    sqlite3_stmt* statement = nullptr;
    check(sqlite3_prepare_v2(handle, query.c_str(), -1, &statement, nullptr), handle, "prepare");
    while (sqlite3_step(statement) == SQLITE_ROW) {
    }
    sqlite3_finalize(statement);
    times.push_back(millisecondsSince(start));
  }
  sqlite3_close(handle);
  return median(times);
}

void measureQueries(const std::filesystem::path& path, const char* label) {
  const struct {
    const char* name;
    std::string sql;
  } queries[] = {
      {"read (limit 50)", db::conversationQuery(handleId(417), 50)},
      {"unread (limit 50)", db::unreadQuery(50)},
  };
  for (const auto& q : queries) {
    std::size_t rows = 0;
    const double reader = readerMs(path, q.sql, rows);
    const double floor = floorMs(path, q.sql);
    std::printf("| %s | %s | %zu | %.2f | %.2f | %.2f |\n", label, q.name, rows, reader, floor, reader / floor);
  }
}

std::string hexOf(const std::string& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (const unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

void measureDecode(const char* name, const std::string& body) {
  const std::string hex = hexOf(body);
  std::vector<double> times;
  std::size_t size = 0;
  for (int i = 0; i < kRepeats; ++i) {
    const auto start = Steady::now();
    size = db::decodeAttributedBody(hex).size();
    times.push_back(millisecondsSince(start));
  }
  std::printf("| %s | %zu | %zu | %.2f |\n", name, body.size(), size, median(times));
}

}  // namespace

int main() {
  char pattern[] = "/tmp/qd-messages-bench-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) return 1;
  const std::filesystem::path home(pattern);
  const std::filesystem::path path = db::databasePath(home);
  try {
    const auto start = Steady::now();
    generate(path);
    std::printf("generated %d messages over %d handles in %.0f ms\n\n", kMessages, kHandles, millisecondsSince(start));
    std::printf("| index | query | rows | reader ms | floor ms | ratio |\n|---|---|---|---|---|---|\n");
    measureQueries(path, "none");
    sqlite3* handle = nullptr;
    sqlite3_open(path.c_str(), &handle);
    // As in the Messages application's own schema: handle ids are unique, messages indexed
    // by handle.
    check(sqlite3_exec(handle,
                       "CREATE INDEX message_handle ON message(handle_id);"
                       "CREATE UNIQUE INDEX handle_id_unique ON handle(id);",
                       nullptr, nullptr, nullptr),
          handle, "index");
    sqlite3_close(handle);
    measureQueries(path, "handle_id");

    std::printf("\n| body | bytes | decoded bytes | ms |\n|---|---|---|---|\n");
    std::string plain = "\x04\x0bstreamtyped\x81\xe8\x03\x84\x01@\x84\x84\x84\x12NSAttributedString\x00\x84\x84\x08NSObject";
    while (plain.size() < 64 * 1024) plain += " lorem ipsum dolor sit amet,";
    plain += "\x86NSDictionary\x00";
    measureDecode("64 KiB text, no marker", plain);
    std::string marked = "NSString\">";
    while (marked.size() < 64 * 1024) marked += "long message text ";
    marked += "<";
    measureDecode("64 KiB behind NSString marker", marked);
    std::string crafted;
    while (crafted.size() < 64 * 1024) crafted += "NSNumber\">1<";
    measureDecode("64 KiB crafted (lazy backtracking)", crafted);
    while (crafted.size() < 1024 * 1024) crafted += "NSNumber\">1<";
    measureDecode("1 MiB crafted (stops at the match time limit)", crafted);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    std::filesystem::remove_all(home);
    return 1;
  }
  std::filesystem::remove_all(home);
  return 0;
}
