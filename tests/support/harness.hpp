#pragma once
// The integration-test harness: each test gets a temporary HOME of its own (so the data
// directory is HOME/.veskapp), starts real processes (`vesk server --port 0`, any other
// vesk command, the fake browser) with their standard output and error captured, and
// waits for what they print with generous deadlines. At teardown every process it
// started is killed by pid, and so are the server and browser pids recorded in the test's
// state file when they run one of our build's programs. When the test has failed, the
// standard error of every process (the server's log) is printed.
//
// Binaries come from $VESK_BINARY_DIR (set by CTest), else the build directory above the
// test binary: vesk there, fake_browser in tests/.

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/process.hpp"

namespace vesk::test {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using std::chrono::milliseconds;

inline constexpr milliseconds kGenerousWait{30000};

// A started child process whose standard output and error are read into memory.
class ChildProcess {
 public:
  // `started` is nullopt when the start failed: a stand-in that has "exited" with 127.
  ChildProcess(std::vector<std::string> argv, std::optional<AttachedProcess::Started> started);
  ~ChildProcess();  // kill()
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  [[nodiscard]] Pid pid() const { return process_.pid(); }
  [[nodiscard]] const std::vector<std::string>& argv() const { return argv_; }
  [[nodiscard]] std::string out() const;
  [[nodiscard]] std::string err() const;

  // Wait until the captured output contains `needle`; false when the wait passes.
  bool wait_for_out(const std::string& needle, milliseconds wait = kGenerousWait) const;
  bool wait_for_err(const std::string& needle, milliseconds wait = kGenerousWait) const;
  // Until standard error holds `needle` at least `count` times.
  bool wait_for_err_count(const std::string& needle, std::size_t count,
                          milliseconds wait = kGenerousWait) const;
  // The exit status (128 + signal for a killed process), or nullopt while it still runs.
  std::optional<int> wait_exit(milliseconds wait = kGenerousWait);
  // Waits until both output streams have ended (after exit), so out()/err() are complete.
  bool wait_for_output_end(milliseconds wait = kGenerousWait) const;

  // Kills the process (and its process group or tree) and waits for it. Idempotent.
  void kill();

 private:
  void read_stream(PipeReader pipe, std::string& into);
  bool wait_for(const std::string& needle, std::size_t count, const std::string& stream,
                milliseconds wait) const;

  std::vector<std::string> argv_;
  AttachedProcess process_;
  std::optional<int> exit_status_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::string out_;  // guarded by mutex_
  std::string err_;  // guarded by mutex_
  int open_streams_ = 2;  // guarded by mutex_
  bool stop_reading_ = false;  // guarded by mutex_
  std::thread out_reader_;
  std::thread err_reader_;
};

struct RunResult {
  int status = -1;  // exit status, or -1 when it had to be killed at the deadline
  std::string out;
  std::string err;
};

struct ServerHandle {
  ChildProcess* process = nullptr;
  std::string host;
  std::uint16_t port = 0;
};

class TestEnv {
 public:
  TestEnv();
  ~TestEnv();
  TestEnv(const TestEnv&) = delete;
  TestEnv& operator=(const TestEnv&) = delete;

  [[nodiscard]] const fs::path& root() const { return root_; }
  [[nodiscard]] fs::path home() const { return root_ / "home"; }
  [[nodiscard]] fs::path data_dir() const { return home() / ".veskapp"; }
  [[nodiscard]] fs::path state_path() const { return data_dir() / "state.json"; }
  // A directory for the fake browser's records (FAKE_BROWSER_RECORD_DIR is set to it).
  [[nodiscard]] fs::path record_dir() const { return root_ / "records"; }

  // Extra environment for every process started after this call.
  void set_env(const std::string& name, const std::string& value);

  ChildProcess& start(const fs::path& program, const std::vector<std::string>& args);
  ChildProcess& start_vesk(const std::vector<std::string>& args) { return start(vesk_binary(), args); }
  // Runs to completion; killed (status -1) if it outlives `wait`.
  RunResult run_vesk(const std::vector<std::string>& args, milliseconds wait = kGenerousWait);

  // Starts `vesk server <args>` and waits for its ready line; nullopt (with a test
  // failure recorded) when it exits or stays silent.
  std::optional<ServerHandle> start_server(const std::vector<std::string>& args = {"--port", "0"});

  // state.json parsed; null when missing or unreadable.
  [[nodiscard]] Json read_state() const;
  void write_state(const Json& state) const;

  // The requests.jsonl lines the fake browser programs recorded.
  [[nodiscard]] std::vector<std::string> recorded_requests() const;

  static fs::path binary_dir();
  static fs::path vesk_binary() { return binary_dir() / program_file("vesk"); }
  static fs::path fake_browser_binary() { return binary_dir() / "tests" / program_file("fake_browser"); }
  // A program that waits until it is killed, for a process that is not one of ours.
  static fs::path idle_program_binary() { return binary_dir() / program_file("idle_program"); }
  // A program's file name on this system ("vesk", "vesk.exe").
  static std::string program_file(const std::string& name);

 private:
  void stop_recorded_processes() const;
  fs::path root_;
  std::map<std::string, std::string> env_;
  std::vector<std::unique_ptr<ChildProcess>> children_;
};

// Reads the whole file; empty when missing.
std::string read_file(const fs::path& path);

// How many times `needle` occurs in `text` (overlapping occurrences counted).
std::size_t count_of(const std::string& text, const std::string& needle);

}  // namespace vesk::test
