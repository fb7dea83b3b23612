// Export through the note app into the exports folder, and printing with lpr.

#include <filesystem>
#include <system_error>

#include "daemon/core/daemon_error.h"
#include "daemon/runtime/text_trim.h"
#include "daemon/security/secret_hasher.h"
#include "daemon/tinderbox/note_app_arguments.h"
#include "daemon/tinderbox/note_app_operations.h"
#include "daemon/tinderbox/note_urls.h"

namespace qd {

using noteapp::scriptString;
using noteapp::stringArgument;
using noteapp::trimmedArgument;

namespace {

// "copies" counts only as a JSON integer of at least 1.
std::optional<std::int64_t> copiesArgument(const Json& arguments) {
  if (!arguments.is_object() || !arguments.contains("copies")) return std::nullopt;
  const Json& value = arguments["copies"];
  if (!value.is_number_integer()) return std::nullopt;
  if (value.is_number_unsigned()) {
    const auto copies = value.get<std::uint64_t>();
    if (copies < 1 || copies > static_cast<std::uint64_t>(INT64_MAX)) return std::nullopt;
    return static_cast<std::int64_t>(copies);
  }
  const auto copies = value.get<std::int64_t>();
  if (copies < 1) return std::nullopt;
  return copies;
}

std::optional<std::string> printerArgument(const Json& arguments) {
  std::optional<std::string> printer = stringArgument(arguments, "printer");
  if (!printer || printer->empty()) return std::nullopt;
  return printer;
}

}  // namespace

asio::awaitable<Json> NoteAppOperations::exportDocument(Json arguments) {
  const std::optional<std::string> document = stringArgument(arguments, "document");
  if (!document || document->empty()) throw DaemonError::missingParameter("document");
  const std::optional<std::string> notePath = stringArgument(arguments, "notePath");
  const std::string path = notePath ? normalizeTinderboxPath(trimWhitespaceAndNewlines(*notePath), true) : "";
  const std::string exportTemplate = trimmedArgument(arguments, "template");
  // The note app writes the file; its folder must be there first.
  std::filesystem::create_directories(settings_.exportsDir);
  const std::string file = (settings_.exportsDir / (Uuid::random().uuidString() + ".html")).string();
  const std::string target = path.empty() ? std::string("d") : "find note in d with path " + scriptString(path);
  const std::string templateClause = exportTemplate.empty() ? std::string() : " using template " + scriptString(exportTemplate);
  std::vector<std::string> lines{"tell application \"Tinderbox 11\"", noteapp::documentClause(*document),
                                 "export " + target + templateClause + " to POSIX file " + scriptString(file), "end tell"};
  co_await runScript(std::move(lines));
  co_return noteAppTextResult(file);
}

asio::awaitable<Json> NoteAppOperations::exportNote(Json arguments) {
  const std::optional<std::string> notePath = stringArgument(arguments, "notePath");
  if (!notePath || trimWhitespaceAndNewlines(*notePath).empty()) throw DaemonError::missingParameter("notePath");
  Json copy = arguments;
  copy["notePath"] = normalizeTinderboxPath(*notePath, true);
  const bool exportChildren = copy.contains("exportChildren") && copy["exportChildren"].is_boolean() &&
                              copy["exportChildren"].get<bool>();
  if (exportChildren && !copy.contains("template")) {
    throw DaemonError::missingParameter("template (required when exportChildren=true)");
  }
  co_return co_await exportDocument(std::move(copy));
}

asio::awaitable<Json> NoteAppOperations::printNote(Json arguments) {
  Json exportArguments = arguments;
  const Json exported = co_await exportNote(std::move(exportArguments));
  std::string file;
  if (exported.contains("content") && exported["content"].is_array() && !exported["content"].empty() &&
      exported["content"][0].is_object() && exported["content"][0].contains("text") &&
      exported["content"][0]["text"].is_string()) {
    file = exported["content"][0]["text"].get<std::string>();
  }
  if (file.empty()) throw DaemonError::internalNavigationError();
  Json printArguments = Json::object();
  printArguments["filePath"] = file;
  if (const auto printer = printerArgument(arguments)) printArguments["printer"] = *printer;
  if (const auto copies = copiesArgument(arguments)) printArguments["copies"] = *copies;
  co_await printDocument(std::move(printArguments));
  co_return noteAppTextResult("Printed note via exported temp file: " + file);
}

asio::awaitable<Json> NoteAppOperations::printDocument(Json arguments) {
  const std::optional<std::string> filePath = stringArgument(arguments, "filePath");
  if (!filePath || filePath->empty()) throw DaemonError::missingParameter("filePath");
  std::string path = std::filesystem::absolute(*filePath).lexically_normal().string();
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (error || !std::filesystem::exists(status) || std::filesystem::is_directory(status)) {
    throw DaemonError::invalidParameter("filePath: file not found or is a directory");
  }
  std::vector<std::string> lprArguments;
  if (const auto printer = printerArgument(arguments)) {
    lprArguments.push_back("-P");
    lprArguments.push_back(*printer);
  }
  if (const auto copies = copiesArgument(arguments)) {
    lprArguments.push_back("-#");
    lprArguments.push_back(std::to_string(*copies));
  }
  lprArguments.push_back(path);
  co_await commands_.print(std::move(lprArguments), settings_.subprocessTimeout);
  co_return noteAppTextResult("Sent to printer: " + path);
}

}  // namespace qd
