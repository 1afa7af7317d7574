// "dialog": accept or dismiss the JavaScript dialog open in a tab.
//   vesk dialog accept [prompt text...]   |   vesk dialog dismiss   |   vesk dialog (status)
#include "browser/methods/actions.hpp"
#include "browser/core/method_table.hpp"

namespace vesk::browser {

namespace {

MethodResult dialog(Browser& browser, Tab& tab, const Json& params) {
  auto words = words_of(params);
  if (words.empty() || words[0] == "status") {
    auto open = browser.open_dialog(tab);
    if (!open) return Json{{"open", false}, {"tab", tab.id}};
    return Json{{"open", true},
                {"tab", tab.id},
                {"type", open->value("type", "")},
                {"message", open->value("message", "")},
                {"defaultPrompt", open->value("defaultPrompt", "")}};
  }
  const std::string action = words[0];
  if (action != "accept" && action != "dismiss") {
    return invalid_argument("dialog needs `accept [text]` or `dismiss`, not \"" + action + "\"");
  }
  std::optional<std::string> text;
  if (words.size() > 1) text = joined_words(params, 1);
  else if (auto given = option_string(params, "dialogText")) text = given;
  return handle_dialog(browser, tab, action == "accept", text);
}

}  // namespace

void add_dialog_methods(MethodTable& table) { table["dialog"] = tab_method(dialog, WhenDialogOpen::Serve); }

}  // namespace vesk::browser
