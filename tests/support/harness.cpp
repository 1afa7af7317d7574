#include "harness.hpp"

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/files.hpp"

namespace vesk::test {

namespace {

using Clock = std::chrono::steady_clock;

// Variables that would point the child at the developer's own data directory.
bool inherited_env_allowed(std::string_view entry) {
  for (std::string_view name : {"HOME=", "LOCALAPPDATA=", "USERPROFILE=", "VESK_SESSION="}) {
    if (entry.starts_with(name)) return false;
  }
  return true;
}

}  // namespace

std::size_t count_of(const std::string& text, const std::string& needle) {
  std::size_t count = 0;
  for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
  return count;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

ChildProcess::ChildProcess(std::vector<std::string> argv, std::optional<AttachedProcess::Started> started)
    : argv_(std::move(argv)) {
  if (!started) {
    exit_status_ = 127;
    open_streams_ = 0;
    return;
  }
  process_ = std::move(started->process);
  out_reader_ = std::thread([this, pipe = std::move(started->output)]() mutable { read_stream(std::move(pipe), out_); });
  err_reader_ = std::thread([this, pipe = std::move(started->errors)]() mutable { read_stream(std::move(pipe), err_); });
}

ChildProcess::~ChildProcess() {
  kill();
  {
    std::lock_guard guard(mutex_);
    stop_reading_ = true;  // a grandchild may still hold the pipe open
  }
  if (out_reader_.joinable()) out_reader_.join();
  if (err_reader_.joinable()) err_reader_.join();
}

void ChildProcess::read_stream(PipeReader pipe, std::string& into) {
  char block[8192];
  for (;;) {
    {
      std::lock_guard guard(mutex_);
      if (stop_reading_) break;
    }
    auto got = pipe.read_some(block, sizeof block, milliseconds(100));
    if (!got && got.error().kind() == ErrorKind::TimedOut) continue;
    if (!got || *got == 0) break;
    {
      std::lock_guard guard(mutex_);
      into.append(block, *got);
    }
    changed_.notify_all();
  }
  pipe.close();
  {
    std::lock_guard guard(mutex_);
    --open_streams_;
  }
  changed_.notify_all();
}

std::string ChildProcess::out() const {
  std::lock_guard guard(mutex_);
  return out_;
}

std::string ChildProcess::err() const {
  std::lock_guard guard(mutex_);
  return err_;
}

namespace {
std::size_t occurrences(const std::string& text, const std::string& needle) {
  std::size_t count = 0;
  for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) ++count;
  return count;
}
}  // namespace

bool ChildProcess::wait_for(const std::string& needle, std::size_t count, const std::string& stream,
                            milliseconds wait) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, wait, [&] { return occurrences(stream, needle) >= count; });
}

bool ChildProcess::wait_for_out(const std::string& needle, milliseconds wait) const {
  return wait_for(needle, 1, out_, wait);
}

bool ChildProcess::wait_for_err(const std::string& needle, milliseconds wait) const {
  return wait_for(needle, 1, err_, wait);
}

bool ChildProcess::wait_for_err_count(const std::string& needle, std::size_t count, milliseconds wait) const {
  return wait_for(needle, count, err_, wait);
}

bool ChildProcess::wait_for_output_end(milliseconds wait) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, wait, [&] { return open_streams_ == 0; });
}

std::optional<int> ChildProcess::wait_exit(milliseconds wait) {
  if (!exit_status_) exit_status_ = process_.wait_exit(wait);
  return exit_status_;
}

void ChildProcess::kill() {
  if (exit_status_) return;
  process_.kill();
  exit_status_ = process_.wait_exit(milliseconds(0));
}

std::string TestEnv::program_file(const std::string& name) { return name + VESK_EXECUTABLE_SUFFIX; }

fs::path TestEnv::binary_dir() {
  if (const char* dir = std::getenv("VESK_BINARY_DIR"); dir && *dir) return dir;
  // Run by hand, or where CTest gives no directory: the build directory is one up from
  // the test binary (build/tests).
  auto self = current_executable_path();
  return self ? self->parent_path().parent_path() : fs::current_path();
}

TestEnv::TestEnv() {
  auto root = create_temporary_directory("vesk-test-");
  if (!root) ADD_FAILURE() << root.error().text();
  root_ = root.value_or(fs::temp_directory_path() / "vesk-test-unusable");
  fs::create_directories(home());
  fs::create_directories(record_dir());
  env_["HOME"] = home().string();
  env_["FAKE_BROWSER_RECORD_DIR"] = record_dir().string();
}

