#include "browser/trackers/console.hpp"

#include <chrono>
#include <cmath>

#include "base/timestamp.hpp"

namespace vesk::browser {

namespace {

// A primitive or an object as the console shows it. `nested` values (inside an object
// preview) show strings quoted, as the console does.
std::string render_value(const Json& object, bool nested);

std::string quoted(const std::string& text) { return "'" + text + "'"; }

std::string render_preview(const Json& preview) {
  const bool array = preview.value("subtype", "") == "array";
  std::string out = array ? "[" : "{";
  bool first = true;
  for (const auto& property : preview.value("properties", Json::array())) {
    if (!first) out += ", ";
    first = false;
    if (!array) out += property.value("name", "") + ": ";
    const std::string type = property.value("type", "");
    const std::string value = property.value("value", "");
    if (type == "string") out += quoted(value);
    else if (type == "object" && property.value("subtype", "") == "null") out += "null";
    else out += value;  // numbers, booleans, and the short description of nested objects
  }
  if (preview.value("overflow", false)) out += first ? "…" : ", …";
  return out + (array ? "]" : "}");
}

std::string render_value(const Json& object, bool nested) {
  if (!object.is_object()) return object.dump();
  const std::string type = object.value("type", "");
  if (type == "string") {
    const std::string text = object.value("value", "");
    return nested ? quoted(text) : text;
  }
  if (type == "undefined") return "undefined";
  if (object.contains("unserializableValue")) return object.value("unserializableValue", "");
  if (type == "number" || type == "boolean") {
    if (object.contains("description")) return object.value("description", "");
    if (!object.contains("value")) return type;
    const Json& value = object["value"];
    // A whole number reads as the page wrote it: 42, not 42.0.
    if (value.is_number_float() && std::abs(value.get<double>()) < 1e15 &&
        value.get<double>() == std::trunc(value.get<double>())) {
      return std::to_string(static_cast<long long>(value.get<double>()));
    }
    return value.dump();
  }
  if (type == "object") {
    const std::string subtype = object.value("subtype", "");
    if (subtype == "null") return "null";
    // Errors show their message and stack, as the console prints them.
    if (subtype != "error" && object.contains("preview")) return render_preview(object["preview"]);
  }
  if (object.contains("description")) return object.value("description", "");
  if (object.contains("value")) return object["value"].is_string() ? object.value("value", "") : object["value"].dump();
  return type;
}

// The number in a RemoteObject, for %d and %f.
std::optional<double> number_of(const Json& object) {
  if (object.value("type", "") == "number" && object.contains("value") && object["value"].is_number()) {
    return object["value"].get<double>();
  }
  if (object.value("type", "") == "string") {
    try {
      return std::stod(object.value("value", ""));
    } catch (...) {
      return std::nullopt;
    }
  }
  return std::nullopt;
}

std::string render_number(double value, bool integer) {
  if (std::isnan(value)) return "NaN";
  if (integer) return std::to_string(static_cast<long long>(std::trunc(value)));
  Json number = value;
  return number.dump();
}

}  // namespace

int console_level_rank(const std::string& level) {
  if (level == "debug") return 0;
  if (level == "info") return 1;
  if (level == "warning") return 2;
  if (level == "error") return 3;
  return -1;
}

std::string console_level_of(const std::string& type) {
  if (type == "error" || type == "assert") return "error";
  if (type == "warning") return "warning";
  if (type == "debug") return "debug";
  return "info";
}

std::string render_console_args(const Json& args) {
  if (!args.is_array() || args.empty()) return "";
  std::string out;
  std::size_t next = 1;
  const Json& head = args[0];
  if (head.value("type", "") == "string") {
    const std::string format = head.value("value", "");
    for (std::size_t i = 0; i < format.size(); ++i) {
      if (format[i] != '%' || i + 1 == format.size()) {
        out += format[i];
        continue;
      }
      const char spec = format[i + 1];
      if (spec == '%') {
        out += '%';
        ++i;
        continue;
      }
      if (std::string_view("sdifoOc").find(spec) == std::string_view::npos || next >= args.size()) {
        out += format[i];
        continue;
      }
      const Json& value = args[next++];
      ++i;
      if (spec == 'c') continue;  // CSS for the rest of the line: no text
      if (spec == 'd' || spec == 'i' || spec == 'f') {
        auto number = number_of(value);
        out += number ? render_number(*number, spec != 'f') : "NaN";
      } else {
        out += render_value(value, false);
      }
    }
  } else {
    out = render_value(head, false);
  }
  for (; next < args.size(); ++next) out += " " + render_value(args[next], false);
  return out;
}

std::string console_time_text(double time_ms) {
  const auto since_epoch = std::chrono::duration_cast<std::chrono::system_clock::duration>(
      std::chrono::duration<double, std::milli>(time_ms));
  return format_timestamp(std::chrono::system_clock::time_point(since_epoch));
}

std::expected<void, CdpFailure> enable_runtime(const TabTrackerContext& context) {
  CallOptions options;
  options.session_id = context.session_id;
  auto enabled = context.client.call("Runtime.enable", Json::object(), options);
  if (!enabled) return std::unexpected(enabled.error());
  return {};
}

std::expected<void, CdpFailure> ConsoleTracker::start(const TabTrackerContext& context) {
  return enable_runtime(context);
}

void ConsoleTracker::on_event(const CdpEvent& event) {
  if (event.method != "Runtime.consoleAPICalled") return;
  const Json& params = event.params;
  ConsoleMessage message;
  message.type = params.value("type", "log");
  message.level = console_level_of(message.type);
  message.text = render_console_args(params.value("args", Json::array()));
  if (message.text.size() > ConsoleTracker::kMaxText) {
    message.text.resize(ConsoleTracker::kMaxText);
    message.text += "…";
  }
  message.time_ms = params.value("timestamp", 0.0);
  const Json frames = params.value("stackTrace", Json::object()).value("callFrames", Json::array());
  if (!frames.empty()) {
    message.url = frames[0].value("url", "");
    message.line = frames[0].value("lineNumber", -1) + 1;
    message.column = frames[0].value("columnNumber", -1) + 1;
  }
  add(std::move(message));
}

std::unique_ptr<TabTracker> make_console_tracker(const TabTrackerContext&) {
  return std::make_unique<ConsoleTracker>();
}

}  // namespace vesk::browser
