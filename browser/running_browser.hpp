#pragma once
// A started Chromium with its DevTools client, tab registry and method table: what
// veskbrowser serves requests with. It puts the layers together: chromium/ (process and
// pipe), core/ (browser and tabs), trackers/ (registered in trackers/tab_trackers.cpp) and
// methods/ (registered in methods/all_methods.cpp). Destroying it kills Chromium's process group.

#include <chrono>
#include <filesystem>
#include <memory>
#include <string_view>

#include "base/error.hpp"
#include "browser/core/browser.hpp"
#include "browser/chromium/chromium_process.hpp"
#include "browser/chromium/devtools_client.hpp"
#include "browser/methods/all_methods.hpp"

namespace vesk::browser {

class RunningBrowser {
 public:
  // Starts Chromium and waits (up to `ready_timeout`) until it answers on the pipe.
  static Result<std::unique_ptr<RunningBrowser>> start(const ChromiumLaunch& launch,
                                                       std::chrono::milliseconds ready_timeout);
  ~RunningBrowser();
  RunningBrowser(const RunningBrowser&) = delete;
  RunningBrowser& operator=(const RunningBrowser&) = delete;

  MethodResult serve(std::string_view method, const Json& params);

  // Whether Chromium still answers a browser-level command within `timeout`.
  bool responsive(std::chrono::milliseconds timeout);
  [[nodiscard]] bool closed() const { return client_->closed(); }
  [[nodiscard]] pid_t pid() const { return process_.pid(); }
  Browser& browser() { return *browser_; }
  DevToolsClient& client() { return *client_; }
  void kill() { process_.kill(); }

 private:
  RunningBrowser(ChromiumProcess process, std::filesystem::path work_dir);

  ChromiumProcess process_;
  std::unique_ptr<DevToolsClient> client_;
  std::unique_ptr<Browser> browser_;
  MethodTable methods_;
};

}  // namespace vesk::browser
