#include <string>
#include <vector>

#include "cli/entry.hpp"
#include "platform/standard_streams.hpp"

int main(int argc, char** argv) {
  vesk::write_standard_streams_unchanged();
  const std::vector<std::string> words(argv + (argc > 0 ? 1 : 0), argv + argc);
  return vesk::cli::run_program(words);
}
