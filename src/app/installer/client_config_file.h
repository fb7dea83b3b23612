#pragma once

// Reading and replacing another program's configuration file without losing anything of
// the user's. Only a plain file we may rewrite whole is touched:
//   - a symbolic link (also a linked folder) is followed; the target is edited and the link
//     stays; a dangling or looping link is refused;
//   - a folder, FIFO, socket or device is refused before it is opened, and the file is
//     opened without blocking, so a FIFO swapped in at that moment cannot hang us;
//   - a file of another owner, without the owner's write permission, with several hard
//     links (rewriting would split them) or larger than 64 MiB is refused unread;
//   - the new file takes the old file's permission bits;
//   - the same bytes again are not written at all;
//   - just before the rename the file is read again; when another program changed it in
//     the meantime the whole edit starts over from the new content (three tries, then
//     "changed while being updated; try again").
// There is no lock: a program that writes at the very instant of the rename, or later
// writes back an older copy, can still undo the change.

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <variant>

#include "daemon/utilities/error.h"

namespace qd {

inline constexpr std::size_t kMaxClientConfigBytes = 64u * 1024u * 1024u;

// Why a client file was not read or not replaced. The description is a sentence that names
// the file, for the user.
class ClientConfigFileError : public Error {
 public:
  enum class Kind { unsupportedFile, unreadable, changedDuringUpdate, writeFailed };
  ClientConfigFileError(Kind kind, const std::filesystem::path& path, std::string cause)
      : Error(path.string() + " " + cause), kind_(kind), cause_(std::move(cause)) {}
  Kind kind() const { return kind_; }
  // The description without the file's path ("is read-only").
  const std::string& cause() const { return cause_; }

 private:
  Kind kind_;
  std::string cause_;
};

struct ClientConfigSnapshot {
  std::filesystem::path target;         // the file itself, links resolved
  std::optional<std::string> contents;  // nullopt: there is no file
  mode_t mode = 0;                      // permission bits of the existing file
  bool viaLink = false;                 // `path` is a symbolic link to `target`
};

// rewrite: the file must also be ours to rewrite (owner, write permission, one link).
// inspect: only read (detection), so those three do not matter.
enum class ReadPurpose { rewrite, inspect };

// Throws ClientConfigFileError (unsupportedFile, unreadable).
ClientConfigSnapshot readClientConfigFile(const std::filesystem::path& path, ReadPurpose purpose = ReadPurpose::rewrite);

// What an edit makes of the current content (nullopt: no file).
struct KeepFile {};
struct DeleteFile {};
using ClientConfigEdit = std::variant<std::string, KeepFile, DeleteFile>;

enum class ReplaceOutcome { written, unchanged, deleted };

struct ReplaceOptions {
  bool createFolder = false;
  // Test seam: runs just before the "still unchanged?" check of each try.
  std::function<void(const std::filesystem::path& target)> beforeRename;
};

// Reads the file, asks `edit` for the new content and replaces the file safely (see the top
// of this header). `edit` may throw to refuse; its error passes through untouched. Deleting
// a file reached through a link empties the target instead, so the link stays valid.
// Throws ClientConfigFileError.
ReplaceOutcome replaceClientConfigFile(const std::filesystem::path& path,
                                       const std::function<ClientConfigEdit(const std::optional<std::string>&)>& edit,
                                       const ReplaceOptions& options = {});

}  // namespace qd
