// bench-deps: qd_work
//
// The coordination tools at 1k, 10k and 100k records from 100 agents, with the journal off
// (no note app connected): "tasks" create, list and heartbeat through the handler, and a
// job pick (nextQueuedJob). Baseline in the same run: the same number of inserts into a
// bare map of task records, and one full copy of that map.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>

#include "daemon/core/coordination_context.h"
#include "daemon/work/tasks_tool.h"
#include "daemon/work/work_tracker.h"

namespace {

using Steady = std::chrono::steady_clock;

class NoNoteApp final : public qd::NoteAppClient {
 public:
  bool isConnected() const override { return false; }
  asio::awaitable<qd::CallToolResult> callTool(std::string, qd::Json) override {
    throw std::runtime_error("not connected");
  }
};

double microsecondsSince(Steady::time_point start) {
  return std::chrono::duration<double, std::micro>(Steady::now() - start).count();
}

struct Figures {
  double createEach = 0;     // us per create through the handler
  double listWhole = 0;      // us for one "list"
  double heartbeat = 0;      // us for one "heartbeat"
  double pick = 0;           // us for one nextQueuedJob
  double bareInsertEach = 0; // us per insert into a bare map
  double bareCopy = 0;       // us for one copy of the bare map
  std::size_t listBytes = 0;
};

asio::awaitable<void> createTasks(qd::CoordinationContext& context, int count, double* elapsed) {
  const auto start = Steady::now();
  for (int i = 0; i < count; ++i) {
    std::string client = "client-" + std::to_string(i % 100);
    qd::Json arguments{{"operation", "create"}, {"taskId", "TASK-" + std::to_string(i)}, {"title", "Task number " + std::to_string(i)}};
    co_await qd::handleTasksTool(context, std::move(client), std::move(arguments));
  }
  *elapsed = microsecondsSince(start);
}

asio::awaitable<void> timedCall(qd::CoordinationContext& context, qd::Json arguments, double* elapsed, std::size_t* bytes) {
  const auto start = Steady::now();
  std::string client = "client-7";
  const qd::Json reply = co_await qd::handleTasksTool(context, std::move(client), std::move(arguments));
  *elapsed = microsecondsSince(start);
  if (bytes) *bytes = reply["content"][0]["text"].get_ref<const std::string&>().size();
}

Figures measure(int count) {
  asio::io_context io(1);
  const qd::Clock& clock = qd::Clock::system();
  qd::WorkTracker tracker(clock);
  qd::NotificationQueue queue(clock);
  qd::ToolSettingsStore settings(std::filesystem::path("/nonexistent/tool-settings.json"));
  NoNoteApp app;
  qd::NoteJournalState journal;
  qd::JobRuntimeState jobRuntime;
  qd::CoordinationContext context{tracker, queue, settings, app, journal, clock, jobRuntime};
  for (int a = 0; a < 100; ++a) queue.identifyAgent("client-" + std::to_string(a), "agent-" + std::to_string(a));

  Figures f;
  double total = 0;
  asio::co_spawn(io, createTasks(context, count, &total), asio::detached);
  io.run();
  f.createEach = total / count;
  // A share of the tasks waiting on their agents and active, so heartbeat finds some.
  for (int i = 0; i < count; i += 10) tracker.assignTask("TASK-" + std::to_string(i), "agent-" + std::to_string((i / 10) % 100), "waiting", std::nullopt);
  for (int i = 5; i < count; i += 10) tracker.updateTask("TASK-" + std::to_string(i), "active", {});

  io.restart();
  asio::co_spawn(io, timedCall(context, qd::Json{{"operation", "list"}}, &f.listWhole, &f.listBytes), asio::detached);
  io.run();
  // The median of several heartbeats: the first allocation after the list's large reply
  // was freed pays for the allocator's clean-up of it.
  std::vector<double> beats;
  for (int i = 0; i < 21; ++i) {
    double elapsed = 0;
    io.restart();
    asio::co_spawn(io, timedCall(context, qd::Json{{"operation", "heartbeat"}, {"stalledHours", 1}}, &elapsed, nullptr),
                   asio::detached);
    io.run();
    beats.push_back(elapsed);
  }
  std::sort(beats.begin(), beats.end());
  f.heartbeat = beats[beats.size() / 2];

  for (int i = 0; i < count; ++i) {
    tracker.createJob({"JOB-" + std::to_string(i), "agent-" + std::to_string(i % 100), "shell", "true", {}, std::nullopt, {}});
  }
  std::vector<double> picks;
  for (int i = 0; i < 21; ++i) {
    const auto pickStart = Steady::now();
    const auto picked = tracker.nextQueuedJob();
    picks.push_back(microsecondsSince(pickStart));
    if (!picked) std::puts("no job picked");
  }
  std::sort(picks.begin(), picks.end());
  f.pick = picks[picks.size() / 2];

  std::map<std::string, qd::TrackedTask> bare;
  const auto insertStart = Steady::now();
  for (int i = 0; i < count; ++i) {
    const std::string id = "TASK-" + std::to_string(i);
    bare[id] = qd::TrackedTask{id, "Task number " + std::to_string(i), "queue", std::nullopt, 0, {}, {}};
  }
  f.bareInsertEach = microsecondsSince(insertStart) / count;
  const auto copyStart = Steady::now();
  const auto copy = bare;
  f.bareCopy = microsecondsSince(copyStart);
  if (copy.size() != bare.size()) std::puts("copy lost records");
  return f;
}

}  // namespace

int main() {
  std::printf("%8s %12s %12s %10s %12s %12s %10s %12s %12s\n", "records", "create us", "bare ins us", "ratio",
              "list us", "bare copy us", "ratio", "heartbeat us", "pick us");
  for (int count : {1000, 10000, 100000}) {
    const Figures f = measure(count);
    std::printf("%8d %12.2f %12.2f %10.1f %12.0f %12.0f %10.1f %12.0f %12.2f   (list reply %zu bytes)\n", count,
                f.createEach, f.bareInsertEach, f.createEach / f.bareInsertEach, f.listWhole, f.bareCopy,
                f.listWhole / f.bareCopy, f.heartbeat, f.pick, f.listBytes);
  }
  return 0;
}
