// The actions report lists every step in order with its outcome, and nothing a page put in
// its params or results can break out of the HTML around it.
#include "media/actions_report.hpp"

#include <gtest/gtest.h>

namespace vesk::media {
namespace {

TEST(ActionsReport, ListsEachStepWithItsOutcomeAndScreenshot) {
  ActionsReport report("2", "2026-01-01T00:00:00Z");
  report.add({"element.fill", Json{{"selector", "e1"}, {"args", {"<script>alert(1)</script>"}}},
              Json{{"filled", true}}, nullptr, "2026-01-01T00:00:01Z", 12.5, "QUJD"});
  report.add({"element.click", Json{{"selector", "#nope"}}, nullptr,
              Json{{"code", "elementNotFound"}, {"message", "no \"#nope\""}}, "2026-01-01T00:00:02Z", 3, "QU\"><x"});
  const std::string html = report.html("2026-01-01T00:00:03Z");
  EXPECT_EQ(report.size(), 2u);
  const auto fill = html.find("element.fill");
  const auto click = html.find("element.click");
  ASSERT_NE(fill, std::string::npos);
  ASSERT_NE(click, std::string::npos);
  EXPECT_LT(fill, click);
  EXPECT_NE(html.find("12.5 ms"), std::string::npos);
  EXPECT_NE(html.find("elementNotFound: no &quot;#nope&quot;"), std::string::npos);
  EXPECT_NE(html.find("src=\"data:image/jpeg;base64,QUJD\""), std::string::npos);
  EXPECT_NE(html.find("src=\"data:image/jpeg;base64,QUx\""), std::string::npos);  // stray quote dropped
  EXPECT_EQ(html.find("<script>"), std::string::npos);
  EXPECT_EQ(html.find("<x"), std::string::npos);
}

}  // namespace
}  // namespace vesk::media
