#pragma once

// Readable text from a message body the Messages application stored only as an archived
// attributed string (the hexadecimal text of the archive's bytes).

#include <string>
#include <string_view>

namespace qd::MessagesDatabase {

// The text of the first known marker whose capture holds at least six characters, else
// the printable ASCII of the whole archive with the archive's class names removed, else
// "[Message content not readable]". Bodies come from anyone: every pattern runs under a
// match time limit, and a pattern that hits it counts as not matching, so a crafted body
// of any size is decoded in bounded time.
std::string decodeAttributedBody(std::string_view hexText);

}  // namespace qd::MessagesDatabase
