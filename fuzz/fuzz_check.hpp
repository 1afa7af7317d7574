#pragma once
// What a fuzz target does when a property it checks fails: says which, then aborts, so
// libFuzzer stops and keeps the input that did it.

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace vesk::fuzz {

inline void require(bool holds, std::string_view property, std::string_view detail = {}) {
  if (holds) return;
  std::fprintf(stderr, "property failed: %.*s\n%.*s\n", static_cast<int>(property.size()), property.data(),
               static_cast<int>(detail.size()), detail.data());
  std::abort();
}

}  // namespace vesk::fuzz
