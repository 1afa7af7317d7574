// The fake_browser program as other tests use it: started with the browser command line
// against a real server, it registers, answers from its script and records what it got.

#include <gtest/gtest.h>

#include <sstream>

#include "support/harness.hpp"
#include "support/raw_wire.hpp"

namespace vesk::test {
namespace {

TEST(FakeBrowserProgram, TakesTheBrowserCommandLineAndRecordsArgumentsAndRequests) {
  TestEnv env;
  auto server = env.start_server();
  ASSERT_TRUE(server);
  env.set_env("FAKE_BROWSER_SCRIPT", R"({"page.title": {"result": {"title": "scripted"}}})");
  env.set_env("FAKE_BROWSER_HELLO", "frame");
  const std::vector<std::string> args = {
      "--vesk-host=127.0.0.1", "--vesk-port=" + std::to_string(server->port), "--vesk-token=tok",
      "--vesk-instance-id=inst_prog0001", "--vesk-profile-id=p1",
      "--user-data-dir=" + (env.root() / "profile").string(), "--headless=new"};
  ChildProcess& browser = env.start(TestEnv::fake_browser_binary(), args);
  ASSERT_TRUE(server->process->wait_for_err("INFO registered Chromium connection for inst_prog0001\n"));

  const std::string request = request_text("cli_prog", "page.title", {{"tab", nullptr}});
  auto answer = call_raw(server->port, request);
  ASSERT_TRUE(answer);
  EXPECT_EQ(Json::parse(*answer)["result"]["title"], "scripted");
  EXPECT_EQ(env.recorded_requests(), std::vector<std::string>{request});

  std::istringstream argv_lines(read_file(env.record_dir() / "argv.jsonl"));
  std::string first_line;
  std::getline(argv_lines, first_line);
  Json recorded = Json::parse(first_line);
  EXPECT_EQ(recorded["pid"], browser.pid());
  std::vector<std::string> recorded_args = recorded["argv"];
  EXPECT_EQ(std::vector<std::string>(recorded_args.begin() + 1, recorded_args.end()), args);

  // The broker's end of the connection closing ends the program.
  server->process->kill();
  EXPECT_EQ(browser.wait_exit(), 0);
}

}  // namespace
}  // namespace vesk::test
