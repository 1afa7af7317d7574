#include <string>
#include <vector>

#include "cli/entry.hpp"

int main(int argc, char** argv) {
  const std::vector<std::string> words(argv + (argc > 0 ? 1 : 0), argv + argc);
  return vesk::cli::run_program(words);
}
