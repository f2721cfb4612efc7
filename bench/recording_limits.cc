// How far the recording converter reaches: recordings of a tape of six
// files, on a deck from 40% slow to 50% fast with wow, from a C64 (PAL and
// NTSC) and a VIC-20 (PAL), and at the lowest sample rates read, clean and
// with noise; each line says how many of the six names came back.
//   build-rel/bench/recording_limits
#include <cstdio>
#include <string>

#include "decoder/tape_decoder.h"
#include "recording/recording.h"
#include "recording_writer.h"

namespace {

std::size_t names_found(const bytes& tape, const recording_knobs& k) {
  const std::vector<std::uint8_t> wav = record_tape(tape, k);
  recording_converter c;
  std::vector<std::uint8_t> pulses;
  c.feed(wav.data(), wav.size(), pulses);
  c.finish(pulses);
  tape_decoder d{};
  std::uint8_t name[17];
  std::size_t found = 0;
  for (const std::uint8_t p : pulses) found += decode_pulse(d, p, name, 0);
  return found;
}

}  // namespace

int main() {
  tape_writer w({{44, 52}, {61, 70}, {81, 90}},
                21);  // a worn tape's spread, clear of the class edges
  for (int f = 0; f < 6; ++f)
    w.pilot(5600)
        .block(header_payload(1, "FILE" + std::to_string(f)))
        .pilot(79)
        .block(header_payload(1, "FILE"), block_copy::repeat);
  const struct {
    const char* name;
    double clock;
  } machines[] = {
      {"C64 PAL", PAL_CLOCK}, {"C64 NTSC", NTSC_CLOCK}, {"VIC-20 PAL", VIC20_PAL_CLOCK}};
  std::puts("deck speed, with 0.5% wow and 3% noise; names found of 6:");
  for (const auto& m : machines) {
    std::printf("  %-10s", m.name);
    for (int s = 60; s <= 150; s += 6) {
      recording_knobs k;
      k.speed = s / 100.0;
      k.wander = 0.005;
      k.noise = 0.03;
      k.low_pass_hz = 8000;
      k.clock = m.clock;
      std::printf(" %.2f:%zu", k.speed, names_found(w.pulses(), k));
    }
    std::puts("");
  }
  std::puts(
      "sample rate, deck low-pass at 0.45 of the rate; names found of 6 at noise 0, 5% and 10%:");
  for (const double rate : {11025.0, 12000.0, 16000.0, 22050.0}) {
    for (const auto& m : machines) {
      std::printf("  %5.0f Hz %-10s", rate, m.name);
      for (const double noise : {0.0, 0.05, 0.1}) {
        recording_knobs k;
        k.rate = rate;
        k.noise = noise;
        k.low_pass_hz = 0.45 * rate;
        k.clock = m.clock;
        std::printf(" %zu", names_found(w.pulses(), k));
      }
      std::puts("");
    }
  }
}
