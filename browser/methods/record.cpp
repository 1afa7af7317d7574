#include "browser/methods/record.hpp"

#include <charconv>
#include <fstream>

#include "base/timestamp.hpp"
#include "browser/core/base64.hpp"
#include "media/actions_report.hpp"
#include "media/video_encoder.hpp"
#include "browser/methods/output_files.hpp"
#include "browser/methods/reading_methods.hpp"
#include "browser/trackers/screencast.hpp"

namespace vesk::browser {
namespace {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

constexpr int kDefaultFps = 25;
constexpr std::size_t kMaxReportedActions = 1000;
constexpr auto kTraceTimeout = std::chrono::seconds(20);

// The video being recorded. The watch is declared last, so that it ends first: no frame
// reaches an encoder that is being finished.
struct VideoRecording {
  std::mutex mutex;
  std::unique_ptr<media::VideoEncoder> encoder;  // guarded by mutex
  std::string failure;                    // guarded by mutex: the first encoding error
  SteadyClock::time_point started;
  fs::path path;
  ScreencastTracker::Watch frames;

  double elapsed() const { return std::chrono::duration<double>(SteadyClock::now() - started).count(); }
};

struct TabRecordings {
  std::unique_ptr<VideoRecording> video;
  bool tracing = false;
  std::optional<media::ActionsReport> actions;

