#include <cstdio>

int main() {
  std::fputs("harnolfees-server: not built yet\n", stderr);
  return 1;
}
