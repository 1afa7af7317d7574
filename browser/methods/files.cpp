// File methods: "page.pdf", "page.screenshot", "upload", "download".
//
// Files are written where "output" says (relative paths against veskbrowser's working
// directory; an existing directory gets a generated name), or, without "output", in the
// "vesk-outputs" folder of the profile. Results name the absolute "path" and the "bytes".
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <system_error>

#include "base/timestamp.hpp"
#include "browser/methods/actions.hpp"
#include "browser/core/base64.hpp"
#include "browser/core/element_lookup.hpp"
#include "browser/core/method_table.hpp"
#include "browser/core/page_script.hpp"
#include "browser/js/page_scripts.hpp"

namespace vesk::browser {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::unexpected<MethodError> file_error(const fs::path& path, const std::string& why) {
  return method_error("fileError", "failed to write " + path.string() + ": " + why +
                                       "; choose another output path");
}

// Kept beside the profile, not in the work folder, which is cleared at each start.
fs::path output_root(Browser& browser) { return browser.work_dir().parent_path() / "vesk-outputs"; }

// "page-20261210T121314.123Z.pdf"-style names that sort by time.
std::string generated_name(const std::string& stem, const std::string& extension) {
  std::string stamp = utc_timestamp();
  for (char& c : stamp) {
    if (c == ':') c = '-';
  }
  return stem + "-" + stamp + extension;
}

fs::path output_path(Browser& browser, const Json& params, const std::string& stem, const std::string& extension) {
  auto output = string_member(params, "output");
  if (!output || output->empty()) return output_root(browser) / generated_name(stem, extension);
  fs::path path(*output);
  std::error_code ec;
  if (path.is_relative()) path = fs::current_path(ec) / path;
  if (output->ends_with("/") || fs::is_directory(path, ec)) path /= generated_name(stem, extension);
  return path.lexically_normal();
}

std::expected<std::uint64_t, MethodError> write_bytes(const fs::path& path, const std::string& bytes) {
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  if (ec) return file_error(path, "cannot create its folder (" + ec.message() + ")");
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return file_error(path, "cannot open it for writing");
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) return file_error(path, "the write did not complete");
  return bytes.size();
}

MethodResult save_base64(const fs::path& path, const Json& reply, Json result) {
  auto bytes = decode_base64(reply.value("data", ""));
  if (!bytes) return method_error("actionFailed", "Chromium sent data that is not base64");
  auto written = write_bytes(path, *bytes);
  if (!written) return std::unexpected(written.error());
  result["path"] = path.string();
  result["bytes"] = *written;
  return result;
}

MethodResult pdf(Browser& browser, Tab& tab, const Json& params) {
  const bool landscape = option_flag(params, "landscape");
  const fs::path path = output_path(browser, params, "page", ".pdf");
  auto printed = browser.call(tab, "Page.printToPDF", {{"landscape", landscape}, {"printBackground", true}}, 25s);
  if (!printed) return std::unexpected(from_cdp(printed.error(), "failed to print the page to PDF"));
  return save_base64(path, *printed, {{"tab", tab.id}, {"landscape", landscape}});
}

MethodResult screenshot(Browser& browser, Tab& tab, const Json& params) {
  const fs::path path = output_path(browser, params, "screenshot", ".png");
  std::string extension = path.extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::string format = extension == ".jpg" || extension == ".jpeg" ? "jpeg" : (extension == ".webp" ? "webp" : "png");
  Json capture = {{"format", format}};
  const bool full = option_flag(params, "full");
  if (full) {
    auto metrics = browser.call(tab, "Page.getLayoutMetrics", Json::object());
    if (!metrics) return std::unexpected(from_cdp(metrics.error(), "failed to measure the page"));
    const Json size = metrics->value("cssContentSize", metrics->value("contentSize", Json::object()));
    // Chromium cannot capture beyond its texture size; longer pages are cut there.
    const double width = std::min(size.value("width", 1280.0), 16384.0);
    const double height = std::min(size.value("height", 800.0), 16384.0);
    capture["clip"] = {{"x", 0}, {"y", 0}, {"width", width}, {"height", height}, {"scale", 1}};
    capture["captureBeyondViewport"] = true;
  }
  auto shot = browser.call(tab, "Page.captureScreenshot", capture, 25s);
  if (!shot) return std::unexpected(from_cdp(shot.error(), "failed to take a screenshot"));
  return save_base64(path, *shot, {{"tab", tab.id}, {"full", full}, {"format", format}});
}

