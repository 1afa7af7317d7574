// End to end: every action tells the truth and every answer fits an agent. Each test drives
// a fixture page through `vesk` and shows the wrong answer is gone: the failure comes with
// its code, or the result carries what happened.
#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>

#include "e2e_support.hpp"

namespace vesk::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class AgentAnswers : public RealBrowserTest {
 protected:
  // Runs a command that must fail with `code`; its error text.
  static std::string failure(const std::vector<std::string>& args, const std::string& code) {
    RunResult result = session().vesk(args);
    EXPECT_NE(result.status, 0) << joined(args) << " should fail with " << code << ": " << describe(result);
    const auto lines = lines_with(result.err, code + ": ");
    EXPECT_FALSE(lines.empty()) << joined(args) << " should fail with " << code << ": " << describe(result);
    return lines.empty() ? std::string() : lines.front();
  }
  static void open_http(const std::string& page) {
    Json opened = ok({"nav", session().http().url("/" + page)});
    ASSERT_TRUE(opened.is_object()) << "could not open " << page;
  }
};

TEST_F(AgentAnswers, FillGivesValueFormInputsTheirValueOrFailsNamingTheForm) {
  open("checkout.html");
  struct Case {
    std::string field;
    std::string value;
    std::string held;  // what the input holds afterwards
  };
  const std::vector<Case> takes = {
      {"delivery", "2027-03-15", "2027-03-15"}, {"slot", "14:30", "14:30"},
      {"pickup", "2027-03-15T14:30", "2027-03-15T14:30"}, {"expiry", "2027-03", "2027-03"},
      {"week", "2027-W11", "2027-W11"}, {"wrap", "#FF8800", "#ff8800"},
      {"tip", "15", "15"}, {"qty", "3", "3"},
  };
  for (const auto& c : takes) {
    SCOPED_TRACE(c.field);
    Json filled = ok({"fill", "#" + c.field, c.value});
    EXPECT_EQ(at(filled, "value"), c.held) << filled;
    EXPECT_EQ(eval("document.getElementById('" + c.field + "').value"), c.held);
    // As a person's edit: an input event, then a change event.
    EXPECT_EQ(eval("window.seen['" + c.field + "']"), Json::parse(R"(["input", "change"])"));
  }
  struct Refused {
    std::string field;
    std::string value;
    std::string form;  // in the message
  };
  const std::vector<Refused> refused = {
      {"delivery", "15/03/2027", "YYYY-MM-DD"},
      {"slot", "half past two", "HH:MM"},
      {"tip", "7", "in steps of 5"},
      {"qty", "three", "a number"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.field);
    const std::string before = eval("document.getElementById('" + c.field + "').value").get<std::string>();
    EXPECT_THAT(failure({"fill", "#" + c.field, c.value}, "invalidArgument"), HasSubstr(c.form));
    EXPECT_EQ(eval("document.getElementById('" + c.field + "').value"), before) << "a refused value changed the field";
  }
}

TEST_F(AgentAnswers, ClickOnACoveredElementNamesWhatCoversIt) {
  open("actions.html");
  const std::string error = failure({"click", "#buy"}, "elementCovered");
  EXPECT_THAT(error, HasSubstr("Cookie notice"));
  EXPECT_THAT(error, HasSubstr("#banner"));
  EXPECT_EQ(at(ok({"text", "#log"}), "text"), "idle") << "the click reached the page after all";
  failure({"hover", "#buy"}, "elementCovered");

  // Closed, the banner no longer covers it; a click on the button's own text counts as its.
  ok({"click", "#close-banner"});
  ok({"click", "#buy"});
  EXPECT_EQ(at(ok({"text", "#log"}), "text"), "bought");
  // An element in a shadow root is reached through its host.
  ok({"click", "role=button[name=\"Shadow buy\"]"});
  EXPECT_EQ(at(ok({"text", "#log"}), "text"), "shadow bought");
}

