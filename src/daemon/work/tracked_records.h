#pragma once

// The records of tracked work: tasks with their comments, workstreams and command-line
// jobs. Plain values, changed only through the work tracker. Their JSON form uses the
// field names as keys (a job's agent is "agentID"); an absent optional is left out, a
// missing or null optional reads as absent, every other member is required (no defaults:
// a task without "comments" does not decode), and unknown members are ignored.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "daemon/utilities/json.h"

namespace qd {

using StringMap = std::map<std::string, std::string>;

struct TrackedTaskComment {
  std::string who;
  std::string note;
  std::int64_t timestamp = 0;  // milliseconds since 1970

  Json toJson() const;
  static TrackedTaskComment fromJson(const Json& value);
  bool operator==(const TrackedTaskComment&) const = default;
};

struct TrackedTask {
  std::string id;
  std::string title;
  std::string status;
  std::optional<std::string> assignee;
  std::int64_t updatedAt = 0;
  StringMap metadata;
  std::vector<TrackedTaskComment> comments;  // oldest first; only grows

  Json toJson() const;
  static TrackedTask fromJson(const Json& value);
  bool operator==(const TrackedTask&) const = default;
};

struct TrackedWorkstream {
  std::string id;
  std::string name;
  std::string status;
  std::int64_t updatedAt = 0;
  StringMap metadata;

  Json toJson() const;
  static TrackedWorkstream fromJson(const Json& value);
  bool operator==(const TrackedWorkstream&) const = default;
};

struct TrackedJob {
  std::string id;
  std::string agentID;
  std::string runner;
  std::string command;
  std::vector<std::string> arguments;
  std::string status;
  std::int64_t createdAt = 0;
  std::int64_t updatedAt = 0;
  std::optional<std::string> origin;
  std::optional<std::string> result;
  std::optional<std::string> error;
  StringMap metadata;
  // Which creation of this id the record is, set by the tracker; a run writes its outcome
  // only onto the record it started. Not part of the JSON form (decoded records have 0).
  std::uint64_t creationSerial = 0;

  Json toJson() const;
  static TrackedJob fromJson(const Json& value);
  bool operator==(const TrackedJob&) const = default;
};

// What a job is made from; it has no JSON form.
struct TrackedJobCreateRequest {
  std::string id;
  std::string agentID;
  std::string runner;
  std::string command;
  std::vector<std::string> arguments;
  std::optional<std::string> origin;
  StringMap metadata;
};

// The map as a JSON object of strings, and back (every value must be a string).
Json stringMapToJson(const StringMap& map);
StringMap stringMapFromJson(const Json& object, const char* key);

}  // namespace qd
