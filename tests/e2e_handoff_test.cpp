// End to end: handing a headless tab to a person and taking it back. The person is played by
// a second headless Chromium that the test starts itself and drives over its own DevTools
// pipe: it opens the live view, clicks and types into the picture of the tab, and presses
// "Done", while vesk watches through reading commands and is refused acting ones.
#include <gmock/gmock.h>

#include <filesystem>
#include <memory>

#include "browser/chromium/chromium_process.hpp"
#include "browser/chromium/devtools_client.hpp"
#include "e2e_support.hpp"
#include "platform/socket.hpp"
#include "support/process_sweep.hpp"

namespace vesk::test {
namespace {

using ::testing::HasSubstr;
using browser::CallOptions;
using browser::deadline_in;

// The person's browser: one page, driven through DevTools.
class Viewer {
 public:
  bool start(const std::filesystem::path& dir, const std::string& url, std::string& why) {
    auto binary = installed_chromium();
    auto process = browser::ChromiumProcess::start({*binary, dir / "viewer-profile", true, dir / "viewer.log", {}});
    if (!process) return (why = process.error().text(), false);
    process_ = std::make_unique<browser::ChromiumProcess>(std::move(*process));
    client_ = std::make_unique<browser::DevToolsClient>(process_->take_command_pipe(), process_->take_reply_pipe());
    auto target = client_->call("Target.createTarget", Json{{"url", url}}, CallOptions{"", deadline_in(std::chrono::seconds(30))});
    if (!target) return (why = target.error().message, false);
    auto attached = client_->call("Target.attachToTarget", Json{{"targetId", (*target)["targetId"]}, {"flatten", true}},
                                  CallOptions{"", deadline_in(std::chrono::seconds(30))});
    if (!attached) return (why = attached.error().message, false);
    session_ = (*attached)["sessionId"].get<std::string>();
    return true;
  }
  ~Viewer() {
    client_.reset();
    if (process_) process_->kill();
  }

  Json eval(const std::string& script) {
    auto reply = call("Runtime.evaluate", Json{{"expression", script}, {"returnByValue", true}});
    return reply ? (*reply)["result"].value("value", Json()) : Json();
  }
  browser::CdpResult call(const std::string& method, Json params) {
    return client_->call(method, std::move(params), CallOptions{session_, deadline_in(std::chrono::seconds(10))});
  }
  // A click on the live view's picture of the tab, at a point of the tab (CSS pixels).
  void click_tab_at(double x, double y) {
    const Json point = eval("(() => { const r = screen.getBoundingClientRect();"
                            " const w = viewport.width || screen.naturalWidth, h = viewport.height || screen.naturalHeight;"
                            " return {x: r.left + " + std::to_string(x) + " * r.width / w, y: r.top + " +
                            std::to_string(y) + " * r.height / h}; })()");
    for (const char* type : {"mousePressed", "mouseReleased"}) {
      call("Input.dispatchMouseEvent", Json{{"type", type}, {"x", point["x"]}, {"y", point["y"]}, {"button", "left"},
                                            {"buttons", 1}, {"clickCount", 1}});
    }
  }
  void type(const std::string& text) {
    for (char c : text) {
      const std::string key(1, c);
      call("Input.dispatchKeyEvent", Json{{"type", "keyDown"}, {"key", key}, {"text", key}});
      call("Input.dispatchKeyEvent", Json{{"type", "keyUp"}, {"key", key}});
    }
  }

