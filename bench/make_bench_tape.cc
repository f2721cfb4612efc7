// Writes a tape of realistic content for timing runs, and the output that
// `brivane -a` must give for it:
//   make_bench_tape SIZE_MIB TAPE_PATH EXPECTED_PATH
// Files as the ROM saves them (header block and its repeat, data block and
// its repeat), 2 to 60 KiB of random data each, pulse values spread over each
// class's whole range.
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "tape_writer.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("usage: make_bench_tape SIZE_MIB TAPE_PATH EXPECTED_PATH\n", stderr);
    return 2;
  }
  const unsigned long long target = std::strtoull(argv[1], nullptr, 10) << 20;
  std::FILE* tape = std::fopen(argv[2], "wb");
  std::FILE* expected = std::fopen(argv[3], "wb");
  if (tape == nullptr || expected == nullptr) {
    std::perror("make_bench_tape");
    return 1;
  }
  std::fputs("Brivane, rel 1.1\n", expected);
  std::mt19937 rng(1541);
  unsigned long long written = 0;
  for (int n = 1; written < target; ++n) {
    tape_writer w(pulse_values::spread(), static_cast<std::uint32_t>(n));
    bytes data(2048 + rng() % (std::size_t{58} * 1024));
    for (auto& b : data) b = static_cast<std::uint8_t>(rng());
    if (data[0] == 1 || data[0] == 3) data[0] = 0;  // keep data blocks from reading as headers
    const std::string name = "FILE" + std::to_string(n);
    w.rom_file(static_cast<std::uint8_t>(n % 2 ? 1 : 3), name, data);
    bytes& p = w.pulses();
    if (written + p.size() > target) {  // no room for the whole file: fill up with noise
      p.resize(static_cast<std::size_t>(target - written));
      for (auto& v : p) v = static_cast<std::uint8_t>(58 + rng() % 198);
    } else {
      std::fprintf(expected, "FOUND (%03d): \"%s\"\n", n, name.c_str());
    }
    std::fwrite(p.data(), 1, p.size(), tape);
    written += p.size();
  }
  if (std::fclose(tape) != 0 || std::fclose(expected) != 0) {
    std::perror("make_bench_tape");
    return 1;
  }
  return 0;
}
