#pragma once

// A one-line description for every tool: the live catalog's when it has the tool (an
// empty live description stays empty), else a built-in table of 29 tools, else one made
// from words in the name (case-sensitive: "create" before "get" before "update").

#include <string>

#include "app/settings/tool_metadata_fetcher.h"

namespace qd::ToolDescriptionHelper {

std::string toolDescription(const std::string& name,
                            const ToolMetadataFetcher& fetcher = ToolMetadataFetcher::shared());
std::string toolDescriptionFallback(const std::string& name);
// The product a tool belongs to, for the made-up description: "Bookends", "OmniFocus",
// "DEVONthink", "ATBRef reference", else "Tinderbox".
std::string categoryName(const std::string& name);

}  // namespace qd::ToolDescriptionHelper
