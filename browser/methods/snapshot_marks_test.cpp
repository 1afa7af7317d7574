// The role text of the interactive listing: states and change marks, on a table of nodes.
#include "browser/methods/snapshot_marks.hpp"

#include <gtest/gtest.h>

namespace vesk::browser {
namespace {

TEST(SnapshotMarks, RoleTextCarriesTheStateAnAgentSet) {
  struct Case {
    Json node;
    NodeChange change;
    std::string text;
  };
  const std::vector<Case> cases = {
      {{{"role", "button"}, {"name", "Save"}}, NodeChange::None, "button"},
      {{{"role", "checkbox"}, {"checked", true}}, NodeChange::None, "checkbox [checked]"},
      {{{"role", "checkbox"}, {"checked", false}}, NodeChange::None, "checkbox"},
      {{{"role", "checkbox"}, {"checked", "mixed"}}, NodeChange::None, "checkbox [checked=mixed]"},
      {{{"role", "textbox"}, {"value", "Ada"}}, NodeChange::Changed, "~textbox [value=\"Ada\"]"},
      {{{"role", "combobox"}, {"value", "France"}, {"expanded", false}}, NodeChange::None,
       "combobox [selected=\"France\"]"},
      {{{"role", "button"}, {"disabled", true}, {"expanded", true}}, NodeChange::Added, "+button [expanded] [disabled]"},
      {{{"role", "textbox"}, {"value", "say \"hi\""}}, NodeChange::None, "textbox [value=\"say \\\"hi\\\"\"]"},
      {{{"role", "textbox"}, {"value", std::string(50, 'a')}}, NodeChange::None,
       "textbox [value=\"" + std::string(40, 'a') + "...\"]"},
      // Cut on a character, never inside one.
      {{{"role", "textbox"}, {"value", std::string(39, 'a') + "\xc3\xa9\xc3\xa9"}}, NodeChange::None,
       "textbox [value=\"" + std::string(39, 'a') + "\xc3\xa9...\"]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.node.dump());
    EXPECT_EQ(interactive_role_text(c.node, c.change), c.text);
  }
}

TEST(SnapshotMarks, MarksFollowTheDiffAndOnlyInteractiveRolesChange) {
  const Json nodes = Json::parse(R"([{"id": "e1", "role": "button", "name": "A"},
                                     {"id": "e2", "role": "checkbox", "name": "B", "checked": true},
                                     {"id": "e3", "role": "link", "name": "C"}])");
  const Json diff = Json::parse(R"({"added": [{"id": "e3"}], "changed": [{"id": "e2"}], "removed": ["e9"]})");

  Json interactive = nodes;
  mark_nodes(interactive, diff, true);
  EXPECT_EQ(interactive[0]["role"], "button");
  EXPECT_FALSE(interactive[0].contains("change"));
  EXPECT_EQ(interactive[1]["role"], "~checkbox [checked]");
  EXPECT_EQ(interactive[1]["change"], "changed");
  EXPECT_EQ(interactive[2]["role"], "+link");

  Json full = nodes;
  mark_nodes(full, diff, false);
  EXPECT_EQ(full[1]["role"], "checkbox");
  EXPECT_EQ(full[1]["change"], "changed");

  // Without a previous snapshot nothing is marked, so an unchanged page gives equal payloads.
  Json first = nodes;
  mark_nodes(first, Json(), true);
  EXPECT_EQ(first[1]["role"], "checkbox [checked]");
  EXPECT_FALSE(first[1].contains("change"));
}

}  // namespace
}  // namespace vesk::browser
