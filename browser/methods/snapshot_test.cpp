// Snapshots against a real Chromium, and the pure parts (token budget, diff) on tables.
#include "browser/core/frames.hpp"
#include "browser/methods/interactive_snapshot.hpp"
#include "browser/methods/snapshot.hpp"

#include <gtest/gtest.h>

#include "browser/test_support.hpp"

namespace vesk::browser {
namespace {

using testing::TempDir;
using testing::fixture_url;

Json snap(RunningBrowser& running, Json options, Json selector = nullptr) {
  auto result = running.serve("page.snapshot", {{"selector", selector}, {"tab", nullptr},
                                                {"options", options}, {"sourceCommand", "page.snapshot"}});
  EXPECT_TRUE(result.has_value()) << (result ? "" : result.error().message);
  return result ? *result : Json::object();
}

// The ref of the first node with this role and name, or "". Interactive snapshots write
// the state after the role ("combobox [selected=\"Free\"]").
std::string ref_of(const Json& result, const std::string& role, const std::string& name) {
  for (const auto& node : result["snapshot"]["nodes"]) {
    const std::string text = node.value("role", "");
    if ((text == role || text.starts_with(role + " [")) && node["name"] == name) return node["id"];
  }
  return "";
}

TEST(Snapshot, InteractiveListsActionableElementsWithStableRefs) {
  TempDir dir;
  auto running = testing::start_test_browser(dir);
  VESK_REQUIRE_BROWSER(running);
  ASSERT_TRUE(running->serve("tab.navigate", {{"url", fixture_url("form.html")}, {"options", Json::object()}}));

  Json first = snap(*running, {{"interactive", true}});
  EXPECT_EQ(first["snapshot"]["title"], "Vesk fixture form");
  EXPECT_EQ(first["snapshot"]["url"], fixture_url("form.html"));
  const std::string name_ref = ref_of(first, "textbox", "Name");
  const std::string save_ref = ref_of(first, "button", "Save");
  EXPECT_NE(name_ref, "") << first.dump(1);
  EXPECT_NE(save_ref, "");
  EXPECT_NE(ref_of(first, "checkbox", "I accept the terms"), "") << first.dump(1);
  EXPECT_NE(ref_of(first, "combobox", "Plan"), "") << first.dump(1);
  EXPECT_NE(ref_of(first, "link", "Next section"), "");
  for (const auto& node : first["snapshot"]["nodes"]) {
    EXPECT_NE(node["role"], "heading") << "interactive snapshots list only what can be acted on";
  }

  // The default snapshot has the text too, and gives the same elements the same refs.
  Json full = snap(*running, Json::object());
  EXPECT_NE(ref_of(full, "heading", "Sign up"), "") << full.dump(1);
  EXPECT_EQ(ref_of(full, "textbox", "Name"), name_ref);
  EXPECT_EQ(ref_of(full, "button", "Save"), save_ref);

  // Scoped to the form: the buttons outside it are not listed.
  Json scoped = snap(*running, {{"interactive", true}}, "#signup");
  EXPECT_EQ(ref_of(scoped, "button", "Save"), save_ref);
  EXPECT_EQ(ref_of(scoped, "button", "Warn me"), "");

  // A token budget cuts the list and says so.
  Json cut = snap(*running, {{"interactive", true}, {"maxTokens", 10}});
  EXPECT_EQ(cut["snapshot"]["truncated"], true);
  EXPECT_LT(cut["snapshot"]["nodes"].size(), first["snapshot"]["nodes"].size());

  // A ref from the previous document is stale after navigating, even to the same URL.
  ASSERT_TRUE(running->serve("nav.reload", Json::object()));
  auto clicked = running->serve("element.click", {{"selector", save_ref}, {"args", Json::array()}});
  ASSERT_FALSE(clicked.has_value());
  EXPECT_EQ(clicked.error().code, "staleRef");
}

TEST(Snapshot, DiffReportsWhatChangedSinceThePreviousSnapshot) {
  TempDir dir;
  auto running = testing::start_test_browser(dir);
  VESK_REQUIRE_BROWSER(running);
  ASSERT_TRUE(running->serve("tab.navigate", {{"url", fixture_url("form.html")}, {"options", Json::object()}}));
  Json before = snap(*running, {{"diff", false}});
  const std::string email_ref = ref_of(before, "textbox", "Email");
  ASSERT_NE(email_ref, "");
  Json unchanged = snap(*running, {{"diff", true}});
  EXPECT_EQ(unchanged["snapshot"], before["snapshot"]) << "an unchanged page gives an equal payload";
  EXPECT_EQ(unchanged["diff"], (Json{{"added", Json::array()}, {"removed", Json::array()}, {"changed", Json::array()}}));

  ASSERT_TRUE(running->serve("page.eval", {{"args", {"document.getElementById('email').remove(); "
                                                     "document.getElementById('result').textContent = 'gone'"}}}));
  Json after = snap(*running, {{"diff", true}});
  EXPECT_EQ(after["diff"]["removed"], Json::array({email_ref}));
  bool text_added = false;
  for (const auto& node : after["diff"]["added"]) text_added |= node["name"] == "gone";
  EXPECT_TRUE(text_added) << after["diff"].dump();
  auto stale = running->serve("element.fill", {{"selector", email_ref}, {"args", {"x@y.z"}}});
  ASSERT_FALSE(stale.has_value());
  EXPECT_EQ(stale.error().code, "staleRef");
}

TEST(SnapshotNodes, TokenBudgetKeepsWholeNodesInOrder) {
  Json nodes = Json::array();
  for (int i = 1; i <= 5; ++i) nodes.push_back({{"id", "e" + std::to_string(i)}, {"role", "button"}, {"name", "Twelve chars"}});
  struct Case { std::size_t budget; std::size_t kept; bool cut; };
  // Each line "eN:button Twelve chars" is 22 characters: 6 tokens.
  for (const Case& c : {Case{6, 1, true}, Case{17, 2, true}, Case{30, 5, false}, Case{1000, 5, false}}) {
    Json copy = nodes;
    EXPECT_EQ(cut_to_token_budget(copy, c.budget), c.cut) << c.budget;
    ASSERT_EQ(copy.size(), c.kept) << c.budget;
    EXPECT_EQ(copy.back()["id"], "e" + std::to_string(c.kept));
  }
}

}  // namespace
}  // namespace vesk::browser

