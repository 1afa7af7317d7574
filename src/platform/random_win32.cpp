#include <windows.h>
// windows.h first: bcrypt.h relies on its types.
#include <bcrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/random.hpp"

namespace vesk {

void fill_random_bytes(std::span<unsigned char> bytes) {
  constexpr std::size_t kMostPerCall = 1u << 30;
  for (std::size_t filled = 0; filled < bytes.size();) {
    const std::size_t count = std::min(bytes.size() - filled, kMostPerCall);
    const NTSTATUS status = ::BCryptGenRandom(nullptr, bytes.data() + filled, static_cast<ULONG>(count),
                                              BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    if (status < 0) {
      std::fprintf(stderr, "vesk: the system random generator (BCryptGenRandom) failed: status 0x%08lx\n",
                   static_cast<unsigned long>(status));
      std::abort();
    }
    filled += count;
  }
}

}  // namespace vesk
