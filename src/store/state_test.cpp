#include "store/state.hpp"

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "base/log.hpp"
#include "platform/files.hpp"

namespace vesk {
namespace {

namespace fs = std::filesystem;

// A fresh data directory (not yet created) under a temporary root, removed afterwards.
class StateFile : public ::testing::Test {
 protected:
  void SetUp() override {
    auto root = create_temporary_directory("vesk-state-");
    ASSERT_TRUE(root) << root.error().text();
    root_ = *root;
    data_dir_ = root_ / "home" / ".veskapp";
    state_path_ = data_dir_ / "state.json";
  }
  void TearDown() override { fs::remove_all(root_); }

  void write_file(std::string_view text) {
    fs::create_directories(data_dir_);
    std::ofstream(state_path_, std::ios::binary) << text;
  }
  std::string read_file() const {
    std::ifstream in(state_path_, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // Loads the file and saves it again; returns the text written.
  std::string load_and_save(std::string_view text) {
    write_file(text);
    auto state = load_state(state_path_);
    EXPECT_TRUE(state) << state.error().text();
    if (!state) return "";
    auto saved = save_state(state_path_, *state);
    EXPECT_TRUE(saved) << saved.error().text();
    return read_file();
  }

  fs::path root_;
  fs::path data_dir_;
  fs::path state_path_;
};

constexpr const char* kDefaultText =
    "{\n"
    "  \"version\": 1,\n"
    "  \"server\": null,\n"
    "  \"profiles\": [],\n"
    "  \"instances\": []\n"
    "}";

// Every record kind, both optional forms, and strings that need (and must not get) escapes.
constexpr const char* kFullText = R"({
  "version": 1,
  "server": {
    "host": "127.0.0.1",
    "port": 51234,
    "pid": 4242,
    "startedAt": "2025-03-01T09:15:02.1234567Z"
  },
  "profiles": [
    {
      "id": "default",
      "name": "Default \"main\" profil é",
      "path": "C:\\Users\\me\\AppData\\Local\\VeskApp\\browser-profiles\\default",
      "createdAt": "2025-03-01T09:15:02Z",
      "lastUsedAt": null
    },
    {
      "id": "work",
      "name": "tab\tnew\nline )" "\x7f" R"( / )" "\u2028" R"( \u0001",
      "path": "/home/me/.veskapp/browser-profiles/work",
      "createdAt": "2025-03-01T09:15:02Z",
      "lastUsedAt": "2025-03-02T10:00:00.5Z"
    }
  ],
  "instances": [
    {
      "id": "inst_a1b2c3d4",
      "profileId": "default",
      "mode": "headless",
      "browserBinary": "C:\\Program Files\\VeskBrowser\\veskbrowser.exe",
      "pid": 777,
      "host": "127.0.0.1",
      "port": 40000,
      "token": "AbCdEfGhIjKlMnOpQrStUvWxYz0123456789AbCdEfGhIjKl",
      "status": "running",
      "createdAt": "2025-03-01T09:15:03Z"
    },
    {
      "id": "inst_zzzzzzzz",
      "profileId": "work",
      "mode": "headed",
      "pid": null,
      "host": "127.0.0.1",
      "port": 65535,
      "token": "t",
      "status": "stopped",
      "createdAt": "2025-03-01T09:15:04Z"
    }
  ]
})";

TEST_F(StateFile, AMissingFileGivesTheDefaultsAndSavingThemWritesSixLines) {
  auto state = load_state(state_path_);
  ASSERT_TRUE(state) << state.error().text();
  EXPECT_EQ(state->version, 1u);
  EXPECT_FALSE(state->server);
  EXPECT_TRUE(state->profiles.empty());
  EXPECT_TRUE(state->instances.empty());
  EXPECT_FALSE(fs::exists(data_dir_));

  ASSERT_TRUE(save_state(state_path_, *state));
  EXPECT_EQ(read_file(), kDefaultText);
}

TEST_F(StateFile, RoundTripsByteForByte) {
  EXPECT_EQ(load_and_save(kFullText), kFullText);
}

TEST_F(StateFile, LoadingNormalisesWhatItDoesNotKeep) {
  struct Case {
    const char* name;
    const char* input;
    const char* saved;
  } cases[] = {
      {"unknown members vanish, version 7 stays, server may be missing",
       R"({"extra":{"a":1},"instances":[],"version":7,"profiles":[]})",
       "{\n  \"version\": 7,\n  \"server\": null,\n  \"profiles\": [],\n  \"instances\": []\n}"},
      {"pid and browserBinary missing: pid written null, browserBinary still absent",
       R"({"version":1,"server":null,"profiles":[{"id":"p","name":"n","path":"/p","createdAt":"t","x":1}],
           "instances":[{"createdAt":"t","status":"running","token":"k","port":1,"host":"h","mode":"headed",
                         "profileId":"p","id":"i","browserBinary":null,"y":[]}]})",
       R"({
  "version": 1,
  "server": null,
  "profiles": [
    {
      "id": "p",
      "name": "n",
      "path": "/p",
      "createdAt": "t",
      "lastUsedAt": null
    }
  ],
  "instances": [
    {
      "id": "i",
      "profileId": "p",
      "mode": "headed",
      "pid": null,
      "host": "h",
      "port": 1,
      "token": "k",
      "status": "running",
      "createdAt": "t"
    }
  ]
})"},
      {"server members reordered, a repeated key keeps its last value",
       R"({"version":1,"server":{"startedAt":"s","pid":2,"port":3,"host":"x","host":"h"},"profiles":[],"instances":[]})",
       R"({
  "version": 1,
  "server": {
    "host": "h",
    "port": 3,
    "pid": 2,
    "startedAt": "s"
  },
  "profiles": [],
  "instances": []
})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(load_and_save(c.input), c.saved);
  }
}

