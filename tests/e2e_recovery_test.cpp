// End to end: when Chromium dies under a running instance, veskbrowser leaves, and the next
// command replaces the instance and succeeds; when the server dies, the browser comes back
// to the next one with its tabs; a script that never ends is stopped and its tab kept.
#include <signal.h>

#include <algorithm>

#include <gmock/gmock.h>

#include "e2e_support.hpp"
#include "support/process_sweep.hpp"

namespace vesk::test {
namespace {

using ::testing::HasSubstr;

class BrowserRecovery : public RealBrowserTest {};

TEST_F(BrowserRecovery, KillingChromiumMakesTheNextCommandRestartTheInstance) {
  ok({"nav", session().http().url("/form.html")});
  const std::string old_instance = session().instance_id();
  const auto old_veskbrowser = session().veskbrowser_pid();
  ASSERT_TRUE(old_veskbrowser.has_value()) << session().env().read_state().dump();
  std::optional<pid_t> chromium;
  ASSERT_TRUE(eventually([&] { return (chromium = session().chromium_pid()).has_value(); }, kBrowserWait))
      << "no Chromium process under veskbrowser " << *old_veskbrowser;

  ASSERT_EQ(::kill(*chromium, SIGKILL), 0);
  EXPECT_TRUE(eventually([&] { return !process_running(*old_veskbrowser); }, kBrowserWait))
      << "veskbrowser stayed after its Chromium died\n" << session().veskbrowser_log_tail();

  RunResult title = session().vesk({"title"});
  ASSERT_EQ(title.status, 0) << describe(title) << session().veskbrowser_log_tail();
  EXPECT_THAT(title.err, HasSubstr("restarting before retry"));
  EXPECT_NE(session().instance_id(), old_instance) << "the instance was not replaced";

  // The new instance serves the next commands as usual.
  Json opened = ok({"nav", fixture_file_url("form.html")});
  EXPECT_EQ(opened.is_object() ? opened.value("title", "") : "", "Vesk fixture form") << opened;
  EXPECT_FALSE(process_running(*chromium));
}

TEST_F(BrowserRecovery, KillingTheServerKeepsTheBrowserAndItsTabs) {
  open("form.html");
  const std::string instance = session().instance_id();
  const auto veskbrowser = session().veskbrowser_pid();
  ASSERT_TRUE(veskbrowser.has_value());
  const Json server = session().env().read_state()["server"];
  ASSERT_TRUE(server.is_object());
  ASSERT_EQ(::kill(server["pid"].get<pid_t>(), SIGKILL), 0);
  ASSERT_TRUE(eventually([&] { return !process_running(server["pid"].get<pid_t>()); }, kBrowserWait));

  // The next command starts a new server; the browser finds it and comes back as itself.
  RunResult title = session().vesk({"title"});
  ASSERT_EQ(title.status, 0) << describe(title) << session().veskbrowser_log_tail();
  EXPECT_EQ(Json::parse(title.out).value("title", ""), "Vesk fixture form") << title.out;
  EXPECT_THAT(title.err, ::testing::Not(HasSubstr("restarting before retry")));
  EXPECT_NE(session().env().read_state()["server"]["port"], server["port"]) << "a new server was expected";
  EXPECT_EQ(session().instance_id(), instance);
  EXPECT_EQ(session().veskbrowser_pid(), veskbrowser);
}

TEST_F(BrowserRecovery, AnEndlessScriptIsStoppedAndTheTabKeepsServing) {
  // The busy page comes from the fixture server and the other from a file: two sites, so
  // Chromium runs them in two renderer processes.
  ok({"nav", session().http().url("/form.html")});
  const std::string busy_tab = at(ok({"tab", "list"}), "current").get<std::string>();
  const std::string other_tab = at(ok({"tab", "new", fixture_file_url("widgets.html")}), "tab").get<std::string>();
  const std::string instance = session().instance_id();
  const auto veskbrowser = session().veskbrowser_pid();

  // The page enters a loop that never ends once its request is answered, a moment after
  // the eval that started it has answered (eval's own follow-up calls done).
  ok({"eval", "--tab", busy_tab,
      "setTimeout(() => fetch('/loop-starts').finally(() => { while (true) {} }), 200); 1"});
  ASSERT_TRUE(eventually([&] {
    auto paths = session().http().requested_paths();
    return std::find(paths.begin(), paths.end(), "/loop-starts") != paths.end();
  }, kBrowserWait)) << "the page never asked for /loop-starts";
  // The other tab serves meanwhile.
  EXPECT_EQ(at(ok({"eval", "--tab", other_tab, "document.title"}), "value"), "Vesk widgets");

  // A call on the busy tab times out, stops the script and says so.
  RunResult busy = session().vesk({"eval", "--tab", busy_tab, "1 + 1"});
  ASSERT_EQ(busy.status, 1) << describe(busy);
  EXPECT_THAT(busy.err, HasSubstr("timeout:"));
  EXPECT_THAT(busy.err, HasSubstr("has been stopped"));

  // The same tab answers at once, on the same instance: nothing was restarted, and a
  // script that is itself endless is stopped the same way.
  EXPECT_EQ(at(ok({"title", "--tab", busy_tab}), "title"), "Vesk fixture form");
  EXPECT_EQ(at(ok({"eval", "--tab", busy_tab, "1 + 1"}), "value"), 2);
  RunResult endless = session().vesk({"eval", "--tab", busy_tab, "while (true) {}"});
  EXPECT_THAT(endless.err, HasSubstr("has been stopped")) << describe(endless);
  ok({"tab", "focus", busy_tab});
  ok({"reload"});
  EXPECT_EQ(at(ok({"eval", "--tab", other_tab, "document.title"}), "value"), "Vesk widgets");
  EXPECT_EQ(session().instance_id(), instance);
  EXPECT_EQ(session().veskbrowser_pid(), veskbrowser);
  ok({"tab", "close", other_tab});
}

}  // namespace
}  // namespace vesk::test