TEST_F(AgentAnswers, OptionsAndWordsAreCheckedBeforeAnythingHappens) {
  open("checkout.html");
  EXPECT_THAT(failure({"click", "--dialog-action", "maybe", "#place"}, "invalidArgument"), HasSubstr("accept"));
  EXPECT_EQ(at(ok({"dialog"}), "open"), false) << "the click happened and opened the dialog";
  EXPECT_EQ(at(ok({"text", "#result"}), "text"), "");

  EXPECT_THAT(failure({"click", "#place", "#name"}, "invalidArgument"), HasSubstr("\"#name\""));
  EXPECT_EQ(at(ok({"dialog"}), "open"), false);
  for (const std::vector<std::string>& command : std::vector<std::vector<std::string>>{
           {"hover", "#name", "#terms"}, {"check", "#terms", "now"}, {"value", "#name", "x"}, {"title", "now"}}) {
    SCOPED_TRACE(joined(command));
    failure(command, "invalidArgument");
  }
  EXPECT_EQ(at(ok({"checked", "#terms"}), "checked"), false);

  // The confirm dialog, answered by the click.
  Json placed = ok({"click", "--dialog-action", "accept", "#place"});
  EXPECT_EQ(at(at(placed, "dialog"), "handled"), "accepted") << placed;
  EXPECT_EQ(at(ok({"text", "#result"}), "text"), "ordered");

  // A wait longer than the cap says it was cut.
  ok({"eval", "setTimeout(() => document.getElementById('result').textContent = 'later', 200)"});
  Json waited = ok({"wait", "--timeout", "99999", "text=later"});
  EXPECT_EQ(at(waited, "capped"), true) << waited;
  EXPECT_EQ(at(waited, "cap"), 25000) << waited;
}

TEST_F(AgentAnswers, UploadToAnElementThatOpensNoFileChooserFailsWithoutClicking) {
  const auto file = session().env().root() / "note.txt";
  std::ofstream(file) << "hello";
  open("actions.html");
  failure({"upload", "#attach", file.string()}, "invalidArgument");
  EXPECT_EQ(eval("getComputedStyle(document.getElementById('attach-dialog')).display"), "none")
      << "the modal opened: the element was clicked";
}

TEST_F(AgentAnswers, AClickSaysWhatItCaused) {
  open_http("actions.html");
  const std::string first = at(ok({"tab", "list"}), "current").get<std::string>();

  Json opened = ok({"click", "#new-tab"});
  const Json new_tab = at(opened, "newTab");
  ASSERT_TRUE(new_tab.is_object()) << opened;
  EXPECT_THAT(at(new_tab, "url").get<std::string>(), HasSubstr("form.html"));
  EXPECT_EQ(at(ok({"tab", "list"}), "tabs").size(), 2u);
  EXPECT_EQ(at(ok({"tab", "list"}), "current"), first) << "the new tab took the current one's place";
  ok({"tab", "close", at(new_tab, "tab").get<std::string>()});

  Json saved = ok({"click", "#report"});
  const Json download = at(saved, "download");
  ASSERT_TRUE(download.is_object()) << saved;
  EXPECT_EQ(at(download, "suggestedFilename"), "report.csv");
  EXPECT_EQ(at(download, "state"), "completed") << saved;
  ASSERT_TRUE(at(download, "path").is_string()) << saved;
  EXPECT_EQ(read_file(at(download, "path").get<std::string>()), read_file(fixtures_dir() / "report.csv"));
  Json attribute = ok({"click", "#saved-copy"});
  EXPECT_EQ(at(at(attribute, "download"), "suggestedFilename"), "copy.csv") << attribute;

  // Without --wait-nav as well.
  Json went = ok({"click", "#go"});
  EXPECT_EQ(at(went, "navigated"), true) << went;
  EXPECT_THAT(at(went, "url").get<std::string>(), HasSubstr("form.html"));

  // A click that causes nothing says nothing of it.
  open_http("actions.html");
  Json plain = ok({"click", "#sign-in"});
  EXPECT_FALSE(plain.contains("navigated") || plain.contains("newTab") || plain.contains("download")) << plain;
}

