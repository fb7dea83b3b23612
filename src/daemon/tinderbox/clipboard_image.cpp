#include "daemon/tinderbox/clipboard_image.h"

#include <functional>

#include "daemon/runtime/child_process.h"

namespace qd {

asio::awaitable<std::optional<std::string>> CommandClipboardImageReader::readPNG() {
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
  // A clipboard owner that never answers must not hold the capture: a few seconds at most.
  const AsyncCollectedOutput output = co_await commands_.run(std::move(program), std::move(arguments), 5.0);
  if (output.end != AsyncCollectedOutput::End::exited || !output.status.success()) co_return std::nullopt;
  static constexpr std::string_view pngSignature = "\x89PNG\r\n\x1a\n";
  if (!std::string_view(output.standardOutput).starts_with(pngSignature)) co_return std::nullopt;
  co_return output.standardOutput;
}

std::uint64_t clipboardImageMark(const std::optional<std::string>& png) {
  if (!png) return 0;
  return static_cast<std::uint64_t>(std::hash<std::string>{}(*png)) | 1u;
}

}  // namespace qd
