// View capture: the note app copies its view to the clipboard through its Edit menu; the
// new image is taken from there, kept in the exports folder and returned.

#include <openssl/evp.h>

#include <chrono>

#include "daemon/core/daemon_error.h"
#include "daemon/security/secret_hasher.h"
#include "daemon/tinderbox/note_app_operations.h"
#include "daemon/utilities/atomic_file.h"

namespace qd {

namespace {

std::string base64(const std::string& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3), '\0');
  const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                      reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  out.resize(static_cast<std::size_t>(written));
  return out;
}

}  // namespace

asio::awaitable<Json> NoteAppOperations::copyView(Json arguments) {
  // What the clipboard holds before the copy: an image already there is never the answer.
  const std::uint64_t before = clipboardImageMark(co_await clipboard_.readPNG());
  std::string menuBarItem = "Edit";
  std::string menuItem = "Copy View As Image";
  std::string successText = "Copied Tinderbox view as image";
  co_await clickMenuItem(std::move(arguments), std::move(menuBarItem), std::move(menuItem), 8.0, 45.0,
                         std::move(successText));

  const auto deadline = std::chrono::steady_clock::now() + settings_.clipboardWait;
  std::optional<std::string> png;
  while (std::chrono::steady_clock::now() < deadline) {
    std::optional<std::string> current = co_await clipboard_.readPNG();
    if (current && clipboardImageMark(current) != before) {
      png = std::move(current);
      break;
    }
    co_await pause(settings_.clipboardPoll);
  }
  if (!png) {
    throw DaemonError::appleScriptError(
        "Tinderbox ran 'Copy View As Image', but no image appeared on the clipboard in time.");
  }
  const auto file = settings_.exportsDir / ("tinderbox-view-" + Uuid::random().uuidString() + ".png");
  writeFileAtomically(file, *png, AtomicWriteOptions{}.creatingFolder());

  Json item = Json::object();
  item["type"] = "image";
  item["data"] = base64(*png);
  item["mimeType"] = "image/png";
  Json result = Json::object();
  result["content"] = Json::array({std::move(item)});
  co_return result;
}

}  // namespace qd