TEST_F(AgentAnswers, InteractiveListingShowsStateAndMarksChanges) {
  open("checkout.html");
  ok({"fill", "#name", "Ada"});
  ok({"check", "#terms"});
  ok({"select", "#country", "France"});
  const std::string listing = ok_text({"snap", "-i"});
  EXPECT_THAT(listing, HasSubstr(":textbox [value=\"Ada\"] \"Name\""));
  EXPECT_THAT(listing, HasSubstr(":checkbox [checked] \"Terms\""));
  EXPECT_THAT(listing, HasSubstr(":combobox [selected=\"France\"] \"Country\""));
  EXPECT_THAT(listing, HasSubstr(":button [disabled] \"Pay later\""));
  // The JSON members stay as they are in the other modes.
  EXPECT_THAT(ok({"snap"}).dump(), HasSubstr("\"role\":\"checkbox\""));

  // A diff marks what is new (+) or changed (~) since the previous snapshot.
  ok_text({"snap", "-i"});
  ok({"fill", "#name", "Grace"});
  ok({"eval", "document.body.insertAdjacentHTML('beforeend', '<button>Pay now</button>')"});
  const std::string diff = ok_text({"snap", "-i", "-d"});
  EXPECT_THAT(diff, HasSubstr(":~textbox [value=\"Grace\"] \"Name\""));
  EXPECT_THAT(diff, HasSubstr(":+button \"Pay now\""));
  EXPECT_THAT(diff, HasSubstr(":button [disabled] \"Pay later\"")) << "an unchanged node is not marked";

  // --snap-diff shows the marks in the snapshot it merges.
  Json clicked = ok({"click", "--snap-diff", "#terms"});
  EXPECT_THAT(at(clicked, "snapshot").dump(), HasSubstr("\"change\":\"changed\"")) << clicked;
}

TEST_F(AgentAnswers, SnapshotsDoNotRepeatText) {
  open("checkout.html");
  for (const std::vector<std::string>& mode : std::vector<std::vector<std::string>>{{"snap", "-c"}, {"snap"}}) {
    SCOPED_TRACE(joined(mode));
    const Json nodes = at(at(ok(mode), "snapshot"), "nodes");
    ASSERT_TRUE(nodes.is_array());
    for (std::size_t i = 0; i < nodes.size(); ++i) {
      const std::string name = at(nodes[i], "name").get<std::string>();
      const std::size_t half = name.size() / 2;
      EXPECT_FALSE(name.size() > 1 && name.size() % 2 == 1 && name[half] == ' ' &&
                   name.substr(0, half) == name.substr(half + 1))
          << "doubled name: " << name;
      if (mode.size() > 1 && mode[1] == "-c" && i > 0 && at(nodes[i], "role") == "text") {
        EXPECT_NE(at(nodes[i - 1], "name"), at(nodes[i], "name")) << "a text node repeats its parent: " << name;
      }
    }
  }
}

