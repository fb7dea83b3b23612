#pragma once

// The one place the application asks the daemon for its tool catalog
// ("app_get_tool_catalog"). A load runs on a worker thread and its result is applied on
// the GUI thread: `toolMetadata` (keyed by tool name; of two tools named alike the later
// wins), then `lastUpdate`, then `isLoading`. Any failure (no daemon, time-out, error
// reply, a catalog that does not decode) empties the catalog; nothing is shown or logged.
//
// Loads are numbered. A result older than the last one applied is dropped, so an older
// load that fails late cannot empty a newer catalog; the newest load failing still
// empties it.
//
// Thread: construct, call and read on the GUI thread. Signals (GUI thread), for each
// applied result in this order: toolMetadataChanged, lastUpdateChanged,
// isLoadingChanged, then changed(). loadToolMetadata() emits isLoadingChanged and
// changed() at once when it sets `isLoading`.

#include <QObject>
#include <QThreadPool>

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/settings/admin_call.h"
#include "app/settings/tool_metadata.h"

namespace qd {

class ToolMetadataFetcher : public QObject {
  Q_OBJECT

 public:
  using Catalog = std::map<std::string, ToolMetadata>;
  using Date = std::chrono::system_clock::time_point;

  // The application's instance, created on first use (GUI thread) and owned by the
  // application object; it talks to the daemon of the process-wide configuration.
  static ToolMetadataFetcher& shared();

  // For tests and for an application that names its own admin call.
  explicit ToolMetadataFetcher(AdminCall adminCall, QObject* parent = nullptr);
  // Waits for loads in flight (each ends within the admin client's time-out).
  ~ToolMetadataFetcher() override;

  const Catalog& toolMetadata() const { return toolMetadata_; }
  bool isLoading() const { return isLoading_; }
  const std::optional<Date>& lastUpdate() const { return lastUpdate_; }

  // Starts a load and returns at once; every call starts its own request.
  void loadToolMetadata();

  // Readers of the catalog as it stands; they never start a load.
  std::optional<std::string> getDescription(const std::string& name) const;  // empty stays empty
  std::optional<std::vector<ToolMetadata::ToolParameter>> getParameters(const std::string& name) const;
  std::optional<bool> isReadOnly(const std::string& name) const;
  std::string getCapability(const std::string& name) const;  // "readwrite" when unknown
  std::optional<std::string> getLiveHelpText(const std::string& name) const;

  // Blocks until every load started so far has run its request (tests and shutdown).
  void waitForLoads();

 signals:
  void toolMetadataChanged();
  void isLoadingChanged();
  void lastUpdateChanged();
  void changed();

 private:
  const ToolMetadata* entry(const std::string& name) const;
  void applyResult(std::uint64_t number, std::optional<ToolCatalogFile> catalog);

  AdminCall adminCall_;
  Catalog toolMetadata_;
  bool isLoading_ = false;
  std::optional<Date> lastUpdate_;
  std::uint64_t nextLoadNumber_ = 1;
  std::uint64_t lastAppliedNumber_ = 0;
  QThreadPool pool_;
};

}  // namespace qd
