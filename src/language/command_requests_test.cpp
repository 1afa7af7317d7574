// A parsed command line as the requests it sends: the same method and params the command
// line's handlers send, the follow-ups and snapshots that go with it, and a clear refusal
// for the commands that are more than requests to the browser.
#include "language/requests.hpp"

#include <gtest/gtest.h>

#include "language/parser.hpp"

namespace vesk::cli {
namespace {

Result<CommandRequests> requests_of(const std::vector<std::string>& words) {
  const ParseOutcome outcome = parse_command_line(words);
  const Cli* cli = std::get_if<Cli>(&outcome);
  if (cli == nullptr) return fail("line not parsed");
  return command_requests(*cli);
}

TEST(CommandRequests, EachCommandGivesItsRequestAndWhatFollows) {
  struct Case {
    std::vector<std::string> line;
    const char* method;
    std::vector<std::string> follow_ups;
    AfterSnapshot after;
  };
  const Case cases[] = {
      {{"title"}, "page.title", {}, AfterSnapshot::none},
      {{"fill", "e1", "Ada", "Lovelace"}, "element.fill", {}, AfterSnapshot::none},
      {{"click", "e3", "--snap"}, "element.click", {}, AfterSnapshot::snapshot},
      {{"select", "--snap", "--snap-diff", "e4", "b"}, "element.select", {}, AfterSnapshot::diff},
      {{"click", "--snap", "10", "20"}, "mouse.click", {}, AfterSnapshot::none},
      {{"mouse", "click", "1", "2"}, "mouse.click", {}, AfterSnapshot::none},
      {{"mouse", "move", "1", "2"}, "mouse", {}, AfterSnapshot::none},
      {{"nav", "example.com", "--capture", "--snap"}, "tab.navigate", {"page.snapshot", "page.capture"}, AfterSnapshot::none},
      {{"snap", "-i"}, "page.snapshot", {}, AfterSnapshot::none},
      {{"snapshot"}, "page.snapshot", {}, AfterSnapshot::none},
      {{"back"}, "nav.back", {}, AfterSnapshot::none},
      {{"tab", "handoff"}, "tab.handoff", {}, AfterSnapshot::none},
      {{"handoff-status"}, "tab.handoffStatus", {}, AfterSnapshot::none},
      {{"ss", "-o", "/tmp/a.png"}, "page.screenshot", {}, AfterSnapshot::none},
      {{"profile", "list"}, "profile.list", {}, AfterSnapshot::none},
  };
  for (const Case& c : cases) {
    const auto requests = requests_of(c.line);
    ASSERT_TRUE(requests) << c.line.front() << ": " << requests.error().text();
    EXPECT_EQ(requests->request.method, c.method) << c.line.front();
    std::vector<std::string> follow_ups;
    for (const auto& follow_up : requests->follow_ups) follow_ups.push_back(follow_up.method);
    EXPECT_EQ(follow_ups, c.follow_ups) << c.line.front();
    EXPECT_EQ(requests->after, c.after) << c.line.front();
  }
}

TEST(CommandRequests, ParamsAreThoseOfTheBuilders) {
  const auto requests = requests_of({"fill", "--tab", "2", "e1", "Ada"});
  ASSERT_TRUE(requests);
  ActionArgs args;
  args.selector = "e1";
  args.args = {"Ada"};
  args.tab = "2";
  EXPECT_EQ(requests->request, element_action_request("element.fill", args));
  EXPECT_EQ(requests->tab, "2");
}

TEST(CommandRequests, CommandsThatAreMoreThanARequestAreRefused) {
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"status"}, "\"status\" is not a single browser request"},
      {{"health"}, "\"health\" is not a single browser request"},
      {{"server", "stop"}, "\"server\" is not a single browser request"},
      {{"instance", "list"}, "\"instance\" is not a single browser request"},
      {{"upload", "e1", "/tmp/a.txt"}, "reads the files to upload"},
      {{"download", "http://x/y"}, "reports the download's progress"},
  };
  for (const auto& [line, message] : cases) {
    const auto requests = requests_of(line);
    ASSERT_FALSE(requests) << line.front();
    EXPECT_NE(requests.error().text().find(message), std::string::npos) << requests.error().text();
  }
}

}  // namespace
}  // namespace vesk::cli
