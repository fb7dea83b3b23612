#pragma once

// What the coordination handlers (tasks, agents, notify, log_message) and the journal
// writers beneath the daemon are given: the daemon's services and the note state it keeps
// for its whole life. The daemon owns every referenced object and outlives each call.

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "daemon/config/tool_settings_store.h"
#include "daemon/core/note_app_client.h"
#include "daemon/messaging/notification_queue.h"
#include "daemon/runtime/async_mutex.h"
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

struct CoordinationContext {
  WorkTracker& workTracker;
  NotificationQueue& notificationQueue;
  ToolSettingsStore& toolSettingsStore;
  NoteAppClient& noteApp;
  NoteJournalState& journal;
  const Clock& clock;  // stamps of notes, generated ids
};

}  // namespace qd
