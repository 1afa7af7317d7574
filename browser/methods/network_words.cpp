// The words of the network method, read the same way by each of its actions.
#include <algorithm>

#include "browser/methods/network_actions.hpp"

namespace vesk::browser {

namespace fs = std::filesystem;

std::string lower_case(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::expected<Words, MethodError> read_words(const std::vector<std::string>& words, std::size_t from,
                                             std::initializer_list<std::string_view> valued,
                                             std::initializer_list<std::string_view> flags,
                                             std::string_view usage) {
  Words out;
  for (std::size_t i = from; i < words.size(); ++i) {
    std::string word = words[i];
    if (!word.starts_with("--")) {
      out.positional.push_back(word);
      continue;
    }
    std::optional<std::string> inline_value;
    if (auto eq = word.find('='); eq != std::string::npos) {
      inline_value = word.substr(eq + 1);
      word.resize(eq);
    }
    const std::string name = word.substr(2);
    if (std::find(valued.begin(), valued.end(), name) != valued.end()) {
      if (!inline_value) {
        if (i + 1 >= words.size()) return invalid_argument(word + " needs a value; usage: " + std::string(usage));
        inline_value = words[++i];
      }
      out.values[name].push_back(*inline_value);
    } else if (std::find(flags.begin(), flags.end(), name) != flags.end() && !inline_value) {
      out.flags.insert(name);
    } else {
      return invalid_argument("unknown word \"" + words[i] + "\"; usage: " + std::string(usage));
    }
  }
  return out;
}

std::expected<fs::path, MethodError> absolute_path(const std::string& text, std::string_view what) {
  fs::path path(text);
  if (text.empty() || path.is_relative()) {
    return invalid_argument(std::string(what) + " must be an absolute path, not \"" + text +
                            "\" (the command line sends the path resolved where it ran)");
  }
  return path.lexically_normal();
}

}  // namespace vesk::browser
