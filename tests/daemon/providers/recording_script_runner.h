#pragma once

// A ScriptRunner that records every run and answers from a scenario: by default the
// preflight succeeds and scripts print "", and a test sets the answer of a lane.

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "daemon/providers/script_runner.h"
#include "daemon/runtime/process_runner.h"

namespace qd::test {

class RecordingScriptRunner final : public ScriptRunner {
 public:
  struct Answer {
    std::string output;
    std::optional<ProcessRunnerError> error;
  };

  asio::awaitable<std::string> run(ScriptRun run) override {
    runs.push_back(run);
    const auto it = answers.find(run.lane);
    const Answer answer = it == answers.end() ? Answer{} : it->second;
    if (answer.error) throw *answer.error;
    co_return answer.output;
  }

  // The lines of a recorded run: every argument after "-e".
  static std::vector<std::string> lines(const ScriptRun& run) {
    std::vector<std::string> out;
    for (std::size_t i = 1; i < run.arguments.size(); i += 2) out.push_back(run.arguments[i]);
    return out;
  }
  static std::string script(const ScriptRun& run) {
    std::string out;
    for (const auto& line : lines(run)) out += line + "\n";
    return out;
  }

  void answer(const std::string& lane, std::string output) { answers[lane] = Answer{std::move(output), {}}; }
  void fail(const std::string& lane, ProcessRunnerError error) { answers[lane] = Answer{"", std::move(error)}; }

  std::vector<ScriptRun> runs;
  std::map<std::string, Answer> answers;
};

}  // namespace qd::test