namespace vesk::browser {
namespace {

// The walk the page script makes: an element, then its shadow tree (open or closed, never
// the browser's own), then its children; iframe documents and template contents are not
// entered, and each iframe says which frame it holds.
TEST(ElementOrder, WalksShadowTreesBeforeChildrenAndStopsAtFrames) {
  Json root = Json::parse(R"({"nodeType": 9, "nodeName": "#document", "backendNodeId": 1, "children": [
    {"nodeType": 10, "nodeName": "html", "backendNodeId": 2},
    {"nodeType": 1, "nodeName": "HTML", "backendNodeId": 3, "children": [
      {"nodeType": 1, "nodeName": "BODY", "backendNodeId": 4, "children": [
        {"nodeType": 3, "nodeName": "#text", "backendNodeId": 5},
        {"nodeType": 1, "nodeName": "IFRAME", "backendNodeId": 6, "frameId": "F1",
         "contentDocument": {"nodeType": 9, "backendNodeId": 7, "children": [{"nodeType": 1, "nodeName": "HTML", "backendNodeId": 8}]}},
        {"nodeType": 1, "nodeName": "DIV", "backendNodeId": 9,
         "shadowRoots": [{"nodeType": 11, "shadowRootType": "open", "backendNodeId": 10,
                          "children": [{"nodeType": 1, "nodeName": "SPAN", "backendNodeId": 11}]}],
         "children": [{"nodeType": 1, "nodeName": "BUTTON", "backendNodeId": 12}]},
        {"nodeType": 1, "nodeName": "X-BOX", "backendNodeId": 13,
         "shadowRoots": [{"nodeType": 11, "shadowRootType": "closed", "backendNodeId": 14,
                          "children": [{"nodeType": 1, "nodeName": "INPUT", "backendNodeId": 15}]}]},
        {"nodeType": 1, "nodeName": "INPUT", "backendNodeId": 16,
         "shadowRoots": [{"nodeType": 11, "shadowRootType": "user-agent", "backendNodeId": 17,
                          "children": [{"nodeType": 1, "nodeName": "DIV", "backendNodeId": 18}]}]},
        {"nodeType": 1, "nodeName": "TEMPLATE", "backendNodeId": 19,
         "templateContent": {"nodeType": 11, "backendNodeId": 20, "children": [{"nodeType": 1, "nodeName": "P", "backendNodeId": 21}]}}]}]}]})");
  ElementOrder order = element_order(root);
  EXPECT_EQ(order.backend_ids, (std::vector<std::int64_t>{3, 4, 6, 9, 11, 12, 13, 15, 16, 19}));
  EXPECT_EQ(order.tags, (std::vector<std::string>{"HTML", "BODY", "IFRAME", "DIV", "SPAN", "BUTTON", "X-BOX", "INPUT",
                                                  "INPUT", "TEMPLATE"}));
  EXPECT_EQ(order.frame_ids[2], "F1");
  EXPECT_EQ(order.closed_shadow_roots, (std::vector<std::int64_t>{14}));
}

TEST(FrameRefs, SplitIntoFrameAndElement) {
  struct Case {
    const char* text;
    int frame;            // -1: not a ref
    const char* element;
  } cases[] = {
      {"e4", 0, "e4"},    {"f1e4", 1, "e4"},  {"f12e345", 12, "e345"}, {"f0e1", -1, ""}, {"fe1", -1, ""},
      {"f1", -1, ""},     {"f1e", -1, ""},    {"e", -1, ""},           {"#e4", -1, ""}, {"f1x4", -1, ""},
      {"f99999999999e1", -1, ""},            {"button", -1, ""},
  };
  for (const auto& c : cases) {
    auto ref = parse_ref(c.text);
    if (c.frame < 0) {
      EXPECT_FALSE(ref) << c.text;
      continue;
    }
    ASSERT_TRUE(ref) << c.text;
    EXPECT_EQ(ref->frame, c.frame) << c.text;
    EXPECT_EQ(ref->element, c.element) << c.text;
    EXPECT_EQ(ref_text(ref->frame, ref->element), c.text);
  }
}

TEST(FrameRefs, ANewDocumentForgetsRefsButKeepsCounting) {
  SnapshotState state;
  start_document(state, "doc1");
  EXPECT_EQ(assign_ref(state, 10), "e1");
  EXPECT_EQ(assign_ref(state, 11), "e2");
  EXPECT_EQ(assign_ref(state, 10), "e1");
  start_document(state, "doc2");
  EXPECT_FALSE(state.node_of_ref.contains("e1"));
  EXPECT_EQ(assign_ref(state, 10), "e3");  // never the ref an element of doc1 had
}

}  // namespace
}  // namespace vesk::browser
