#pragma once

// A small Messages database built by a test: the tables and columns the reader uses.

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

namespace qd::test {

class ChatDb {
 public:
  struct Message {
    std::int64_t handle = 1;
    std::optional<std::string> text = std::nullopt;
    std::optional<std::string> attributedBody = std::nullopt;  // raw bytes
    std::int64_t unixSeconds = 0;
    int isFromMe = 0;
    int isRead = 1;
    int hasAttachments = 0;
    int itemType = 0;
    int isAudio = 0;
  };

  explicit ChatDb(const std::filesystem::path& path) {
    std::filesystem::create_directories(path.parent_path());
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) throw std::runtime_error("cannot create chat.db");
    exec("CREATE TABLE handle (ROWID INTEGER PRIMARY KEY, id TEXT);"
         "CREATE TABLE message (ROWID INTEGER PRIMARY KEY, text TEXT, attributedBody BLOB, date INTEGER,"
         " handle_id INTEGER, is_from_me INTEGER, is_read INTEGER, cache_has_attachments INTEGER,"
         " item_type INTEGER, is_audio_message INTEGER);");
  }
  ~ChatDb() { sqlite3_close(db_); }
  ChatDb(const ChatDb&) = delete;
  ChatDb& operator=(const ChatDb&) = delete;

  void exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      std::string text = error ? error : "?";
      sqlite3_free(error);
      throw std::runtime_error(text);
    }
  }

  void addHandle(std::int64_t rowid, const std::string& id) {
    sqlite3_stmt* s = prepare("INSERT INTO handle (ROWID, id) VALUES (?, ?)");
    sqlite3_bind_int64(s, 1, rowid);
    sqlite3_bind_text(s, 2, id.data(), static_cast<int>(id.size()), SQLITE_TRANSIENT);
    finish(s);
  }

  void addMessage(const Message& m) {
    sqlite3_stmt* s = prepare(
        "INSERT INTO message (text, attributedBody, date, handle_id, is_from_me, is_read, cache_has_attachments,"
        " item_type, is_audio_message) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
    if (m.text) sqlite3_bind_text(s, 1, m.text->data(), static_cast<int>(m.text->size()), SQLITE_TRANSIENT);
    if (m.attributedBody) {
      sqlite3_bind_blob(s, 2, m.attributedBody->data(), static_cast<int>(m.attributedBody->size()), SQLITE_TRANSIENT);
    }
    // Nanoseconds since 2001-01-01 00:00:00 UTC.
    sqlite3_bind_int64(s, 3, (m.unixSeconds - 978307200) * 1000000000LL);
    sqlite3_bind_int64(s, 4, m.handle);
    sqlite3_bind_int(s, 5, m.isFromMe);
    sqlite3_bind_int(s, 6, m.isRead);
    sqlite3_bind_int(s, 7, m.hasAttachments);
    sqlite3_bind_int(s, 8, m.itemType);
    sqlite3_bind_int(s, 9, m.isAudio);
    finish(s);
  }

  sqlite3* handle() { return db_; }

 private:
  sqlite3_stmt* prepare(const char* sql) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) != SQLITE_OK) throw std::runtime_error(sqlite3_errmsg(db_));
    return s;
  }
  void finish(sqlite3_stmt* s) {
    const int status = sqlite3_step(s);
    sqlite3_finalize(s);
    if (status != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db_));
  }

  sqlite3* db_ = nullptr;
};

}  // namespace qd::test
