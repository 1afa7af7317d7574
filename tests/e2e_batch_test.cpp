// End to end: batches ("vesk quick") against real Chromium. Each word is one command line,
// read by veskbrowser with the command line's own grammar and served in order on one tab;
// the first error stops the batch and the command fails with it after printing the answer.
#include <gmock/gmock.h>

#include "e2e_support.hpp"

namespace vesk::test {
namespace {

using ::testing::HasSubstr;

class Batches : public RealBrowserTest {};

TEST_F(Batches, FiveCommandsGiveFiveResultsInOrder) {
  open("demo.html");
  const Json answer =
      ok({"quick", "fill #who 'Ada Lovelace'", "click #greet", "text #greeting", "title", "snap -i"});
  ASSERT_TRUE(answer.is_object());
  EXPECT_EQ(answer["ok"], true) << answer;
  EXPECT_EQ(answer["completed"], 5);
  const Json& results = answer["results"];
  ASSERT_EQ(results.size(), 5u) << answer;
  EXPECT_EQ(results[0]["method"], "element.fill");
  EXPECT_EQ(results[2]["result"]["text"], "Hello, Ada Lovelace!") << results[2];
  EXPECT_EQ(results[3]["result"]["title"], "Vesk demo");
  EXPECT_THAT(results[4]["result"].dump(), HasSubstr("Greet"));
}

TEST_F(Batches, AFailingThirdCommandStopsTheBatchAndFailsTheCommand) {
  open("demo.html");
  RunResult run = session().vesk({"quick", "fill #who Bo", "click #greet", "click #missing", "fill #who Never"});
  EXPECT_EQ(run.status, 1) << describe(run);
  EXPECT_THAT(run.err, HasSubstr("quick: command 3 (click #missing) failed: elementNotFound"));
  const Json answer = Json::parse(run.out, nullptr, false);
  ASSERT_TRUE(answer.is_object()) << run.out;
  EXPECT_EQ(answer["completed"], 2);
  EXPECT_EQ(answer["stoppedAt"], 3);
  ASSERT_EQ(answer["results"].size(), 3u);
  EXPECT_EQ(answer["results"][2]["error"]["code"], "elementNotFound");
  // The fourth command never ran: the field keeps what the first one typed.
  EXPECT_EQ(eval("document.getElementById('who').value"), "Bo");
  EXPECT_EQ(eval("document.getElementById('greeting').textContent"), "Hello, Bo!");
}

TEST_F(Batches, CommandsThatAreNotOneRequestAreRefusedBeforeTheyRun) {
  open("demo.html");
  RunResult run = session().vesk({"quick", "title", "instance list", "url"});
  EXPECT_EQ(run.status, 1) << describe(run);
  const Json answer = Json::parse(run.out, nullptr, false);
  ASSERT_TRUE(answer.is_object()) << run.out;
  EXPECT_EQ(answer["stoppedAt"], 2);
  EXPECT_THAT(answer["results"][1]["error"]["message"].get<std::string>(),
              HasSubstr("\"instance\" is not a single browser request"));
}

}  // namespace
}  // namespace vesk::test
