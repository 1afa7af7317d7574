#include "platform/process.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <thread>

#include "platform/program_lookup.hpp"

namespace vesk {
namespace {

using namespace std::chrono_literals;

// Polls `condition` until it holds or a generous deadline passes.
bool eventually(const std::function<bool()>& condition, std::chrono::seconds limit = 20s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(10ms);
  }
  return condition();
}

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vesk-process-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  [[nodiscard]] const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

void write_script(const std::filesystem::path& path, const std::string& body, bool executable = true) {
  std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
  std::filesystem::permissions(path, executable ? std::filesystem::perms::owner_all
                                                : std::filesystem::perms::owner_read |
                                                      std::filesystem::perms::owner_write);
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Kills whatever a test started, also when an assertion fails half-way.
struct KillOnExit {
  std::vector<Pid> pids;
  ~KillOnExit() {
    for (Pid pid : pids) (void)kill_process_tree(pid);
  }
};

TEST(FindProgram, SearchOrder) {
  TempDir beside;
  TempDir on_path_a;
  TempDir on_path_b;
  write_script(beside.path() / "both", "true");
  write_script(on_path_a.path() / "both", "true");
  write_script(on_path_a.path() / "path_only", "true", /*executable=*/false);
  write_script(on_path_b.path() / "path_only", "true");
  std::filesystem::create_directory(on_path_a.path() / "a_directory");
  const std::string path_list = on_path_a.path().string() + ":" + on_path_b.path().string();

  struct Case {
    std::string name;
    std::optional<std::filesystem::path> expected;
  };
  const Case cases[] = {
      {"both", beside.path() / "both"},                       // beside the executable wins
      {"path_only", on_path_b.path() / "path_only"},          // not executable in a: skipped
      {"a_directory", std::nullopt},                          // directories do not count
      {"missing", std::nullopt},
      {"", std::nullopt},
      {"./relative/name", std::filesystem::path("./relative/name")},  // a path is used as given
  };
  for (const auto& c : cases) {
    EXPECT_EQ(find_program(c.name, beside.path(), path_list), c.expected) << c.name;
  }
}

TEST(SpawnDetached, ChildGetsArgumentsOwnSessionAndNullStreams) {
  TempDir dir;
  const auto out = dir.path() / "out";
  // Reports its arguments, whether it leads its own session, and what its stdio is.
  write_script(dir.path() / "report",
               "streams=$(readlink /proc/$$/fd/0 /proc/$$/fd/1 /proc/$$/fd/2)\n"
               "{ printf '%s\\n' \"$@\"; ps -o sid= -p $$; echo $$; echo \"$streams\"; } > \"$OUT\".tmp\n"
               "mv \"$OUT\".tmp \"$OUT\"");
  ::setenv("OUT", out.c_str(), 1);
  KillOnExit cleanup;
  auto pid = spawn_detached((dir.path() / "report").string(), {"first arg", "--second=2", ""});
  ASSERT_TRUE(pid.has_value()) << pid.error().text();
  cleanup.pids.push_back(*pid);
  ASSERT_TRUE(eventually([&] { return std::filesystem::exists(out); }));

  std::istringstream lines(read_file(out));
  std::vector<std::string> got;
  for (std::string line; std::getline(lines, line);) got.push_back(line);
  ASSERT_EQ(got.size(), 8u) << read_file(out);
  EXPECT_EQ(got[0], "first arg");
  EXPECT_EQ(got[1], "--second=2");
  EXPECT_EQ(got[2], "");
  // Session id equals its own pid: it leads a new session.
  EXPECT_EQ(std::stoul(got[3]), *pid);
  EXPECT_EQ(std::stoul(got[4]), *pid);
  EXPECT_EQ(got[5], "/dev/null");
  EXPECT_EQ(got[6], "/dev/null");
  EXPECT_EQ(got[7], "/dev/null");
}

TEST(SpawnDetached, DoesNotPassOnOurDescriptors) {
  TempDir dir;
  const auto out = dir.path() / "out";
  write_script(dir.path() / "fds", "ls /proc/self/fd > \"$OUT\".tmp && mv \"$OUT\".tmp \"$OUT\"");
  ::setenv("OUT", out.c_str(), 1);
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);  // not close-on-exec
  KillOnExit cleanup;
  auto pid = spawn_detached((dir.path() / "fds").string(), {});
  ::close(pipe_fds[0]);
  ::close(pipe_fds[1]);
  ASSERT_TRUE(pid.has_value()) << pid.error().text();
  cleanup.pids.push_back(*pid);
  ASSERT_TRUE(eventually([&] { return std::filesystem::exists(out); }));
  // 0, 1, 2, and the one ls itself opens to list the directory.
  std::istringstream listing(read_file(out));
  std::vector<int> fds;
  for (int fd; listing >> fd;) fds.push_back(fd);
  for (int fd : fds) EXPECT_TRUE(fd <= 3) << "descriptor " << fd << " leaked into the child";
}

TEST(SpawnDetached, MissingProgramIsAnError) {
  auto by_name = spawn_detached("vesk-no-such-program-anywhere", {});
  ASSERT_FALSE(by_name.has_value());
  EXPECT_EQ(by_name.error().kind(), ErrorKind::NotFound);
  EXPECT_NE(by_name.error().text().find("vesk-no-such-program-anywhere"), std::string::npos);

  auto by_path = spawn_detached("/nonexistent/dir/prog", {});
  ASSERT_FALSE(by_path.has_value());
  EXPECT_EQ(by_path.error().kind(), ErrorKind::NotFound);
}

TEST(ProcessInspection, RunningProcess) {
  KillOnExit cleanup;
  const auto before = std::chrono::system_clock::now();
  auto pid = spawn_detached("sleep", {"600"});
  ASSERT_TRUE(pid.has_value()) << pid.error().text();
  cleanup.pids.push_back(*pid);
  const auto after = std::chrono::system_clock::now();

  EXPECT_TRUE(process_is_alive(*pid));
  ASSERT_TRUE(eventually([&] {
    auto image = process_image_path(*pid);
    return image && image->filename() == "sleep";
  }));
  auto started = process_start_time(*pid);
  ASSERT_TRUE(started.has_value());
  // Start times have clock-tick resolution; allow a second either side.
  EXPECT_GE(*started, before - 1s);
  EXPECT_LE(*started, after + 1s);

  EXPECT_EQ(current_pid(), static_cast<Pid>(::getpid()));
  auto self = current_executable_path();
  ASSERT_TRUE(self.has_value());
  EXPECT_EQ(self->filename(), "platform_tests");
  EXPECT_EQ(process_image_path(current_pid()), *self);
}

TEST(ProcessInspection, ZombieIsNotAlive) {
  pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ASSERT_GT(child, 0);
  // Not reaped yet: it stays a zombie until waitpid below.
  EXPECT_TRUE(eventually([&] { return !process_is_alive(static_cast<Pid>(child)); }));
  EXPECT_TRUE(std::filesystem::exists("/proc/" + std::to_string(child)));
  ::waitpid(child, nullptr, 0);
}

TEST(ProcessInspection, PidsThatNameNoProcessOfOurs) {
  for (Pid pid : {Pid{0}, Pid{1}, Pid{0x80000000u}, Pid{0xFFFFFFFFu}}) {
    EXPECT_FALSE(process_is_alive(pid)) << pid;
    EXPECT_FALSE(process_image_path(pid).has_value()) << pid;
    EXPECT_FALSE(process_start_time(pid).has_value()) << pid;
    EXPECT_TRUE(kill_process_tree(pid).has_value()) << pid;  // nothing to kill
  }
}

TEST(KillProcessTree, KillsDescendantsOutsideTheGroup) {
  TempDir dir;
  const auto pids_file = dir.path() / "pids";
  // One child stays in the group, one escapes into a session of its own; both must die.
  write_script(dir.path() / "tree",
               "sleep 600 & in_group=$!\n"
               "setsid sleep 600 & escaped=$!\n"
               "echo $in_group $escaped > \"$OUT\".tmp && mv \"$OUT\".tmp \"$OUT\"\n"
               "wait");
  ::setenv("OUT", pids_file.c_str(), 1);
  KillOnExit cleanup;
  auto root = spawn_detached((dir.path() / "tree").string(), {});
  ASSERT_TRUE(root.has_value()) << root.error().text();
  cleanup.pids.push_back(*root);
  ASSERT_TRUE(eventually([&] { return std::filesystem::exists(pids_file); }));
  std::istringstream pids(read_file(pids_file));
  Pid in_group = 0;
  Pid escaped = 0;
  pids >> in_group >> escaped;
  cleanup.pids.push_back(in_group);
  cleanup.pids.push_back(escaped);
  ASSERT_TRUE(eventually([&] {
    auto image = process_image_path(escaped);
    return image && image->filename() == "sleep";
  }));

  ASSERT_TRUE(kill_process_tree(*root).has_value());
  for (Pid pid : {*root, in_group, escaped}) {
    EXPECT_TRUE(eventually([&] { return !process_is_alive(pid); })) << pid;
  }
  // Gone already: still a success.
  EXPECT_TRUE(kill_process_tree(*root).has_value());
}

}  // namespace
}  // namespace vesk
