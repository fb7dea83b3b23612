#include "app/settings/window/tools/tool_detail_model.h"

#include "app/settings/tool_settings_view_model.h"

namespace qd {

namespace {

// Operation rows carry their tool's row number + 1 as internal id; top-level rows carry 0.
constexpr quintptr topLevel = 0;

QString sectionTitle(ToolLibrary::Section section) {
  switch (section) {
    case ToolLibrary::Section::readOnly:
      return ToolDetailModel::tr("Read-Only");
    case ToolLibrary::Section::writeOnly:
      return ToolDetailModel::tr("Write-Only");
    case ToolLibrary::Section::readWrite:
      break;
  }
  return ToolDetailModel::tr("Read-Write");
}

}  // namespace

ToolDetailModel::ToolDetailModel(ToolSettingsViewModel& model, QObject* parent)
    : QAbstractItemModel(parent), model_(model) {}

void ToolDetailModel::setCategory(const std::string& category, const std::vector<std::string>& tools) {
  beginResetModel();
  category_ = category;
  tools_ = tools;
  rebuild();
  endResetModel();
}

void ToolDetailModel::rebuild() {
  rows_.clear();
  editable_ = model_.settingsLoaded();
  const ToolMetadataFetcher& fetcher = model_.metadataFetcher();
  const ToolLibrary::Sections sections = ToolLibrary::splitByCapability(model_, tools_);
  for (ToolLibrary::Section section : ToolLibrary::allSections) {
    const std::vector<std::string>& names = sections.of(section);
    if (names.empty()) continue;
    rows_.push_back({Kind::section, section, static_cast<int>(names.size()), {}, {}, {}, {}});
    for (const std::string& tool : names) {
      rows_.push_back({Kind::tool, section, 0, tool, fetcher.isReadOnly(tool), ToolLibrary::toolDescription(model_, tool),
                       stateOf(tool)});
    }
  }
}

ToolDetailModel::ToolState ToolDetailModel::stateOf(const std::string& tool) const {
  ToolState state;
  state.available = model_.isToolAvailable(tool);
  if (!state.available) state.reason = model_.unavailableReason(tool);
  for (std::string& operation : model_.operations(tool)) {
    const bool on = model_.isOperationEnabled(operation, tool);
    state.operations.push_back({std::move(operation), on});
  }
  state.on = ToolLibrary::isToolEnabledConsideringOperations(model_, tool);
  return state;
}

void ToolDetailModel::refresh() {
  const bool editable = model_.settingsLoaded();
  const bool editableChanged = editable != editable_;
  editable_ = editable;
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    Row& row = rows_[i];
    if (row.kind != Kind::tool) continue;
    ToolState fresh = stateOf(row.tool);
    if (fresh == row.state && !editableChanged) continue;
    const QModelIndex at = index(static_cast<int>(i), 0);
    const int oldCount = static_cast<int>(row.state.operations.size());
    const int newCount = static_cast<int>(fresh.operations.size());
    // The operation list of a tool follows the catalog, which only setCategory() changes;
    // a differing count is handled all the same.
    if (newCount < oldCount) {
      beginRemoveRows(at, newCount, oldCount - 1);
      row.state.operations.resize(newCount);
      endRemoveRows();
    } else if (newCount > oldCount) {
      beginInsertRows(at, oldCount, newCount - 1);
      row.state.operations.resize(newCount);
      endInsertRows();
    }
    row.state = std::move(fresh);
    emit dataChanged(at, at);
    if (newCount > 0) emit dataChanged(index(0, 0, at), index(newCount - 1, 0, at));
  }
}

QModelIndex ToolDetailModel::indexOfTool(const std::string& tool) const {
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].kind == Kind::tool && rows_[i].tool == tool) return index(static_cast<int>(i), 0);
  }
  return {};
}

ToolDetailModel::Kind ToolDetailModel::kindOf(const QModelIndex& index) {
  return static_cast<Kind>(index.data(KindRole).toInt());
}

QModelIndex ToolDetailModel::index(int row, int column, const QModelIndex& parent) const {
  if (column != 0 || row < 0) return {};
  if (!parent.isValid()) {
    return row < static_cast<int>(rows_.size()) ? createIndex(row, 0, topLevel) : QModelIndex();
  }
  if (parent.internalId() != topLevel) return {};
  const Row& owner = rows_.at(parent.row());
  if (row >= static_cast<int>(owner.state.operations.size())) return {};
  return createIndex(row, 0, static_cast<quintptr>(parent.row()) + 1);
}

QModelIndex ToolDetailModel::parent(const QModelIndex& child) const {
  if (!child.isValid() || child.internalId() == topLevel) return {};
  return createIndex(static_cast<int>(child.internalId() - 1), 0, topLevel);
}

