#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <string_view>

#include "daemon/utilities/json.h"

namespace qd {

// Answers, from a tool's name alone (plus its arguments for the capability), whether the
// application behind it is installed, which application category it belongs to, and
// whether a call reads or writes. Nothing is cached: the install check looks at the file
// system on every call.
namespace ToolAvailability {

using NameSet = std::set<std::string_view, std::less<>>;

const NameSet& bookendsTools();    // 12
const NameSet& omnifocusTools();   // 10
const NameSet& devonThinkTools();  // 28
const NameSet& appleTools();       // 7
const NameSet& atbrefTools();      // 11
const NameSet& timeTools();        // 2
const NameSet& routerTools();      // 11

// Install checks look for an application's bundle paths below this folder. The paths are
// the macOS ones ("Applications/Bookends.app", ...) kept relative, so on Linux an
// application counts as installed when an installation (or a test) puts them under the
// root. The process-wide root is "/" until setInstallRoot replaces it.
std::filesystem::path installRoot();
void setInstallRoot(std::filesystem::path root);

bool isBookendsInstalled(const std::filesystem::path& root = installRoot());
bool isOmniFocusInstalled(const std::filesystem::path& root = installRoot());
bool isDevonThinkInstalled(const std::filesystem::path& root = installRoot());

// A Bookends, OmniFocus or DEVONthink tool is available when its application is
// installed; every other tool is always available.
bool isAvailable(std::string_view toolName, const std::filesystem::path& root = installRoot());

// "bookends", "omnifocus", "devonthink", "apple", "atbref", "time", "router", else
// "tinderbox" (the Tinderbox tools and everything no set names).
std::string appCategory(std::string_view toolName);

// "read", "write" or "readwrite" for a call of the tool with these arguments (a JSON
// object; anything else counts as no arguments). The "operation" argument, when it is a
// string, is compared lower-cased.
std::string capability(std::string_view toolName, const Json& arguments = Json::object());

}  // namespace ToolAvailability
}  // namespace qd
