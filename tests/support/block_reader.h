// Reads every ROM block of a tape, whole, as a machine loading it would:
// after a pilot, each byte framed by its marker, its bits, its parity, up to
// the end-of-data mark. For holding a TAP made from a recording to the tape
// it was played from: it loads if every block comes back with its bytes.
#ifndef BRIVANE_TESTS_BLOCK_READER_H
#define BRIVANE_TESTS_BLOCK_READER_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tape_writer.h"

struct tape_block {
  bytes data;  ///< the countdown, the payload and the checksum byte
  bool parity_ok = true;
  bool ends_well = false;  ///< with the end-of-data mark, not broken off
  /// The checksum byte is the XOR of the payload.
  bool checksum_ok() const {
    if (data.size() < 10) return false;
    std::uint8_t x = 0;
    for (std::size_t i = 9; i + 1 < data.size(); ++i) x ^= data[i];
    return x == data.back();
  }
  bool operator==(const tape_block& o) const {
    return data == o.data && parity_ok == o.parity_ok && ends_well == o.ends_well;
  }
};

/// The blocks of TAP pulses (a version 1 pause, 0 and three bytes, breaks
/// whatever it falls in).
inline std::vector<tape_block> read_blocks(const bytes& pulses) {
  // The pulses, a pause as 0; and their classes, a little wider than the
  // header decoder's, as a loader allows for a tape's wear.
  bytes v;
  for (std::size_t i = 0; i < pulses.size(); ++i) {
    v.push_back(pulses[i]);
    if (pulses[i] == 0) i += 3;
  }
  const auto is_short = [&](std::size_t i) { return i < v.size() && v[i] >= 30 && v[i] <= 57; };
  const auto is_medium = [&](std::size_t i) { return i < v.size() && v[i] >= 57 && v[i] <= 75; };
  const auto is_long = [&](std::size_t i) { return i < v.size() && v[i] >= 76 && v[i] <= 110; };
  std::vector<tape_block> blocks;
  std::size_t run = 0;
  for (std::size_t i = 0; i < v.size();) {
    if (is_short(i)) {
      ++run;
      ++i;
      continue;
    }
    if (run < 50 || !is_long(i) || !is_medium(i + 1)) {
      run = 0;
      ++i;
      continue;
    }
    run = 0;
    tape_block b;
    // Bytes while a marker opens one: long, medium, eight bit pairs and the
    // parity pair, each (medium, short) for 1 or (short, medium) for 0.
    while (is_long(i) && is_medium(i + 1)) {
      unsigned value = 0, ones = 0;
      bool whole = true;
      for (std::size_t bit = 0; bit < 9 && whole; ++bit) {
        const std::size_t at = i + 2 + 2 * bit;
        const int one = is_medium(at) && is_short(at + 1)   ? 1
                        : is_short(at) && is_medium(at + 1) ? 0
                                                            : -1;
        whole = one >= 0;
        if (bit < 8) value |= static_cast<unsigned>(one > 0) << bit;
        ones += one > 0;
      }
      if (!whole) break;
      b.parity_ok = b.parity_ok && ones % 2 == 1;
      b.data.push_back(static_cast<std::uint8_t>(value));
      i += 20;
    }
    b.ends_well = is_long(i) && is_short(i + 1);
    if (b.data.size() >= 10) blocks.push_back(b);
  }
  return blocks;
}

#endif
