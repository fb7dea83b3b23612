#include "daemon/work/tracked_records.h"

#include <gtest/gtest.h>

#include "daemon/utilities/json_codec.h"

namespace qd {
namespace {

TEST(TrackedRecords, RoundTripLeavesAbsentOptionalsOut) {
  TrackedTask task{"T1", "Title", "active", std::nullopt, 1765275866123, {{"k", "v"}}, {{"bob", "hi", 1765275866999}}};
  const Json encoded = task.toJson();
  EXPECT_FALSE(encoded.contains("assignee"));
  EXPECT_TRUE(encoded["updatedAt"].is_number_integer());
  EXPECT_EQ(TrackedTask::fromJson(encoded), task);
  task.assignee = "alice";
  EXPECT_EQ(TrackedTask::fromJson(task.toJson()), task);

  TrackedJob job;
  job.id = "J";
  job.agentID = "a";
  job.arguments = {"x", "y"};
  job.createdAt = 5;
  EXPECT_FALSE(job.toJson().contains("result"));
  EXPECT_FALSE(job.toJson().contains("error"));
  job.result = "r";
  job.error = "e";
  EXPECT_EQ(TrackedJob::fromJson(job.toJson()), job);
  EXPECT_EQ(job.toJson()["agentID"], "a");

  const TrackedWorkstream w{"W", "n", "started", 7, {}};
  EXPECT_EQ(TrackedWorkstream::fromJson(w.toJson()), w);
}

TEST(TrackedRecords, NullOptionalIsAbsentAndUnknownKeysAreIgnored) {
  Json o = TrackedTask{"T", "t", "s", std::nullopt, 1, {}, {}}.toJson();
  o["assignee"] = nullptr;
  o["extra"] = 3;
  EXPECT_FALSE(TrackedTask::fromJson(o).assignee);
}

TEST(TrackedRecords, DecodingFailuresNameTheKey) {
  const Json task = TrackedTask{"T", "t", "s", std::nullopt, 1, {}, {}}.toJson();
  Json job = TrackedJob{}.toJson();
  struct Case {
    std::string name;
    Json value;
    bool isJob;
    std::string key;
  };
  Json noComments = task;
  noComments.erase("comments");
  Json wrongType = task;
  wrongType["updatedAt"] = "1";
  Json lowerD = job;
  lowerD["agentId"] = lowerD["agentID"];
  lowerD.erase("agentID");
  Json metadataValue = task;
  metadataValue["metadata"] = Json{{"n", 1}};
  const Case cases[] = {
      {"missing comments", noComments, false, "comments"},
      {"wrong type", wrongType, false, "updatedAt"},
      {"agentId key", lowerD, true, "agentID"},
      {"metadata not strings", metadataValue, false, "metadata"},
  };
  for (const Case& c : cases) {
    try {
      if (c.isJob) {
        TrackedJob::fromJson(c.value);
      } else {
        TrackedTask::fromJson(c.value);
      }
      ADD_FAILURE() << c.name << " decoded";
    } catch (const DecodingError& e) {
      EXPECT_NE(e.description().find(c.key), std::string::npos) << c.name << ": " << e.description();
    }
  }
}

}  // namespace
}  // namespace qd
