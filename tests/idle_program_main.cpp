// idle_program: waits until it is killed. Tests that need a running process of a known
// program start this one, which every system the tests run on can build.

#include <chrono>
#include <thread>

int main() {
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}
