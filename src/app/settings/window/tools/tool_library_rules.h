#pragma once

// What the Tools tab derives from the settings model, apart from drawing: a category's
// summary (checkbox state, availability, capability counts), the bulk switches of the
// header and the category rows, a tool's switch state and description, and the split of
// a category's tools into capability sections. Everything is computed from the model as
// it stands; nothing is cached here.
//
// Availability limits every action: bulk switches skip tools whose application is not
// installed, except "Enable All Tools" in the header, which enables every tool so that
// the tools of an application installed later are on already.

#include <string>
#include <string_view>
#include <vector>

namespace qd {
class ToolSettingsViewModel;
}

namespace qd::ToolLibrary {

inline constexpr std::string_view readCapability = "read";
inline constexpr std::string_view writeCapability = "write";
inline constexpr std::string_view readWriteCapability = "readwrite";

struct CategorySummary {
  bool enabled = true;     // every tool available and enabled (true for no tools)
  bool available = false;  // some tool available
  // By the catalog's capability, available or not; any other capability text counts in none.
  int readOnlyCount = 0;
  int writeOnlyCount = 0;
  int readWriteCount = 0;

  bool operator==(const CategorySummary&) const = default;
};

CategorySummary summarize(const ToolSettingsViewModel& model, const std::vector<std::string>& tools);

// The one-line description under a category's name; empty for a name not in the table.
std::string categoryDescription(std::string_view category);

// Some tool of the catalog is available and enabled (the header button's reading).
bool anyToolsEnabled(const ToolSettingsViewModel& model);
// The header button: disables the available tools when any is on, else enables every tool.
void toggleAllTools(ToolSettingsViewModel& model);

// Sets each available tool of the list, with its operations.
void setTools(ToolSettingsViewModel& model, const std::vector<std::string>& tools, bool value);
// Sets each available tool of the list whose capability is exactly `capability`; the
// others keep their state.
void setToolsOfCapability(ToolSettingsViewModel& model, const std::vector<std::string>& tools,
                          std::string_view capability, bool value);

// A tool with operations is on only when all of them are on; otherwise its own switch.
bool isToolEnabledConsideringOperations(const ToolSettingsViewModel& model, const std::string& tool);

// "tinderbox" shows its live help when that has more than white space; else the catalog
// description (even empty); else the built-in one.
std::string toolDescription(const ToolSettingsViewModel& model, const std::string& tool);
int descriptionLineLimit(const std::string& tool);

enum class Section { readOnly, writeOnly, readWrite };
inline constexpr Section allSections[] = {Section::readOnly, Section::writeOnly, Section::readWrite};

struct Sections {
  // Each sorted by code point; a tool of an unknown capability is in none.
  std::vector<std::string> readOnly;
  std::vector<std::string> writeOnly;
  std::vector<std::string> readWrite;

  const std::vector<std::string>& of(Section section) const;
};

Sections splitByCapability(const ToolSettingsViewModel& model, const std::vector<std::string>& tools);

}  // namespace qd::ToolLibrary