 private:
  std::unique_ptr<browser::ChromiumProcess> process_;
  std::unique_ptr<browser::DevToolsClient> client_;
  std::string session_;
};

// The status line of a GET to the live view's port at `path`.
std::string http_status(std::uint16_t port, const std::string& path) {
  auto address = parse_socket_address("127.0.0.1:" + std::to_string(port));
  auto socket = connect_tcp(*address, std::chrono::seconds(5));
  if (!socket) return "connect failed";
  (void)set_socket_timeouts(socket->get(), std::chrono::seconds(10), std::chrono::seconds(10));
  (void)write_all(socket->get(), "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  char buffer[256] = {};
  const auto got = receive_some(socket->get(), buffer, sizeof buffer - 1);
  std::string text(buffer, got ? *got : 0);
  return text.substr(0, text.find("\r\n"));
}

class Handoff : public RealBrowserTest {};

TEST_F(Handoff, APersonActsThroughTheLiveViewWhileTheAgentWatches) {
  open("demo.html");
  const Json box = ok({"box", "#who"})["box"];
  const Json button = ok({"box", "#greet"})["box"];

  const Json handed = ok({"handoff", "--message", "Type a name and greet"});
  ASSERT_EQ(handed["state"], "handedOff") << handed;
  const std::string url = handed["url"].get<std::string>();
  ASSERT_THAT(url, ::testing::StartsWith("http://127.0.0.1:"));
  EXPECT_EQ(handed["message"], "Type a name and greet");

  // Nobody without the token gets in.
  const auto port = static_cast<std::uint16_t>(std::stoi(url.substr(17, url.find('/', 17) - 17)));
  const std::string token = url.substr(url.find('/', 17) + 1, 64);
  EXPECT_THAT(http_status(port, "/" + std::string(64, '0') + "/"), HasSubstr("404"));
  EXPECT_THAT(http_status(port, "/"), HasSubstr("404"));
  EXPECT_THAT(http_status(port, "/" + token + "/status"), HasSubstr("200"));

  Viewer viewer;
  std::string why;
  ASSERT_TRUE(viewer.start(session().env().root(), url, why)) << why;
  ASSERT_TRUE(eventually([&] { return viewer.eval("screen.naturalWidth > 0 && viewport.width > 0") == true; }, kBrowserWait))
      << "the live view never showed the tab";
  EXPECT_EQ(viewer.eval("document.getElementById('message').textContent"), "Type a name and greet");

  // While the person has the tab, reading works (the listing an agent reads, with its refs)
  // and acting is refused, by ref or by selector.
  const std::string listing = ok_text({"snap", "-i"});
  EXPECT_THAT(listing, ::testing::StartsWith("# Vesk demo | "));
  fails_with({"click", ref_of(listing, "button", "Greet")}, "handedOff");
  fails_with({"fill", ref_of(listing, "textbox", "Your name"), "Agent"}, "handedOff");
  fails_with({"eval", "document.title = 'changed'"}, "handedOff");
  EXPECT_EQ(ok({"title"})["title"], "Vesk demo");
  EXPECT_EQ(ok({"handoff-status"})["state"], "handedOff");

  // The person clicks the field, types, and clicks the button, all through the picture.
  viewer.click_tab_at(box["x"].get<double>() + 5, box["y"].get<double>() + box["height"].get<double>() / 2);
  viewer.type("Ada");
  viewer.click_tab_at(button["x"].get<double>() + button["width"].get<double>() / 2,
                      button["y"].get<double>() + button["height"].get<double>() / 2);
  EXPECT_TRUE(eventually([&] { return ok({"text", "#greeting"})["text"] == "Hello, Ada!"; }, kBrowserWait))
      << ok({"text", "#greeting"});

  // "Done" gives the tab back; resume ends the handoff and the live view says so.
  viewer.eval("document.getElementById('done').click()");
  EXPECT_TRUE(eventually([&] { return ok({"handoff-status"})["state"] == "returned"; }, kBrowserWait));
  const Json resumed = ok({"resume"});
  EXPECT_EQ(resumed["state"], "resumed");
  EXPECT_EQ(resumed["title"], "Vesk demo");
  EXPECT_EQ(ok({"handoff-status"})["state"], "none");
  EXPECT_TRUE(eventually([&] { return viewer.eval("document.getElementById('ended').textContent").dump().find("closed") != std::string::npos; },
                         kBrowserWait));
  ok({"click", "#greet"});  // the agent acts again
}

}  // namespace
}  // namespace vesk::test
