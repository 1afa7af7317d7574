#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "platform/standard_streams.hpp"

namespace vesk {

void write_standard_streams_unchanged() {
  std::fflush(stdout);
  std::fflush(stderr);
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stderr), _O_BINARY);
}

}  // namespace vesk
