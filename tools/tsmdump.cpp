// tsmdump: prints the chunk tree of a file.
#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: tsmdump FILE\n");
    return 2;
  }
  return 0;
}
