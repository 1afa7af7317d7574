#include "browser/methods/network_har.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/random.hpp"

namespace vesk::browser {
namespace {

RequestRecord finished_request() {
  RequestRecord record;
  record.id = 7;
  record.method = "POST";
  record.url = "http://h/api?a=1&b=&c#frag";
  record.type = "fetch";
  record.request_headers = {{"content-type", "application/json"}, {"Cookie", "a=1; b = two; flag"}};
  record.post_data = "{}";
  record.wall_time = 1'800'000'000.5;
  record.started = 100.0;
  record.ended = 100.250;  // 250 ms in all
  record.status = 200;
  record.status_text = "OK";
  record.mime_type = "application/json";
  record.protocol = "http/1.1";
  record.response_headers = {{"Set-Cookie", "a=1; Path=/; HttpOnly\nb=2"}};
  // Sent 10 ms after the start, headers back at 110 ms.
  record.timing = {{"requestTime", 100.0}, {"dnsStart", -1}, {"dnsEnd", -1}, {"connectStart", 2}, {"connectEnd", 8},
                   {"sslStart", -1}, {"sslEnd", -1}, {"sendStart", 10}, {"sendEnd", 12}, {"receiveHeadersEnd", 110}};
  record.body_bytes = 2;
  record.finished = true;
  return record;
}

TEST(Har, AnEntryCarriesTheRequestTheResponseAndTimingsThatAddUp) {
  RequestRecord failed;
  failed.id = 8;
  failed.url = "http://h/gone";
  failed.method = "GET";
  failed.failure = "net::ERR_FAILED";
  HarPage page;
  page.title = "http://h/";
  Json har = har_log(page, {finished_request(), failed});
  const Json& log = har["log"];
  EXPECT_EQ(log["version"], "1.2");
  ASSERT_EQ(log["entries"].size(), 2u);
  const Json& entry = log["entries"][0];
  EXPECT_EQ(entry["pageref"], log["pages"][0]["id"]);
  EXPECT_EQ(entry["startedDateTime"], "2027-01-15T08:00:00.5Z");
  EXPECT_EQ(entry["request"]["httpVersion"], "HTTP/1.1");
  EXPECT_EQ(entry["request"]["postData"]["mimeType"], "application/json");
  const Json query = Json::array({{{"name", "a"}, {"value", "1"}}, {{"name", "b"}, {"value", ""}}, {{"name", "c"}, {"value", ""}}});
  EXPECT_EQ(entry["request"]["queryString"], query);
  // Repeated headers are separate entries; cookies are read from Cookie and Set-Cookie.
  EXPECT_EQ(entry["response"]["headers"].size(), 2u);
  const Json sent = Json::array({{{"name", "a"}, {"value", "1"}}, {{"name", "b"}, {"value", "two"}}, {{"name", "flag"}, {"value", ""}}});
  EXPECT_EQ(entry["request"]["cookies"], sent);
  const Json set = Json::array({{{"name", "a"}, {"value", "1"}}, {{"name", "b"}, {"value", "2"}}});
  EXPECT_EQ(entry["response"]["cookies"], set);
  const Json& t = entry["timings"];
  EXPECT_EQ(t["blocked"], 2);
  EXPECT_EQ(t["dns"], -1);
  EXPECT_EQ(t["connect"], 6);
  EXPECT_EQ(t["send"], 2);
  EXPECT_EQ(t["wait"], 98);
  EXPECT_DOUBLE_EQ(t["receive"].get<double>(), 140);
  EXPECT_DOUBLE_EQ(entry["time"].get<double>(), 248);  // the phases, without the gap between connect and send
  // A failed request still makes a valid entry: status 0, non-negative phases, the reason.
  const Json& gone = log["entries"][1];
  EXPECT_EQ(gone["response"]["status"], 0);
  EXPECT_EQ(gone["_error"], "net::ERR_FAILED");
  for (const char* phase : {"send", "wait", "receive"}) EXPECT_GE(gone["timings"][phase].get<double>(), 0) << phase;
}

TEST(Har, AtomicWriteReplacesAFileWholeAndSaysWhyItCannot) {
  const auto dir = std::filesystem::temp_directory_path() / ("vesk-har-test-" + random_text("abcdef0123456789", 8));
  const auto path = dir / "nested" / "out.har";
  ASSERT_TRUE(write_file_atomically(path, "old"));
  ASSERT_TRUE(write_file_atomically(path, "new text"));
  std::ifstream in(path);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), {}), "new text");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(path.parent_path()), {}), 1);  // no temporary left
  auto refused = write_file_atomically(path / "under-a-file", "x");
  ASSERT_FALSE(refused);
  EXPECT_FALSE(refused.error().empty());
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace vesk::browser
