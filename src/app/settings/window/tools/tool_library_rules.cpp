#include "app/settings/window/tools/tool_library_rules.h"

#include <algorithm>
#include <map>

#include "app/settings/tool_description_helper.h"
#include "app/settings/tool_settings_view_model.h"
#include "daemon/runtime/text_trim.h"

namespace qd::ToolLibrary {

CategorySummary summarize(const ToolSettingsViewModel& model, const std::vector<std::string>& tools) {
  const ToolMetadataFetcher& fetcher = model.metadataFetcher();
  CategorySummary summary;
  for (const std::string& tool : tools) {
    const bool available = model.isToolAvailable(tool);
    summary.available = summary.available || available;
    if (summary.enabled && !(available && model.isEnabled(tool))) summary.enabled = false;
    const std::string capability = fetcher.getCapability(tool);
    if (capability == readCapability) ++summary.readOnlyCount;
    if (capability == writeCapability) ++summary.writeOnlyCount;
    if (capability == readWriteCapability) ++summary.readWriteCount;
  }
  return summary;
}

std::string categoryDescription(std::string_view category) {
  static const std::map<std::string, std::string, std::less<>> descriptions{
      {"Router Core", "Router control and health tools"},
      {"Tinderbox Core", "Native Tinderbox tools (notes, attributes, links, and queries)."},
      {"TBX Navigation", "URL, navigation, and view-selection helpers."},
      {"TBX Document", "Document/window operations plus app lifecycle."},
      {"TBX Export", "Export and print operations."},
      {"Bookends", "Reference management"},
      {"OmniFocus", "Task management"},
      {"DEVONthink", "Document database"},
      {"Apple Apps: Contacts", "Contact management"},
      {"Apple Apps: Notes", "Notes management"},
      {"Apple Apps: Mail", "Email operations"},
      {"Apple Apps: Messages", "iMessage and SMS"},
      {"Apple Apps: Reminders", "Task reminders"},
      {"Apple Apps: Calendar", "Calendar events"},
      {"Apple Apps: Maps", "Location and directions"},
      {"ATBRef", "Tinderbox reference lookup"},
      {"Time", "Time and date utilities"},
  };
  const auto it = descriptions.find(category);
  return it == descriptions.end() ? std::string() : it->second;
}

bool anyToolsEnabled(const ToolSettingsViewModel& model) {
  const std::vector<std::string> names = model.toolNames();
  return std::any_of(names.begin(), names.end(),
                     [&](const std::string& tool) { return model.isToolAvailable(tool) && model.isEnabled(tool); });
}

void toggleAllTools(ToolSettingsViewModel& model) {
  const std::vector<std::string> names = model.toolNames();
  if (anyToolsEnabled(model)) {
    setTools(model, names, false);
    return;
  }
  for (const std::string& tool : names) model.setToolEnabledConsideringOperations(true, tool);
}

void setTools(ToolSettingsViewModel& model, const std::vector<std::string>& tools, bool value) {
  for (const std::string& tool : tools) {
    if (model.isToolAvailable(tool)) model.setToolEnabledConsideringOperations(value, tool);
  }
}

void setToolsOfCapability(ToolSettingsViewModel& model, const std::vector<std::string>& tools,
                          std::string_view capability, bool value) {
  for (const std::string& tool : tools) {
    if (model.isToolAvailable(tool) && model.metadataFetcher().getCapability(tool) == capability) {
      model.setToolEnabledConsideringOperations(value, tool);
    }
  }
}

bool isToolEnabledConsideringOperations(const ToolSettingsViewModel& model, const std::string& tool) {
  const std::vector<std::string> operations = model.operations(tool);
  if (operations.empty()) return model.isEnabled(tool);
  return std::all_of(operations.begin(), operations.end(),
                     [&](const std::string& operation) { return model.isOperationEnabled(operation, tool); });
}

std::string toolDescription(const ToolSettingsViewModel& model, const std::string& tool) {
  const ToolMetadataFetcher& fetcher = model.metadataFetcher();
  if (tool == "tinderbox") {
    const std::optional<std::string> live = fetcher.getLiveHelpText(tool);
    if (live && !trimWhitespaceAndNewlines(*live).empty()) return *live;
  }
  if (std::optional<std::string> description = fetcher.getDescription(tool)) return *description;
  return ToolDescriptionHelper::toolDescriptionFallback(tool);
}

int descriptionLineLimit(const std::string& tool) { return tool == "tinderbox" ? 3 : 2; }

const std::vector<std::string>& Sections::of(Section section) const {
  switch (section) {
    case Section::readOnly:
      return readOnly;
    case Section::writeOnly:
      return writeOnly;
    case Section::readWrite:
      break;
  }
  return readWrite;
}

Sections splitByCapability(const ToolSettingsViewModel& model, const std::vector<std::string>& tools) {
  Sections sections;
  for (const std::string& tool : tools) {
    const std::string capability = model.metadataFetcher().getCapability(tool);
    if (capability == readCapability) sections.readOnly.push_back(tool);
    if (capability == writeCapability) sections.writeOnly.push_back(tool);
    if (capability == readWriteCapability) sections.readWrite.push_back(tool);
  }
  for (auto* list : {&sections.readOnly, &sections.writeOnly, &sections.readWrite}) std::sort(list->begin(), list->end());
  return sections;
}

}  // namespace qd::ToolLibrary
