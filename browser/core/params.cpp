#include "browser/core/params.hpp"

#include <algorithm>
#include <charconv>

namespace vesk::browser {

std::vector<std::string> words_of(const Json& params) {
  std::vector<std::string> out;
  if (!params.is_object()) return out;
  auto it = params.find("args");
  if (it == params.end() || !it->is_array()) return out;
  for (const auto& word : *it) {
    if (word.is_string()) out.push_back(word.get<std::string>());
  }
  return out;
}

std::string joined(const std::vector<std::string>& words) {
  std::string out;
  for (const auto& word : words) {
    if (!out.empty()) out += ' ';
    out += word;
  }
  return out;
}

std::string joined_words(const Json& params, std::size_t from) {
  auto words = words_of(params);
  return joined({words.begin() + static_cast<std::ptrdiff_t>(std::min(from, words.size())), words.end()});
}

std::optional<std::string> string_member(const Json& params, std::string_view key) {
  if (!params.is_object()) return std::nullopt;
  auto it = params.find(key);
  if (it == params.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

namespace {
const Json* option(const Json& params, std::string_view key) {
  if (!params.is_object()) return nullptr;
  auto options = params.find("options");
  if (options == params.end() || !options->is_object()) return nullptr;
  auto it = options->find(key);
  return it == options->end() ? nullptr : &*it;
}
}  // namespace

bool option_flag(const Json& params, std::string_view key) {
  const Json* value = option(params, key);
  return value != nullptr && value->is_boolean() && value->get<bool>();
}

std::optional<std::string> option_string(const Json& params, std::string_view key) {
  const Json* value = option(params, key);
  if (value == nullptr || !value->is_string()) return std::nullopt;
  return value->get<std::string>();
}

std::optional<double> option_number(const Json& params, std::string_view key) {
  const Json* value = option(params, key);
  if (value == nullptr || !value->is_number()) return std::nullopt;
  return value->get<double>();
}

std::optional<double> parse_number(std::string_view text) {
  double value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

std::expected<void, MethodError> check_action_options(const Json& params) {
  const Json options = params.is_object() ? params.value("options", Json()) : Json();
  if (!options.is_object()) return {};
  const Json action = options.value("dialogAction", Json());
  if (!action.is_null() && action != "accept" && action != "dismiss") {
    return invalid_argument("dialogAction must be \"accept\" or \"dismiss\", not " + action.dump() +
                            "; nothing was done");
  }
  const Json text = options.value("dialogText", Json());
  if (!text.is_null() && !text.is_string()) return invalid_argument("dialogText must be a text; nothing was done");
  for (const char* axis : {"x", "y"}) {
    const Json offset = options.value(axis, Json());
    if (!offset.is_null() && !offset.is_number()) {
      return invalid_argument(std::string(axis) + " must be a number of pixels; nothing was done");
    }
  }
  return {};
}

}  // namespace vesk::browser
