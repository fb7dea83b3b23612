#include <gtest/gtest.h>

#include <asio/io_context.hpp>

#include "daemon/core/provider_error.h"
#include "daemon/providers/contacts_provider.h"
#include "memory_stores.h"
#include "support/test_io.h"

namespace qd {
namespace {

using platform::ContactsAuthorization;
using test::runAwaitable;

const std::string kDenied = "Contacts access denied. Enable access in System Settings > Privacy & Security > Contacts.";

class ContactsTest : public testing::Test {
 protected:
  std::string text(Json arguments) {
    auto reply = runAwaitable(io, provider.handle("contacts", "client-0", std::move(arguments)));
    EXPECT_TRUE(reply.has_value());
    return reply.value_or(Json())["content"][0]["text"].get<std::string>();
  }
  Json json(Json arguments) { return Json::parse(text(std::move(arguments))); }
  ProviderError error(Json arguments) {
    try {
      text(std::move(arguments));
    } catch (const ProviderError& e) {
      return e;
    }
    ADD_FAILURE() << "no error";
    return ProviderError("", 0, "");
  }

  asio::io_context io;
  std::shared_ptr<test::ContactState> state = std::make_shared<test::ContactState>();
  ContactsToolProvider provider{"contacts", FeatureTier::dev,
                                [s = state] { return std::make_unique<test::MemoryContactStore>(s); }};
};

TEST_F(ContactsTest, AuthorizationStatuses) {
  const struct {
    ContactsAuthorization status;
    std::optional<int> code;
  } cases[] = {
      {ContactsAuthorization::authorized, std::nullopt}, {ContactsAuthorization::limited, std::nullopt},
      {ContactsAuthorization::restricted, 3},            {ContactsAuthorization::denied, 3},
      {ContactsAuthorization::unknown, 4},
  };
  for (const auto& c : cases) {
    state->status = c.status;
    if (!c.code) {
      EXPECT_EQ(json(Json::object())["returned"], 0);
      continue;
    }
    const auto e = error(Json::object());
    EXPECT_EQ(e.domain(), "ContactsToolProvider");
    EXPECT_EQ(e.code(), *c.code);
    EXPECT_EQ(e.description(), *c.code == 4 ? "Unknown Contacts authorization status." : kDenied);
  }
  state->status = ContactsAuthorization::notDetermined;
  EXPECT_EQ(json(Json::object())["returned"], 0);
  state->requestAnswer = {false, std::nullopt};
  EXPECT_EQ(error(Json::object()).code(), 2);
  state->requestAnswer = {false, platform::StoreError{"CNErrorDomain", 100, "Access was denied."}};
  EXPECT_EQ(error(Json::object()).description(), "Access was denied.");
  EXPECT_EQ(state->requests, 3);

  ContactsToolProvider system("contacts", FeatureTier::dev, platform::makeSystemContactStore);
  try {
    runAwaitable(io, system.handle("contacts", "c", Json::object()));
    FAIL();
  } catch (const ProviderError& e) {
    EXPECT_EQ(e.code(), 3);
    EXPECT_EQ(e.description(), kDenied);
  }
}

TEST_F(ContactsTest, NamedContactsInOrderUpToTheLimit) {
  state->contacts = {
      {"  Ada Lovelace ", "", {"+44 1", "+44 2"}},
      {"", "Acme Corp", {}},
      {"   ", "", {"+1 555"}},  // neither name nor organization: never listed
      {"Grace Hopper", "Navy", {"+1 1"}},
  };
  for (int i = 0; i < 300; ++i) state->contacts.push_back({"Person " + std::to_string(i), "", {}});
  const Json all = json(Json::object());
  EXPECT_EQ(all["limit"], 25);
  EXPECT_EQ(all["returned"], 25);
  EXPECT_EQ(all["contacts"][0], Json::parse(R"({"name": "Ada Lovelace", "phones": ["+44 1", "+44 2"]})"));
  EXPECT_EQ(all["contacts"][1], Json::parse(R"({"name": "Acme Corp", "phones": []})"));
  EXPECT_EQ(all["contacts"][2]["name"], "Grace Hopper");
  EXPECT_EQ(state->visited, 26);  // the enumeration stops at the limit

  const struct {
    Json limit;
    int expected;
  } limits[] = {{0, 1}, {1000, 200}, {3.7, 3}, {1e300, 200}, {"7", 25}};
  for (const auto& c : limits) EXPECT_EQ(json({{"limit", c.limit}})["limit"], c.expected) << c.limit.dump();
  EXPECT_EQ(text({{"limit", 1}}), "{\n  \"contacts\": [\n    {\n      \"name\": \"Ada Lovelace\",\n      \"phones\": [\n"
                                  "        \"+44 1\",\n        \"+44 2\"\n      ]\n    }\n  ],\n  \"limit\": 1,\n"
                                  "  \"returned\": 1\n}");
}

TEST_F(ContactsTest, NameFilterMatchesNameOrOrganizationIgnoringCase) {
  state->contacts = {{"Grace Hopper", "Navy", {"1"}}, {"Ada", "Analytical Engines", {}}, {"", "NAVY Yard", {}}};
  const Json navy = json({{"name", " NAVY "}});
  ASSERT_EQ(navy["returned"], 2);
  EXPECT_EQ(navy["contacts"][0]["name"], "Grace Hopper");
  EXPECT_EQ(navy["contacts"][1]["name"], "NAVY Yard");
  EXPECT_EQ(json({{"name", "   "}})["returned"], 3);
  EXPECT_EQ(json({{"name", 5}})["returned"], 3);

  state->enumerationError = platform::StoreError{"CNErrorDomain", 200, "The store failed."};
  EXPECT_EQ(error(Json::object()).description(), "The store failed.");
}

TEST_F(ContactsTest, ProviderRecord) {
  EXPECT_EQ(runAwaitable(io, provider.handle("calendar", "c", Json::object())), std::nullopt);
  EXPECT_EQ(provider.availableOperations().at("contacts"), (std::vector<std::string>{"list", "search"}));
  const auto tools = provider.tools();
  ASSERT_EQ(tools.size(), 1u);
  EXPECT_FALSE(tools[0].inputSchema.required.has_value());
}

}  // namespace
}  // namespace qd