TEST_F(StateFile, UnreadableFilesFailWithTheReason) {
  const std::string instance =
      R"({"id":"i","profileId":"p","mode":"headless","host":"h","port":1,"token":"k","status":"running","createdAt":"t"})";
  const auto with_instance = [](std::string record) {
    return R"({"version":1,"profiles":[],"instances":[)" + record + "]}";
  };
  const auto replaced = [&](std::string_view from, std::string_view to) {
    std::string text = instance;
    text.replace(text.find(from), from.size(), to);
    return with_instance(text);
  };
  struct Case {
    std::string text;
    std::string error;  // a piece of the message
  } cases[] = {
      {"", "parse error at line 1, column 1"},
      {"{\"version\":1,\"profiles\":[]", "parse error"},
      {R"({"version":1,"profiles":[]})", "missing field `instances` at line 1 column 27"},
      {"{\n  \"version\": 1,\n  \"profiles\": []\n}\n", "missing field `instances` at line 4 column 1"},
      {R"({"profiles":[],"instances":[]})", "missing field `version`"},
      {R"({"version":-1,"profiles":[],"instances":[]})", "`version`"},
      {R"({"version":4294967296,"profiles":[],"instances":[]})", "`version`"},
      {R"({"version":1,"server":5,"profiles":[],"instances":[]})", "`server`"},
      {R"({"version":1,"server":{"host":"h","port":1,"pid":1},"profiles":[],"instances":[]})",
       "missing field `startedAt` in server"},
      {R"({"version":1,"profiles":{},"instances":[]})", "`profiles`"},
      {R"([1])", "expected a state object"},
      {"{\"version\":1,\"profiles\":[],\"instances\":[],\"x\":\"\xff\"}", "stream did not contain valid UTF-8"},
      {replaced("\"headless\"", "\"Headless\""), "`Headless` for `mode` in instances[0]"},
      {replaced("\"running\"", "\"Running\""), "`status`"},
      {replaced("\"running\"", "\"paused\""), "`status`"},
      {replaced("\"port\":1", "\"port\":65536"), "`port` in instances[0]"},
      {replaced("\"token\":\"k\",", ""), "missing field `token` in instances[0]"},
      {replaced("\"host\":\"h\"", "\"host\":7"), "`host`"},
      {with_instance("[]"), "instances[0]"},
  };
  for (const auto& c : cases) {
    write_file(c.text);
    auto state = load_state(state_path_);
    ASSERT_FALSE(state) << c.text;
    EXPECT_NE(state.error().text().find(c.error), std::string::npos) << c.text << " gave " << state.error().text();
    EXPECT_EQ(read_file(), c.text);  // left unchanged
  }
}

TEST_F(StateFile, AFilePastTheSizeBoundIsRefusedAtOnceWithAWayOut) {
  write_file("");
  fs::resize_file(state_path_, kMaxStateFileBytes + 1);  // sparse: never read
  auto state = load_state(state_path_);
  ASSERT_FALSE(state);
  const std::string error = state.error().text();
  EXPECT_NE(error.find("state file " + state_path_.string() + " is " + std::to_string(kMaxStateFileBytes + 1) +
                       " bytes, more than the "),
            std::string::npos)
      << error;
  EXPECT_NE(error.find("move it aside (mv " + state_path_.string() + " "), std::string::npos) << error;
  EXPECT_FALSE(update_state(state_path_, [](State&) -> Result<bool> { return true; }));
  EXPECT_EQ(fs::file_size(state_path_), kMaxStateFileBytes + 1) << "left as it was";
}

TEST_F(StateFile, EveryTruncationOfARealFileLoadsOrFailsCleanly) {
  const std::string text = kFullText;
  for (std::size_t length = 0; length <= text.size(); ++length) {
    write_file(text.substr(0, length));
    auto state = load_state(state_path_);
    if (length < text.size()) {
      EXPECT_FALSE(state) << "prefix of " << length << " bytes loaded";
    } else {
      EXPECT_TRUE(state);
    }
  }
}

