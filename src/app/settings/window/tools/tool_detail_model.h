#pragma once

// The rows of the Tools tab's detail: for one category, a header row per non-empty
// capability section ("Read-Only", "Write-Only", "Read-Write", in that order), each
// followed by its tools sorted by code point; a tool with operations has one child row
// per operation. Top-level rows show the tool name as their display text.
//
// setCategory() (another category, or a new catalog) resets the model. refresh() re-reads
// only the settings-dependent state (switches, check boxes, availability) and announces
// dataChanged for the rows that changed, so a switch click never resets the view, its
// current row or its expanded tools.
//
// The switch of a tool (Qt::CheckStateRole of its row) is on when the tool is on or, for
// a tool with operations, when all of them are; setting it switches the tool with its
// operations. An operation's check box switches that operation alone. Switches are
// editable once the settings are loaded; a tool's switch also needs its application.

#include <QAbstractItemModel>

#include <optional>
#include <string>
#include <vector>

#include "app/settings/window/tools/tool_library_rules.h"

namespace qd {

class ToolSettingsViewModel;

class ToolDetailModel : public QAbstractItemModel {
  Q_OBJECT

 public:
  enum class Kind { section, tool, operation };
  enum Role {
    KindRole = Qt::UserRole + 1,  // int of Kind
    SectionCountRole,             // int: a section's number of tools
    SectionRole,                  // int of ToolLibrary::Section (section and tool rows)
    AvailableRole,                // bool (tool rows)
    OperationCountRole,           // int (tool rows)
    ReadOnlyRole,                 // bool, or invalid when the catalog has no entry
    DescriptionRole,              // QString: the description, or the unavailable reason
    UnavailableReasonRole,        // QString, empty when available
    LineLimitRole,                // int: description lines
    ToolNameRole,                 // QString: the tool of a tool or operation row
  };

  explicit ToolDetailModel(ToolSettingsViewModel& model, QObject* parent = nullptr);

  void setCategory(const std::string& category, const std::vector<std::string>& tools);
  void refresh();
  // Flips a tool's switch or an operation's check box from the settings as they stand, so
  // a second key press before the rows are refreshed does not repeat the first.
  void toggle(const QModelIndex& index);

  const std::string& category() const { return category_; }
  int toolCount() const { return static_cast<int>(tools_.size()); }
  // The top-level row of the tool; invalid when not shown.
  QModelIndex indexOfTool(const std::string& tool) const;
  static Kind kindOf(const QModelIndex& index);

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  struct OperationRow {
    std::string name;
    bool on = false;
    bool operator==(const OperationRow&) const = default;
  };
  // The part of a tool row that follows the settings.
  struct ToolState {
    bool on = false;
    bool available = true;
    std::optional<std::string> reason;
    std::vector<OperationRow> operations;
    bool operator==(const ToolState&) const = default;
  };
  struct Row {
    Kind kind;
    ToolLibrary::Section section;
    int count = 0;  // section rows
    std::string tool;
    std::optional<bool> readOnly;
    std::string description;
    ToolState state;
  };

  ToolState stateOf(const std::string& tool) const;
  void rebuild();

  ToolSettingsViewModel& model_;
  std::string category_;
  std::vector<std::string> tools_;
  std::vector<Row> rows_;
  bool editable_ = false;
};

}  // namespace qd
