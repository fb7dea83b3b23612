#include "daemon/tinderbox/clipboard_image.h"

#include <algorithm>
#include <functional>

#include "daemon/runtime/child_process.h"

namespace qd {

asio::awaitable<std::optional<std::string>> CommandClipboardImageReader::readPNG(std::chrono::milliseconds limit) {
  std::string program;
  std::vector<std::string> arguments;
  if (commands_.isOnPath("wl-paste")) {
    program = "wl-paste";
    arguments = {"--no-newline", "--type", "image/png"};
  } else if (commands_.isOnPath("xclip")) {
    program = "xclip";
    arguments = {"-selection", "clipboard", "-t", "image/png", "-o"};
  } else {
    throw ChildProcessError::notOnPath("wl-paste or xclip");
  }
  const double seconds = std::chrono::duration<double>(std::min(limit, kClipboardReadLimit)).count();
  const AsyncCollectedOutput output = co_await commands_.run(std::move(program), std::move(arguments), seconds);
  if (output.end != AsyncCollectedOutput::End::exited || !output.status.success()) co_return std::nullopt;
  static constexpr std::string_view pngSignature = "\x89PNG\r\n\x1a\n";
  if (!std::string_view(output.standardOutput).starts_with(pngSignature)) co_return std::nullopt;
  co_return output.standardOutput;
}

asio::awaitable<bool> CommandClipboardImageReader::clearImage() {
  std::string program;
  std::vector<std::string> arguments;
  if (commands_.isOnPath("wl-paste")) {
    program = "wl-copy";
    arguments = {"--clear"};
  } else if (commands_.isOnPath("xclip")) {
    // xclip keeps serving the empty text in the background, as it serves every copy.
    program = "xclip";
    arguments = {"-selection", "clipboard", "-i", "/dev/null"};
  } else {
    co_return false;
  }
  try {
    const AsyncCollectedOutput output =
        co_await commands_.run(std::move(program), std::move(arguments), kClipboardReadLimit.count() / 1000.0);
    co_return output.end == AsyncCollectedOutput::End::exited && output.status.success();
  } catch (const ChildProcessError&) {
    co_return false;  // wl-copy missing beside wl-paste: the capture compares contents instead
  }
}

std::uint64_t clipboardImageMark(const std::optional<std::string>& png) {
  if (!png) return 0;
  return static_cast<std::uint64_t>(std::hash<std::string>{}(*png)) | 1u;
}

}  // namespace qd
