// The TAP file's header and the machines' clocks.
#include "tap/tap_file.h"

#include <cctype>

machine_timing timing_of(machine m) {
  switch (m) {
    case machine::c64_pal:
      return {PAL_CLOCK, 0, 0};
    case machine::c64_ntsc:
      return {NTSC_CLOCK, 0, 1};
    case machine::vic20_pal:
      return {VIC20_PAL_CLOCK, 1, 0};
    case machine::vic20_ntsc:
      return {NTSC_CLOCK, 1, 1};
  }
  return {PAL_CLOCK, 0, 0};
}

bool machine_named(std::string_view name, machine& m) {
  const struct {
    std::string_view name;
    machine m;
  } known[] = {{"c64-pal", machine::c64_pal},     {"c64-ntsc", machine::c64_ntsc},
               {"vic20-pal", machine::vic20_pal}, {"vic20-ntsc", machine::vic20_ntsc},
               {"pal", machine::c64_pal},         {"ntsc", machine::c64_ntsc}};
  for (const auto& k : known) {
    if (name.size() != k.name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < name.size() && same; ++i)
      same = std::tolower(static_cast<unsigned char>(name[i])) == k.name[i];
    if (same) {
      m = k.m;
      return true;
    }
  }
  return false;
}

double clock_named(std::string_view name) {
  machine m;
  return machine_named(name, m) ? timing_of(m).clock : 0;
}

std::vector<std::uint8_t> tap_header(std::size_t size, machine m) {
  const machine_timing t = timing_of(m);
  std::vector<std::uint8_t> h = {'C', '6', '4', '-', 'T', 'A',        'P',     'E',
                                 '-', 'R', 'A', 'W', 1,   t.platform, t.video, 0};
  for (int i = 0; i < 4; ++i) h.push_back(static_cast<std::uint8_t>(size >> (8 * i)));
  return h;
}
