// How the turbo reader tells a lead, a pulse's kind and a pulse's length:
// the limits its stepping and its crossing at once share.
#ifndef BRIVANE_CATALOGUE_TURBO_TUNING_H
#define BRIVANE_CATALOGUE_TURBO_TUNING_H

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace turbo_tuning {

// Two pulses of one kind on a tape differ by less than this; a short and a
// long one of any loader by more (Turbotape's, 25 and 40, the closest).
inline constexpr int LIKE = 8;
// Pulses in a row like the one eight before that make a lead worth trying:
// a pilot of two bytes, the shortest any loader writes.
inline constexpr unsigned LEAD = 8;
inline constexpr unsigned WINDOW = 16;  // the pulses a lead is tried on first
// A lead's pulses are of one kind when they lie this close together, the
// widest the ROM's short pulses wobble on a worn tape.
inline constexpr int ONE_KIND = 20;
// Tries crossed at once, at the most: more are stepped through.
inline constexpr std::size_t MAX_CROSSING = 16;
// Pulses of a steady lead crossed at once.
inline constexpr std::size_t STEADY = 256;
// Tones this short are a byte's worth of repeats in any data, not a lead.
inline constexpr unsigned TONE = 64;

inline unsigned count_bits(std::uint64_t x) {
  x -= x >> 1 & 0x5555555555555555;
  x = (x & 0x3333333333333333) + (x >> 2 & 0x3333333333333333);
  x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0F;
  return static_cast<unsigned>(x * 0x0101010101010101 >> 56);
}
// A bit pilot's first pulses, whose mean sets the band the rest must lie in.
inline constexpr unsigned PILOT_MEAN = 16;

// A measured pulse length is the nominal one give or take a fifth; a
// pilot's, which a checksum will later vouch for, give or take a third.
inline constexpr double NEAR = 0.2, PILOT_NEAR = 0.35;
inline bool near(double measured, int nominal, double within = NEAR) {
  return std::fabs(measured - nominal) <= within * nominal;
}

}  // namespace turbo_tuning

#endif
