#include "platform/standard_streams.hpp"

namespace vesk {

// POSIX streams never translate line ends.
void write_standard_streams_unchanged() {}

}  // namespace vesk
