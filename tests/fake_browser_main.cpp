// fake_browser: the scripted browser peer of support/fake_browser.hpp as a program, so
// process-level tests can start it themselves or hand it to `vesk` as the browser binary.
//
// Command line, as the instance launcher passes it (other arguments are ignored):
//   --vesk-host=H --vesk-port=P --vesk-token=T --vesk-instance-id=I --vesk-profile-id=ID
//   --user-data-dir=DIR --headed | --headless=new
// Environment:
//   FAKE_BROWSER_RECORD_DIR  if set, lines are appended there (each in one write, flushed):
//                            argv.jsonl      {"pid":N,"argv":[…]} once per start
//                            hello.jsonl     the broker's answer to the hello
//                            requests.jsonl  every request exactly as received, one per line
//   FAKE_BROWSER_SCRIPT      the answer script (JSON text), or
//   FAKE_BROWSER_SCRIPT_FILE a file holding it
//   FAKE_BROWSER_HELLO=frame say hello in the older {"type":"hello",…} frame form
//   FAKE_BROWSER_LINGER=1    stay alive after the connection ends, until killed
//   FAKE_BROWSER_HELLO_DELAY_MS=N  wait N ms before connecting (a browser slow to start)
// Exit status: 0 when an accepted connection ended; 1 when the hello was rejected, the
// broker was unreachable, or the command line was unusable.

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <chrono>
#include <vector>

#include "platform/files.hpp"
#include "platform/process.hpp"
#include "support/fake_browser.hpp"

namespace {

using vesk::test::Json;

std::string env_or(const char* name, std::string fallback) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : fallback;
}

void append_line(const char* file, const std::string& text) {
  std::string dir = env_or("FAKE_BROWSER_RECORD_DIR", "");
  if (dir.empty()) return;
  // One write per line keeps lines whole when several fake browsers share the directory.
  (void)vesk::append_to_file(std::filesystem::path(dir) / file, text + "\n");
}

Json load_script() {
  std::string text = env_or("FAKE_BROWSER_SCRIPT", "");
  if (std::string file = env_or("FAKE_BROWSER_SCRIPT_FILE", ""); text.empty() && !file.empty()) {
    std::ifstream in(file);
    std::stringstream content;
    content << in.rdbuf();
    text = content.str();
  }
  if (text.empty()) return Json::object();
  Json script = Json::parse(text, nullptr, false);
  if (script.is_discarded()) std::cerr << "fake_browser: ignoring a script that is not JSON\n";
  return script.is_object() ? script : Json::object();
}

bool take_value(std::string_view arg, std::string_view prefix, std::string& out) {
  if (!arg.starts_with(prefix)) return false;
  out = std::string(arg.substr(prefix.size()));
  return true;
}

[[noreturn]] void finish(int status) {
  if (env_or("FAKE_BROWSER_LINGER", "") == "1") {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
  }
  std::exit(status);
}

}  // namespace

int main(int argc, char** argv) {
  Json args = Json::array();
  for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
  append_line("argv.jsonl", Json{{"pid", vesk::current_pid()}, {"argv", args}}.dump());

  vesk::test::FakeBrowserConfig config;
  std::string port_text, ignored;
  std::string instance_id, token;
  bool has_instance = false, has_token = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    take_value(arg, "--vesk-host=", config.host);
    take_value(arg, "--vesk-port=", port_text);
    has_token = take_value(arg, "--vesk-token=", token) || has_token;
    has_instance = take_value(arg, "--vesk-instance-id=", instance_id) || has_instance;
  }
  config.instance_id = has_instance ? std::optional(instance_id) : std::nullopt;
  config.token = has_token ? std::optional(token) : std::nullopt;
  char* end = nullptr;
  unsigned long port = std::strtoul(port_text.c_str(), &end, 10);
  if (port_text.empty() || *end != '\0' || port > 65535) {
    std::cerr << "fake_browser: --vesk-port= must give a port number, got \"" << port_text << "\"\n";
    finish(1);
  }
  config.port = static_cast<std::uint16_t>(port);
  if (env_or("FAKE_BROWSER_HELLO", "") == "frame") config.hello_form = vesk::test::HelloForm::Frame;
  config.script = load_script();
  config.keep_requests = false;  // recorded to requests.jsonl when asked, never read here

  if (const std::string delay = env_or("FAKE_BROWSER_HELLO_DELAY_MS", ""); !delay.empty()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::strtoul(delay.c_str(), nullptr, 10)));
  }
  std::string error;
  auto browser = vesk::test::FakeBrowser::connect(config, &error);
  if (!browser) {
    std::cerr << "fake_browser: " << error << "\n";
    finish(1);
  }
  append_line("hello.jsonl", browser->hello_answer().dump());
  if (!browser->accepted()) {
    std::cerr << "fake_browser: hello rejected: " << browser->hello_answer().dump() << "\n";
    finish(1);
  }
  browser->on_request([](const std::string& text) { append_line("requests.jsonl", text); });
  browser->serve();
  finish(0);
}
