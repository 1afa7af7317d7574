// What the person does on the live view page becomes the DevTools input that replays it;
// malformed events from the page are dropped, never passed on.
#include "browser/handoff/live_input.hpp"

#include <gtest/gtest.h>

namespace vesk::browser {
namespace {

TEST(LiveInput, EventsBecomeTheirInputCommands) {
  struct Case {
    Json event;
    const char* method;
    Json expected_subset;
  };
  const Case cases[] = {
      {{{"kind", "mouse"}, {"type", "mousePressed"}, {"x", 10.5}, {"y", 20}, {"button", "left"}, {"buttons", 1}, {"clickCount", 2}},
       "Input.dispatchMouseEvent",
       {{"type", "mousePressed"}, {"x", 10.5}, {"y", 20.0}, {"button", "left"}, {"clickCount", 2}}},
      {{{"kind", "mouse"}, {"type", "mouseMoved"}, {"x", 1}, {"y", 2}, {"button", "bogus"}},
       "Input.dispatchMouseEvent",
       {{"type", "mouseMoved"}, {"button", "none"}}},
      {{{"kind", "wheel"}, {"x", 5}, {"y", 6}, {"deltaY", 120}},
       "Input.dispatchMouseEvent",
       {{"type", "mouseWheel"}, {"deltaX", 0.0}, {"deltaY", 120.0}}},
      {{{"kind", "key"}, {"type", "keyDown"}, {"key", "a"}, {"code", "KeyA"}, {"keyCode", 65}, {"text", "a"}},
       "Input.dispatchKeyEvent",
       {{"type", "keyDown"}, {"key", "a"}, {"text", "a"}, {"windowsVirtualKeyCode", 65}}},
      {{{"kind", "key"}, {"type", "rawKeyDown"}, {"key", "a"}, {"code", "KeyA"}, {"keyCode", 65}, {"modifiers", 2}},
       "Input.dispatchKeyEvent",
       {{"type", "rawKeyDown"}, {"commands", {"selectAll"}}, {"modifiers", 2}}},
      {{{"kind", "key"}, {"type", "keyUp"}, {"key", "Enter"}, {"text", "\r"}},
       "Input.dispatchKeyEvent",
       {{"type", "keyUp"}}},
      {{{"kind", "text"}, {"text", "日本語"}}, "Input.insertText", {{"text", "日本語"}}},
  };
  for (const Case& c : cases) {
    const auto command = live_input_command(c.event);
    ASSERT_TRUE(command) << c.event.dump();
    EXPECT_EQ(command->method, c.method);
    for (const auto& [key, value] : c.expected_subset.items()) {
      EXPECT_EQ(command->params[key], value) << c.event.dump() << " " << key;
    }
  }
  // A key up carries no text; Control+A names its editing command only on the way down.
  const auto up = live_input_command({{"kind", "key"}, {"type", "keyUp"}, {"key", "a"}, {"text", "a"}, {"modifiers", 2}});
  EXPECT_FALSE(up->params.contains("text"));
  EXPECT_FALSE(up->params.contains("commands"));
}

TEST(LiveInput, MalformedEventsAreDropped) {
  const Json events[] = {
      "click",
      {{"kind", "teleport"}},
      {{"kind", "mouse"}, {"type", "mousePressed"}, {"x", "1"}, {"y", 2}},
      {{"kind", "mouse"}, {"type", "explode"}, {"x", 1}, {"y", 2}},
      {{"kind", "wheel"}, {"x", 1}},
      {{"kind", "key"}, {"type", "keyDown"}},
      {{"kind", "key"}, {"type", "char"}, {"key", "a"}},
      {{"kind", "text"}, {"text", ""}},
  };
  for (const Json& event : events) EXPECT_FALSE(live_input_command(event)) << event.dump();
}

}  // namespace
}  // namespace vesk::browser
