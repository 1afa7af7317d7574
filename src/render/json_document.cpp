// The indented JSON text of a result. Written by hand rather than with the JSON
// library's dump: its float text is not always the shortest that reads back, and it
// throws on strings that are not valid UTF-8, where printing must never fail.
#include <charconv>
#include <cmath>

#include "render/json_text.hpp"
#include "render/render.hpp"
#include "render/stdout_writer.hpp"

namespace vesk {

namespace {

template <class Integer>
void append_integer(std::string& out, Integer value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

void append_indent(std::string& out, int level) { out.append(static_cast<size_t>(level) * 2, ' '); }

void append_value(std::string& out, const Json& value, int level) {
  switch (value.type()) {
    case Json::value_t::object: {
      if (value.empty()) {
        out += "{}";
        return;
      }
      out += "{\n";
      bool first = true;
      for (const auto& [key, member] : value.items()) {
        if (!first) out += ",\n";
        first = false;
        append_indent(out, level + 1);
        append_json_string(out, key);
        out += ": ";
        append_value(out, member, level + 1);
      }
      out += '\n';
      append_indent(out, level);
      out += '}';
      return;
    }
    case Json::value_t::array: {
      if (value.empty()) {
        out += "[]";
        return;
      }
      out += "[\n";
      bool first = true;
      for (const auto& element : value) {
        if (!first) out += ",\n";
        first = false;
        append_indent(out, level + 1);
        append_value(out, element, level + 1);
      }
      out += '\n';
      append_indent(out, level);
      out += ']';
      return;
    }
    case Json::value_t::string:
      append_json_string(out, value.get_ref<const std::string&>());
      return;
    case Json::value_t::boolean:
      out += value.get<bool>() ? "true" : "false";
      return;
    case Json::value_t::number_unsigned:
      append_integer(out, value.get<std::uint64_t>());
      return;
    case Json::value_t::number_integer:
      append_integer(out, value.get<std::int64_t>());
      return;
    case Json::value_t::number_float:
      append_json_float(out, value.get<double>());
      return;
    case Json::value_t::null:
    case Json::value_t::binary:
    case Json::value_t::discarded:
      out += "null";
      return;
  }
  out += "null";
}

}  // namespace

void append_json_float(std::string& out, double value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  const std::string_view text(buffer, static_cast<size_t>(result.ptr - buffer));
  out += text;
  if (text.find_first_of(".e") == std::string_view::npos) out += ".0";
}

std::string json_document(const Json& value) {
  std::string out;
  append_value(out, value, 0);
  return out;
}

Status print_result(const Json& value) {
  std::string text = json_document(value);
  text += '\n';
  return write_stdout(text);
}

}  // namespace vesk
