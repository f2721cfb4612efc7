// Bulk scanning: almost all of a tape is crossed while seeking a pilot, and
// a pilot is only found after more than 5000 short pulses in a row. So while
// seeking, look first at the pulse that would complete the run: when it is
// not short, no run can complete before it, and everything up to it can be
// skipped unseen.
#include "decoder/tape_decoder.h"

#if defined(__SSE2__) && !defined(BRIVANE_NO_SIMD)
#include <emmintrin.h>
#endif

namespace {

#if defined(__SSE2__) && !defined(BRIVANE_NO_SIMD)
// Bit k set when p[k] is short, for 16 pulses.
unsigned short_mask16(const std::uint8_t* p) {
  const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i above = _mm_sub_epi8(x, _mm_set1_epi8(39));  // 39..57 -> 0..18
  const __m128i in = _mm_cmpeq_epi8(_mm_min_epu8(above, _mm_set1_epi8(18)), above);
  return static_cast<unsigned>(_mm_movemask_epi8(in));
}
#endif

// The first position from i on whose pulse is not short, or end.
std::size_t skip_short(const std::uint8_t* p, std::size_t i, std::size_t end) {
#if defined(__SSE2__) && !defined(BRIVANE_NO_SIMD)
  for (; end - i >= 16; i += 16) {
    const unsigned other = ~short_mask16(p + i) & 0xFFFFu;
    if (other != 0) return i + static_cast<std::size_t>(__builtin_ctz(other));
  }
#endif
  while (i < end && is_short(p[i])) ++i;
  return i;
}

// The start of the run of short pulses that ends just before end, looking no
// further back than begin.
std::size_t run_start(const std::uint8_t* p, std::size_t begin, std::size_t end) {
#if defined(__SSE2__) && !defined(BRIVANE_NO_SIMD)
  for (; end - begin >= 16; end -= 16) {
    const unsigned other = ~short_mask16(p + end - 16) & 0xFFFFu;
    if (other != 0) return end - 16 + static_cast<std::size_t>(32 - __builtin_clz(other));
  }
#endif
  while (end > begin && is_short(p[end - 1])) --end;
  return end;
}

// Seeks a pilot from pulses[i] on, with d in the seek state and a run of
// 0 to PILOT_THRESHOLD short pulses behind it. Returns the position after the
// pulse that completed the pilot (d is then in the pilot state), or count
// (d then holds the run at the end of the pulses).
std::size_t seek_pilot(tape_decoder& d, const std::uint8_t* pulses, std::size_t i,
                       std::size_t count) {
  std::size_t run = static_cast<std::size_t>(d.pilot_run);
  const std::size_t pilot = PILOT_THRESHOLD + 1;
  while (count - i >= pilot - run) {
    const std::size_t last = i + (pilot - run) - 1;  // where the run would complete
    const std::size_t k = run_start(pulses, i, last + 1);
    if (k == i) {  // pulses[i..last] are all short
      d.pilot_run = static_cast<std::int32_t>(pilot);
      d.state = STATE_PILOT;
      return last + 1;
    }
    run = last + 1 - k;  // pulses[k - 1] ends any run; pulses[k..last] start a new one
    i = last + 1;
  }
  const std::size_t k = run_start(pulses, i, count);
  d.pilot_run = static_cast<std::int32_t>(k == i ? run + (count - i) : count - k);
  return count;
}

// Reads a whole byte from a marker's medium pulse on: the medium pulse, eight
// bit pairs, the parity pair. Returns false, with d untouched, when any of
// them does not fit, so that the pulses can go through decode_pulse instead;
// otherwise leaves d exactly as decode_pulse would, waiting for the long pulse
// that confirms the byte.
bool read_byte(tape_decoder& d, const std::uint8_t* p) {
  if (!is_medium(p[0])) return false;
  unsigned value = 0;
  for (int k = 0; k < 8; ++k) {
    const int bit = pair_bit(p[1 + 2 * k], p[2 + 2 * k]);
    if (bit < 0) return false;
    value |= static_cast<unsigned>(bit) << k;
  }
  d.shift_byte = static_cast<std::uint8_t>(value);
  d.first_pulse = p[17];  // the parity pair, never checked
  d.second_pulse = p[18];
  d.pair_phase = 0;
  d.bit_count = 0;
  ++d.byte_index;
  d.state = STATE_CHECK_BYTE;
  return true;
}

// Pulses from a marker's medium pulse to the parity pair's end.
constexpr std::size_t BYTE_PULSES = 19;

}  // namespace

std::size_t skip_short_pulses(const std::uint8_t* pulses, std::size_t i, std::size_t end) {
  return skip_short(pulses, i, end);
}

int scan_pulses(tape_decoder& d, const std::uint8_t* pulses, std::size_t count,
                std::uint8_t* name_buf, std::size_t* used) {
  std::size_t i = 0;
  while (i < count) {
    if (d.state == STATE_SEEK_PILOT && d.pilot_run >= 0 && d.pilot_run <= PILOT_THRESHOLD) {
      i = seek_pilot(d, pulses, i, count);
      continue;
    }
    if (d.state == STATE_PILOT && d.pilot_run > PILOT_THRESHOLD) {
      i = skip_short(pulses, i, count);  // the count stays where it is
      if (i == count) break;
    }
    if (d.state == STATE_MARKER && count - i > BYTE_PULSES && read_byte(d, pulses + i))
      i += BYTE_PULSES;
    if (decode_pulse(d, pulses[i++], name_buf, 0)) {
      *used = i;
      return 1;
    }
  }
  *used = count;
  return 0;
}
