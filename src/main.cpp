#include <cstdio>

int main() {
  std::puts("vesk: the command language is not built yet");
  return 2;
}