  ~TabRecordings() {
    // A tab that closes (or a browser that stops) while recording still leaves a playable
    // file: the frames stop, then the file is finished.
    if (video) {
      video->frames.reset();
      std::lock_guard lock(video->mutex);
      if (video->encoder) (void)video->encoder->finish(video->elapsed());
    }
  }
};

std::optional<std::pair<int, int>> parse_size(std::string_view text) {
  const std::size_t x = text.find('x');
  if (x == std::string_view::npos) return std::nullopt;
  int width = 0, height = 0;
  auto [w_end, w_ec] = std::from_chars(text.data(), text.data() + x, width);
  auto [h_end, h_ec] = std::from_chars(text.data() + x + 1, text.data() + text.size(), height);
  if (w_ec != std::errc() || h_ec != std::errc() || w_end != text.data() + x || h_end != text.data() + text.size()) {
    return std::nullopt;
  }
  return std::pair{width, height};
}

// An output path from the words: absolute, or the generated default under the outputs.
std::expected<fs::path, MethodError> requested_path(Browser& browser, const std::optional<std::string>& word,
                                                    const std::string& stem, const std::string& extension) {
  if (!word) return output_root(browser) / generated_name(stem, extension);
  return absolute_path(*word, "the " + stem + " file");
}

MethodResult start_video(Browser& browser, Tab& tab, const std::vector<std::string>& words) {
  auto& recordings = tab.state<TabRecordings>();
  if (recordings.video) {
    return invalid_argument("tab " + tab.id + " is already recording to " + recordings.video->path.string() +
                            "; `vesk record stop` first (one recording per tab)");
  }
  std::optional<std::string> file;
  int fps = kDefaultFps;
  std::optional<std::pair<int, int>> size;
  for (std::size_t i = 1; i < words.size(); ++i) {
    if (words[i] == "--fps" && i + 1 < words.size()) {
      auto number = parse_number(words[++i]);
      if (!number || *number < 1 || *number > 60 || *number != static_cast<int>(*number)) {
        return invalid_argument("--fps takes a whole number from 1 to 60, not \"" + words[i] + "\"");
      }
      fps = static_cast<int>(*number);
    } else if (words[i] == "--size" && i + 1 < words.size()) {
      size = parse_size(words[++i]);
      if (!size) return invalid_argument("--size takes WIDTHxHEIGHT in pixels, such as 1280x720, not \"" + words[i] + "\"");
    } else if (!file && !words[i].starts_with("--")) {
      file = words[i];
    } else {
      return invalid_argument("record start takes [FILE] [--fps N] [--size WxH]; \"" + words[i] + "\" is not one of them");
    }
  }
  auto path = requested_path(browser, file, "recording", ".webm");
  if (!path) return std::unexpected(path.error());
  if (!size) {
    const Json metrics = unwrap(browser.call(tab, "Page.getLayoutMetrics", Json::object()), "failed to read the page size");
    const Json& viewport = metrics.value("cssVisualViewport", Json::object());
    size = std::pair{static_cast<int>(viewport.value("clientWidth", 800.0)), static_cast<int>(viewport.value("clientHeight", 600.0))};
  }
  std::error_code ec;
  fs::create_directories(path->parent_path(), ec);
  auto encoder = media::VideoEncoder::open({*path, size->first, size->second, fps});
  if (!encoder) return method_error(encoder.error().text().find("must end in") != std::string::npos ? "invalidArgument" : "fileError",
                                    encoder.error().text());
  auto video = std::make_unique<VideoRecording>();
  video->encoder = std::move(*encoder);
  video->started = SteadyClock::now();
  video->path = *path;
  // The first frame at once: the screencast sends frames only when the page paints.
  if (auto shot = browser.call(tab, "Page.captureScreenshot", Json{{"format", "jpeg"}, {"quality", 85}})) {
    if (auto jpeg = decode_base64(shot->value("data", std::string()))) (void)video->encoder->add_image(*jpeg, 0);
  }
  auto* screencast = tab.tracker<ScreencastTracker>();
  if (screencast == nullptr) return method_error("actionFailed", "tab " + tab.id + " has no screencast");
  VideoRecording* raw = video.get();
  auto watch = screencast->watch([raw](const ScreencastFrame& frame) {
    std::lock_guard lock(raw->mutex);
    if (!raw->encoder || !raw->failure.empty()) return;
    if (auto added = raw->encoder->add_image(frame.jpeg, raw->elapsed()); !added) raw->failure = added.error().text();
  });
  if (!watch) return std::unexpected(from_cdp(watch.error(), "failed to start the screencast"));
  video->frames = std::move(*watch);
  const int width = video->encoder->width();
  const int height = video->encoder->height();
  recordings.video = std::move(video);
  return Json{{"tab", tab.id}, {"recording", "video"}, {"path", path->string()}, {"fps", fps},
              {"size", std::to_string(width) + "x" + std::to_string(height)}};
}

MethodResult stop_video(Tab& tab) {
  auto& recordings = tab.state<TabRecordings>();
  if (!recordings.video) return invalid_argument("tab " + tab.id + " is not recording a video; `vesk record start [FILE]` starts one");
  std::unique_ptr<VideoRecording> video = std::move(recordings.video);
  video->frames.reset();
  std::lock_guard lock(video->mutex);
  auto summary = video->encoder->finish(video->elapsed());
  if (!summary) return method_error("fileError", summary.error().text());
  Json answer{{"tab", tab.id}, {"path", video->path.string()}, {"duration", summary->duration_seconds},
              {"frames", summary->frames}, {"bytes", summary->bytes}};
  if (!video->failure.empty()) answer["note"] = "some frames were lost: " + video->failure;
  return answer;
}

MethodResult start_trace(Browser& browser, Tab& tab) {
  auto& recordings = tab.state<TabRecordings>();
  if (recordings.tracing) return invalid_argument("tab " + tab.id + " is already tracing; `vesk record trace stop FILE` first");
  unwrap(browser.call(tab, "Tracing.start",
                      Json{{"transferMode", "ReturnAsStream"},
                           {"traceConfig",
                            {{"includedCategories",
                              {"devtools.timeline", "disabled-by-default-devtools.timeline",
                               "disabled-by-default-devtools.timeline.frame", "v8.execute", "blink.user_timing",
                               "loading", "latencyInfo", "disabled-by-default-devtools.screenshot"}}}}}),
         "failed to start the trace");
  recordings.tracing = true;
  return Json{{"tab", tab.id}, {"recording", "trace"}};
}

MethodResult stop_trace(Browser& browser, Tab& tab, const std::vector<std::string>& words) {
  auto& recordings = tab.state<TabRecordings>();
  if (!recordings.tracing) return invalid_argument("tab " + tab.id + " is not tracing; `vesk record trace start` starts a trace");
  auto path = requested_path(browser, words.size() > 2 ? std::optional(words[2]) : std::nullopt, "trace", ".json");
  if (!path) return std::unexpected(path.error());
  const std::string session = tab.session_id;
  auto complete = browser.client().subscribe([session](const CdpEvent& event) {
    return event.method == "Tracing.tracingComplete" && event.session_id == session;
  });
  recordings.tracing = false;
  unwrap(browser.call(tab, "Tracing.end", Json::object()), "failed to stop the trace");
  auto event = complete->wait_for([](const CdpEvent&) { return true; }, deadline_in(kTraceTimeout));
  if (!event) return method_error("timeout", "the trace did not complete within 20 s");
  const std::string stream = event->params.value("stream", std::string());
  std::string text;
  for (;;) {
    const Json chunk = unwrap(browser.call(tab, "IO.read", Json{{"handle", stream}, {"size", 1 << 20}}), "failed to read the trace");
    std::string data = chunk.value("data", std::string());
    if (chunk.value("base64Encoded", false)) data = decode_base64(data).value_or(std::string());
    text += data;
    if (chunk.value("eof", false)) break;
  }
  (void)browser.call(tab, "IO.close", Json{{"handle", stream}});
  auto written = write_bytes(*path, text);
  if (!written) return std::unexpected(written.error());
  return Json{{"tab", tab.id}, {"path", path->string()}, {"bytes", *written}};
}

MethodResult start_actions(Tab& tab) {
  auto& recordings = tab.state<TabRecordings>();
  if (recordings.actions) return invalid_argument("tab " + tab.id + " is already recording its actions; `vesk record actions stop FILE` first");
  recordings.actions.emplace(tab.id, utc_timestamp());
  return Json{{"tab", tab.id}, {"recording", "actions"}};
}

MethodResult stop_actions(Browser& browser, Tab& tab, const std::vector<std::string>& words) {
  auto& recordings = tab.state<TabRecordings>();
  if (!recordings.actions) return invalid_argument("tab " + tab.id + " is not recording its actions; `vesk record actions start` starts");
  auto path = requested_path(browser, words.size() > 2 ? std::optional(words[2]) : std::nullopt, "actions", ".html");
  if (!path) return std::unexpected(path.error());
  media::ActionsReport report = std::move(*recordings.actions);
  recordings.actions.reset();
  auto written = write_bytes(*path, report.html(utc_timestamp()));
  if (!written) return std::unexpected(written.error());
  return Json{{"tab", tab.id}, {"path", path->string()}, {"bytes", *written}, {"actions", report.size()}};
}

MethodResult record(Browser& browser, Tab& tab, const Json& params) {
  const auto words = words_of(params);
  const std::string first = words.empty() ? "status" : words[0];
  const std::string second = words.size() > 1 ? words[1] : "";
  if (first == "start") return start_video(browser, tab, words);
  if (first == "stop") return stop_video(tab);
  if (first == "trace" && second == "start") return start_trace(browser, tab);
  if (first == "trace" && second == "stop") return stop_trace(browser, tab, words);
  if (first == "actions" && second == "start") return start_actions(tab);
  if (first == "actions" && second == "stop") return stop_actions(browser, tab, words);
  if (first == "status") {
    auto& recordings = tab.state<TabRecordings>();
    return Json{{"tab", tab.id},
                {"video", recordings.video ? Json(recordings.video->path.string()) : Json()},
                {"trace", recordings.tracing},
                {"actions", recordings.actions.has_value()}};
  }
  return invalid_argument(
      "record takes: start [FILE] [--fps N] [--size WxH] | stop | trace start | trace stop FILE | "
      "actions start | actions stop FILE | status");
}

}  // namespace

void record_action(Browser& browser, std::string_view method, const Json& params, const MethodResult& result,
                   std::chrono::system_clock::time_point started) {
  if (method == "record" || method == "quick") return;  // the batch's commands are recorded one by one
  Tab* tab = browser.known_tab(params);
  if (tab == nullptr) return;
  auto& recordings = tab->state<TabRecordings>();
  if (!recordings.actions || recordings.actions->size() >= kMaxReportedActions) return;
  std::string screenshot;
  if (!only_reads(method)) {
    if (auto shot = browser.call(*tab, "Page.captureScreenshot", Json{{"format", "jpeg"}, {"quality", 60}},
                                 std::chrono::milliseconds(5000))) {
      screenshot = shot->value("data", std::string());
    }
  }
  media::ActionEntry entry{std::string(method), params, result ? *result : Json(),
                    result ? Json() : Json{{"code", result.error().code}, {"message", result.error().message}},
                    format_timestamp(started),
                    std::chrono::duration<double, std::milli>(std::chrono::system_clock::now() - started).count(),
                    std::move(screenshot)};
  recordings.actions->add(std::move(entry));
}

void add_record_methods(MethodTable& table) {
  table["record"] = tab_method(record, WhenDialogOpen::Serve);
}

}  // namespace vesk::browser
