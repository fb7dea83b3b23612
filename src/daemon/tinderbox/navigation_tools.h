#pragma once

// The definitions (name, description, input schema) of the navigation operations that move
// the user's note-app window rather than edit notes: the URL tools, the document tools and
// the selection tools. They are the input schemas of the operations of the grouped tools
// "tbx_nav" and "tbx_doc"; the catalog and the per-operation tools of the socket look them
// up by operation name. Data only: each list is built anew on every call.

#include <optional>
#include <string_view>
#include <vector>

#include "daemon/mcp/mcp_types.h"

namespace qd {

// build_tinderbox_note_url, open_tinderbox_url, navigate_to_note, navigate_to_note_view,
// set_tinderbox_view, copy_tinderbox_view.
std::vector<MCPTool> navigationUrlTools();
// open_tinderbox_document, save_tinderbox_document, close_tinderbox_document,
// list_tinderbox_windows.
std::vector<MCPTool> navigationDocumentTools();
// select_tinderbox_note, note_exists.
std::vector<MCPTool> navigationSelectionTools();

// The first definition of that exact name, searched in the order URL tools, document
// tools, selection tools; none when no list has it.
std::optional<MCPTool> navigationTool(std::string_view name);

}  // namespace qd
