#include <string>
#include <vector>

#include "cli/entry.hpp"
#include "platform/process.hpp"
#include "platform/standard_streams.hpp"

int main(int argc, char** argv) {
  vesk::write_standard_streams_unchanged();
  return vesk::cli::run_program(vesk::program_arguments(argc, argv));
}
