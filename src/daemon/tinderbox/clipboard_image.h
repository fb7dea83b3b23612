#pragma once

// The clipboard's image, for view capture. On Linux the PNG is read with wl-paste or
// xclip, whichever is found first on PATH; the clipboard has no change counter there, so
// a hash of the image stands for one: an image already present before a copy is told from
// a new one by its content. Only PNG is read (no conversion from other image types).

#include <cstdint>
#include <optional>
#include <string>

#include <asio/awaitable.hpp>

#include "daemon/tinderbox/note_app_commands.h"

namespace qd {

class ClipboardImageReader {
 public:
  virtual ~ClipboardImageReader() = default;
  // The clipboard's PNG bytes, or none when it holds no PNG image.
  virtual asio::awaitable<std::optional<std::string>> readPNG() = 0;
};

class CommandClipboardImageReader final : public ClipboardImageReader {
 public:
  explicit CommandClipboardImageReader(NoteAppCommands& commands) : commands_(commands) {}
  // Without wl-paste and xclip on PATH it fails as a program that cannot be started does,
  // naming both.
  asio::awaitable<std::optional<std::string>> readPNG() override;

 private:
  NoteAppCommands& commands_;
};

// The stand-in for a change count: 0 for no image, else a hash of the bytes.
std::uint64_t clipboardImageMark(const std::optional<std::string>& png);

}  // namespace qd
