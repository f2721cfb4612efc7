// The TAP file's header and the machines' clocks.
#include "tap/tap_file.h"

#include <cctype>
#include <cstring>

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

namespace {

constexpr std::uint64_t OVERFLOW_CYCLES = std::uint64_t{256} * 8;

// Cycles of pulses that hold no pause: 8 per unit, the longest for a 0.
std::uint64_t pulse_cycles(const std::uint8_t* p, std::size_t n) {
  std::uint64_t total = 0;
  while (n > 0) {
    const std::size_t k = n < 65536 ? n : 65536;  // so that 32 bits hold the sums
    std::uint32_t sum = 0, zeros = 0;
    for (std::size_t i = 0; i < k; ++i) {
      sum += p[i];
      zeros += p[i] == 0;
    }
    total += 8 * std::uint64_t{sum} + OVERFLOW_CYCLES * zeros;
    p += k;
    n -= k;
  }
  return total;
}

}  // namespace

void tap_clock::decide() {
  static const char signature[] = "C64-TAPE-RAW";
  if (std::memcmp(head_, signature, 12) == 0) {
    pauses_ = head_[12] >= 1;
  } else {
    cycles_ += pulse_cycles(head_, TAP_HEADER_SIZE);  // no header: these were pulses
  }
}

void tap_clock::advance(const std::uint8_t* p, std::size_t n) {
  while (head_size_ < TAP_HEADER_SIZE && n > 0) {
    head_[head_size_++] = *p++;
    --n;
    if (head_size_ == TAP_HEADER_SIZE) decide();
  }
  if (!pauses_) {
    cycles_ += pulse_cycles(p, n);
    return;
  }
  while (n > 0) {
    if (pause_left_ > 0) {
      pause_ |= std::uint32_t{*p++} << (8 * (3 - pause_left_));
      --n;
      if (--pause_left_ == 0) cycles_ += pause_;
      continue;
    }
    const void* zero = std::memchr(p, 0, n);
    const std::size_t k =
        zero ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - p) : n;
    cycles_ += pulse_cycles(p, k);
    p += k;
    n -= k;
    if (n > 0) {  // a pause opens
      ++p;
      --n;
      pause_left_ = 3;
      pause_ = 0;
    }
  }
}
