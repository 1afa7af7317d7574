#pragma once
// Windows error codes as Errors, for the platform layer's Windows sources.

#include <string>

#include "base/error.hpp"

namespace vesk {

// The system's text for a Win32 or Winsock error code; time-outs map to TimedOut, missing
// files and processes to NotFound.
Error windows_error(unsigned long code);
Error windows_error(unsigned long code, std::string context);
// The same for GetLastError().
Error last_windows_error();
Error last_windows_error(std::string context);

}  // namespace vesk
