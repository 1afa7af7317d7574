#include "cli/raw_file_words.hpp"

#include <algorithm>
#include <array>

#include "cli/browser_request.hpp"

namespace vesk::cli {
namespace {

// Methods whose options "--out FILE", "-o FILE" and "--body-file FILE" name files anywhere
// among the words.
constexpr std::array<std::string_view, 2> kMethodsWithFileOptions = {"network", "page.capture"};

// Methods that read output options only as their first words ("--max-bytes N", "--out
// FILE"); the words after them are a script or a selector and go unchanged.
constexpr std::array<std::string_view, 3> kMethodsWithLeadingOutput = {"page.eval", "page.text", "page.html"};

bool names_a_file(std::string_view option) {
  return option == "--out" || option == "-o" || option == "--body-file";
}

bool starts_with_words(const std::vector<std::string>& words, std::initializer_list<std::string_view> leading) {
  if (words.size() <= leading.size()) return false;
  return std::equal(leading.begin(), leading.end(), words.begin());
}

// "record start [FILE] [--fps N] [--size WxH]": the one word that is neither an option nor
// an option's value.
void add_record_start_file(const std::vector<std::string>& words, std::vector<std::size_t>& found) {
  for (std::size_t i = 1; i < words.size(); ++i) {
    if (words[i] == "--fps" || words[i] == "--size") {
      ++i;
    } else if (!words[i].starts_with("--")) {
      found.push_back(i);
      return;
    }
  }
}

}  // namespace

std::vector<std::size_t> file_word_positions(std::string_view method, const std::vector<std::string>& words) {
  std::vector<std::size_t> found;
  if (std::ranges::find(kMethodsWithFileOptions, method) != kMethodsWithFileOptions.end()) {
    for (std::size_t i = 0; i + 1 < words.size(); ++i) {
      if (names_a_file(words[i])) found.push_back(++i);
    }
  }
  if (std::ranges::find(kMethodsWithLeadingOutput, method) != kMethodsWithLeadingOutput.end()) {
    for (std::size_t i = 0; i + 1 < words.size() && (words[i] == "--out" || words[i] == "--max-bytes"); i += 2) {
      if (words[i] == "--out") found.push_back(i + 1);
    }
  }
  if (method == "state" && (starts_with_words(words, {"save"}) || starts_with_words(words, {"load"}))) {
    found.push_back(1);
  }
  if (method == "network" && starts_with_words(words, {"har", "stop"})) found.push_back(2);
  if (method == "record") {
    if (starts_with_words(words, {"trace", "stop"}) || starts_with_words(words, {"actions", "stop"})) {
      found.push_back(2);
    }
    if (!words.empty() && words[0] == "start") add_record_start_file(words, found);
  }
  return found;
}

std::vector<std::string> with_file_words_resolved(std::string_view method, std::vector<std::string> words) {
  for (const std::size_t position : file_word_positions(method, words)) {
    words[position] = absolute_here(words[position]);
  }
  return words;
}

}  // namespace vesk::cli
