// The recording converter's speed in samples a second: a minute of a tape
// recorded at 44.1 kHz, 16 bits, mono and stereo, as a deck gives it.
#include <benchmark/benchmark.h>

#include "recording/recording.h"
#include "recording_writer.h"

namespace {

std::vector<std::uint8_t> minute(int channels) {
  tape_writer w;
  while (w.size() < std::size_t{60} * 2400) w.rom_file(1, "BENCH", bytes(1024, 0x20));
  recording_knobs k;
  k.channels = channels;
  k.noise = 0.02;
  k.low_pass_hz = 8000;
  return record_tape(w.pulses(), k);
}

void convert(benchmark::State& state, int channels) {
  const std::vector<std::uint8_t> wav = minute(channels);
  const std::size_t frames =
      (wav.size() - 44) / (2 * static_cast<std::size_t>(channels));  // samples of each channel
  std::vector<std::uint8_t> pulses;
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    recording_converter c;
    pulses.clear();
    for (std::size_t at = 0; at < wav.size(); at += 1 << 20)
      c.feed(wav.data() + at, std::min<std::size_t>(1 << 20, wav.size() - at), pulses);
    c.finish(pulses);
    benchmark::DoNotOptimize(pulses.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * frames));
  state.counters["pulses"] = static_cast<double>(pulses.size());
}

BENCHMARK_CAPTURE(convert, mono, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(convert, stereo, 2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
