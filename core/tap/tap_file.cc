// The TAP file's header and the machines' clocks.
#include "tap/tap_file.h"

#include <cctype>

double clock_named(std::string_view name) {
  std::string_view known[] = {"pal", "ntsc"};
  const double clocks[] = {PAL_CLOCK, NTSC_CLOCK};
  for (std::size_t i = 0; i < 2; ++i) {
    if (name.size() != known[i].size()) continue;
    bool same = true;
    for (std::size_t k = 0; k < name.size(); ++k)
      same = same && std::tolower(static_cast<unsigned char>(name[k])) == known[i][k];
    if (same) return clocks[i];
  }
  return 0;
}

std::vector<std::uint8_t> tap_header(std::size_t size) {
  std::vector<std::uint8_t> h = {'C', '6', '4', '-', 'T', 'A', 'P', 'E',
                                 '-', 'R', 'A', 'W', 1,   0,   0,   0};
  for (int i = 0; i < 4; ++i) h.push_back(static_cast<std::uint8_t>(size >> (8 * i)));
  return h;
}
