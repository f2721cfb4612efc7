// The bulk scan must give exactly what decode_pulse gives pulse by pulse:
// the same names at the same places and the same state, wherever the reads
// split the tape.
#include <gtest/gtest.h>

#include <random>

#include "decode_helpers.h"
#include "lockstep.h"

namespace {

void expect_same(scan_fn scan, const bytes& t, const std::vector<std::size_t>& reads) {
  ASSERT_EQ(lockstep_difference(scan, t, reads), "") << "reads of " << reads.front();
}

// The bulk scan as built here, and as built without SIMD.
struct scan_build {
  const char* name;
  scan_fn scan;
  friend void PrintTo(const scan_build& b, std::ostream* os) { *os << b.name; }
};

class BulkScan : public testing::TestWithParam<scan_build> {};

TEST_P(BulkScan, EverySplitOfAHeader) {
  tape_writer w(pulse_values::spread(), 21);
  w.pilot(5003).block(header_payload(1, "SPLIT"));
  bytes t(w.pulses().begin(), w.pulses().begin() + static_cast<std::ptrdiff_t>(w.byte_start(33)));
  t.insert(t.begin(), {48, 48, 0, 48});
  for (std::size_t split = 1; split < t.size(); ++split) {
    expect_same(GetParam().scan, t, {split, t.size()});
    if (HasFatalFailure()) return;
  }
}

TEST_P(BulkScan, RunsAroundTheThresholdInEveryReadSize) {
  // Runs of 4990 to 5010 short pulses, each ended by one pulse of another
  // class or by the start of a header.
  std::mt19937 rng(5);
  tape_writer w(pulse_values::spread(), 9);
  for (int i = 0; i < 40; ++i) {
    w.pilot(4990 + rng() % 21);
    if (rng() % 4 == 0)
      w.block(header_payload(rng() % 2 ? 1 : 3, "RUN"));
    else
      w.raw({static_cast<std::uint8_t>(58 + rng() % 198)});
  }
  for (const std::size_t read : {1u, 2u, 5u, 19u, 20u, 4999u, 5000u, 5001u, 5002u, 65536u})
    expect_same(GetParam().scan, w.pulses(), {read});
}

TEST_P(BulkScan, RandomAndDamagedTapes) {
  std::mt19937 rng(77);
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE(round);
    tape_writer w(pulse_values::spread(), static_cast<std::uint32_t>(round + 1));
    const int files = 1 + static_cast<int>(rng() % 3);
    for (int f = 0; f < files; ++f) {
      bytes data(50 + rng() % 400);
      for (auto& b : data) b = static_cast<std::uint8_t>(rng());
      if (rng() % 3 == 0) data[0] = 3;  // a data block shaped like a header
      w.rom_file(static_cast<std::uint8_t>(1 + rng() % 4), "FILE", data, 5001 + rng() % 3000);
    }
    bytes& t = w.pulses();
    const int damage = static_cast<int>(rng() % 30);
    for (int d = 0; d < damage; ++d) t[rng() % t.size()] = static_cast<std::uint8_t>(rng());
    if (rng() % 2) t.resize(rng() % t.size());
    for (int s = 0; s < 4; ++s) {
      std::vector<std::size_t> reads;
      reads.reserve(8);
      for (int k = 0; k < 8; ++k) reads.push_back(1 + rng() % (s == 0 ? 40 : 20000));
      expect_same(GetParam().scan, t, reads);
    }
  }
}

TEST_P(BulkScan, NoiseOfEveryValue) {
  std::mt19937 rng(3);
  bytes t(200000);
  for (auto& b : t)
    b = static_cast<std::uint8_t>(rng() % 4 ? 39 + rng() % 19 : rng());  // mostly short
  expect_same(GetParam().scan, t, {65536, 777, 1});
}

INSTANTIATE_TEST_SUITE_P(Decoder, BulkScan,
                         testing::Values(scan_build{"native", scan_pulses},
                                         scan_build{"portable", scan_pulses_portable}),
                         [](const testing::TestParamInfo<scan_build>& info) {
                           return info.param.name;
                         });

}  // namespace
