#pragma once

// The Tools tab's sidebar rows: one per category of the settings model's grouping, in its
// order. refresh() re-reads the grouping (a new catalog) and the settings: it resets the rows only when
// the category names changed, and otherwise announces dataChanged for the rows whose
// summary or tools changed, so the selection and scroll position survive a settings
// change. The check state is the category checkbox; setting it switches the category's
// available tools. Rows are checkable only once the settings are loaded.

#include <QAbstractListModel>

#include <string>
#include <vector>

#include "app/settings/window/tools/tool_library_rules.h"

namespace qd {

class ToolSettingsViewModel;

class CategoryListModel : public QAbstractListModel {
  Q_OBJECT

 public:
  enum Role {
    DescriptionRole = Qt::UserRole + 1,  // QString, empty for none
    AvailableRole,                       // bool
    ReadOnlyCountRole,                   // int
    WriteOnlyCountRole,
    ReadWriteCountRole,
  };

  explicit CategoryListModel(ToolSettingsViewModel& model, QObject* parent = nullptr);

  void refresh();
  // Follows a settings change: the summaries of the rows as they are, without grouping
  // the catalog again (only a new catalog changes the grouping).
  void refreshSummaries();
  // Flips a category's checkbox from the settings as they stand (not from the row, which
  // follows them one event-loop turn later).
  void toggle(const QModelIndex& index);

  int rowOf(const QString& category) const;  // -1 when absent
  QString categoryAt(int row) const;
  const std::vector<std::string>& toolsAt(int row) const;
  const ToolLibrary::CategorySummary& summaryAt(int row) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  struct Row {
    std::string name;
    std::vector<std::string> tools;
    ToolLibrary::CategorySummary summary;
  };

  ToolSettingsViewModel& model_;
  std::vector<Row> rows_;
  bool editable_ = false;
};

}  // namespace qd
