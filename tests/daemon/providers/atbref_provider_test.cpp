#include <gtest/gtest.h>

#include <asio/io_context.hpp>

#include "daemon/core/provider_error.h"
#include "daemon/providers/atbref_provider.h"
#include "daemon/providers/page_text.h"
#include "support/local_http_server.h"
#include "support/test_io.h"

namespace qd {
namespace {

using test::runAwaitable;

class ATBRefProviderTest : public ::testing::Test {
 protected:
  ATBRefProviderTest() {
    site_.host = "localhost";
    site_.baseURL = origin() + "/atbref11/index/";
  }

  std::string origin(const std::string& host = "localhost") const {
    return "http://" + host + ":" + std::to_string(server_.port());
  }

  std::string call(Json arguments) {
    ATBRefProvider provider(pool_, site_);
    std::optional<Json> result = runAwaitable(io_, provider.handle("atbref", "client", std::move(arguments)));
    EXPECT_TRUE(result.has_value());
    EXPECT_FALSE(result->contains("isError"));
    return (*result)["content"][0]["text"].get<std::string>();
  }

  test::LocalHttpServer server_;
  asio::io_context io_;
  BlockingPool pool_{2};
  ATBRefSite site_;  // fetches under the daemon's own time-out: a busy machine slows the local server too
};

TEST_F(ATBRefProviderTest, AnswersWithoutTheNetwork) {
  const std::string help = call(Json::object());
  EXPECT_TRUE(help.starts_with("# aTbRef Tool Operations\n\nTinderbox reference documentation lookup via localhost."));
  EXPECT_TRUE(help.ends_with("- {\"operation\": \"list_topics\"}"));
  EXPECT_EQ(call({{"operation", 7}}), help);

  EXPECT_EQ(call({{"operation", "search"}, {"query", "ATTRIBUTES"}}),
            "\u2022 System Attributes\n  " + site_.baseURL + "System_Attributes/System_Attribute_List.html");
  const std::string all = call({{"operation", "search"}, {"query", "html"}});
  EXPECT_EQ(all, call({{"operation", "list_topics"}}));
  EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 7);
  EXPECT_EQ(call({{"operation", "search"}, {"query", "zebra"}}), "No aTbRef topic matches for 'zebra'.");
  EXPECT_EQ(call({{"operation", "search"}}), "Missing query parameter for search operation");
  EXPECT_EQ(call({{"operation", "lookup_operator"}, {"query", ""}}), "Missing query parameter for operator lookup");
  EXPECT_EQ(call({{"operation", "lookup_date_format"}}), "Missing query parameter for date format lookup");
  EXPECT_EQ(call({{"operation", ""}}), "Unsupported atbref operation: \nUse operation='help' to see available operations.");
  EXPECT_TRUE(server_.requestedPaths().empty());
}

TEST_F(ATBRefProviderTest, FetchesListsAndLookups) {
  server_.set("/atbref11/index/Action_Codes/Operators/Full_Operator_List.html",
              {200, "", "<html><script>var a = '<b>';</script><p>collect(group)</p>\n\n<p>sum &amp; more&lt;</p></html>"});
  server_.set("/atbref11/index/System_Attributes/System_Attribute_List.html", {200, "", "<p>$Name</p>"});
  EXPECT_EQ(call({{"operation", "get_operators_list"}}), "collect(group) sum & more&lt;");
  EXPECT_EQ(call({{"operation", "lookup_operator"}, {"query", "COLLECT"}}), "collect(group) sum & more&lt;");
  EXPECT_EQ(call({{"operation", "lookup_attribute"}, {"query", "$Color"}}),
            "No attribute match found for '$Color' in " + site_.baseURL +
                "System_Attributes/System_Attribute_List.html");
  // An error page is read like any other; a body that is not UTF-8 reads as empty.
  EXPECT_EQ(call({{"operation", "get_designators"}}), "not found");
  server_.set("/atbref11/index/Dates_and_Intervals/Date_Formats.html", {200, "", "\xff\xfe"});
  EXPECT_EQ(call({{"operation", "get_date_formats"}}), "");
}

TEST_F(ATBRefProviderTest, GetPageStaysOnTheSiteAndOnTheWeb) {
  server_.set("/page.html", {200, "", "<h1>Page</h1>"});
  const std::string refusal = "Invalid aTbRef URL. Must be from localhost domain.";
  EXPECT_EQ(call({{"operation", "get_page"}, {"url", origin() + "/page.html"}}), "Page");
  EXPECT_EQ(call({{"operation", "get_page"}, {"url", origin("docs.localhost") + "/page.html"}}), "Page");
  EXPECT_EQ(call({{"operation", "get_page"}, {"url", origin("evillocalhost") + "/page.html"}}), refusal);
  EXPECT_EQ(call({{"operation", "get_page"}, {"url", "not a url"}}), refusal);
  EXPECT_EQ(call({{"operation", "get_page"}}), refusal);
  EXPECT_EQ(call({{"operation", "get_page"}, {"url", "ftp://localhost/page.html"}}), "Invalid page URL");
  EXPECT_EQ(call({{"operation", "get_page"}, {"url", "gopher://docs.localhost/page.html"}}), "Invalid page URL");
  EXPECT_EQ(call({{"operation", "get_page"}, {"url", "file://localhost/etc/passwd"}}), refusal);  // a file URL has no host

  // A redirect is followed on the web, never off it.
  server_.set("/moved", {302, "Location: /page.html\r\n", ""});
  EXPECT_EQ(call({{"operation", "get_page"}, {"url", origin() + "/moved"}}), "Page");
  server_.set("/to-file", {302, "Location: file:///etc/passwd\r\n", ""});
  ATBRefProvider provider(pool_, site_);
  EXPECT_THROW(runAwaitable(io_, provider.handle("atbref", "c", {{"operation", "get_page"}, {"url", origin() + "/to-file"}})),
               ProviderError);
}

TEST_F(ATBRefProviderTest, AServerThatNeverAnswersFailsTheCallAtTheTimeOut) {
  site_.fetchTimeout = std::chrono::milliseconds(1500);
  server_.set("/atbref11/index/Action_Codes/Action_Code/Designators.html", {200, "", "", true});
  ATBRefProvider provider(pool_, site_);
  try {
    runAwaitable(io_, provider.handle("atbref", "c", {{"operation", "get_designators"}}));
    FAIL() << "the fetch should have failed";
  } catch (const ProviderError& e) {
    EXPECT_NE(std::string(e.what()).find("imeout"), std::string::npos) << e.what();
  }
}

// Checked while the body arrives: these bodies never end, so a fetch that waited for the
// whole body would wait for the time-out instead.
TEST_F(ATBRefProviderTest, ABodyOverSixteenMebibytesFailsTheFetchAsItArrives) {
  site_.fetchTimeout = std::chrono::seconds(120);
  server_.set("/huge.html", {200, "", std::string(16 * 1024 * 1024 + 1, 'a'), false, true});
  server_.set("/moved", {302, "Location: /huge.html\r\n", ""});
  ATBRefProvider provider(pool_, site_);
  for (const char* path : {"/huge.html", "/moved"}) {
    try {
      runAwaitable(io_, provider.handle("atbref", "c", {{"operation", "get_page"}, {"url", origin() + path}}));
      ADD_FAILURE() << path << " was read";
    } catch (const ProviderError& e) {
      EXPECT_NE(std::string(e.what()).find("The response is larger than 16 MiB"), std::string::npos) << e.what();
    }
  }
}

TEST(PageTextTest, StripsInOrder) {
  const std::vector<std::pair<std::string, std::string>> cases{
      {"<script>x<p>y</p></script>a<script>b</script>c", "ac"},
      {"a<Script>b</Script>c", "a b c"},  // case-sensitive: only the tags go
      {"a<script>never closed <b>x</b>", "a never closed x"},  // an unclosed script stays
      {"<style>p{}</style>text", "text"},
      {"a<>b", "a<>b"},  // a tag needs a character
      {"a < b", "a < b"},
      {"x&nbsp;y&amp;z&lt;", "x y&z&lt;"},
      {"&amp;nbsp;", "&nbsp;"},
      {"  one\n\t two \u00a0 ", "one two"},
      {"", ""},
  };
  for (const auto& [html, text] : cases) EXPECT_EQ(strippedPageText(html), text) << html;
}

TEST(PageTextTest, CutsAfterTwelveThousandCharactersWithoutSplittingOne) {
  const std::string exact(12000, 'a');
  EXPECT_EQ(strippedPageText(exact), exact);
  EXPECT_EQ(strippedPageText(exact + "b"), exact + "\u2026");
  // "e" with a combining accent is one character of three bytes.
  std::string accented;
  for (int i = 0; i < 12001; ++i) accented += "e\u0301";
  const std::string cut = strippedPageText(accented);
  EXPECT_EQ(cut, accented.substr(0, 12000 * 3) + "\u2026");
  // A huge page is handled without deep recursion.
  std::string huge = "<script>";
  huge += std::string(4 * 1024 * 1024, 'x');
  EXPECT_EQ(strippedPageText(huge + "<p>"), std::string(12000, 'x') + "\u2026");
}

}  // namespace
}  // namespace qd
