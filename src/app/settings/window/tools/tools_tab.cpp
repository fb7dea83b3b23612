#include "app/settings/window/tools/tools_tab.h"

namespace qd {

ToolsTab::ToolsTab(ToolSettingsViewModel& model, QWidget* parent) : QWidget(parent), model_(model) {}

ToolsTab::~ToolsTab() = default;

QString ToolsTab::selectedCategory() const { return selectedCategory_; }

void ToolsTab::selectCategory(const QString& name) { (void)name; }

}  // namespace qd
