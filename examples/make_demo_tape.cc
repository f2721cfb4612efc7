// Writes the example tape, or with turbo the turbo one: make_demo_tape PATH [turbo]
#include <cstdio>
#include <cstring>

#include "tape_writer.h"
#include "turbo_writer.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3 || (argc == 3 && std::strcmp(argv[2], "turbo") != 0)) {
    std::fputs("usage: make_demo_tape PATH [turbo]\n", stderr);
    return 2;
  }
  const bytes tape = argc == 3 ? example_turbo_tape() : example_tape();
  std::FILE* f = std::fopen(argv[1], "wb");
  if (f == nullptr || std::fwrite(tape.data(), 1, tape.size(), f) != tape.size() ||
      std::fclose(f) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
