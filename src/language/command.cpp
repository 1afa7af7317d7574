#include "language/command.hpp"

namespace vesk::cli {

std::optional<CommandWord> command_word_from_text(std::string_view text) {
  for (std::size_t i = 0; i < kCommandWords.size(); ++i) {
    if (kCommandWords[i] == text) return static_cast<CommandWord>(i);
  }
  return std::nullopt;
}

}  // namespace vesk::cli
