// View capture: the note app copies its view to the clipboard through its Edit menu; the
// new image is taken from there, kept in the exports folder and returned.

#include <openssl/evp.h>

#include <algorithm>
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
  // Cleared before the copy, the clipboard's next image is the note app's copy whatever its
  // bytes, so copying an unchanged view twice works. Where it cannot be cleared, an image
  // already there is never the answer: a new one must differ from it.
  const bool cleared = co_await clipboard_.clearImage();
  const std::uint64_t before = cleared ? 0 : clipboardImageMark(co_await clipboard_.readPNG(kClipboardReadLimit));
  std::string menuBarItem = "Edit";
  std::string menuItem = "Copy View As Image";
  std::string successText = "Copied Tinderbox view as image";
  co_await clickMenuItem(std::move(arguments), std::move(menuBarItem), std::move(menuItem), 8.0, 45.0,
                         std::move(successText));

  const Clock& clock = *settings_.clock;
  const auto deadline = clock.now() + settings_.clipboardWait;
  std::optional<std::string> png;
  while (clock.now() < deadline) {
    // Each read gets at most the time left, so the wait ends at its deadline.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - clock.now());
    std::optional<std::string> current = co_await clipboard_.readPNG(std::min(left, kClipboardReadLimit));
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
