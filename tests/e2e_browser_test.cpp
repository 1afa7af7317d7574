// End to end: real Chromium driven through `vesk` and `veskbrowser`, on pages served from
// files and from a loopback HTTP server. One instance serves every test of the suite; each
// test opens its own page first. Every method family is run on its main path and its main
// error.
#include <gmock/gmock.h>

#include <algorithm>
#include <fstream>
#include <map>

#include "e2e_support.hpp"
#include "support/process_sweep.hpp"

namespace vesk::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class EndToEnd : public RealBrowserTest {};

TEST_F(EndToEnd, NavigatesFilesAndHttpPagesThroughHistory) {
  const std::string file_url = fixture_file_url("form.html");
  const std::string http_url = session().http().url("/form.html");

  Json from_file = ok({"nav", file_url});
  EXPECT_EQ(at(from_file, "title"), "Vesk fixture form") << from_file;
  EXPECT_EQ(at(ok({"url"}), "url"), file_url);

  Json from_http = ok({"nav", http_url});
  EXPECT_EQ(at(from_http, "url"), http_url) << from_http;
  EXPECT_EQ(at(ok({"title"}), "title"), "Vesk fixture form");
  EXPECT_THAT(session().http().requested_paths(), ::testing::Contains("/form.html"));

  ok({"back"});
  EXPECT_EQ(at(ok({"url"}), "url"), file_url);
  ok({"forward"});
  EXPECT_EQ(at(ok({"url"}), "url"), http_url);

  // A reload gives a fresh document: state set by script is gone.
  eval("window.markedBeforeReload = 1");
  ok({"reload"});
  EXPECT_EQ(eval("typeof window.markedBeforeReload"), "undefined");

  // A fragment navigation fires no load event; it must still answer.
  ok({"nav", http_url + "#section2"});
  EXPECT_THAT(at(ok({"url"}), "url").dump(), HasSubstr("#section2"));

  // A navigation that turns into a download fires no load event either; it must not hang,
  // and the browser must keep answering.
  RunResult download_nav = session().vesk({"nav", session().http().url("/download/demo.html")});
  EXPECT_NE(download_nav.status, -1) << "navigating to a download hung";
  EXPECT_TRUE(ok({"title"}).is_object()) << "the browser no longer answers after a download navigation";
}

TEST_F(EndToEnd, NavigationOptions) {
  Json with_text = ok({"nav", "--text", fixture_file_url("form.html")});
  EXPECT_THAT(at(with_text, "text").dump(), HasSubstr("Sign up")) << with_text;

  // Blocked images are never requested from the server; unblocked they are.
  auto image_requests = [] {
    auto paths = session().http().requested_paths();
    return std::count(paths.begin(), paths.end(), "/pixel.png");
  };
  ok({"nav", "--block-images", session().http().url("/images.html")});
  EXPECT_EQ(image_requests(), 0);
  ok({"nav", session().http().url("/images.html")});
  EXPECT_TRUE(eventually([&] { return image_requests() > 0; }, kBrowserWait)) << "the image was never requested";

  // A navigation in a new tab leaves the first one where it was.
  const std::string first = at(ok({"tab", "list"}), "current").get<std::string>();
  Json opened = ok({"nav", "--new-tab", fixture_file_url("widgets.html")});
  const std::string second = at(opened, "tab").get<std::string>();
  EXPECT_NE(second, first);
  EXPECT_EQ(at(ok({"title", "--tab", first}), "title"), "Vesk images");
  ok({"tab", "close", second});

  // A click that follows a link waits for the new page with --wait-nav.
  open("widgets.html");
  ok({"click", "--wait-nav", "#to-form"});
  EXPECT_EQ(at(ok({"title"}), "title"), "Vesk fixture form");
}

