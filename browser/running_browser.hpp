#pragma once
// A started Chromium with its DevTools transport, tab registry and method table: what
// veskbrowser serves requests with. Destroying it kills Chromium's process group.

#include <chrono>
#include <filesystem>
#include <memory>
#include <string_view>

#include "base/error.hpp"
#include "browser/browser.hpp"
#include "browser/chromium_process.hpp"
#include "browser/devtools_transport.hpp"
#include "browser/methods.hpp"

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
  [[nodiscard]] bool closed() const { return transport_->closed(); }
  [[nodiscard]] pid_t pid() const { return process_.pid(); }
  Browser& browser() { return *browser_; }
  DevToolsTransport& transport() { return *transport_; }
  void kill() { process_.kill(); }

 private:
  RunningBrowser(ChromiumProcess process, std::filesystem::path work_dir);

  ChromiumProcess process_;
  std::unique_ptr<DevToolsTransport> transport_;
  std::unique_ptr<Browser> browser_;
  MethodTable methods_;
};

}  // namespace vesk::browser
