#include "browser/methods/word_options.hpp"

#include <algorithm>

namespace vesk::browser {

std::optional<std::string> OptionWords::value(std::string_view name) const {
  auto it = values.find(name);
  if (it == values.end()) return std::nullopt;
  return it->second;
}

std::expected<OptionWords, MethodError> read_option_words(const std::vector<std::string>& words, std::size_t from,
                                                          const KnownOptions& known, std::string_view usage) {
  const auto takes_value = [&](std::string_view name) {
    return std::find(known.with_value.begin(), known.with_value.end(), name) != known.with_value.end();
  };
  const auto is_flag = [&](std::string_view name) {
    return std::find(known.flags.begin(), known.flags.end(), name) != known.flags.end();
  };
  OptionWords out;
  bool options_ended = false;
  for (std::size_t i = from; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "--" && !options_ended) {
      options_ended = true;
      continue;
    }
    if (options_ended || !word.starts_with("--")) {
      out.positionals.push_back(word);
      continue;
    }
    const auto equals = word.find('=');
    const std::string name = word.substr(0, equals);
    if (takes_value(name)) {
      if (equals != std::string::npos) {
        out.values[name] = word.substr(equals + 1);
      } else if (i + 1 < words.size()) {
        out.values[name] = words[++i];
      } else {
        return invalid_argument(name + " needs a value; accepted: " + std::string(usage));
      }
    } else if (is_flag(name) && equals == std::string::npos) {
      out.flags.insert(name);
    } else {
      return invalid_argument("unknown option " + word + "; accepted: " + std::string(usage));
    }
  }
  return out;
}

}  // namespace vesk::browser
