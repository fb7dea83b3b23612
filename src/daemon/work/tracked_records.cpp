#include "daemon/work/tracked_records.h"

#include "daemon/utilities/json_codec.h"

namespace qd {

Json stringMapToJson(const StringMap& map) {
  Json out = Json::object();
  for (const auto& [key, value] : map) out[key] = value;
  return out;
}

StringMap stringMapFromJson(const Json& object, const char* key) {
  StringMap out;
  for (auto it = object.begin(); it != object.end(); ++it) {
    out[it.key()] = codec::asString(*it, key);
  }
  return out;
}

namespace {

StringMap requiredStringMap(const Json& o, const char* key) {
  return stringMapFromJson(codec::requiredObject(o, key), key);
}

}  // namespace

Json TrackedTaskComment::toJson() const { return Json{{"who", who}, {"note", note}, {"timestamp", timestamp}}; }

TrackedTaskComment TrackedTaskComment::fromJson(const Json& value) {
  const Json& o = codec::expectObject(value, "TrackedTaskComment");
  return {codec::requiredString(o, "who"), codec::requiredString(o, "note"), codec::requiredInt(o, "timestamp")};
}

Json TrackedTask::toJson() const {
  Json out{{"id", id}, {"title", title}, {"status", status}};
  codec::putOptional(out, "assignee", assignee);
  out["updatedAt"] = updatedAt;
  out["metadata"] = stringMapToJson(metadata);
  out["comments"] = codec::toJsonList(comments);
  return out;
}

TrackedTask TrackedTask::fromJson(const Json& value) {
  const Json& o = codec::expectObject(value, "TrackedTask");
  TrackedTask task;
  task.id = codec::requiredString(o, "id");
  task.title = codec::requiredString(o, "title");
  task.status = codec::requiredString(o, "status");
  task.assignee = codec::optionalString(o, "assignee");
  task.updatedAt = codec::requiredInt(o, "updatedAt");
  task.metadata = requiredStringMap(o, "metadata");
  task.comments = codec::requiredRecordList<TrackedTaskComment>(o, "comments");
  return task;
}

Json TrackedWorkstream::toJson() const {
  return Json{{"id", id},
              {"name", name},
              {"status", status},
              {"updatedAt", updatedAt},
              {"metadata", stringMapToJson(metadata)}};
}

TrackedWorkstream TrackedWorkstream::fromJson(const Json& value) {
  const Json& o = codec::expectObject(value, "TrackedWorkstream");
  TrackedWorkstream w;
  w.id = codec::requiredString(o, "id");
  w.name = codec::requiredString(o, "name");
  w.status = codec::requiredString(o, "status");
  w.updatedAt = codec::requiredInt(o, "updatedAt");
  w.metadata = requiredStringMap(o, "metadata");
  return w;
}

Json TrackedJob::toJson() const {
  Json out{{"id", id},           {"agentID", agentID},     {"runner", runner},
           {"command", command}, {"arguments", arguments}, {"status", status},
           {"createdAt", createdAt}, {"updatedAt", updatedAt}};
  codec::putOptional(out, "origin", origin);
  codec::putOptional(out, "result", result);
  codec::putOptional(out, "error", error);
  out["metadata"] = stringMapToJson(metadata);
  return out;
}

TrackedJob TrackedJob::fromJson(const Json& value) {
  const Json& o = codec::expectObject(value, "TrackedJob");
  TrackedJob job;
  job.id = codec::requiredString(o, "id");
  job.agentID = codec::requiredString(o, "agentID");
  job.runner = codec::requiredString(o, "runner");
  job.command = codec::requiredString(o, "command");
  job.arguments = codec::requiredStringList(o, "arguments");
  job.status = codec::requiredString(o, "status");
  job.createdAt = codec::requiredInt(o, "createdAt");
  job.updatedAt = codec::requiredInt(o, "updatedAt");
  job.origin = codec::optionalString(o, "origin");
  job.result = codec::optionalString(o, "result");
  job.error = codec::optionalString(o, "error");
  job.metadata = requiredStringMap(o, "metadata");
  return job;
}

}  // namespace qd
