// bench-deps: qd_settings_model
// Grouping of the settings window's tool list (categories by priority, then collated
// names; tools by name) for a catalog of 1,000 tools in 40 groups plus the fixed rules,
// beside the floor: copying and sorting the same 1,000 names. The window regroups on every
// evaluation of the Tools tab, so one grouping must stay well under a 5 ms frame.
// Usage: tool_grouping_bench [groupings per run]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/settings/tool_catalogue.h"

namespace {

using Clock = std::chrono::steady_clock;

qd::ToolCatalogue::Catalog makeCatalog() {
  qd::ToolCatalogue::Catalog catalog;
  const char* prefixes[] = {"tbx_nav_", "tinderbox_", "time_", "agents_", "misc_"};
  for (int i = 0; i < 1000; ++i) {
    qd::ToolMetadata tool;
    tool.name = std::string(prefixes[i % 5]) + std::to_string(i);
    if (i % 3 != 0) tool.group = "Group " + std::to_string(i % 40);
    catalog[tool.name] = tool;
  }
  return catalog;
}

// Microseconds per call, best of three runs.
template <class F>
double bestMicros(int calls, F&& f) {
  double best = 1e18;
  for (int run = 0; run < 3; ++run) {
    const auto start = Clock::now();
    for (int i = 0; i < calls; ++i) f();
    const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count() / calls;
    best = std::min(best, us);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const int calls = argc > 1 ? std::atoi(argv[1]) : 200;
  const qd::ToolCatalogue::Catalog catalog = makeCatalog();
  std::vector<std::string> names;
  for (const auto& [name, tool] : catalog) names.push_back(name);

  std::size_t sink = 0;
  const double floor = bestMicros(calls, [&] {
    std::vector<std::string> copy = names;
    std::sort(copy.begin(), copy.end(), std::greater<>());
    sink += copy.size();
  });
  const double grouping = bestMicros(calls, [&] { sink += qd::ToolCatalogue::groupedTools(catalog, "dev").size(); });
  std::printf("1000 tools: grouping %.1f us, floor (copy and sort the names) %.1f us, ratio %.1f (%zu)\n", grouping,
              floor, grouping / floor, sink % 2);
  return 0;
}
