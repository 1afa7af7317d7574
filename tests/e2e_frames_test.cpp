// End to end: iframes (same origin, another site in a process of its own, a frame in a
// frame) and shadow DOM (open and closed roots), through `vesk` against real Chromium.
#include <gmock/gmock.h>

#include <chrono>
#include <thread>

#include "e2e_support.hpp"

namespace vesk::test {
namespace {

using ::testing::HasSubstr;

class Frames : public RealBrowserTest {
 protected:
  static void SetUpTestSuite() {
    RealBrowserTest::SetUpTestSuite();
    other_site_ = std::make_unique<FixtureHttpServer>(fixtures_dir());
  }
  static void TearDownTestSuite() {
    other_site_.reset();
    RealBrowserTest::TearDownTestSuite();
  }

  // frames.html from the first server; its second iframe comes from the other server under
  // the name "localhost": another origin and another site, so Chromium gives it a process
  // (and a DevTools session) of its own.
  static void open_frames() {
    ASSERT_TRUE(other_site_->ok()) << other_site_->error();
    const std::string other = "http://localhost:" + std::to_string(other_site_->port());
    ASSERT_TRUE(ok({"nav", session().http().url("/frames.html?other=" + other)}).is_object());
    // The frames load after the page: wait until all four show their buttons.
    const auto deadline = std::chrono::steady_clock::now() + kBrowserWait;
    std::string listing;
    while (std::chrono::steady_clock::now() < deadline) {
      listing = ok_text({"snap", "-i"});
      if (lines_with(listing, ":button \"Send ").size() == 3) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    FAIL() << "the frames did not all load:\n" << listing;
  }

  static inline std::unique_ptr<FixtureHttpServer> other_site_;
};

TEST_F(Frames, SnapshotsListFrameContentsWithFrameRefsThatAct) {
  open_frames();
  const std::string listing = ok_text({"snap", "-i"});
  // Each frame's nodes follow its iframe node and carry the frame in their refs.
  EXPECT_THAT(listing, HasSubstr(":Iframe \"Same origin\""));
  EXPECT_THAT(listing, HasSubstr(":Iframe \"Other origin\""));
  EXPECT_THAT(listing, HasSubstr(":Iframe \"Inner\""));
  const std::string top = ref_of(listing, "button", "Top button");
  EXPECT_THAT(top, ::testing::StartsWith("e"));
  for (const std::string who : {"same", "cross", "inner"}) {
    SCOPED_TRACE(who);
    const std::string send = ref_of(listing, "button", "Send " + who);
    ASSERT_THAT(send, ::testing::MatchesRegex("f[0-9]+e[0-9]+"));
    const std::string frame = send.substr(0, send.find('e'));
    // The frame's textbox is the Email line with the same frame prefix.
    std::string email;
    for (const auto& line : lines_with(listing, ":textbox \"Email\"")) {
      if (line.starts_with(frame + "e")) email = line.substr(0, line.find(':'));
    }
    ASSERT_FALSE(email.empty()) << listing;
    ok({"fill", email, "ada-" + who});
    ok({"click", send});
    ok({"frame", "select", frame});
    EXPECT_THAT(at(ok({"text"}), "text").get<std::string>(), HasSubstr(who + " sent ada-" + who));
    ok({"frame", "main"});
  }
  // Refs stay the same across snapshots of the same frame documents.
  EXPECT_EQ(ref_of(ok_text({"snap", "-i"}), "button", "Send cross"), ref_of(listing, "button", "Send cross"));

  // The other modes list the frames' contents too.
  const Json compact = ok({"snap", "-c"});
  EXPECT_THAT(compact.dump(), HasSubstr("Send inner"));
  EXPECT_THAT(compact.dump(), HasSubstr("Send cross"));
}

TEST_F(Frames, BoxesAreInPageCoordinatesSoAClickThereHitsTheFrame) {
  open_frames();
  const std::string listing = ok_text({"snap", "-i"});
  for (const std::string who : {"same", "cross"}) {
    SCOPED_TRACE(who);
    const Json box = at(ok({"box", ref_of(listing, "button", "Send " + who)}), "box");
    ASSERT_TRUE(box.is_object());
    const double x = box["x"].get<double>() + box["width"].get<double>() / 2;
    const double y = box["y"].get<double>() + box["height"].get<double>() / 2;
    ok({"click", std::to_string(x), std::to_string(y)});
    ok({"frame", "select", "who=" + who});
    EXPECT_THAT(at(ok({"text", "#status"}), "text").get<std::string>(), HasSubstr(who + " sent"));
    ok({"frame", "main"});
  }
}

TEST_F(Frames, FrameListSelectAndTheErrorsOfGoneFrames) {
  open_frames();
  const Json frames = at(ok({"frame", "list"}), "frames");
  ASSERT_EQ(frames.size(), 5u) << frames.dump();
  EXPECT_EQ(frames[0]["id"], "main");
  int cross_origin = 0, nested = 0;
  for (const auto& frame : frames) {
    cross_origin += frame["crossOrigin"].get<bool>() ? 1 : 0;
    nested += frame["depth"] == 2 ? 1 : 0;
  }
  EXPECT_EQ(cross_origin, 1) << frames.dump();
  EXPECT_EQ(nested, 1) << frames.dump();

  // Selection by name, URL part and iframe ref: eval and text act in that frame.
  ok({"frame", "select", "inner"});
  EXPECT_EQ(at(ok({"eval", "document.title"}), "value"), "Child inner");
  ok({"frame", "select", "frame_outer"});
  EXPECT_EQ(at(ok({"eval", "document.title"}), "value"), "Outer frame");
  ok({"frame", "main"});
  ok({"frame", "select", ref_of(ok_text({"snap", "-i"}), "Iframe", "Other origin")});
  EXPECT_EQ(at(ok({"eval", "document.title"}), "value"), "Child cross");
  ok({"frame", "main"});
  EXPECT_EQ(at(ok({"eval", "document.title"}), "value"), "Vesk frames");
  fails_with({"frame", "select", "no-such-frame"}, "frameNotFound");
  fails_with({"frame", "select", "frame_child"}, "invalidArgument");  // three frames match

  // A frame reloaded since the snapshot: its refs are stale, never another element.
  const std::string before = ref_of(ok_text({"snap", "-i"}), "button", "Send inner");
  ok({"frame", "select", "inner"});
  ok({"eval", "location.reload(); 1"});
  ok({"frame", "main"});
  RunResult stale = session().vesk({"click", before});
  EXPECT_NE(stale.status, 0);
  EXPECT_THAT(stale.err, HasSubstr("staleRef: "));
  EXPECT_THAT(stale.err, HasSubstr("reloaded"));
  EXPECT_THAT(stale.err, HasSubstr("snap"));

  // The selected frame removes its own iframe: later commands say so instead of acting on
  // the main frame.
  ok({"frame", "select", "same"});
  ok({"eval", "setTimeout(() => parent.document.getElementById('same').remove(), 0); 1"});
  RunResult gone = session().vesk({"text"});
  for (int i = 0; i < 50 && gone.status == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    gone = session().vesk({"text"});
  }
  EXPECT_THAT(gone.err, HasSubstr("frameNotFound: "));
  EXPECT_THAT(gone.err, HasSubstr("gone"));
  fails_with({"click", "#send"}, "frameNotFound");
  ok({"frame", "main"});
  EXPECT_EQ(at(ok({"eval", "document.title"}), "value"), "Vesk frames");
}

TEST_F(Frames, ShadowRootsOpenAndClosedAreSnapshottedAndActedOn) {
  open("shadow.html");
  const std::string listing = ok_text({"snap", "-i"});
  const std::string open_user = ref_of(listing, "textbox", "Open user");
  const std::string closed_user = ref_of(listing, "textbox", "Closed user");
  const std::string closed_go = ref_of(listing, "button", "Closed sign in");
  EXPECT_FALSE(ref_of(listing, "button", "Open sign in").empty());
  ok({"fill", closed_user, "bob"});
  ok({"click", closed_go});
  EXPECT_EQ(at(ok({"text", "#log"}), "text"), "Closed signed in as bob");
  EXPECT_EQ(at(ok({"value", open_user}), "value"), "");

  // CSS selectors reach into open shadow roots (the closed one stays out of their reach).
  ok({"fill", ".user", "ann"});
  ok({"click", ".go"});
  EXPECT_EQ(at(ok({"text", "#log"}), "text"), "Open signed in as ann");
  EXPECT_EQ(at(ok({"count", ".user"}), "count"), 1);

  // The accessibility-tree modes see both roots as well.
  const std::string compact = ok({"snap", "-c"}).dump();
  EXPECT_THAT(compact, HasSubstr("Closed sign in"));
  EXPECT_THAT(compact, HasSubstr("Open sign in"));
}

}  // namespace
}  // namespace vesk::test
