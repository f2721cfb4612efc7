// Decoder throughput in pulses (bytes) per second on generated tapes: the
// per-pulse step against the bulk scan, and the catalogue of whole blocks,
// the ROM's and the turbo loaders'.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>

#include "catalogue/tape_catalogue.h"
#include "decoder/tape_decoder.h"
#include "tape_writer.h"
#include "turbo_writer.h"

namespace {

// About 16 MiB of files as the ROM saves them, with random data.
const bytes& realistic_tape() {
  static const bytes tape = [] {
    std::mt19937 rng(1541);
    tape_writer w(pulse_values::spread(), 7);
    for (int n = 0; w.size() < (16u << 20); ++n) {
      bytes data(2048 + rng() % (std::size_t{58} * 1024));
      for (auto& b : data) b = static_cast<std::uint8_t>(rng());
      if (data[0] == 1 || data[0] == 3) data[0] = 0;
      w.rom_file(1, "BENCH", data);
    }
    return w.pulses();
  }();
  return tape;
}

// Nothing but pilot: the slowest ground for the bulk scan.
const bytes& pilot_tape() {
  static const bytes tape = tape_writer(pulse_values::spread(), 3).pilot(16u << 20).pulses();
  return tape;
}

// About 16 MiB of turbo files, a game of each common format in turn, each
// behind its lead, with random data: what most of a real tape holds.
const bytes& turbo_tape_() {
  static const bytes tape = [] {
    const turbo_format formats[] = {turbo_format::freeload,      turbo_format::novaload,
                                    turbo_format::ocean_imagine, turbo_format::cyberload_f3,
                                    turbo_format::virgin,        turbo_format::turbotape,
                                    turbo_format::bleepload};
    bytes pulses;
    for (std::uint32_t n = 0; pulses.size() < (16u << 20); ++n) {
      const turbo_format f = formats[n % std::size(formats)];
      std::vector<turbo_program> files = turbo_sample_files(f);
      for (turbo_program& p : files) p.data = random_bytes(p.data.size() * 24, n);  // larger games
      const bytes one = turbo_tape(f, files);
      pulses.insert(pulses.end(), one.begin(), one.end());
    }
    return tap_file(pulses);
  }();
  return tape;
}

void per_pulse(benchmark::State& state, const bytes& (*tape)()) {
  const bytes& t = tape();
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    tape_decoder d{};
    std::uint8_t name[17] = {};
    int found = 0;
    for (const std::uint8_t p : t) found += decode_pulse(d, p, name, 0);
    benchmark::DoNotOptimize(found);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * t.size()));
}

void bulk(benchmark::State& state, const bytes& (*tape)()) {
  const bytes& t = tape();
  const std::size_t read = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    tape_decoder d{};
    std::uint8_t name[17] = {};
    int found = 0;
    for (std::size_t pos = 0; pos < t.size();) {
      const std::size_t end = std::min(t.size(), pos + read);
      while (pos < end) {
        std::size_t used = 0;
        found += scan_pulses(d, t.data() + pos, end - pos, name, &used);
        pos += used;
      }
    }
    benchmark::DoNotOptimize(found);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * t.size()));
}

void catalogue_of(benchmark::State& state, const bytes& t) {
  const std::size_t read = 1 << 20;
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    tape_catalogue c;
    std::size_t files = 0;
    for (std::size_t pos = 0; pos < t.size(); pos += read) {
      c.feed(t.data() + pos, std::min(read, t.size() - pos));
      files += c.take_settled().size();
    }
    c.finish();
    files += c.take_settled().size();
    benchmark::DoNotOptimize(files);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * t.size()));
}

void catalogue(benchmark::State& state, const bytes& (*tape)()) { catalogue_of(state, tape()); }

// About 4 MiB of one format's files, larger games, one after another.
bytes format_tape(turbo_format f) {
  bytes pulses;
  for (std::uint32_t n = 0; pulses.size() < (4u << 20); ++n) {
    std::vector<turbo_program> files = turbo_sample_files(f);
    for (turbo_program& p : files) p.data = random_bytes(p.data.size() * 24, n);
    const bytes one = turbo_tape(f, files);
    pulses.insert(pulses.end(), one.begin(), one.end());
  }
  return tap_file(pulses);
}

// The catalogue of each format's tape: catalogue/format/Novaload and so on,
// a loader's later variants numbered (Mega-Save_2).
[[maybe_unused]] const bool each_format = [] {
  std::map<std::string, int> seen;
  for (const turbo_format f : turbo_formats()) {
    std::string name = std::string("catalogue/format/") + turbo_format_name(f);
    std::replace(name.begin(), name.end(), ' ', '_');
    if (const int before = seen[name]++; before > 0) name += "_" + std::to_string(before + 1);
    benchmark::RegisterBenchmark(name.c_str(), [f](benchmark::State& state) {
      static std::map<turbo_format, bytes> tapes;
      auto it = tapes.find(f);
      if (it == tapes.end()) it = tapes.emplace(f, format_tape(f)).first;
      catalogue_of(state, it->second);
    })->Unit(benchmark::kMillisecond);
  }
  return true;
}();

BENCHMARK_CAPTURE(catalogue, realistic, realistic_tape)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(catalogue, pilot, pilot_tape)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(catalogue, turbo, turbo_tape_)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(per_pulse, realistic, realistic_tape)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(bulk, realistic, realistic_tape)
    ->Arg(64 << 10)
    ->Arg(256 << 10)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(per_pulse, pilot, pilot_tape)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(bulk, pilot, pilot_tape)->Arg(256 << 10)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