TEST_F(StateFile, SavingIsPrivateAndAtomic) {
  ASSERT_TRUE(save_state(state_path_, State{}));
#ifndef _WIN32  // POSIX modes; on Windows the data directory's access list applies
  struct stat info{};
  ASSERT_EQ(::stat(data_dir_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  ASSERT_EQ(::stat(state_path_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  // An existing world-readable file is replaced by a private one.
  ::chmod(state_path_.c_str(), 0644);
  ASSERT_TRUE(save_state(state_path_, State{}));
  ASSERT_EQ(::stat(state_path_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
#endif
  // Nothing but state.json is left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(data_dir_), fs::directory_iterator()), 1);
}

// What the system says when a directory stands where a file is to be created.
#ifdef _WIN32
constexpr std::string_view kDirectoryInTheWay = "Access denied";
#else
constexpr std::string_view kDirectoryInTheWay = "Is a directory";
#endif

TEST_F(StateFile, AFailedSaveLeavesThePreviousFileIntact) {
  write_file(kFullText);
  State changed;
  changed.version = 9;

  // A directory where the temporary file should go makes the write fail, even as root.
  fs::create_directory(temporary_state_path(state_path_));
  auto saved = save_state(state_path_, changed);
  ASSERT_FALSE(saved);
  EXPECT_NE(saved.error().text().find("failed to write state file"), std::string::npos) << saved.error().text();
  EXPECT_NE(saved.error().text().find("failed to write " + temporary_state_path(state_path_).string()),
            std::string::npos) << saved.error().text();
  EXPECT_NE(saved.error().text().find(kDirectoryInTheWay), std::string::npos) << saved.error().text();
  EXPECT_EQ(read_file(), kFullText);
  fs::remove(temporary_state_path(state_path_));

  // A browser path that is not UTF-8 fails before anything is written.
  auto state = load_state(state_path_);
  ASSERT_TRUE(state);
  state->instances[0].browser_binary = "/opt/\xff/veskbrowser";
  saved = save_state(state_path_, *state);
  ASSERT_FALSE(saved);
  EXPECT_EQ(saved.error().text(), "path contains invalid UTF-8 characters");
  EXPECT_EQ(read_file(), kFullText);
}

TEST_F(StateFile, WritesTheDebugLines) {
  const auto saved_level = verbosity_level;
  verbosity_level = 1;
  testing::internal::CaptureStderr();
  (void)load_state(state_path_);
  (void)save_state(state_path_, State{});
  (void)load_state(state_path_);
  const std::string log = testing::internal::GetCapturedStderr();
  verbosity_level = saved_level;
  const std::string path = state_path_.string();
  for (const std::string& line : {"state file " + path + " does not exist; using defaults",
                                 "saving state to " + path + " with 0 profiles and 0 instances",
                                 "loading state from " + path}) {
    EXPECT_NE(log.find("DEBUG " + line + "\n"), std::string::npos) << log;
  }
}

TEST_F(StateFile, ConcurrentChangesAreAllKept) {
  constexpr int kThreads = 8;
  constexpr int kEach = 10;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        auto changed = update_state(state_path_, [&](State& state) -> Result<bool> {
          InstanceRecord record;
          record.id = "inst_" + std::to_string(t) + "_" + std::to_string(i);
          state.instances.push_back(record);
          return true;
        });
        ASSERT_TRUE(changed) << changed.error().text();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  auto state = load_state(state_path_);
  ASSERT_TRUE(state) << state.error().text();
  EXPECT_EQ(state->instances.size(), static_cast<std::size_t>(kThreads * kEach));

  // A change that fails or declines saves nothing.
  const std::string before = read_file();
  EXPECT_FALSE(update_state(state_path_, [](State& s) -> Result<bool> {
    s.instances.clear();
    return fail("no");
  }));
  EXPECT_TRUE(update_state(state_path_, [](State& s) -> Result<bool> {
    s.instances.clear();
    return false;
  }));
  EXPECT_EQ(read_file(), before);
}

TEST(StateJson, RecordsPrintWithSortedMembers) {
  InstanceRecord instance;
  instance.id = "inst_1";
  instance.profile_id = "default";
  instance.host = "127.0.0.1";
  instance.port = 9;
  instance.token = "k";
  instance.status = InstanceStatus::Running;
  instance.created_at = "t";
  EXPECT_EQ(to_json(instance).dump(),
            R"({"createdAt":"t","host":"127.0.0.1","id":"inst_1","mode":"headless","pid":null,"port":9,)"
            R"("profileId":"default","status":"running","token":"k"})");
  instance.browser_binary = "/usr/bin/veskbrowser";
  instance.pid = 5;
  EXPECT_EQ(to_json(instance)["browserBinary"], "/usr/bin/veskbrowser");
  EXPECT_EQ(to_json(instance)["pid"], 5);
  EXPECT_EQ(to_json(ServerRecord{"127.0.0.1", 51234, 7, "s"}).dump(),
            R"({"host":"127.0.0.1","pid":7,"port":51234,"startedAt":"s"})");
}

}  // namespace
}  // namespace vesk
