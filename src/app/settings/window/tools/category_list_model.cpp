#include "app/settings/window/tools/category_list_model.h"

#include "app/settings/tool_settings_view_model.h"

namespace qd {

CategoryListModel::CategoryListModel(ToolSettingsViewModel& model, QObject* parent)
    : QAbstractListModel(parent), model_(model) {}

void CategoryListModel::refresh() {
  std::vector<Row> fresh;
  for (auto& [name, tools] : model_.groupedTools()) {
    ToolLibrary::CategorySummary summary = ToolLibrary::summarize(model_, tools);
    fresh.push_back({std::move(name), std::move(tools), summary});
  }
  const bool editable = model_.settingsLoaded();
  const bool sameNames = fresh.size() == rows_.size() &&
                         std::equal(fresh.begin(), fresh.end(), rows_.begin(),
                                    [](const Row& a, const Row& b) { return a.name == b.name; });
  if (!sameNames) {
    beginResetModel();
    rows_ = std::move(fresh);
    editable_ = editable;
    endResetModel();
    return;
  }
  const bool editableChanged = editable != editable_;
  editable_ = editable;
  for (std::size_t i = 0; i < fresh.size(); ++i) {
    const bool changed = fresh[i].tools != rows_[i].tools || !(fresh[i].summary == rows_[i].summary);
    if (!changed && !editableChanged) continue;
    rows_[i] = std::move(fresh[i]);
    const QModelIndex at = index(static_cast<int>(i));
    emit dataChanged(at, at);
  }
}

void CategoryListModel::refreshSummaries() {
  const bool editable = model_.settingsLoaded();
  const bool editableChanged = editable != editable_;
  editable_ = editable;
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    const ToolLibrary::CategorySummary summary = ToolLibrary::summarize(model_, rows_[i].tools);
    if (summary == rows_[i].summary && !editableChanged) continue;
    rows_[i].summary = summary;
    const QModelIndex at = index(static_cast<int>(i));
    emit dataChanged(at, at);
  }
}

int CategoryListModel::rowOf(const QString& category) const {
  const std::string name = category.toStdString();
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].name == name) return static_cast<int>(i);
  }
  return -1;
}

QString CategoryListModel::categoryAt(int row) const { return QString::fromStdString(rows_.at(row).name); }

const std::vector<std::string>& CategoryListModel::toolsAt(int row) const { return rows_.at(row).tools; }

const ToolLibrary::CategorySummary& CategoryListModel::summaryAt(int row) const { return rows_.at(row).summary; }

int CategoryListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant CategoryListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
  const Row& row = rows_[index.row()];
  switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
      return QString::fromStdString(row.name);
    case Qt::CheckStateRole:
      return row.summary.enabled ? Qt::Checked : Qt::Unchecked;
    case Qt::ToolTipRole:
      return row.summary.enabled ? tr("Disable all tools") : tr("Enable all tools");
    case DescriptionRole:
      return QString::fromStdString(ToolLibrary::categoryDescription(row.name));
    case AvailableRole:
      return row.summary.available;
    case ReadOnlyCountRole:
      return row.summary.readOnlyCount;
    case WriteOnlyCountRole:
      return row.summary.writeOnlyCount;
    case ReadWriteCountRole:
      return row.summary.readWriteCount;
    default:
      return {};
  }
}

bool CategoryListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::CheckStateRole || !index.isValid() || !editable_) return false;
  // Copied: switching tools may refresh the rows.
  const std::vector<std::string> tools = rows_.at(index.row()).tools;
  ToolLibrary::setTools(model_, tools, value.value<Qt::CheckState>() == Qt::Checked);
  return true;
}

void CategoryListModel::toggle(const QModelIndex& index) {
  if (!index.isValid() || !editable_) return;
  const std::vector<std::string> tools = rows_.at(index.row()).tools;
  ToolLibrary::setTools(model_, tools, !ToolLibrary::summarize(model_, tools).enabled);
}

Qt::ItemFlags CategoryListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (editable_) flags |= Qt::ItemIsUserCheckable;
  return flags;
}

}  // namespace qd
