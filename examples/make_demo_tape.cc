// Writes the example tape: make_demo_tape PATH
#include <cstdio>

#include "tape_writer.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: make_demo_tape PATH\n", stderr);
    return 2;
  }
  const bytes tape = example_tape();
  std::FILE* f = std::fopen(argv[1], "wb");
  if (f == nullptr || std::fwrite(tape.data(), 1, tape.size(), f) != tape.size() ||
      std::fclose(f) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
