#pragma once
// "Did you mean ...?" for mistyped command words and option names.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vesk::cli {

// Edits (insert, delete, substitute, swap two neighbours) that turn `a` into `b`.
std::size_t edit_distance(std::string_view a, std::string_view b);

// The candidate closest to `word`, if it is close enough to be a plausible typo: at most
// a third of the word's length in edits (at least one, at most three). Ties go to the
// earlier candidate.
std::optional<std::string> most_similar_word(std::string_view word,
                                             const std::vector<std::string>& candidates);

}  // namespace vesk::cli
