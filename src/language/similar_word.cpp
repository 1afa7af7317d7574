#include "language/similar_word.hpp"

#include <algorithm>

namespace vesk::cli {

std::size_t edit_distance(std::string_view a, std::string_view b) {
  // Optimal string alignment distance over three rolling rows.
  std::vector<std::size_t> before(b.size() + 1), previous(b.size() + 1), current(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) previous[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    current[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t substitution = a[i - 1] == b[j - 1] ? 0 : 1;
      current[j] = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + substitution});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        current[j] = std::min(current[j], before[j - 2] + 1);
      }
    }
    std::swap(before, previous);
    std::swap(previous, current);
  }
  return previous[b.size()];
}

std::optional<std::string> most_similar_word(std::string_view word,
                                             const std::vector<std::string>& candidates) {
  const std::size_t limit = std::clamp<std::size_t>(word.size() / 3, 1, 3);
  std::optional<std::string> best;
  std::size_t best_distance = limit + 1;
  for (const auto& candidate : candidates) {
    const std::size_t distance = edit_distance(word, candidate);
    if (distance < best_distance) {
      best_distance = distance;
      best = candidate;
    }
  }
  return best;
}

}  // namespace vesk::cli
