// Runs a bulk scan beside decode_pulse over the same pulses and reports the
// first difference: in results, name bytes, state, or bytes written outside
// the 16 name positions.
#ifndef BRIVANE_TESTS_LOCKSTEP_H
#define BRIVANE_TESTS_LOCKSTEP_H

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "decoder/tape_decoder.h"

using scan_fn = int (*)(tape_decoder&, const std::uint8_t*, std::size_t, std::uint8_t*,
                        std::size_t*);

/// The bulk scan built without SIMD (tests/pulse_scan_portable.cc).
int scan_pulses_portable(tape_decoder& dec, const std::uint8_t* pulses, std::size_t count,
                         std::uint8_t* name_buf, std::size_t* used);

inline bool same_state(const tape_decoder& a, const tape_decoder& b) {
  return a.state == b.state && a.pilot_run == b.pilot_run && a.byte_index == b.byte_index &&
         a.pair_phase == b.pair_phase && a.bit_count == b.bit_count &&
         a.first_pulse == b.first_pulse && a.second_pulse == b.second_pulse &&
         a.shift_byte == b.shift_byte;
}

/// Feeds pulses[0..count) to scan in reads of the given sizes (cycled), with
/// decode_pulse in step after every call. Calls on_name with each name found.
/// Returns "" when both agree throughout.
template <typename OnName>
std::string lockstep_difference(scan_fn scan, const std::uint8_t* pulses, std::size_t count,
                                const std::vector<std::size_t>& reads, OnName on_name) {
  constexpr std::uint8_t GUARD = 0xA5;  // around the 16 bytes the decoder may write
  std::uint8_t ref_buf[48], fast_buf[48];
  std::memset(ref_buf, GUARD, sizeof ref_buf);
  std::memset(fast_buf, GUARD, sizeof fast_buf);
  tape_decoder ref{}, fast{};
  std::size_t pos = 0, ref_pos = 0;
  for (std::size_t n = 0; pos < count; ++n) {
    const std::size_t end = pos + std::min(reads[n % reads.size()], count - pos);
    while (pos < end) {
      const auto at = [&pos] { return " at " + std::to_string(pos); };
      std::size_t used = 0;
      const int found = scan(fast, pulses + pos, end - pos, fast_buf + 16, &used);
      if (used == 0 || used > end - pos) return "used " + std::to_string(used) + at();
      pos += used;
      int ref_found = 0;
      while (ref_pos < pos) {
        if (ref_found) return "skipped a name" + at();
        ref_found = decode_pulse(ref, pulses[ref_pos++], ref_buf + 16, 0);
      }
      if (found != ref_found) return "result " + std::to_string(found) + at();
      if (!same_state(fast, ref)) return "state" + at();
      if (found && std::memcmp(fast_buf + 16, ref_buf + 16, 16) != 0) return "name" + at();
      if (found) on_name(fast_buf + 16);
    }
  }
  for (std::size_t i = 0; i < sizeof ref_buf; ++i)
    if ((i < 16 || i >= 32) && (ref_buf[i] != GUARD || fast_buf[i] != GUARD))
      return "wrote outside the name";
  return "";
}

inline std::string lockstep_difference(scan_fn scan, const std::vector<std::uint8_t>& t,
                                       const std::vector<std::size_t>& reads) {
  return lockstep_difference(scan, t.data(), t.size(), reads, [](const std::uint8_t*) {});
}

#endif
