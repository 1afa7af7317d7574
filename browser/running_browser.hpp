#pragma once
// A started Chromium with its DevTools client, tab registry and method table: what
// veskbrowser serves requests with. It puts the layers together: chromium/ (process and
// pipe), core/ (browser and tabs), trackers/ (registered in trackers/tab_trackers.cpp) and
// methods/ (registered in methods/all_methods.cpp). Destroying it kills Chromium's process group.

#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string_view>

#include "base/error.hpp"
#include "browser/core/browser.hpp"
#include "browser/chromium/chromium_process.hpp"
#include "browser/chromium/devtools_client.hpp"
#include "browser/methods/all_methods.hpp"
#include "browser/methods/profiles.hpp"

namespace vesk::browser {

class RunningBrowser {
 public:
  // Starts Chromium and waits (up to `ready_timeout`) until it answers on the pipe.
  static Result<std::unique_ptr<RunningBrowser>> start(const ChromiumLaunch& launch,
                                                       std::chrono::milliseconds ready_timeout);
  ~RunningBrowser();
  RunningBrowser(const RunningBrowser&) = delete;
  RunningBrowser& operator=(const RunningBrowser&) = delete;

  // The browser methods, and the profile methods, which act on this object itself:
  // "profile.open" restarts Chromium on another profile.
  MethodResult serve(std::string_view method, const Json& params);
  // The methods served here rather than through the shared method table: the profile
  // methods, and the batch and the capture, which serve other methods through serve().
  static constexpr std::array<std::string_view, 6> kOwnMethods = {"profile.list", "profile.create", "profile.delete",
                                                                   "profile.open", "quick",          "page.capture"};

  // Where the profiles live and which one runs now (before the first profile method).
  void set_profiles(ProfilePlace place) { profiles_ = std::move(place); }
  // Called with the new Chromium's pid whenever a profile switch replaced Chromium.
  void on_new_chromium(std::function<void(pid_t)> observer) { on_new_chromium_ = std::move(observer); }

  // Whether Chromium still answers a browser-level command within `timeout`.
  bool responsive(std::chrono::milliseconds timeout);
  [[nodiscard]] bool closed() const { return client_->closed(); }
  [[nodiscard]] pid_t pid() const { return process_.pid(); }
  Browser& browser() { return *browser_; }
  DevToolsClient& client() { return *client_; }
  void kill() { process_.kill(); }

 private:
  RunningBrowser(ChromiumProcess process, std::filesystem::path work_dir, ChromiumLaunch launch);
  MethodResult open_profile(const Json& params);

  ChromiumLaunch launch_;
  ProfilePlace profiles_;
  std::function<void(pid_t)> on_new_chromium_;
  ChromiumProcess process_;
  std::unique_ptr<DevToolsClient> client_;
  std::unique_ptr<Browser> browser_;
  MethodTable methods_;
};

}  // namespace vesk::browser
