// Writes a collection of tapes for the catalogue benchmark and test, and the
// catalogue it must give (file, number and name, tab-separated, in file order):
//   make_collection COUNT DIR EXPECTED_PATH [MAX_DATA_KIB]
// Tapes go into a few folders under DIR, under names with spaces, quotes,
// a leading dash, shell characters and characters of several scripts. Each
// holds one to four files as the ROM saves them, with 256 bytes to
// MAX_DATA_KIB (default 16) KiB of random data each.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "tape_writer.h"

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::fputs("usage: make_collection COUNT DIR EXPECTED_PATH [MAX_DATA_KIB]\n", stderr);
    return 2;
  }
  const unsigned long count = std::strtoul(argv[1], nullptr, 10);
  const std::string dir = argv[2];
  const unsigned long max_data = (argc == 5 ? std::strtoul(argv[4], nullptr, 10) : 16) * 1024;
  const char* const folders[] = {"", "/Arcade", "/Arcade/Side B", "/\u0418\u0433\u0440\u044b"};
  const char* const shapes[] = {"tape %lu.tap",        "\"quoted\" %lu.TAP",
                                "-dash %lu.tap",       "$HOME `%lu` & more.tap",
                                "back\\slash %lu.tap", "\u30c6\u30fc\u30d7 %lu.tap"};
  for (const char* f : folders) mkdir((dir + f).c_str(), 0755);
  std::FILE* expected = std::fopen(argv[3], "wb");
  if (expected == nullptr) {
    std::perror(argv[3]);
    return 1;
  }
  std::mt19937 rng(64);
  for (unsigned long n = 1; n <= count; ++n) {
    char name[128];
    std::snprintf(name, sizeof name, shapes[n % 6], n);
    const std::string path = dir + folders[n % 4 == 0 ? 0 : rng() % 4] + "/" + name;
    tape_writer w(pulse_values::spread(), static_cast<std::uint32_t>(n));
    const int files = 1 + static_cast<int>(rng() % 4);
    for (int k = 1; k <= files; ++k) {
      bytes data(256 + rng() % max_data);
      for (auto& b : data) b = static_cast<std::uint8_t>(rng());
      if (data[0] == 1 || data[0] == 3) data[0] = 0;  // keep data blocks from reading as headers
      const std::string file_name = "GAME " + std::to_string(n) + "/" + std::to_string(k);
      w.rom_file(k == 1 ? 1 : 3, file_name, data);
      std::fprintf(expected, "%s\t%03d\t%s\n", path.c_str(), k, file_name.c_str());
    }
    std::FILE* tape = std::fopen(path.c_str(), "wb");
    if (tape == nullptr || std::fwrite(w.pulses().data(), 1, w.size(), tape) != w.size() ||
        std::fclose(tape) != 0) {
      std::perror(path.c_str());
      return 1;
    }
  }
  return std::fclose(expected) == 0 ? 0 : 1;
}
