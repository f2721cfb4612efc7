// The inflater's speed in bytes of tape made a second, beside zlib's own
// inflate on the same streams: 64 tapes of files as the ROM saves them, with
// random data and pulses spread over each class's range (as in archives of
// tapes), each deflated by zlib at its default level, inflated one by one in
// steps of 1 MiB as the page does.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <random>
#include <string>

#include "archive/deflate.h"
#include "tape_writer.h"
#include "zlib_deflate.h"

namespace {

struct collection {
  std::vector<bytes> deflated;
  std::size_t tape_bytes = 0;
  collection() {
    std::mt19937 rng(3);
    for (int t = 0; t < 64; ++t) {
      tape_writer w(pulse_values::spread(), static_cast<std::uint32_t>(t + 1));
      for (int f = 0; f < 3; ++f) {
        bytes data(3072);
        for (auto& b : data) b = static_cast<std::uint8_t>(rng());
        w.rom_file(3, "FILE " + std::to_string(f), data);
      }
      tape_bytes += w.size();
      deflated.push_back(zlib_deflate(w.pulses().data(), w.size(), Z_DEFAULT_COMPRESSION));
    }
  }
};
const collection& tapes() {
  static const collection c;
  return c;
}

void ours(benchmark::State& state) {
  const collection& c = tapes();
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    for (const bytes& d : c.deflated) {
      deflate_decoder inf;
      inf.feed(d.data(), d.size());
      inf.end();
      while (const std::size_t n = inf.step()) benchmark::DoNotOptimize(inf.output()[n - 1]);
      if (!inf.finished()) state.SkipWithError("a tape did not inflate");
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * c.tape_bytes));
}

void zlib(benchmark::State& state) {
  const collection& c = tapes();
  bytes out(1 << 20);
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    for (const bytes& d : c.deflated) {
      z_stream z{};
      inflateInit2(&z, -15);
      z.next_in = const_cast<Bytef*>(d.data());
      z.avail_in = static_cast<uInt>(d.size());
      int rc = Z_OK;
      while (rc == Z_OK) {
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        rc = inflate(&z, Z_NO_FLUSH);
        benchmark::DoNotOptimize(out[0]);
      }
      inflateEnd(&z);
      if (rc != Z_STREAM_END) state.SkipWithError("a tape did not inflate");
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * c.tape_bytes));
}

BENCHMARK(ours)->Unit(benchmark::kMillisecond);
BENCHMARK(zlib)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
