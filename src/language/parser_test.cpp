// The command language, line by line: what each accepted line yields, which lines are
// usage errors (and that the error names the culprit), and which are help requests.

#include "language/parser.hpp"

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace vesk::cli {
namespace {

using Words = std::vector<std::string>;
using W = CommandWord;
using ::testing::HasSubstr;
using ::testing::Not;

std::string joined(const Words& words) {
  std::string text;
  for (const auto& word : words) text += (text.empty() ? "" : " ") + ("'" + word + "'");
  return text;
}

constexpr double kInf = std::numeric_limits<double>::infinity();

struct Accepted {
  Words line;
  W word;
  CommandArgs args;
};

class AcceptedLines : public ::testing::TestWithParam<Accepted> {};

TEST_P(AcceptedLines, YieldTheRecord) {
  const Accepted& expected = GetParam();
  const ParseOutcome outcome = parse_command_line(expected.line);
  const auto* error = std::get_if<UsageError>(&outcome);
  ASSERT_EQ(error, nullptr) << error->text;
  ASSERT_TRUE(std::holds_alternative<Cli>(outcome));
  const Cli& cli = std::get<Cli>(outcome);
  EXPECT_EQ(command_word_text(cli.word), command_word_text(expected.word));
  EXPECT_EQ(cli.args.index(), expected.args.index());
  EXPECT_TRUE(cli.args == expected.args);
}

std::string case_name(const ::testing::TestParamInfo<Accepted>& info) {
  return "line" + std::to_string(info.index);
}

const ServerArgs kDefaultServer{};

INSTANTIATE_TEST_SUITE_P(
    ServerProfileInstance, AcceptedLines,
    ::testing::Values(
        Accepted{{"server"}, W::server, ServerCommand{std::nullopt, {"127.0.0.1", 51234}}},
        Accepted{{"server", "--port", "0"}, W::server, ServerCommand{std::nullopt, {"127.0.0.1", 0}}},
        Accepted{{"server", "--port=65535", "--host", "::1"}, W::server,
                 ServerCommand{std::nullopt, {"::1", 65535}}},
        Accepted{{"server", "--port", "080"}, W::server, ServerCommand{std::nullopt, {"127.0.0.1", 80}}},
        // Server options stand before the nested word; "stop" ignores them.
        Accepted{{"server", "--port", "5", "stop"}, W::server,
                 ServerCommand{ServerSubcommand::stop, {"127.0.0.1", 5}}},
        Accepted{{"server", "--host=0.0.0.0", "restart"}, W::server,
                 ServerCommand{ServerSubcommand::restart, {"0.0.0.0", 51234}}},
        Accepted{{"health"}, W::health, NoArgs{}},
        Accepted{{"status"}, W::status, NoArgs{}},
        Accepted{{"snapshot"}, W::snapshot, NoArgs{}},
        Accepted{{"profile", "list"}, W::profile, ProfileCommand{ProfileList{}}},
        Accepted{{"profiles", "create", "work"}, W::profiles, ProfileCommand{ProfileCreate{"work"}}},
        Accepted{{"profile", "open", "p-1"}, W::profile, ProfileCommand{ProfileOpen{"p-1"}}},
        Accepted{{"profile", "delete", "--", "-p"}, W::profile, ProfileCommand{ProfileDelete{"-p"}}},
        Accepted{{"instance", "list"}, W::instance, InstanceCommand{InstanceList{}}},
        Accepted{{"instance", "start"}, W::instance, InstanceCommand{StartInstanceArgs{}}},
        Accepted{{"instances", "start", "--headed", "--profile", "work", "--browser-binary", "/opt/b",
                  "--server-host", "127.0.0.2", "--server-port", "9000"},
                 W::instances,
                 InstanceCommand{StartInstanceArgs{.profile = "work",
                                                   .headed = true,
                                                   .browser_binary = "/opt/b",
                                                   .server_host = "127.0.0.2",
                                                   .server_port = 9000}}},
        Accepted{{"instance", "start", "--headless"}, W::instance,
                 InstanceCommand{StartInstanceArgs{.headless = true}}},
        Accepted{{"instance", "stop", "abc"}, W::instance, InstanceCommand{InstanceStop{"abc"}}},
        // A word in a positional slot is a value even when it is also a command word.
        Accepted{{"instance", "stop", "list"}, W::instance, InstanceCommand{InstanceStop{"list"}}},
        Accepted{{"profile", "create", "status"}, W::profile, ProfileCommand{ProfileCreate{"status"}}}),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    SinglePositionals, AcceptedLines,
    ::testing::Values(
        Accepted{{"nav", "https://a.test/"}, W::nav, NavArgs{.url = "https://a.test/"}},
        Accepted{{"navigate", "--snap", "--snap-diff", "--text", "--new-tab", "--tab", "t1",
                  "--block-images", "--block-ads", "--dismiss-banners", "--print-tab-id", "--pdf",
                  "--screenshot", "--capture", "u"},
                 W::navigate,
                 NavArgs{"u", true, true, true, true, "t1", true, true, true, true, true, true, true}},
        // Options may stand before, between or after positionals.
        Accepted{{"nav", "u", "--tab=-1"}, W::nav, NavArgs{.url = "u", .tab = "-1"}},
        Accepted{{"nav", "--tab=", "u"}, W::nav, NavArgs{.url = "u", .tab = ""}},
        Accepted{{"nav", "--", "--snap"}, W::nav, NavArgs{.url = "--snap"}},
        Accepted{{"snap"}, W::snap, SnapArgs{}},
        Accepted{{"snap", "-dic"}, W::snap, SnapArgs{.diff = true, .interactive = true, .compact = true}},
        Accepted{{"snap", "#main", "--full", "--max-tokens", "4294967295", "--tab", "2"}, W::snap,
                 SnapArgs{.selector = "#main", .tab = "2", .full = true, .max_tokens = 4294967295U}},
        Accepted{{"snap", "--max-tokens=0", "-d", "--interactive"}, W::snap,
                 SnapArgs{.diff = true, .interactive = true, .max_tokens = 0U}},
        Accepted{{"tab"}, W::tab, TabArgs{}},
        Accepted{{"tab", "help", "nav"}, W::tab, TabArgs{"help", "nav"}},
        Accepted{{"nav", "status"}, W::nav, NavArgs{.url = "status"}},
        Accepted{{"tabs", "new"}, W::tabs, TabArgs{"new", std::nullopt}},
        Accepted{{"tab", "close", "t7"}, W::tab, TabArgs{"close", "t7"}},
        Accepted{{"back"}, W::back, AfterActionArgs{}},
        Accepted{{"reload", "--snap", "--snap-diff", "--text", "--dismiss-banners"}, W::reload,
                 AfterActionArgs{true, true, true, true}},
        Accepted{{"pdf"}, W::pdf, PdfArgs{}},
        Accepted{{"pdf", "-o", "a.pdf", "--landscape"}, W::pdf, PdfArgs{"a.pdf", true}},
        Accepted{{"pdf", "-oa.pdf"}, W::pdf, PdfArgs{"a.pdf", false}},
        // Paths keep their bytes even when they are not UTF-8.
        Accepted{{"pdf", "--output=\xff.pdf"}, W::pdf, PdfArgs{"\xff.pdf", false}},
        Accepted{{"ss", "--full"}, W::ss, ScreenshotArgs{std::nullopt, true}},
        Accepted{{"screenshot", "-o", "s.png"}, W::screenshot, ScreenshotArgs{"s.png", false}},
        Accepted{{"download", "https://d.test/f", "-o", "f.bin", "--dir", "d", "-t", "3", "--overwrite",
                  "--wait"},
                 W::download, DownloadArgs{"https://d.test/f", "f.bin", "d", "3", true, true}}),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    ActionLists, AcceptedLines,
    ::testing::Values(
        Accepted{{"click", "120", "340"}, W::click, ActionArgs{.selector = "120", .args = {"340"}}},
        Accepted{{"click", "--x=5", "--y=7"}, W::click, ActionArgs{.x = 5.0, .y = 7.0}},
        // From the first list word on, every word belongs to the list.
        Accepted{{"fill", "#q", "hello", "--tab", "3"}, W::fill,
                 ActionArgs{.selector = "#q", .args = {"hello", "--tab", "3"}}},
        Accepted{{"fill", "--tab", "3", "#q", "hello"}, W::fill,
                 ActionArgs{.selector = "#q", .args = {"hello"}, .tab = "3"}},
        Accepted{{"fill", "#q", "--tab", "3", "hello"}, W::fill,
                 ActionArgs{.selector = "#q", .args = {"hello"}, .tab = "3"}},
        Accepted{{"fill", "#q", "a", "-v", "--help", "--", "--snap"}, W::fill,
                 ActionArgs{.selector = "#q", .args = {"a", "-v", "--help", "--", "--snap"}}},
        // After the selector, a dash word that is no option of the command starts the list.
        Accepted{{"fill", "#q", "-x"}, W::fill, ActionArgs{.selector = "#q", .args = {"-x"}}},
        Accepted{{"fill", "#q", "--bogus", "--snap"}, W::fill,
                 ActionArgs{.selector = "#q", .args = {"--bogus", "--snap"}}},
        Accepted{{"click", "#a", "--snap", "--wait-nav"}, W::click,
                 ActionArgs{.selector = "#a", .snap = true, .wait_nav = true}},
        // Once the selector is given, an option value may begin with "-".
        Accepted{{"click", "#a", "--x", "-5", "--y", "-2.5e1"}, W::click,
                 ActionArgs{.selector = "#a", .x = -5.0, .y = -25.0}},
        Accepted{{"fill", "--", "-x", "y"}, W::fill, ActionArgs{.selector = "-x", .args = {"y"}}},
        Accepted{{"select", "#s", "a", "b", "c", "--mode", "m"}, W::select,
                 ActionArgs{.selector = "#s", .args = {"a", "b", "c", "--mode", "m"}}},
        Accepted{{"click", "--mode", "fast", "--humanize", "--dialog-action", "accept", "--dialog-text",
                  "ok", "--snap-diff", "--text", "--dismiss-banners", "e3"},
                 W::click,
                 ActionArgs{.selector = "e3",
                            .snap_diff = true,
                            .text = true,
                            .dismiss_banners = true,
                            .mode = "fast",
                            .humanize = true,
                            .dialog_action = "accept",
                            .dialog_text = "ok"}},
        Accepted{{"upload", "#f", "a.txt", "-t", "2"}, W::upload,
                 UploadArgs{.selector = "#f", .files = {"a.txt", "-t", "2"}}},
        Accepted{{"upload", "-t", "2", "#f", "a.txt", "b.txt"}, W::upload,
                 UploadArgs{.selector = "#f", .files = {"a.txt", "b.txt"}, .tab = "2"}},
        Accepted{{"upload", "-b", "QQ==", "--base64=Qg==", "-b", "data:,x"}, W::upload,
                 UploadArgs{.base64 = {"QQ==", "Qg==", "data:,x"}}},
        Accepted{{"upload", "-B", "one.b64", "-B=two.b64", "--snap-diff", "#f"}, W::upload,
                 UploadArgs{.selector = "#f", .base64_file = {"one.b64", "two.b64"}, .snap_diff = true}},
        Accepted{{"upload", "#f", "\xfe.bin"}, W::upload, UploadArgs{.selector = "#f", .files = {"\xfe.bin"}}}),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    TrailingLists, AcceptedLines,
    ::testing::Values(
        Accepted{{"title"}, W::title, RawBrowserArgs{}},
        Accepted{{"eval", "1+1", "--tab", "3"}, W::eval, RawBrowserArgs{std::nullopt, {"1+1", "--tab", "3"}}},
        Accepted{{"eval", "--tab", "3", "1+1"}, W::eval, RawBrowserArgs{"3", {"1+1"}}},
        Accepted{{"eval", "--tab", "-1", "x"}, W::eval, RawBrowserArgs{"-1", {"x"}}},
        Accepted{{"eval", "[1,2]"}, W::eval, RawBrowserArgs{std::nullopt, {"[1,2]"}}},
        Accepted{{"press", "-x"}, W::press, RawBrowserArgs{std::nullopt, {"-x"}}},
        Accepted{{"press", "--", "-v"}, W::press, RawBrowserArgs{std::nullopt, {"-v"}}},
        Accepted{{"keydown", "Shift", "-h", "-v"}, W::keydown, RawBrowserArgs{std::nullopt, {"Shift", "-h", "-v"}}},
        Accepted{{"mouse", "click", "1", "2"}, W::mouse, RawBrowserArgs{std::nullopt, {"click", "1", "2"}}},
        Accepted{{"handoff-status"}, W::handoff_status, RawBrowserArgs{}},
        Accepted{{"scrollintoview", "--tab=t", "#x"}, W::scrollintoview, RawBrowserArgs{"t", {"#x"}}}),
    case_name);

TEST(FloatValues, AcceptInfinityAndNotANumberInAnyCase) {
  const auto outcome = parse_command_line({"click", "--x=-Infinity", "--y", "NaN"});
  ASSERT_TRUE(std::holds_alternative<Cli>(outcome));
  const auto& args = std::get<ActionArgs>(std::get<Cli>(outcome).args);
  EXPECT_EQ(args.x, -kInf);
  ASSERT_TRUE(args.y.has_value());
  EXPECT_TRUE(std::isnan(*args.y));
}

TEST(FloatValues, AreRoundedOnceToTheNearestDouble) {
  // 0.1 and a value whose decimal text sits close to a tie between two doubles.
  for (const std::string text : {"0.1", "9007199254740993", "2.2250738585072011e-308", "1e400"}) {
    const auto outcome = parse_command_line({"click", "--x=" + text});
    ASSERT_TRUE(std::holds_alternative<Cli>(outcome)) << text;
    EXPECT_EQ(std::get<ActionArgs>(std::get<Cli>(outcome).args).x, std::strtod(text.c_str(), nullptr))
        << text;
  }
}

struct Verbosity {
  Words line;
  int verbose;
};

class VerboseCount : public ::testing::TestWithParam<Verbosity> {};

TEST_P(VerboseCount, IsTheCountOfTheDeepestLevel) {
  const auto outcome = parse_command_line(GetParam().line);
  ASSERT_TRUE(std::holds_alternative<Cli>(outcome)) << joined(GetParam().line);
  EXPECT_EQ(std::get<Cli>(outcome).verbose, GetParam().verbose) << joined(GetParam().line);
}

Words many_verbose_flags() {
  Words words{"status"};
  words.insert(words.end(), 300, "-v");
  return words;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, VerboseCount,
    ::testing::Values(Verbosity{{"status"}, 0}, Verbosity{{"-v", "status"}, 1},
                      Verbosity{{"status", "--verbose"}, 1}, Verbosity{{"-v", "status", "-v"}, 1},
                      Verbosity{{"status", "-v", "-v"}, 2}, Verbosity{{"-vv", "status"}, 2},
                      Verbosity{{"-vvv", "server", "-v", "stop"}, 1},
                      Verbosity{{"server", "-v", "stop", "-vv"}, 2}, Verbosity{{"snap", "-dvi"}, 1},
                      Verbosity{{"eval", "-v", "x", "-v"}, 1}, Verbosity{many_verbose_flags(), 255}));

struct Rejected {
  Words line;
  std::string names;  // what the error text must mention
};

class RejectedLines : public ::testing::TestWithParam<Rejected> {};

TEST_P(RejectedLines, AreUsageErrorsNamingTheCulprit) {
  const auto outcome = parse_command_line(GetParam().line);
  ASSERT_TRUE(std::holds_alternative<UsageError>(outcome)) << joined(GetParam().line);
  const std::string& text = std::get<UsageError>(outcome).text;
  EXPECT_THAT(text, HasSubstr(GetParam().names)) << joined(GetParam().line);
  EXPECT_THAT(text, HasSubstr("Usage: vesk")) << joined(GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, RejectedLines,
    ::testing::Values(
        Rejected{{}, "subcommand is required"}, Rejected{{"-v"}, "subcommand is required"},
        Rejected{{"stauts"}, "'status'"}, Rejected{{"navigat", "u"}, "'navigate'"},
        Rejected{{"--version"}, "--version"}, Rejected{{"Status"}, "'Status'"},
        Rejected{{"nav"}, "url"}, Rejected{{"download"}, "url"},
        Rejected{{"server", "--port=-1"}, "-1"}, Rejected{{"server", "--port", "-1"}, "--port"},
        Rejected{{"server", "--port", "65536"}, "65536"}, Rejected{{"server", "--port", "abc"}, "abc"},
        Rejected{{"server", "--port", "0x10"}, "0x10"}, Rejected{{"server", "--port", " 5"}, "--port"},
        Rejected{{"server", "--port="}, "--port"}, Rejected{{"server", "--port"}, "--port"},
        Rejected{{"server", "--host", "-v"}, "--host"}, Rejected{{"server", "--prot", "1"}, "'--port'"},
        Rejected{{"server", "stop", "--port", "1"}, "--port"}, Rejected{{"server", "halt"}, "halt"},
        Rejected{{"server", "--port", "1", "--port", "2"}, "--port"},
        Rejected{{"instance", "start", "--headless", "--headed"}, "--headed"},
        Rejected{{"instance", "start", "--headless=false"}, "--headless"},
        Rejected{{"instance", "start", "--headless", "--headless"}, "--headless"},
        Rejected{{"instance", "start", "--server-port", "70000"}, "70000"},
        Rejected{{"instance"}, "subcommand is required"}, Rejected{{"instances", "stop"}, "id"},
        Rejected{{"profile"}, "Usage: vesk profile"}, Rejected{{"profile", "create"}, "name"},
        Rejected{{"profile", "create", "a", "b"}, "'b'"},
        Rejected{{"snap", "--max-tokens", "4294967296"}, "4294967296"},
        Rejected{{"snap", "--max-tokens=-1"}, "-1"}, Rejected{{"snap", "--max-tokens", "-1"}, "--max-tokens"},
        Rejected{{"snap", "-dx"}, "-x"}, Rejected{{"snap", "a", "b"}, "'b'"},
        Rejected{{"tab", "a", "b", "c"}, "'c'"}, Rejected{{"pdf", "word"}, "'word'"},
        Rejected{{"health", "extra"}, "'extra'"}, Rejected{{"back", "x"}, "'x'"},
        Rejected{{"nav", "u", "--snap", "--snap"}, "--snap"}, Rejected{{"nav", "u", "--snap=1"}, "--snap"},
        Rejected{{"nav", "u", "--snpa"}, "'--snap'"}, Rejected{{"nav", "u", "--tab"}, "--tab"},
        Rejected{{"nav", "\xff"}, "UTF-8"}, Rejected{{"nav", "u", "--tab", "\xc0\x80"}, "UTF-8"},
        Rejected{{"click", "--x", "abc"}, "abc"}, Rejected{{"click", "--x", "0x10"}, "0x10"},
        Rejected{{"click", "--x", "1,5"}, "1,5"}, Rejected{{"click", "--x", "-5"}, "--x"},
        Rejected{{"click", "#a", "--tab", "--snap"}, "--tab"},
        Rejected{{"fill", "-x"}, "-x"}, Rejected{{"fill", "--tab", "1", "--tab", "2", "#q"}, "--tab"},
        Rejected{{"fill", "#q", "\xff"}, "UTF-8"}, Rejected{{"eval", "\xff"}, "UTF-8"},
        Rejected{{"eval", "--tab"}, "--tab"}, Rejected{{"upload", "#f", "--tab", "-b"}, "--tab"},
        Rejected{{"help", "stauts"}, "'status'"}, Rejected{{"profile", "help", "craete"}, "'create'"}));

class HelpRequests : public ::testing::TestWithParam<std::pair<Words, std::string>> {};

TEST_P(HelpRequests, GiveTheUsageOfTheCommandAskedAbout) {
  const auto& [line, usage] = GetParam();
  const auto outcome = parse_command_line(line);
  ASSERT_TRUE(std::holds_alternative<HelpRequest>(outcome)) << joined(line);
  EXPECT_THAT(std::get<HelpRequest>(outcome).text, HasSubstr(usage)) << joined(line);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, HelpRequests,
    ::testing::Values(
        std::pair{Words{"--help"}, "Usage: vesk [OPTIONS]"}, std::pair{Words{"-h"}, "VeskApp command line controller"},
        std::pair{Words{"help"}, "Usage: vesk [OPTIONS]"}, std::pair{Words{"help", "nav"}, "Usage: vesk nav"},
        std::pair{Words{"nav", "--help"}, "Usage: vesk nav [OPTIONS] <URL>"},
        std::pair{Words{"download", "-h"}, "Usage: vesk download"},
        std::pair{Words{"server", "--port", "abc", "-h"}, "Usage: vesk server"},
        std::pair{Words{"server", "help", "stop"}, "Usage: vesk server stop"},
        std::pair{Words{"server", "stop", "--help"}, "Usage: vesk server stop"},
        std::pair{Words{"profile", "help"}, "Usage: vesk profile"},
        std::pair{Words{"profiles", "create", "--help"}, "Usage: vesk profiles create [OPTIONS] <NAME>"},
        std::pair{Words{"instance", "help", "start"}, "--browser-binary"},
        std::pair{Words{"snap", "-dh"}, "--max-tokens"}, std::pair{Words{"eval", "--help", "x"}, "[ARGS]..."},
        std::pair{Words{"fill", "#q", "--help"}, "Usage: vesk fill [OPTIONS] [SELECTOR] [ARGS]..."}));

TEST(HelpRequests, ProgramHelpListsEveryCommandWordInOrder) {
  const auto outcome = parse_command_line({"--help"});
  ASSERT_TRUE(std::holds_alternative<HelpRequest>(outcome));
  const std::string& text = std::get<HelpRequest>(outcome).text;
  std::size_t position = 0;
  for (const auto word : kCommandWords) {
    const auto found = text.find("\n  " + std::string(word) + " ", position);
    ASSERT_NE(found, std::string::npos) << word;
    position = found;
  }
}

TEST(HelpRequests, ComeOnlyBeforeAListHasStarted) {
  const auto outcome = parse_command_line({"fill", "#q", "text", "--help"});
  ASSERT_TRUE(std::holds_alternative<Cli>(outcome));
  EXPECT_EQ(std::get<ActionArgs>(std::get<Cli>(outcome).args).args, (Words{"text", "--help"}));
}

TEST(UsageErrors, SuggestNothingForWordsFarFromAnyKnownOne) {
  const auto outcome = parse_command_line({"xyzzy"});
  ASSERT_TRUE(std::holds_alternative<UsageError>(outcome));
  EXPECT_THAT(std::get<UsageError>(outcome).text, Not(HasSubstr("tip:")));
}

}  // namespace
}  // namespace vesk::cli
