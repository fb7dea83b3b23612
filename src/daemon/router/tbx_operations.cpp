#include "daemon/router/tbx_operations.h"

#include <algorithm>

namespace qd::tbx {

std::vector<std::string> endpointOperations(std::string_view toolName) {
  std::vector<std::string> names;
  if (toolName == "tbx_nav") {
    names = {"build_tinderbox_note_url", "open_tinderbox_url",  "navigate_to_note", "navigate_to_note_view",
             "set_tinderbox_view",       "copy_tinderbox_view", "select_tinderbox_note", "note_exists"};
  } else if (toolName == "tbx_doc") {
    names = {"open_tinderbox_document", "save_tinderbox_document", "close_tinderbox_document",
             "list_tinderbox_windows",  "delete_note",             "restart_tinderbox",
             "open_tinderbox",          "quit_tinderbox"};
  } else if (toolName == "tbx_export") {
    names = {"export_document", "export_note", "print_note"};
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool isAppOperation(std::string_view operation) {
  return operation == "restart_tinderbox" || operation == "open_tinderbox" || operation == "quit_tinderbox";
}

}  // namespace qd::tbx
