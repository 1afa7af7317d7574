#pragma once
// Detached threads that are kept for the next piece of work instead of ending: every
// connection the server accepts is served on a thread of its own, and starting one per
// connection (a new stack mapped, cleared and unmapped) was a large part of a request's
// cost. A thread that finishes its work waits a while for more, then ends.

#include <cstddef>
#include <functional>

#include "base/error.hpp"

namespace vesk {

// Runs `work` on an idle kept thread, or on a new one when none is idle; reports why a new
// thread could not be started. Each piece of work still has a thread to itself.
Status run_on_reused_thread(std::function<void()> work);

// Kept threads waiting for work now (tests wait for them to be idle).
std::size_t idle_reused_threads();

}  // namespace vesk