// A file name that stays inside its folder.
std::string safe_name(const std::string& name, const std::string& fallback) {
  std::string base = fs::path(name).filename().string();
  if (base.empty() || base == "." || base == "..") return fallback;
  return base;
}

MethodResult upload(Browser& browser, Tab& tab, const Json& params) {
  const Json files = params.value("files", Json::array());
  if (!files.is_array() || files.empty()) {
    return invalid_argument("upload needs \"files\": entries with \"name\" and base64 \"data\"");
  }
  // The element is checked before anything is written or clicked: an element that is no
  // file input and cannot open a file chooser fails at once, with the page untouched.
  const std::string selector = string_member(params, "selector").value_or("input[type=file]");
  auto element = find_element(browser, tab, selector);
  if (!element) return std::unexpected(element.error());
  auto target = call_on_element(browser, tab, *element, std::string(js::upload_target));
  if (!target) return std::unexpected(target.error());
  const bool is_file_input = target->value("fileInput", false);
  if (!is_file_input && !target->value("mayOpenChooser", false)) {
    return invalid_argument("element " + selector + " is a <" + target->value("tag", "") +
                            "> that is no file input, and the page has no file input it could open, so "
                            "nothing was clicked; upload to the page's <input type=file> (`vesk count "
                            "'input[type=file]'` finds them)");
  }
  // Each upload gets a fresh private folder, each file a numbered subfolder, so that two
  // files with the same name never overwrite each other.
  static int upload_number = 0;
  const fs::path folder = browser.work_dir() / "uploads" / std::to_string(++upload_number);
  std::vector<std::string> paths;
  Json uploaded = Json::array();
  for (std::size_t i = 0; i < files.size(); ++i) {
    const Json& entry = files[i];
    const std::string name = safe_name(entry.value("name", ""), "upload.bin");
    auto bytes = decode_base64(entry.value("data", ""));
    if (!bytes) return invalid_argument("the data of upload file \"" + name + "\" is not valid base64");
    const fs::path path = folder / std::to_string(i + 1) / name;
    auto written = write_bytes(path, *bytes);
    if (!written) return std::unexpected(written.error());
    paths.push_back(path.string());
    uploaded.push_back({{"name", name}, {"bytes", *written}, {"mime", entry.value("mime", "application/octet-stream")}});
  }
  std::int64_t input_node = element->backend_node_id;
  if (!is_file_input) {
    // A button that opens a file chooser: catch the chooser and fill its input.
    const std::string session = tab.session_id;
    auto chooser = browser.client().subscribe([session](const CdpEvent& e) {
      return e.session_id == session && e.method == "Page.fileChooserOpened";
    });
    auto intercept = browser.call(tab, "Page.setInterceptFileChooserDialog", {{"enabled", true}});
    if (!intercept) return std::unexpected(from_cdp(intercept.error(), "failed to catch the file chooser"));
    auto clicked = click_element(browser, tab, *element);
    auto opened = chooser->wait_for([](const CdpEvent&) { return true; }, deadline_in(5s));
    browser.call(tab, "Page.setInterceptFileChooserDialog", {{"enabled", false}});
    if (!clicked) return std::unexpected(clicked.error());
    if (!opened || !opened->params.contains("backendNodeId")) {
      return invalid_argument("element " + selector +
                              " is not a file input and clicking it opened no file chooser; give the "
                              "selector of the <input type=file>");
    }
    input_node = opened->params["backendNodeId"].get<std::int64_t>();
  }
  // A file input found directly lives in its frame's session; one caught from a chooser is
  // reported on the tab's.
  const std::string& input_session = input_node == element->backend_node_id ? element->session_id : tab.session_id;
  auto set = browser.call_in(tab, input_session, "DOM.setFileInputFiles", {{"files", paths}, {"backendNodeId", input_node}});
  if (!set) {
    if (set.error().kind == CdpFailureKind::Protocol) {
      return invalid_argument("the file input " + selector + " refused the files (" + set.error().message +
                              "); an input without `multiple` takes one file");
    }
    return std::unexpected(from_cdp(set.error(), "failed to set the files"));
  }
  return Json{{"uploaded", uploaded}, {"element", selector}, {"files", uploaded.size()}, {"tab", tab.id}};
}

