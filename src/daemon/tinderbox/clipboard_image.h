#pragma once

// The clipboard's image, for view capture. On Linux the PNG is read with wl-paste or
// xclip, whichever is found first on PATH, and the clipboard is cleared with wl-copy or
// xclip. The clipboard has no change counter there: view capture clears the clipboard
// before the copy, so any image seen afterwards is the new one; where it cannot clear it,
// a hash of the image stands for a change count, and an image already present before a
// copy is told from a new one by its content. Only PNG is read (no conversion from other
// image types).

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include <asio/awaitable.hpp>

#include "daemon/tinderbox/note_app_commands.h"

namespace qd {

// The longest one read of the clipboard may take: a clipboard owner that never answers
// must not hold the capture.
inline constexpr std::chrono::milliseconds kClipboardReadLimit{5000};

class ClipboardImageReader {
 public:
  virtual ~ClipboardImageReader() = default;
  // The clipboard's PNG bytes, or none when it holds no PNG image or the read took longer
  // than `limit`.
  virtual asio::awaitable<std::optional<std::string>> readPNG(std::chrono::milliseconds limit) = 0;
  // Empties the clipboard, so that it holds no image until someone copies one; false when
  // that could not be done (no tool for it, no display).
  virtual asio::awaitable<bool> clearImage() = 0;
};

class CommandClipboardImageReader final : public ClipboardImageReader {
 public:
  explicit CommandClipboardImageReader(NoteAppCommands& commands) : commands_(commands) {}
  // Without wl-paste and xclip on PATH it fails as a program that cannot be started does,
  // naming both.
  asio::awaitable<std::optional<std::string>> readPNG(std::chrono::milliseconds limit) override;
  // wl-copy --clear beside wl-paste, else xclip with an empty text; never fails.
  asio::awaitable<bool> clearImage() override;

 private:
  NoteAppCommands& commands_;
};

// The stand-in for a change count: 0 for no image, else a hash of the bytes.
std::uint64_t clipboardImageMark(const std::optional<std::string>& png);

}  // namespace qd
