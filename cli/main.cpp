#include <cstdio>

int main() {
  std::puts("tamzel-cli");
  return 0;
}