int ToolDetailModel::rowCount(const QModelIndex& parent) const {
  if (!parent.isValid()) return static_cast<int>(rows_.size());
  if (parent.internalId() != topLevel) return 0;
  return static_cast<int>(rows_.at(parent.row()).state.operations.size());
}

int ToolDetailModel::columnCount(const QModelIndex&) const { return 1; }

QVariant ToolDetailModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  if (index.internalId() != topLevel) {
    const Row& owner = rows_.at(index.internalId() - 1);
    const OperationRow& operation = owner.state.operations.at(index.row());
    switch (role) {
      case Qt::DisplayRole:
      case Qt::AccessibleTextRole:
        return QString::fromStdString(operation.name);
      case Qt::CheckStateRole:
        return operation.on ? Qt::Checked : Qt::Unchecked;
      case KindRole:
        return static_cast<int>(Kind::operation);
      case ToolNameRole:
        return QString::fromStdString(owner.tool);
      default:
        return {};
    }
  }
  const Row& row = rows_.at(index.row());
  if (row.kind == Kind::section) {
    switch (role) {
      case Qt::DisplayRole:
      case Qt::AccessibleTextRole:
        return sectionTitle(row.section);
      case KindRole:
        return static_cast<int>(Kind::section);
      case SectionRole:
        return static_cast<int>(row.section);
      case SectionCountRole:
        return row.count;
      default:
        return {};
    }
  }
  switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
    case ToolNameRole:
      return QString::fromStdString(row.tool);
    case Qt::AccessibleDescriptionRole:
      return tr("Space switches the tool; Enter shows its schema (View MCP tool schema).");
    case Qt::CheckStateRole:
      return row.state.on ? Qt::Checked : Qt::Unchecked;
    case Qt::ToolTipRole:
      return row.state.reason ? QString::fromStdString(*row.state.reason) : QString::fromStdString(row.description);
    case KindRole:
      return static_cast<int>(Kind::tool);
    case SectionRole:
      return static_cast<int>(row.section);
    case AvailableRole:
      return row.state.available;
    case OperationCountRole:
      return static_cast<int>(row.state.operations.size());
    case ReadOnlyRole:
      return row.readOnly ? QVariant(*row.readOnly) : QVariant();
    case DescriptionRole:
      return row.state.reason ? QString::fromStdString(*row.state.reason) : QString::fromStdString(row.description);
    case UnavailableReasonRole:
      return row.state.reason ? QString::fromStdString(*row.state.reason) : QString();
    case LineLimitRole:
      return row.state.reason ? 1 : ToolLibrary::descriptionLineLimit(row.tool);
    default:
      return {};
  }
}

bool ToolDetailModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::CheckStateRole || !(flags(index) & Qt::ItemIsUserCheckable)) return false;
  const bool on = value.value<Qt::CheckState>() == Qt::Checked;
  if (index.internalId() != topLevel) {
    const Row& owner = rows_.at(index.internalId() - 1);
    // Copies: the model's change announcements may refresh these rows.
    const std::string tool = owner.tool;
    const std::string operation = owner.state.operations.at(index.row()).name;
    model_.setOperationEnabled(on, operation, tool);
    return true;
  }
  const std::string tool = rows_.at(index.row()).tool;
  model_.setToolEnabledConsideringOperations(on, tool);
  return true;
}

void ToolDetailModel::toggle(const QModelIndex& index) {
  if (!(flags(index) & Qt::ItemIsUserCheckable)) return;
  if (index.internalId() != topLevel) {
    const Row& owner = rows_.at(index.internalId() - 1);
    const std::string tool = owner.tool;
    const std::string operation = owner.state.operations.at(index.row()).name;
    model_.setOperationEnabled(!model_.isOperationEnabled(operation, tool), operation, tool);
    return;
  }
  const std::string tool = rows_.at(index.row()).tool;
  model_.setToolEnabledConsideringOperations(!ToolLibrary::isToolEnabledConsideringOperations(model_, tool), tool);
}

Qt::ItemFlags ToolDetailModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  if (index.internalId() != topLevel) {
    // An operation stays switchable while its application is missing.
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | (editable_ ? Qt::ItemIsUserCheckable : Qt::NoItemFlags);
  }
  const Row& row = rows_.at(index.row());
  // Section headers are not part of keyboard navigation.
  if (row.kind == Kind::section) return Qt::NoItemFlags;
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (editable_ && row.state.available) flags |= Qt::ItemIsUserCheckable;
  return flags;
}

}  // namespace qd
