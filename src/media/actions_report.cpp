#include "media/actions_report.hpp"

#include <cstdio>

namespace vesk::media {
namespace {

constexpr std::size_t kMaxShownJson = 4000;  // a long result is cut in the report, not in the log

std::string shown_json(const Json& value) {
  std::string text = value.dump(2, ' ', false, Json::error_handler_t::replace);
  if (text.size() > kMaxShownJson) text = text.substr(0, kMaxShownJson) + "\n… (" + std::to_string(text.size()) + " characters in all)";
  return html_escape(text);
}

// Base64 holds only letters, digits, "+", "/" and "=": anything else is dropped, so that
// the data URL can never end the attribute it stands in.
std::string clean_base64(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/' || c == '=') out += c;
  }
  return out;
}

constexpr const char* kStyle = R"(
body { font: 14px system-ui, sans-serif; margin: 24px; color: #1f2328; }
h1 { font-size: 20px; }
.step { border: 1px solid #d0d7de; border-radius: 6px; margin: 16px 0; padding: 12px 16px; }
.step.failed { border-color: #cf222e; }
.head { display: flex; gap: 16px; align-items: baseline; }
.method { font: bold 15px ui-monospace, monospace; }
.when { color: #656d76; }
.error { color: #cf222e; font-weight: bold; }
details { margin: 6px 0; }
pre { background: #f6f8fa; padding: 8px; overflow: auto; max-height: 320px; }
img { max-width: 100%; border: 1px solid #d0d7de; margin-top: 8px; }
)";

}  // namespace

std::string html_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string ActionsReport::html(const std::string& finished) const {
  std::string out = "<!doctype html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>vesk actions report, tab " +
                    html_escape(tab_id_) + "</title>\n<style>" + kStyle + "</style></head><body>\n";
  out += "<h1>Actions on tab " + html_escape(tab_id_) + "</h1>\n<p class=\"when\">Recorded from " + html_escape(started_) +
         " to " + html_escape(finished) + ": " + std::to_string(entries_.size()) + " methods.</p>\n";
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const ActionEntry& entry = entries_[i];
    const bool failed = !entry.error.is_null();
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.1f ms", entry.duration_ms);
    out += std::string("<section class=\"step") + (failed ? " failed" : "") + "\" id=\"step-" + std::to_string(i + 1) + "\">\n";
    out += "<div class=\"head\"><span>" + std::to_string(i + 1) + ".</span><span class=\"method\">" + html_escape(entry.method) +
           "</span><span class=\"when\">" + html_escape(entry.time) + " · " + duration + "</span></div>\n";
    out += "<details><summary>params</summary><pre>" + shown_json(entry.params) + "</pre></details>\n";
    if (failed) {
      out += "<p class=\"error\">" + html_escape(entry.error.value("code", std::string())) + ": " +
             html_escape(entry.error.value("message", std::string())) + "</p>\n";
    } else {
      out += "<details><summary>result</summary><pre>" + shown_json(entry.result) + "</pre></details>\n";
    }
    if (!entry.screenshot.empty()) {
      out += "<img alt=\"the page after step " + std::to_string(i + 1) + "\" src=\"data:image/jpeg;base64," +
             clean_base64(entry.screenshot) + "\">\n";
    }
    out += "</section>\n";
  }
  out += "</body></html>\n";
  return out;
}

}  // namespace vesk::media
