// pdf, screenshot, download and upload: path texts, messages, file entries.
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "cli/browser_commands.hpp"
#include "cli/scripted_browser_test_support.hpp"
#include "cli/upload_entries.hpp"
#include "platform/files.hpp"
#include "protocol/framing.hpp"
#include "render/render.hpp"

namespace vesk::cli {
namespace {

namespace fs = std::filesystem;
using testing_support::Printed;
using testing_support::Request;
using testing_support::run_capturing;
using testing_support::ScriptedBrowser;

// A record with default fields except those `set` fills in.
template <class Record, class Setter>
Record with(Setter set) {
  Record record;
  set(record);
  return record;
}

const std::string kInvalidPath = "out\xff.pdf";

// A relative path as vesk sends it: against the directory vesk runs in, since the browser
// runs elsewhere.
// (Written with "/", the relative path takes the system's separator.)
std::string from_here(const std::string& relative) {
  return (fs::current_path() / fs::path(relative).make_preferred()).string();
}

TEST(PageFiles, SendTheAbsolutePathOrNull) {
  ScriptedBrowser browser;
  ASSERT_TRUE(run_capturing([&] { return run_pdf(browser.sender(), PdfArgs{}); }).status);
  ASSERT_TRUE(run_capturing([&] { return run_screenshot(browser.sender(), ScreenshotArgs{"rel/shot.png", true}); }).status);
  ASSERT_EQ(browser.received.size(), 2u);
  EXPECT_EQ(browser.received[0].method, "page.pdf");
  EXPECT_EQ(browser.received[0].params,
            (Json{{"output", nullptr}, {"options", {{"landscape", false}}}, {"sourceCommand", "page.pdf"}}));
  EXPECT_EQ(browser.received[1].method, "page.screenshot");
  EXPECT_EQ(browser.received[1].params,
            (Json{{"output", from_here("rel/shot.png")}, {"options", {{"full", true}}}, {"sourceCommand", "page.screenshot"}}));
}

TEST(PageFiles, RefuseAPathThatIsNotUtf8BeforeSending) {
  ScriptedBrowser browser;
  for (const Printed& printed : {run_capturing([&] { return run_pdf(browser.sender(), PdfArgs{kInvalidPath, false}); }),
                                 run_capturing([&] { return run_screenshot(browser.sender(), ScreenshotArgs{kInvalidPath, false}); })}) {
    ASSERT_FALSE(printed.status);
    EXPECT_EQ(printed.status.error().text(), "cannot send path out\xEF\xBF\xBD.pdf: path contains invalid UTF-8 characters");
  }
  EXPECT_TRUE(browser.received.empty());
}

TEST(Download, ReportsStartAndCompletionOnStandardError) {
  struct Case {
    const char* name;
    DownloadArgs args;
    Json result;
    std::string err;
  };
  const Case cases[] = {
      {"default destination, bytes", with<DownloadArgs>([](auto& a) { a.url = "https://x/a.zip"; }), {{"path", "/d/a.zip"}, {"bytes", 1536}},
       "download: starting url=https://x/a.zip destination=<browser default>\n"
       "download: completed path=/d/a.zip bytes=1.50 KiB\n"},
      {"dir, no bytes", with<DownloadArgs>([](auto& a) { a.url = "u", a.dir = "dl"; }), {{"path", "/d/a"}},
       "download: starting url=u destination=dl\ndownload: completed path=/d/a bytes=unknown size\n"},
      {"output wins over dir, no path", with<DownloadArgs>([](auto& a) { a.url = "u", a.output = "o.bin", a.dir = "dl"; }), {{"bytes", 3}},
       "download: starting url=u destination=o.bin\ndownload: completed\n"},
      {"bytes not a number", with<DownloadArgs>([](auto& a) { a.url = "u"; }), {{"path", "p"}, {"bytes", "9"}},
       "download: starting url=u destination=<browser default>\ndownload: completed path=p bytes=unknown size\n"},
  };
  for (const auto& c : cases) {
    ScriptedBrowser browser([&](const Request&, size_t) -> Result<Json> { return c.result; });
    const Printed printed = run_capturing([&] { return run_download(browser.sender(), c.args); });
    ASSERT_TRUE(printed.status) << c.name;
    EXPECT_EQ(printed.err, c.err) << c.name;
    EXPECT_EQ(printed.out, json_document(c.result) + "\n") << c.name;
  }
}

TEST(Download, SendsTheParamsAndRefusesInvalidPathsAfterTheStartMessage) {
  ScriptedBrowser browser;
  DownloadArgs args{.url = "https://x/", .output = "o", .dir = {}, .tab = "2", .overwrite = true, .wait = false};
  ASSERT_TRUE(run_capturing([&] { return run_download(browser.sender(), args); }).status);
  EXPECT_EQ(browser.received.at(0).method, "download");
  EXPECT_EQ(browser.received.at(0).params,
            (Json{{"url", "https://x/"}, {"target", "https://x/"}, {"output", from_here("o")}, {"dir", nullptr}, {"tab", "2"},
                  {"options", {{"overwrite", true}, {"wait", false}}}, {"sourceCommand", "download"}}));

  // An absolute path goes unchanged; a relative dir is resolved like an output.
  browser.received.clear();
  args.output.reset();
  args.dir = "dl/x";
  ASSERT_TRUE(run_capturing([&] { return run_download(browser.sender(), args); }).status);
  EXPECT_EQ(browser.received.at(0).params["dir"], from_here("dl/x"));
  browser.received.clear();
  const std::string absolute = (fs::current_path().root_path() / "abs" / "dl").string();
  args.dir = absolute;
  ASSERT_TRUE(run_capturing([&] { return run_download(browser.sender(), args); }).status);
  EXPECT_EQ(browser.received.at(0).params["dir"], absolute);

  browser.received.clear();
  args.output.reset();
  args.dir = "d\xff";
  const Printed printed = run_capturing([&] { return run_download(browser.sender(), args); });
  ASSERT_FALSE(printed.status);
  EXPECT_EQ(printed.status.error().text(), "cannot send path d\xEF\xBF\xBD: path contains invalid UTF-8 characters");
  EXPECT_EQ(printed.err, "download: starting url=https://x/ destination=d\xEF\xBF\xBD\n");
  EXPECT_TRUE(browser.received.empty());
}

TEST(DisplayPath, ReplacesEachMalformedSequenceOnce) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain/é", "plain/é"},
      {"a\xff" "b", "a\xEF\xBF\xBD" "b"},
      {"\xe2\x82", "\xEF\xBF\xBD"},              // truncated three-byte sequence: one replacement
      {"\xed\xa0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate: each byte
      {"\xc0\xaf", "\xEF\xBF\xBD\xEF\xBF\xBD"},  // overlong
  };
  for (const auto& [input, expected] : cases) EXPECT_EQ(display_path(input), expected);
}

TEST(UploadEntries, MimeFollowsTheLastExtensionInAnyCase) {
  const std::pair<const char*, const char*> cases[] = {
      {"photo.JPG", "image/jpeg"}, {"a/b.jpeg", "image/jpeg"}, {"README", "application/octet-stream"},
      {".bashrc", "application/octet-stream"}, {"x.tar.zip", "application/zip"}, {"notes.Md", "text/plain"},
      {"a.log", "text/plain"}, {"a.csv", "text/plain"}, {"a.txt", "text/plain"}, {"i.htm", "text/html"},
      {"i.HTML", "text/html"}, {"d.json", "application/json"}, {"p.png", "image/png"}, {"g.gif", "image/gif"},
      {"w.webp", "image/webp"}, {"doc.pdf", "application/pdf"}, {"dir.png/file", "application/octet-stream"},
      {"trailing.", "application/octet-stream"}, {"bad.\xff", "application/octet-stream"},
  };
  for (const auto& [path, mime] : cases) EXPECT_EQ(mime_for_extension(path), mime) << path;
}

TEST(UploadEntries, DataUrlsGiveTheirDataAndMediaType) {
  struct Case {
    const char* text;
    const char* data;
    const char* mime;
  };
  const Case cases[] = {
      {"data:image/png;base64,iVBORw0", "iVBORw0", "image/png"},
      {"data:;base64,AAAA", "AAAA", "application/octet-stream"},
      {"data:text/plain,hello", "data:text/plain,hello", "application/octet-stream"},
      {"data:text/plain;charset=x;base64,QQ==", "QQ==", "text/plain"},
      {"QUJD", "QUJD", "application/octet-stream"},
      {"x,data:a;base64,b", "x,data:a;base64,b", "application/octet-stream"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(upload_entry_from_text(c.text, "n"), (Json{{"name", "n"}, {"data", c.data}, {"mime", c.mime}})) << c.text;
  }
}

// A temporary directory that the test works in; removed afterwards.
class UploadFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    auto dir = create_temporary_directory("vesk-upload-");
    ASSERT_TRUE(dir) << dir.error().text();
    dir_ = *dir;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string write(const std::string& name, const std::string& bytes) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  fs::path dir_;
};

TEST_F(UploadFiles, EntriesComeInOrderWithTheirNames) {
  const std::string photo = write("photo.JPG", "abc");
  const std::string readme = write("README", std::string("\x00\x01", 2));
  const std::string page = write("page.b64", "  data:text/html;base64,PGI+\n");
  ScriptedBrowser browser;
  UploadArgs args;
  args.selector = "#file";
  args.files = {photo, readme};
  args.base64 = {"QUJD", "data:image/png;base64,iVBORw0"};
  args.base64_file = {page};
  args.tab = "3";
  const Printed printed = run_capturing([&] { return run_upload(browser.sender(), args); });
  ASSERT_TRUE(printed.status) << printed.status.error().text();
  ASSERT_EQ(browser.received.size(), 1u);
  EXPECT_EQ(browser.received[0].method, "upload");
  EXPECT_EQ(browser.received[0].params,
            (Json{{"selector", "#file"},
                  {"files",
                   {{{"name", "photo.JPG"}, {"data", "YWJj"}, {"mime", "image/jpeg"}},
                    {{"name", "README"}, {"data", "AAE="}, {"mime", "application/octet-stream"}},
                    {{"name", "upload-1"}, {"data", "QUJD"}, {"mime", "application/octet-stream"}},
                    {{"name", "upload-2"}, {"data", "iVBORw0"}, {"mime", "image/png"}},
                    {{"name", "page"}, {"data", "PGI+"}, {"mime", "text/html"}}}},
                  {"tab", "3"},
                  {"options", {{"snapDiff", false}}},
                  {"sourceCommand", "upload"}}));
  EXPECT_EQ(printed.out, "{\n  \"ok\": true\n}\n");
}

TEST_F(UploadFiles, AnExistingPathInTheSelectorPositionIsTheFile) {
  const std::string file = write("a.txt", "hi");
  ScriptedBrowser browser;
  UploadArgs args;
  args.selector = file;
  ASSERT_TRUE(run_capturing([&] { return run_upload(browser.sender(), args); }).status);
  ASSERT_EQ(browser.received.size(), 1u);
  EXPECT_EQ(browser.received[0].params["selector"], "input[type=file]");
  EXPECT_EQ(browser.received[0].params["files"],
            (Json{{{"name", "a.txt"}, {"data", "aGk="}, {"mime", "text/plain"}}}));

  // With other files given, the selector stays a selector even when it names a file.
  browser.received.clear();
  args.files = {file};
  ASSERT_TRUE(run_capturing([&] { return run_upload(browser.sender(), args); }).status);
  EXPECT_EQ(browser.received.at(0).params["selector"], file);
}

TEST_F(UploadFiles, FailsBeforeSendingWithoutEntriesOrReadableInputs) {
  const std::string not_utf8 = write("bad.b64", "\xff\xfe");
  struct Case {
    const char* name;
    UploadArgs args;
    std::string error;    // the whole text, or its start when `reason` is given
    const char* reason;   // the start of the system's reason that follows, where every system says the same
    ErrorKind kind;
  };
  const std::string missing = (dir_ / "missing.txt").string();
  const std::string none = "upload requires at least one file, --base64, or --base64-file";
  const Case cases[] = {
      {"nothing at all", {}, none, nullptr, ErrorKind::Other},
      {"selector naming no file", with<UploadArgs>([](auto& a) { a.selector = "#nope"; }), none, nullptr, ErrorKind::Other},
      {"missing file", with<UploadArgs>([&](auto& a) { a.files = {missing}; }), "failed to read " + missing + ": ", "", ErrorKind::NotFound},
      {"missing base64 file", with<UploadArgs>([&](auto& a) { a.base64_file = {missing}; }), "failed to read " + missing + ": ", "", ErrorKind::NotFound},
      {"base64 file not UTF-8", with<UploadArgs>([&](auto& a) { a.base64_file = {not_utf8}; }), "failed to read " + not_utf8 + ": stream did not contain valid UTF-8", nullptr, ErrorKind::Other},
      {"directory as file", with<UploadArgs>([&](auto& a) { a.files = {dir_.string()}; }), "failed to read " + dir_.string() + ": ", "Is a directory", ErrorKind::Other},
  };
  for (const auto& c : cases) {
    ScriptedBrowser browser;
    const Printed printed = run_capturing([&] { return run_upload(browser.sender(), c.args); });
    ASSERT_FALSE(printed.status) << c.name;
    const std::string text = printed.status.error().text();
    if (c.reason == nullptr) {
      EXPECT_EQ(text, c.error) << c.name;
    } else if (*c.reason != '\0') {
      EXPECT_TRUE(text.starts_with(c.error + c.reason)) << c.name << ": " << text;
    } else {
      // The system's own wording of the reason differs; the path and a reason are there.
      EXPECT_TRUE(text.starts_with(c.error) && text.size() > c.error.size()) << c.name << ": " << text;
    }
    EXPECT_EQ(printed.status.error().kind(), c.kind) << c.name << ": " << text;
    EXPECT_TRUE(browser.received.empty()) << c.name;
  }
}

TEST_F(UploadFiles, AnUploadPastTheMessageLimitIsRefusedBeforeAnyFileIsRead) {
  // Sparse files: large by their size, nothing on disk, and slow to read if anyone tried.
  const std::string first = write("first.bin", "");
  const std::string second = write("second.bin", "");
  fs::resize_file(first, kMaxMessageBytes / 2);
  fs::resize_file(second, kMaxMessageBytes / 4);
  ScriptedBrowser browser;
  UploadArgs args;
  args.files = {first, second};
  args.snap_diff = true;
  const Printed printed = run_capturing([&] { return run_upload(browser.sender(), args); });
  ASSERT_FALSE(printed.status);
  EXPECT_NE(printed.status.error().text().find("upload too large: its request would take about "), std::string::npos)
      << printed.status.error().text();
  EXPECT_NE(printed.status.error().text().find("upload fewer or smaller files"), std::string::npos);
  EXPECT_TRUE(browser.received.empty());

  // A small one is read and sent.
  fs::resize_file(first, 3000);
  args.files = {first};
  args.snap_diff = false;
  ASSERT_TRUE(run_capturing([&] { return run_upload(browser.sender(), args); }).status);
  EXPECT_EQ(browser.received.size(), 1u);
}

TEST_F(UploadFiles, SnapDiffTakesABaselineAndMergesTheChangedSnapshot) {
  const std::string file = write("a.txt", "hi");
  ScriptedBrowser browser([](const Request& request, size_t index) -> Result<Json> {
    if (request.method == "upload") return Json{{"uploaded", 1}};
    return Json{{"snapshot", {{"v", index}}}};  // differs on every request
  });
  UploadArgs args;
  args.files = {file};
  args.snap_diff = true;
  const Printed printed = run_capturing([&] { return run_upload(browser.sender(), args); });
  ASSERT_TRUE(printed.status);
  EXPECT_EQ(browser.methods(), (std::vector<std::string>{"page.snapshot", "upload", "page.snapshot"}));
  EXPECT_EQ(browser.received[2].params,
            (Json{{"tab", nullptr}, {"options", {{"diff", true}}}, {"sourceCommand", "upload"}}));
  EXPECT_EQ(browser.received[1].params["options"], (Json{{"snapDiff", true}}));
  EXPECT_EQ(printed.out, "{\n  \"snapshot\": {\n    \"v\": 2\n  },\n  \"uploaded\": 1\n}\n");
}

}  // namespace
}  // namespace vesk::cli