// "report.pdf" -> "report (1).pdf", the first name not taken in the folder.
fs::path unique_path(const fs::path& wanted) {
  std::error_code ec;
  if (!fs::exists(wanted, ec)) return wanted;
  const std::string stem = wanted.stem().string();
  const std::string extension = wanted.extension().string();
  for (int n = 1;; ++n) {
    fs::path candidate = wanted.parent_path() / (stem + " (" + std::to_string(n) + ")" + extension);
    if (!fs::exists(candidate, ec)) return candidate;
  }
}

MethodResult download(Browser& browser, const Json& params) {
  auto url = string_member(params, "url");
  if (!url || url->empty()) url = string_member(params, "target");
  if (!url || url->empty()) return invalid_argument("download needs the \"url\" to fetch");
  const bool overwrite = option_flag(params, "overwrite");
  const bool wait = option_flag(params, "wait");
  std::error_code ec;
  std::optional<fs::path> output;
  if (auto given = string_member(params, "output"); given && !given->empty()) {
    output = fs::path(*given).is_relative() ? fs::current_path(ec) / *given : fs::path(*given);
    if (fs::exists(*output, ec) && !fs::is_directory(*output, ec) && !overwrite) {
      return invalid_argument(output->string() + " already exists; pass --overwrite to replace it");
    }
  }
  fs::path folder = output_root(browser) / "downloads";
  if (auto dir = string_member(params, "dir"); dir && !dir->empty()) {
    folder = fs::path(*dir).is_relative() ? fs::current_path(ec) / *dir : fs::path(*dir);
  }
  if (output && fs::is_directory(*output, ec)) {
    folder = *output;
    output.reset();
  }

  Downloads& downloads = browser.downloads();
  fs::create_directories(downloads.staging_dir(), ec);
  auto allowed = browser.call_browser("Browser.setDownloadBehavior",
                                      {{"behavior", "allowAndName"},
                                       {"downloadPath", downloads.staging_dir().string()},
                                       {"eventsEnabled", true}});
  if (!allowed) return std::unexpected(from_cdp(allowed.error(), "failed to allow downloads"));
  const std::size_t index = downloads.started_count();
  downloads.claim(index);
  // A background tab fetches the URL, so the user's page stays where it is.
  auto helper = browser.call_browser("Target.createTarget", {{"url", normalize_url(*url)}, {"background", true}});
  if (!helper) return std::unexpected(from_cdp(helper.error(), "failed to start the download"));
  const std::string helper_target = helper->value("targetId", "");
  auto close_helper = [&] { browser.call_browser("Target.closeTarget", {{"targetId", helper_target}}); };
  auto started = downloads.wait_for_start(index, deadline_in(15s));
  if (!started) {
    close_helper();
    return method_error("navigationFailed", *url + " did not start a download within 15 s (it may have opened as "
                                                   "a page, or failed to load); to save a page use `vesk pdf` or "
                                                   "`vesk html`");
  }
  const std::string name = safe_name(started->suggested_filename, "download.bin");
  const fs::path destination = output ? *output : (overwrite ? folder / name : unique_path(folder / name));
  downloads.set_destination(started->guid, destination);
  Json result = {{"url", started->url}, {"suggestedFilename", started->suggested_filename}};
  if (!wait) {
    close_helper();
    result["destination"] = destination.string();
    result["state"] = "inProgress";
    result["note"] = "the download continues in the background; pass --wait to answer when it is complete";
    return result;
  }
  DownloadState ended = downloads.wait_for_end(started->guid, deadline_in(std::chrono::minutes(55)));
  close_helper();
  if (ended.state == "canceled") {
    return method_error("downloadFailed", "the download of " + *url + " was canceled (a network error, or the "
                                          "server refused it); check the URL and try again");
  }
  if (ended.state != "completed") {
    return method_error("timeout", "the download of " + *url + " did not complete in time");
  }
  if (!ended.move_error.empty()) return method_error("fileError", ended.move_error);
  result["path"] = destination.string();
  result["bytes"] = fs::file_size(destination, ec);
  result["state"] = "completed";
  return result;
}

}  // namespace

void add_file_methods(MethodTable& table) {
  table["page.pdf"] = tab_method(pdf);
  table["page.screenshot"] = tab_method(screenshot);
  table["upload"] = tab_method(upload);
  table["download"] = download;
}

}  // namespace vesk::browser