TEST_F(EndToEnd, NavigationFailuresNameTheReason) {
  struct Case {
    std::string what;
    std::string url;
  };
  const std::vector<Case> cases = {
      {"a missing file", fixture_file_url("no-such-page.html")},
      {"a closed port", "http://127.0.0.1:1/"},
      {"an unknown host", "http://no-such-host.invalid/"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RunResult result = session().vesk({"nav", c.url});
    EXPECT_NE(result.status, 0) << describe(result);
    EXPECT_FALSE(lines_with(result.err, "navigationFailed: ").empty()) << describe(result);
    EXPECT_FALSE(lines_with(result.err, "net::ERR_").empty()) << "Chromium's reason is missing: " << describe(result);
  }
}

TEST_F(EndToEnd, SnapshotRefsStayStableAndGoStaleWhenTheElementGoes) {
  open("form.html");
  const std::string first = ok_text({"snap", "-i"});
  EXPECT_THAT(first, HasSubstr("# Vesk fixture form | "));
  const std::string name_ref = ref_of(first, "textbox", "Name");
  const std::string email_ref = ref_of(first, "textbox", "Email");
  const std::string save_ref = ref_of(first, "button", "Save");
  EXPECT_THAT(first, HasSubstr(":checkbox \"I accept the terms\""));
  EXPECT_THAT(first, HasSubstr(":combobox [selected=\"Free\"] \"Plan\""));
  EXPECT_THAT(first, Not(HasSubstr(":heading"))) << "-i lists only what can be acted on";

  // The same elements keep their refs in the next snapshot of the same document.
  const std::string second = ok_text({"snap", "-i"});
  EXPECT_EQ(ref_of(second, "textbox", "Name"), name_ref);
  EXPECT_EQ(ref_of(second, "button", "Save"), save_ref);

  // Refs work wherever a selector does.
  ok({"fill", name_ref, "Grace"});
  ok({"click", save_ref});
  EXPECT_EQ(at(ok({"text", "#result"}), "text"), "Hello, Grace!");

  // The email field is removed: its ref is stale, never a silent no-op.
  ok({"click", "#remove-button"});
  fails_with({"fill", email_ref, "x@example.com"}, "staleRef");
  fails_with({"click", email_ref}, "staleRef");
  fails_with({"value", email_ref}, "staleRef");
}

// Page text that breaks JSON: a lone surrogate (which Chromium writes as its escape) is
// read as U+FFFD wherever it shows, in a script's value, in the document the snapshot reads
// and in a name it lists; and a page that replaced JSON.stringify, which the snapshot's page
// script answers with, still gets its snapshot with the same refs.
TEST_F(EndToEnd, PagesWhoseTextBreaksJsonAreStillRead) {
  open("form.html");
  const std::string save = ref_of(ok_text({"snap", "-i"}), "button", "Save");
  EXPECT_EQ(at(ok({"eval", "'a\\uD800b'"}), "value"), Json("a\xEF\xBF\xBD" "b"));
  ok({"eval", "document.getElementById('save').setAttribute('aria-label', 'Keep \\uD800')"});
  EXPECT_EQ(ref_of(ok_text({"snap", "-i"}), "button", "Keep \xEF\xBF\xBD"), save);
  ok({"eval", "document.getElementById('save').removeAttribute('aria-label'); JSON.stringify = () => '[]'"});
  const std::string listing = ok_text({"snap", "-i"});
  EXPECT_EQ(ref_of(listing, "button", "Save"), save);
  EXPECT_THAT(listing, HasSubstr(":textbox \"Name\""));
}

TEST_F(EndToEnd, SnapshotOptionsScopeCutAndDiff) {
  open("form.html");
  // The full tree holds the non-interactive heading; the JSON form carries title and url.
  Json full = ok({"snap", "--full"});
  EXPECT_EQ(at(at(full, "snapshot"), "title"), "Vesk fixture form") << full;
  EXPECT_THAT(full.dump(), HasSubstr("Sign up"));

  // Scoped to the form: the buttons outside it are left out.
  const std::string scoped = ok_text({"snap", "-i", "#signup"});
  EXPECT_THAT(scoped, HasSubstr(":button \"Save\""));
  EXPECT_THAT(scoped, Not(HasSubstr("Warn me")));

  Json compact = ok({"snap", "-c"});
  EXPECT_THAT(compact.dump(), HasSubstr("Save")) << compact;

  // A token budget cuts the list and says so.
  Json cut = ok({"snap", "--max-tokens", "5"});
  EXPECT_EQ(at(at(cut, "snapshot"), "truncated"), true) << cut;

  // A diff after a change names what changed.
  ok({"snap"});
  ok({"click", "#remove-button"});
  Json diff = ok({"snap", "-d"});
  EXPECT_FALSE(at(at(diff, "diff"), "removed").empty()) << diff;
}

TEST_F(EndToEnd, ElementActionsChangeThePage) {
  open("form.html");
  ok({"fill", "#name", "Ada"});
  EXPECT_EQ(at(ok({"value", "#name"}), "value"), "Ada");
  ok({"type", "#name", " Lovelace"});
  EXPECT_EQ(eval("document.getElementById('name').value"), "Ada Lovelace");
  ok({"select", "#plan", "pro"});
  EXPECT_EQ(eval("document.getElementById('plan').value"), "pro");

  ok({"check", "#terms"});
  EXPECT_EQ(at(ok({"checked", "#terms"}), "checked"), true);
  ok({"uncheck", "#terms"});
  EXPECT_EQ(at(ok({"checked", "#terms"}), "checked"), false);

  ok({"hover", "#hover-target"});
  EXPECT_EQ(at(ok({"text", "#hover-target"}), "text"), "hovered");
  ok({"focus", "#email"});
  EXPECT_EQ(eval("document.activeElement.id"), "email");
  ok({"scrollintoview", "#section2"});
  EXPECT_GT(eval("scrollY").get<double>(), 0);

  ok({"click", "#save"});
  EXPECT_EQ(eval("document.getElementById('result').textContent"), "Hello, Ada Lovelace!");
}

TEST_F(EndToEnd, ElementQueriesAnswerAndMissingElementsAreReported) {
  open("widgets.html");
  EXPECT_EQ(at(ok({"count", "button"}), "count"), 4);
  EXPECT_EQ(at(ok({"attr", "#styled", "href"}), "value"), "#");
  Json box = at(ok({"box", "#zone"}), "box");
  EXPECT_NEAR(at(box, "width").get<double>(), 122, 1) << box;
  EXPECT_EQ(at(ok({"visible", "#zone"}), "visible"), true);
  EXPECT_EQ(at(ok({"visible", "#hidden"}), "visible"), false);
  EXPECT_EQ(at(ok({"enabled", "#dbl"}), "enabled"), true);
  EXPECT_EQ(at(ok({"enabled", "#disabled-button"}), "enabled"), false);
  ok({"dblclick", "#dbl"});
  EXPECT_EQ(at(ok({"text", "#log"}), "text"), "double clicked");

  for (const std::vector<std::string>& command :
       std::vector<std::vector<std::string>>{{"click", "#missing"},
                                             {"fill", "#missing", "x"},
                                             {"value", "#missing"},
                                             {"hover", "#missing"},
                                             {"check", "#missing"}}) {
    SCOPED_TRACE(joined(command));
    fails_with(command, "elementNotFound");
  }
}

TEST_F(EndToEnd, DialogsDuringAClickNeverHang) {
  open("form.html");
  // Unanswered: the click returns and reports the dialog; `vesk dialog` answers it.
  Json alerted = ok({"click", "#alert-button"});
  EXPECT_EQ(at(at(alerted, "dialog"), "message"), "Careful!") << alerted;
  EXPECT_EQ(at(ok({"dialog"}), "open"), true);
  ok({"dialog", "accept"});
  EXPECT_EQ(at(ok({"text", "#result"}), "text"), "after alert");

  // Answered by the click itself.
  ok({"click", "--dialog-action", "dismiss", "#confirm-button"});
  EXPECT_EQ(at(ok({"text", "#result"}), "text"), "cancelled");
  ok({"click", "--dialog-action", "accept", "#confirm-button"});
  EXPECT_EQ(at(ok({"text", "#result"}), "text"), "confirmed");
  ok({"click", "--dialog-action", "accept", "--dialog-text", "Zed", "#prompt-button"});
  EXPECT_EQ(at(ok({"text", "#result"}), "text"), "prompted Zed");

  fails_with({"dialog", "accept"}, "noDialog");
}

TEST_F(EndToEnd, MouseAndKeyboardInput) {
  open("widgets.html");
  Json zone = at(ok({"box", "#zone"}), "box");
  Json handle = at(ok({"box", "#handle"}), "box");
  auto centre = [](const Json& box, const char* axis, const char* extent) {
    return std::to_string(at(box, axis).get<double>() + at(box, extent).get<double>() / 2);
  };

  ok({"drag", "#handle", "#zone"});
  EXPECT_EQ(at(ok({"text", "#log"}), "text"), "dragged handle to zone");
  eval("say('idle')");
  ok({"drag", centre(zone, "x", "width"), centre(zone, "y", "height"), centre(handle, "x", "width"),
      centre(handle, "y", "height")});
  EXPECT_EQ(at(ok({"text", "#log"}), "text"), "dragged zone to handle");

  // A click by coordinates lands on what is there.
  Json dbl = at(ok({"box", "#dbl"}), "box");
  eval("document.getElementById('dbl').onclick = () => say('clicked by position')");
  ok({"click", centre(dbl, "x", "width"), centre(dbl, "y", "height")});
  EXPECT_EQ(at(ok({"text", "#log"}), "text"), "clicked by position");
  eval("say('idle')");
  ok({"click", "--x=" + centre(dbl, "x", "width"), "--y=" + centre(dbl, "y", "height")});
  EXPECT_EQ(at(ok({"text", "#log"}), "text"), "clicked by position");
  ok({"mouse", "click", centre(handle, "x", "width"), centre(handle, "y", "height")});
  ok({"mouse", "move", "5", "5"});
  ok({"mouse", "wheel", "0", "600"});
  EXPECT_TRUE(eventually([&] { return eval("scrollY").get<double>() > 0; }, kBrowserWait))
      << "the wheel did not scroll";

  ok({"focus", "#keys"});
  ok({"keyboard", "type", "hi"});
  ok({"press", "Enter"});
  ok({"keydown", "Shift"});
  ok({"keyup", "Shift"});
  EXPECT_EQ(eval("document.getElementById('keys').value"), "hi");
  EXPECT_EQ(at(ok({"text", "#keylog"}), "text"), "[h][i][Enter][Shift]");

  fails_with({"mouse", "fly"}, "invalidArgument");
}

TEST_F(EndToEnd, PageScriptsTextWaitsAndFinds) {
  open("widgets.html");
  EXPECT_EQ(eval("6 * 7"), 42);
  EXPECT_EQ(eval("({a: [1, 'two']})"), Json::parse(R"({"a": [1, "two"]})"));
  RunResult thrown = session().vesk({"eval", "throw new Error('kaboom')"});
  EXPECT_NE(thrown.status, 0);
  EXPECT_FALSE(lines_with(thrown.err, "evaluationFailed: ").empty()) << describe(thrown);
  EXPECT_THAT(thrown.err, HasSubstr("kaboom"));

  EXPECT_THAT(at(ok({"text"}), "text").dump(), HasSubstr("Widgets"));
  EXPECT_THAT(at(ok({"html"}), "html").dump(), HasSubstr("id=\\\"zone\\\""));
  EXPECT_THAT(at(ok({"styles", "#styled", "color"}), "styles").dump(), HasSubstr("rgb(255, 0, 0)"));
  Json found = ok({"find", "Red link"});
  EXPECT_GE(at(found, "count").get<int>(), 1) << found;

  ok({"scroll", "bottom"});
  EXPECT_GT(eval("scrollY").get<double>(), 1000);
  ok({"scroll", "top"});
  EXPECT_EQ(eval("scrollY"), 0);

  // Waits for what appears later, and gives up with "timeout" on what never does.
  ok({"click", "#later"});
  ok({"wait", "#late"});
  ok({"wait", "text=Arrived late"});
  ok({"wait", "load"});
  fails_with({"wait", "--timeout", "300", "#never"}, "timeout");
}

TEST_F(EndToEnd, ScreenshotsAndPdfsAreWritten) {
  open("form.html");
  const auto dir = session().env().root() / "outputs";
  std::filesystem::create_directories(dir);
  struct Case {
    std::vector<std::string> args;
    std::string file;
    std::string magic;
  };
  const std::vector<Case> cases = {
      {{"ss", "-o", (dir / "view.png").string()}, "view.png", "\x89PNG"},
      {{"ss", "--full", "-o", (dir / "full.png").string()}, "full.png", "\x89PNG"},
      {{"pdf", "-o", (dir / "page.pdf").string()}, "page.pdf", "%PDF-"},
      {{"pdf", "--landscape", "-o", (dir / "wide.pdf").string()}, "wide.pdf", "%PDF-"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(joined(c.args));
    Json saved = ok(c.args);
    const std::string content = read_file(dir / c.file);
    EXPECT_TRUE(content.starts_with(c.magic)) << "not a " << c.magic << " file: " << content.substr(0, 16);
    EXPECT_EQ(at(saved, "bytes"), content.size()) << saved;
    EXPECT_EQ(at(saved, "path"), (dir / c.file).string()) << saved;
  }
  // The full page is taller than the viewport (the form page has a 2000 px spacer).
  EXPECT_GT(std::filesystem::file_size(dir / "full.png"), std::filesystem::file_size(dir / "view.png"));

  // Without an output path the file lands in a default folder and the result names it.
  Json defaulted = ok({"ss"});
  ASSERT_TRUE(at(defaulted, "path").is_string()) << defaulted;
  EXPECT_TRUE(std::filesystem::exists(at(defaulted, "path").get<std::string>())) << defaulted;

  fails_with({"pdf", "-o", "/proc/no-such-dir/page.pdf"}, "fileError");
}

TEST_F(EndToEnd, UploadsReachTheFileInput) {
  const auto dir = session().env().root() / "to-upload";
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "a.txt") << "hello";
  std::ofstream(dir / "b.txt") << "abc";

  open("form.html");
  ok({"upload", "#upload", (dir / "a.txt").string(), (dir / "b.txt").string()});
  EXPECT_EQ(at(ok({"text", "#result"}), "text"), "a.txt:5,b.txt:3");

  // A button that opens a file chooser takes the files too.
  open("widgets.html");
  ok({"upload", "#choose", (dir / "b.txt").string()});
  EXPECT_EQ(at(ok({"text", "#log"}), "text"), "chosen b.txt:3");

  fails_with({"upload", "#missing", (dir / "a.txt").string()}, "elementNotFound");
}

TEST_F(EndToEnd, DownloadsWaitForTheCompleteFile) {
  open("form.html");
  const auto dir = session().env().root() / "downloads";
  std::filesystem::create_directories(dir);
  const std::size_t size = 300000;
  const std::string url = session().http().url("/bytes/" + std::to_string(size));

  Json into_dir = ok({"download", url, "--dir", dir.string(), "--wait"});
  ASSERT_TRUE(at(into_dir, "path").is_string()) << into_dir;
  EXPECT_EQ(at(into_dir, "bytes"), size) << into_dir;
  EXPECT_EQ(read_file(at(into_dir, "path").get<std::string>()), FixtureHttpServer::generated_bytes(size));

  const auto named = dir / "named.bin";
  Json into_file = ok({"download", url, "-o", named.string(), "--wait"});
  EXPECT_EQ(at(into_file, "path"), named.string()) << into_file;
  EXPECT_EQ(read_file(named), FixtureHttpServer::generated_bytes(size));

  // An existing file is kept unless --overwrite says otherwise.
  fails_with({"download", url, "-o", named.string(), "--wait"}, "invalidArgument");
  ok({"download", session().http().url("/download/demo.html"), "-o", named.string(), "--overwrite", "--wait"});
  EXPECT_EQ(read_file(named), read_file(fixtures_dir() / "demo.html"));
}

TEST_F(EndToEnd, TabsOpenFocusAndClose) {
  open("form.html");
  const std::string first = at(ok({"tab", "list"}), "current").get<std::string>();
  Json opened = ok({"tab", "new", fixture_file_url("widgets.html")});
  const std::string second = at(opened, "tab").get<std::string>();
  EXPECT_NE(second, first);
  EXPECT_EQ(at(ok({"title"}), "title"), "Vesk widgets");
  EXPECT_EQ(at(ok({"title", "--tab", first}), "title"), "Vesk fixture form");
  EXPECT_EQ(at(ok({"tab", "list"}), "tabs").size(), 2u);

  ok({"tab", first});
  EXPECT_EQ(at(ok({"title"}), "title"), "Vesk fixture form");
  ok({"tab", "close", second});
  Json remaining = ok({"tab", "list"});
  EXPECT_EQ(at(remaining, "tabs").size(), 1u) << remaining;
  EXPECT_EQ(at(remaining, "current"), first);

  fails_with({"title", "--tab", second}, "tabNotFound");
}

TEST_F(EndToEnd, ConsoleAndErrorsListWhatThePageLogged) {
  ok({"nav", session().http().url("/console.html")});
  ok({"wait", "--text", "settled"});
  // Logged during the load, before the first `vesk console`.
  Json all = ok({"console"});
  std::map<std::string, std::string> level_of;
  for (const auto& message : at(all, "messages")) level_of[message.value("text", "")] = message.value("level", "");
  EXPECT_EQ(level_of["hello world"], "info") << all;
  EXPECT_EQ(level_of["count 3 {a: 1, b: 'x'}"], "info") << all;
  EXPECT_EQ(level_of["Careful with that"], "warning") << all;
  EXPECT_EQ(level_of["broken [1, 2]"], "error") << all;
  EXPECT_EQ(level_of["details for later"], "debug") << all;
  for (const auto& message : at(all, "messages")) {
    EXPECT_THAT(message.value("url", ""), HasSubstr("/console.html")) << message;
    EXPECT_GT(message.value("line", 0), 0) << message;
  }

  Json warnings_up = ok({"console", "--level", "warning"});
  EXPECT_EQ(at(warnings_up, "count"), 2) << warnings_up;
  EXPECT_EQ(at(ok({"console", "--grep", "CAREFUL"}), "count"), 1);
  Json last = ok({"console", "--last", "1"});
  ASSERT_EQ(at(last, "count"), 1) << last;
  EXPECT_EQ(at(last, "messages")[0].value("text", ""), "details for later");
  fails_with({"console", "--level", "loud"}, "invalidArgument");
  fails_with({"console", "--last", "0"}, "invalidArgument");

  // The uncaught error and the rejected promise, with their stacks.
  Json errors = ok({"errors"});
  std::map<std::string, Json> by_message;
  for (const auto& error : at(errors, "errors")) by_message[error.value("message", "")] = error;
  ASSERT_TRUE(by_message.contains("Error: boom")) << errors;
  EXPECT_EQ(by_message["Error: boom"]["stack"][0].value("function", ""), "explode") << errors;
  EXPECT_THAT(by_message["Error: boom"]["stack"][0].value("url", ""), HasSubstr("/console.html"));
  ASSERT_TRUE(by_message.contains("Uncaught (in promise) Error: rejected")) << errors;
  fails_with({"errors", "--everything"}, "invalidArgument");

  ok({"console", "--clear"});
  ok({"errors", "--clear"});
  EXPECT_EQ(at(ok({"console"}), "count"), 0);
  EXPECT_EQ(at(ok({"errors"}), "count"), 0);
}

TEST_F(EndToEnd, CacheAndClipboard) {
  ok({"nav", session().http().url("/form.html")});
  EXPECT_EQ(at(ok({"cache", "clear"}), "cleared"), true);
  EXPECT_EQ(at(ok({"cache", "disable"}), "cacheDisabled"), true);
  EXPECT_EQ(at(ok({"cache", "enable"}), "cacheDisabled"), false);
  fails_with({"cache"}, "invalidArgument");
  fails_with({"cache", "flush"}, "invalidArgument");

  // Written through the page's clipboard and read back, with no permission prompt.
  EXPECT_EQ(at(ok({"clipboard", "write", "copied", "text"}), "text"), "copied text");
  EXPECT_EQ(at(ok({"clipboard", "read"}), "text"), "copied text");
  // Pasted where the focus is, as Ctrl+V would.
  ok({"click", "#name"});
  Json pasted = ok({"clipboard", "paste", "Ada"});
  EXPECT_EQ(at(pasted, "focused"), "input") << pasted;
  EXPECT_EQ(at(ok({"eval", "document.getElementById('name').value"}), "value"), "Ada");
  EXPECT_EQ(at(ok({"clipboard", "read"}), "text"), "Ada");
  fails_with({"clipboard", "write"}, "invalidArgument");
  fails_with({"clipboard", "copy", "x"}, "invalidArgument");
}

}  // namespace
}  // namespace vesk::test
