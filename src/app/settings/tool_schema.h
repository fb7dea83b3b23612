#pragma once

// What the tool schema popover shows, apart from its layout: the parameter rows (live from
// the catalog, else the built-in tables), whether they are live, and the description.
// The popover reads the fetcher as it stands when its content is built.

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/settings/tool_metadata_fetcher.h"

namespace qd::ToolSchema {

// One row of the parameter list.
struct ToolParameter {
  std::string name;
  std::string type;
  std::optional<std::string> description;  // present but empty shows an empty line
  bool required = false;
};

// The built-in tables: 22 tools (five with no parameters).
const std::map<std::string, std::vector<ToolParameter>>& fallbackParameters();
// The one "operation" row of the application tools without a table of their own.
const std::vector<ToolParameter>& genericOperationParameters();

// The tool has an entry in the live catalog.
bool isLiveData(const std::string& toolName, const ToolMetadataFetcher& fetcher = ToolMetadataFetcher::shared());
// Live rows when the tool is in the catalog (an empty live list stays empty), else its
// built-in table, else the generic operation row for the seven Apple tools, else none.
std::vector<ToolParameter> parameters(const std::string& toolName,
                                      const ToolMetadataFetcher& fetcher = ToolMetadataFetcher::shared());
// The live description when the tool is in the catalog (even empty), else the built-in one.
std::string shownDescription(const std::string& toolName,
                             const ToolMetadataFetcher& fetcher = ToolMetadataFetcher::shared());

}  // namespace qd::ToolSchema
