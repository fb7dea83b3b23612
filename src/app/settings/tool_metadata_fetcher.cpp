#include "app/settings/tool_metadata_fetcher.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

namespace qd {

ToolMetadataFetcher& ToolMetadataFetcher::shared() {
  // Owned by the application object, so it is gone before Qt is; a later call (there is
  // none in the application) would make a new one.
  static QPointer<ToolMetadataFetcher> instance;
  if (!instance) instance = new ToolMetadataFetcher(defaultAdminCall(), QCoreApplication::instance());
  return *instance;
}

ToolMetadataFetcher::ToolMetadataFetcher(AdminCall adminCall, QObject* parent)
    : QObject(parent), adminCall_(std::move(adminCall)) {
  // Loads may overlap, as the user can ask again while one hangs on a slow daemon.
  pool_.setMaxThreadCount(4);
}

ToolMetadataFetcher::~ToolMetadataFetcher() { pool_.waitForDone(); }

void ToolMetadataFetcher::waitForLoads() { pool_.waitForDone(); }

void ToolMetadataFetcher::loadToolMetadata() {
  isLoading_ = true;
  emit isLoadingChanged();
  emit changed();
  const std::uint64_t number = nextLoadNumber_++;
  // The task reaches the fetcher only through a queued call, which Qt drops once the
  // fetcher is gone; the destructor waits for the task itself.
  AdminCall call = adminCall_;
  QPointer<ToolMetadataFetcher> self(this);
  pool_.start([self, call, number] {
    std::optional<ToolCatalogFile> catalog;
    try {
      catalog = ToolCatalogFile::fromJson(call("app_get_tool_catalog", std::nullopt));
    } catch (const std::exception&) {
      // Any failure empties the catalog; the window falls back to its built-in tables.
    }
    if (!self) return;
    QMetaObject::invokeMethod(
        self.data(), [self, number, catalog = std::move(catalog)]() mutable {
          if (self) self->applyResult(number, std::move(catalog));
        },
        Qt::QueuedConnection);
  });
}

void ToolMetadataFetcher::applyResult(std::uint64_t number, std::optional<ToolCatalogFile> catalog) {
  if (number < lastAppliedNumber_) return;
  lastAppliedNumber_ = number;
  Catalog fresh;
  std::optional<Date> date;
  if (catalog) {
    for (ToolMetadata& tool : catalog->tools) {
      std::string name = tool.name;
      fresh.insert_or_assign(std::move(name), std::move(tool));
    }
    date = Date(std::chrono::seconds(catalog->timestamp));
  }
  toolMetadata_ = std::move(fresh);
  emit toolMetadataChanged();
  lastUpdate_ = date;
  emit lastUpdateChanged();
  // Still loading while a newer load is out.
  isLoading_ = number + 1 < nextLoadNumber_;
  emit isLoadingChanged();
  emit changed();
}

const ToolMetadata* ToolMetadataFetcher::entry(const std::string& name) const {
  auto it = toolMetadata_.find(name);
  return it == toolMetadata_.end() ? nullptr : &it->second;
}

std::optional<std::string> ToolMetadataFetcher::getDescription(const std::string& name) const {
  if (const ToolMetadata* m = entry(name)) return m->description;
  return std::nullopt;
}

std::optional<std::vector<ToolMetadata::ToolParameter>> ToolMetadataFetcher::getParameters(
    const std::string& name) const {
  if (const ToolMetadata* m = entry(name)) return m->parameters;
  return std::nullopt;
}

std::optional<bool> ToolMetadataFetcher::isReadOnly(const std::string& name) const {
  if (const ToolMetadata* m = entry(name)) return m->readOnly;
  return std::nullopt;
}

std::string ToolMetadataFetcher::getCapability(const std::string& name) const {
  const ToolMetadata* m = entry(name);
  return m && m->capability ? *m->capability : "readwrite";
}

std::optional<std::string> ToolMetadataFetcher::getLiveHelpText(const std::string& name) const {
  if (const ToolMetadata* m = entry(name)) return m->liveHelpText;
  return std::nullopt;
}

}  // namespace qd
