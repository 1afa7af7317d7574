#include "platform/windows_text.hpp"

#include <gtest/gtest.h>

namespace vesk {
namespace {

TEST(WindowsText, UnpairedSurrogatesStayRecognisablyInvalid) {
  struct Case {
    const wchar_t* wide;
    std::string kept;
    std::string replaced;
  };
  const Case cases[] = {
      {L"plain", "plain", "plain"},
      {L"\u00e9t\u00e9", "\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},
      {L"a\xD83D\xDE00z", "a\xF0\x9F\x98\x80z", "a\xF0\x9F\x98\x80z"},  // a pair is one character
      {L"out\xD800.pdf", "out\xED\xA0\x80.pdf", "out\xEF\xBF\xBD.pdf"},
      {L"\xDC00\xD800", "\xED\xB0\x80\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD"},  // low then high: no pair
  };
  for (const auto& c : cases) {
    EXPECT_EQ(to_utf8_keeping_unpaired(c.wide), c.kept) << c.kept;
    EXPECT_EQ(to_utf8(c.wide), c.replaced) << c.kept;
    // What is kept is valid UTF-8 only where the wide text was valid UTF-16.
    EXPECT_EQ(to_utf16(c.kept).has_value(), c.kept == c.replaced) << c.kept;
  }
}

}  // namespace
}  // namespace vesk