TEST_F(AgentAnswers, EvalTextAndHtmlAnswersAreCappedAndCanGoToAFile) {
  open("actions.html");
  Json big = ok({"eval", "'x'.repeat(300000)"});
  EXPECT_EQ(at(big, "truncated"), true);
  EXPECT_EQ(at(big, "length"), 300000);
  EXPECT_EQ(at(big, "value").get<std::string>().size(), 100u * 1024);

  Json small = ok({"eval", "--max-bytes", "10", "'abcdefghijklmnop'"});
  EXPECT_EQ(at(small, "value"), "abcdefghij");
  const auto out = session().env().root() / "whole.txt";
  Json written = ok({"eval", "--out", out.string(), "'y'.repeat(200000)"});
  EXPECT_EQ(at(written, "path"), out.string());
  EXPECT_EQ(read_file(out), std::string(200000, 'y'));
  EXPECT_EQ(at(ok({"html", "--max-bytes", "20"}), "truncated"), true);

  // A DOM node is described, with its ref once a snapshot gave it one.
  const std::string listing = ok_text({"snap", "-i"});
  const std::string ref = ref_of(listing, "button", "Sign in");
  Json node = at(ok({"eval", "document.getElementById('sign-in')"}), "value");
  EXPECT_EQ(at(node, "tag"), "button") << node;
  EXPECT_EQ(at(node, "id"), "sign-in");
  EXPECT_THAT(at(node, "outerHTML").get<std::string>(), HasSubstr("Sign in"));
  EXPECT_EQ(at(node, "ref"), ref);

  // Top-level const of one eval does not break the next one.
  ok({"eval", "const answer = 41"});
  EXPECT_EQ(eval("answer + 1"), 42);
  ok({"eval", "const answer = 1"});
}

TEST_F(AgentAnswers, TypingIntoAContentEditableAppendsAtTheEnd) {
  open("checkout.html");
  ok({"type", "#notes", " thanks"});
  EXPECT_EQ(eval("document.getElementById('notes').textContent"), "Dear shop, thanks");
}

TEST_F(AgentAnswers, TabFocusTakesTheIdAfterTheWord) {
  open("actions.html");
  const std::string first = at(ok({"tab", "list"}), "current").get<std::string>();
  const std::string second = at(ok({"tab", "new", fixture_file_url("form.html")}), "tab").get<std::string>();
  EXPECT_EQ(at(ok({"tab", "focus", first}), "tab"), first);
  EXPECT_EQ(at(ok({"title"}), "title"), "Vesk actions");
  ok({"tab", "close", second});
}

TEST_F(AgentAnswers, RefsNeverGivenAreToldApartFromStaleOnes) {
  open("actions.html");
  const std::string ref = ref_of(ok_text({"snap", "-i"}), "button", "Sign in");
  EXPECT_THAT(failure({"click", "e999"}, "elementNotFound"), HasSubstr("no snapshot of tab"));
  open("actions.html");
  failure({"click", ref}, "staleRef");
}

TEST_F(AgentAnswers, TextAndRoleLocatorsWorkWhereSelectorsDo) {
  open("actions.html");
  struct Case {
    std::string locator;
    std::string log;  // what the click leaves in #log
  };
  const std::vector<Case> clicks = {
      {"text=Sign in", "signed in"},  // a substring: the first of the two buttons
      {"text=\"Sign in with email\"", "signed in by email"},
      {"role=button[name=\"Sign in\"]", "signed in"},  // exact
      {"text=shadow BUY", "shadow bought"},               // case ignored, inside a shadow root
  };
  for (const auto& c : clicks) {
    SCOPED_TRACE(c.locator);
    ok({"click", c.locator});
    EXPECT_EQ(at(ok({"text", "#log"}), "text"), c.log);
  }
  EXPECT_EQ(at(ok({"count", "role=button[name=sign in]"}), "count"), 2);
  // The innermost elements only: the two buttons, not the body that holds their text.
  EXPECT_EQ(at(ok({"count", "text=sign in"}), "count"), 2);
  ok({"wait", "role=button[name=\"Shadow buy\"]"});
  fails_with({"click", "text=\"Sign\""}, "elementNotFound");
  fails_with({"click", "role=button[label=\"x\"]"}, "invalidArgument");

  // find answers refs that act like a snapshot's.
  Json found = ok({"find", "Sign in with"});
  ASSERT_EQ(at(found, "count"), 1) << found;
  const std::string ref = at(at(found, "matches")[0], "ref").get<std::string>();
  ok({"click", ref});
  EXPECT_EQ(at(ok({"text", "#log"}), "text"), "signed in by email");
}

}  // namespace
}  // namespace vesk::test
