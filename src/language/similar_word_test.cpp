#include "language/similar_word.hpp"

#include <gtest/gtest.h>

namespace vesk::cli {
namespace {

TEST(EditDistance, CountsInsertionsDeletionsSubstitutionsAndSwaps) {
  EXPECT_EQ(edit_distance("status", "status"), 0U);
  EXPECT_EQ(edit_distance("stauts", "status"), 1U);  // one swap of neighbours
  EXPECT_EQ(edit_distance("stats", "status"), 1U);
  EXPECT_EQ(edit_distance("", "abc"), 3U);
  EXPECT_EQ(edit_distance("kitten", "sitting"), 3U);
}

TEST(MostSimilarWord, PicksTheClosestPlausibleCandidate) {
  const std::vector<std::string> words{"server", "health", "status", "snap", "snapshot", "nav", "navigate"};
  EXPECT_EQ(most_similar_word("stauts", words), "status");
  EXPECT_EQ(most_similar_word("navigat", words), "navigate");
  EXPECT_EQ(most_similar_word("snapshto", words), "snapshot");
  EXPECT_EQ(most_similar_word("xyzzy", words), std::nullopt);
  EXPECT_EQ(most_similar_word("q", words), std::nullopt);
  EXPECT_EQ(most_similar_word("--prot", {"--host", "--port"}), "--port");
}

}  // namespace
}  // namespace vesk::cli
