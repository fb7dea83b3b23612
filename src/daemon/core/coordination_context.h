#pragma once

// What the coordination handlers (tasks, agents, notify, log_message, jobs, workstreams,
// hook sync), the job runtime and the journal writers beneath the daemon are given: the
// daemon's services and the state it keeps for its whole life. The daemon owns every
// referenced object and outlives each call.

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <variant>

#include "daemon/config/tool_settings_store.h"
#include "daemon/core/note_app_client.h"
#include "daemon/messaging/notification_queue.h"
#include "daemon/runtime/async_mutex.h"
#include "daemon/runtime/one_shot.h"
#include "daemon/utilities/clock.h"

namespace qd {

class WorkTracker;  // daemon/work/work_tracker.h, a module above this one

// Journal state that lives as long as the daemon and starts empty with it.
struct NoteJournalState {
  // Full paths of containers found or created in the note app. A path enters only after
  // it was found, or "create_note" answered without isError, so a failed attempt is tried
  // again by the next writer.
  std::set<std::string> createdLogContainers;
  // Uses of container path + "::" + base title, for unique note titles.
  std::map<std::string, std::int64_t> noteTitleCounters;
  // Task id -> path of the task's latest event note, the source of the next "task-flow" link.
  std::map<std::string, std::string> taskLastEventPath;
  // Note path -> the lock that makes mirrors of one record's note run one at a time.
  std::map<std::string, std::shared_ptr<AsyncMutex>> noteMirrorLocks;
};

struct CoordinationContext;

// The job runtime's state, kept for the daemon's life and starting empty with it.
struct JobRuntimeState {
  // Set by the first launch pass, which runs the one-time recovery.
  bool didRecoverPersistedRunningJobs = false;
  // How long one job's process may run; its wait for its lane does not count.
  std::chrono::steady_clock::duration jobTimeout = std::chrono::seconds(180);
  // "jobs." + agent id -> the lock that lets one process per agent run at a time. A lane
  // leaves the map once nobody holds or waits for it.
  std::map<std::string, std::shared_ptr<AsyncMutex>> laneLocks;
  // The runs whose tasks have not ended, by run number, with the request that stops each.
  std::map<std::uint64_t, std::shared_ptr<OneShot<std::monostate>>> activeRuns;
  std::uint64_t nextRunNumber = 1;
  // Set at shutdown: no job starts any more, and a stopped run writes nothing and starts
  // no launch pass.
  bool stopping = false;
  // Settled when the last active run ends after `stopping` was set.
  std::shared_ptr<OneShot<std::monostate>> lastRunEnded;
  // What a job's task holds for its whole run, so everything the context refers to stays
  // alive: the daemon hands out a pointer to its context that shares ownership of the
  // daemon itself (an aliasing shared_ptr). While it is expired no job starts.
  std::weak_ptr<CoordinationContext> owner;
};

struct CoordinationContext {
  WorkTracker& workTracker;
  NotificationQueue& notificationQueue;
  ToolSettingsStore& toolSettingsStore;
  NoteAppClient& noteApp;
  NoteJournalState& journal;
  const Clock& clock;  // stamps of notes, generated ids
  JobRuntimeState& jobRuntime;
};

}  // namespace qd