TestEnv::~TestEnv() {
  if (::testing::Test::HasFailure()) {
    for (const auto& child : children_) {
      std::string command;
      for (const auto& arg : child->argv()) command += arg + " ";
      std::cerr << "---- standard error of " << command << "(pid " << child->pid() << ")\n"
                << child->err() << "---- standard output\n" << child->out() << "----\n";
    }
  }
  stop_recorded_processes();
  children_.clear();  // kills and reaps every started process
  std::error_code ec;
  fs::remove_all(root_, ec);
}

void TestEnv::set_env(const std::string& name, const std::string& value) { env_[name] = value; }

ChildProcess& TestEnv::start(const fs::path& program, const std::vector<std::string>& args) {
  std::vector<std::string> argv{program.string()};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> env;
  for (const auto& entry : current_environment()) {
    std::string name = entry.substr(0, entry.find('='));
    if (inherited_env_allowed(entry) && !env_.contains(name)) env.push_back(entry);
  }
  for (const auto& [name, value] : env_) env.push_back(name + "=" + value);

  auto started = AttachedProcess::start(program, args, env);
  if (!started) ADD_FAILURE() << started.error().text();
  children_.push_back(std::make_unique<ChildProcess>(
      argv, started ? std::optional(std::move(*started)) : std::nullopt));
  return *children_.back();
}

RunResult TestEnv::run_vesk(const std::vector<std::string>& args, milliseconds wait) {
  ChildProcess& child = start_vesk(args);
  RunResult result;
  if (auto status = child.wait_exit(wait)) {
    result.status = *status;
    child.wait_for_output_end(wait);
  } else {
    ADD_FAILURE() << "vesk did not finish within the deadline";
    child.kill();
  }
  result.out = child.out();
  result.err = child.err();
  return result;
}

std::optional<ServerHandle> TestEnv::start_server(const std::vector<std::string>& args) {
  std::vector<std::string> full{"server"};
  full.insert(full.end(), args.begin(), args.end());
  ChildProcess& server = start_vesk(full);
  const std::string ready = "vesk server ready on ";
  if (!server.wait_for_out("\n", kGenerousWait)) {
    ADD_FAILURE() << "the server printed no ready line; its log:\n" << server.err();
    return std::nullopt;
  }
  std::string out = server.out();
  std::string line = out.substr(0, out.find('\n'));
  auto colon = line.rfind(':');
  if (!line.starts_with(ready) || colon == std::string::npos) {
    ADD_FAILURE() << "unexpected first line from the server: " << line;
    return std::nullopt;
  }
  ServerHandle handle{&server, line.substr(ready.size(), colon - ready.size()), 0};
  handle.port = static_cast<std::uint16_t>(std::stoul(line.substr(colon + 1)));
  return handle;
}

Json TestEnv::read_state() const {
  std::string text = read_file(state_path());
  if (text.empty()) return nullptr;
  Json state = Json::parse(text, nullptr, false);
  return state.is_discarded() ? Json(nullptr) : state;
}

void TestEnv::write_state(const Json& state) const {
  fs::create_directories(data_dir());
  std::ofstream(state_path(), std::ios::binary | std::ios::trunc) << state.dump(2);
}

std::vector<std::string> TestEnv::recorded_requests() const {
  std::vector<std::string> lines;
  std::istringstream in(read_file(record_dir() / "requests.jsonl"));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

// Processes started by vesk itself (a background server, browser instances) are known
// only through the state file. They are killed when they run one of this build's
// programs, so a reused pid never takes an unrelated process with it.
void TestEnv::stop_recorded_processes() const {
  Json state = read_state();
  if (!state.is_object()) return;
  std::vector<Pid> pids;
  if (state.contains("server") && state["server"].is_object()) {
    pids.push_back(state["server"].value("pid", 0u));
  }
  if (state.contains("instances") && state["instances"].is_array()) {
    for (const Json& instance : state["instances"]) {
      if (instance.is_object() && instance.contains("pid") && instance["pid"].is_number_unsigned()) {
        pids.push_back(instance["pid"].get<Pid>());
      }
    }
  }
  const std::string ours = fs::weakly_canonical(binary_dir()).string();
  for (Pid pid : pids) {
    if (pid <= 1 || pid == current_pid()) continue;
    auto exe = process_image_path(pid);
    if (!exe || !fs::weakly_canonical(*exe).string().starts_with(ours)) continue;
    (void)kill_process_tree(pid);
  }
}

}  // namespace vesk::test
