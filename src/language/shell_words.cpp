#include "language/shell_words.hpp"

namespace vesk::cli {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Characters a backslash escapes inside double quotes; before any other it stays.
bool escapable_in_double_quotes(char c) { return c == '$' || c == '`' || c == '"' || c == '\\' || c == '\n'; }

}  // namespace

Result<std::vector<std::string>> split_shell_words(std::string_view line) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false;  // a word has started, even an empty one ('')
  std::size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (is_blank(c)) {
      if (in_word) words.push_back(std::move(word));
      word.clear();
      in_word = false;
      ++i;
      continue;
    }
    in_word = true;
    if (c == '\'') {
      const std::size_t close = line.find('\'', i + 1);
      if (close == std::string_view::npos) return fail("unterminated single quote in: " + std::string(line));
      word.append(line.substr(i + 1, close - i - 1));
      i = close + 1;
    } else if (c == '"') {
      ++i;
      for (;;) {
        if (i >= line.size()) return fail("unterminated double quote in: " + std::string(line));
        const char inner = line[i];
        if (inner == '"') break;
        if (inner == '\\' && i + 1 < line.size() && escapable_in_double_quotes(line[i + 1])) {
          if (line[i + 1] != '\n') word += line[i + 1];
          i += 2;
          continue;
        }
        word += inner;
        ++i;
      }
      ++i;
    } else if (c == '\\') {
      if (i + 1 >= line.size()) return fail("trailing backslash in: " + std::string(line));
      if (line[i + 1] != '\n') word += line[i + 1];  // backslash-newline joins lines
      i += 2;
    } else {
      word += c;
      ++i;
    }
  }
  if (in_word) words.push_back(std::move(word));
  return words;
}

}  // namespace vesk::cli
