#include "daemon/messaging/notification_queue.h"

#include <gtest/gtest.h>

#include "daemon/utilities/unix_time.h"
#include "support/stderr_capture.h"

namespace qd {
namespace {

std::string describeFailure(const std::function<void()>& f) {
  try {
    f();
  } catch (const MessagingError& e) {
    return e.description();
  }
  return "";
}

// A payload whose compact JSON form is exactly `bytes` long: {"p":"xxx..."} is 8 + n bytes.
Json payloadOfSize(std::size_t bytes) { return Json{{"p", std::string(bytes - 8, 'x')}}; }

TEST(NotificationQueue, AgentNameRules) {
  NotificationQueue q;
  struct Case {
    std::string name;
    std::string error;
  };
  const Case cases[] = {
      {std::string(50, 'a'), ""},
      {"Agent_7-x", ""},
      {std::string(51, 'a'), "Invalid agent name: Agent name must be 1-50 characters"},
      {"", "Invalid agent name: Agent name must be 1-50 characters"},
      {"a b", "Invalid agent name: Agent name must contain only alphanumeric, underscore, or hyphen"},
      {"a.b", "Invalid agent name: Agent name must contain only alphanumeric, underscore, or hyphen"},
      {"alice\n", "Invalid agent name: Agent name must contain only alphanumeric, underscore, or hyphen"},
      // 30 accented letters: 60 bytes but 30 characters, so the character rule is the one broken.
      {[] { std::string s; for (int i = 0; i < 30; ++i) s += "\u00e9"; return s; }(),
       "Invalid agent name: Agent name must contain only alphanumeric, underscore, or hyphen"},
  };
  int client = 0;
  for (const auto& c : cases) {
    const std::string id = "client-" + std::to_string(client++);
    EXPECT_EQ(describeFailure([&] { q.identifyAgent(id, c.name); }), c.error) << c.name;
  }
  EXPECT_EQ(q.listAgents().size(), 2u);
}

TEST(NotificationQueue, NameBelongsToOneClientAtATime) {
  NotificationQueue q;
  q.identifyAgent("client-0", "alice");
  EXPECT_EQ(describeFailure([&] { q.identifyAgent("client-1", "alice"); }), "Agent name 'alice' is already taken");
  EXPECT_NO_THROW(q.identifyAgent("client-0", "alice"));
  EXPECT_EQ(q.getAgentName("client-0"), "alice");
  EXPECT_FALSE(q.getAgentName("client-1"));
}

TEST(NotificationQueue, DeliversInOrderAndHandsTheMailboxOverOnce) {
  ManualClock clock;
  NotificationQueue q(clock);
  q.identifyAgent("client-0", "alice");
  q.notify("bob", "alice", {{"n", 1}});
  clock.advance(std::chrono::milliseconds(5));
  q.notify("bob", "alice", {{"n", 2}});
  const auto work = q.checkWork("alice");
  ASSERT_EQ(work.size(), 2u);
  EXPECT_EQ(work[0].data, Json({{"n", 1}}));
  EXPECT_EQ(work[1].timestamp - work[0].timestamp, 5);
  EXPECT_EQ(work[0].timestamp, unixMilliseconds(clock.wallNow()) - 5);
  EXPECT_TRUE(q.checkWork("alice").empty());
  EXPECT_EQ(Notification::fromJson(work[0].toJson()), work[0]);
}

TEST(NotificationQueue, BroadcastAndUnknownRecipients) {
  NotificationQueue q;
  q.identifyAgent("client-0", "alice");
  q.notify("alice", "*", {{"x", 1}});  // only the sender is registered
  q.notify("alice", "nobody", {{"x", 1}});
  EXPECT_EQ(q.getStatistics().queuedNotifications, 0);

  q.identifyAgent("client-1", "bob");
  q.identifyAgent("client-2", "carol");
  q.notify("alice", "all", {{"x", 2}});
  q.notify("alice", "ALL", {{"x", 3}});  // just a name nobody holds
  EXPECT_EQ(q.checkWork("bob").size(), 1u);
  EXPECT_EQ(q.checkWork("carol").size(), 1u);
  EXPECT_TRUE(q.checkWork("alice").empty());
}

TEST(NotificationQueue, SizeAndCountLimits) {
  NotificationQueue q;
  q.identifyAgent("client-0", "alice");
  EXPECT_NO_THROW(q.notify("bob", "alice", payloadOfSize(100000)));
  EXPECT_EQ(describeFailure([&] { q.notify("bob", "alice", payloadOfSize(100001)); }),
            "Notification size (100001 bytes) exceeds maximum (100000 bytes)");

  q.configure(2);
  q.notify("bob", "alice", {{"n", 2}});
  EXPECT_EQ(describeFailure([&] { q.notify("bob", "alice", {{"n", 3}}); }),
            "Notification queue full for agent 'alice'");
  EXPECT_EQ(q.checkWork("alice").size(), 2u);

  q.configure(0);
  EXPECT_EQ(q.maxNotificationsPerAgent(), 1);
  q.configure(-4);
  EXPECT_EQ(q.maxNotificationsPerAgent(), 1);
}

TEST(NotificationQueue, FullMailboxStopsABroadcastPartWay) {
  NotificationQueue q;
  q.configure(1);
  q.identifyAgent("client-0", "a");
  q.identifyAgent("client-1", "b");
  q.notify("x", "b", {{"first", true}});
  // Recipients are visited in name order: "a" receives its copy before "b" is found full.
  EXPECT_THROW(q.notify("x", "*", {{"n", 1}}), MessagingError);
  EXPECT_EQ(q.checkWork("a").size(), 1u);
  EXPECT_EQ(q.checkWork("b").size(), 1u);
}

TEST(NotificationQueue, UnregisterDropsTheMailboxOfTheLastHolder) {
  NotificationQueue q;
  q.identifyAgent("client-0", "alice");
  q.identifyAgent("client-1", "bob");
  q.notify("bob", "alice", {{"n", 1}});
  q.notify("bob", "alice", {{"n", 2}});
  q.notify("bob", "alice", {{"n", 3}});
  EXPECT_EQ(q.getStatistics(), (MessagingStatistics{2, 2, 3}));

  q.unregisterAgent("client-0");
  q.unregisterAgent("client-9");  // unknown: nothing happens
  EXPECT_EQ(q.listAgents(), std::vector<std::string>{"bob"});
  EXPECT_TRUE(q.checkWork("alice").empty());
  EXPECT_EQ(q.getStatistics(), (MessagingStatistics{1, 1, 0}));
}

TEST(NotificationQueue, RenamingKeepsTheOldMailboxForALaterHolder) {
  NotificationQueue q;
  q.identifyAgent("client-0", "old");
  q.identifyAgent("client-1", "sender");
  q.notify("sender", "old", {{"n", 1}});
  q.identifyAgent("client-0", "new");
  q.notify("sender", "old", {{"n", 2}});  // "old" is no longer registered: skipped
  q.identifyAgent("client-2", "old");
  EXPECT_EQ(q.checkWork("old").size(), 1u);
}

TEST(NotificationQueue, WarnsAboutUnregisteredRecipients) {
  test::StderrCapture capture;
  NotificationQueue q;
  q.notify("a", "ghost", {{"n", 1}});
  const auto line = Json::parse(capture.lines().at(0));
  EXPECT_EQ(line["message"], "Recipient not registered");
  EXPECT_EQ(line["metadata"]["recipient"], "ghost");
}

}  // namespace
}  // namespace qd
