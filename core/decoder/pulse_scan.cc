// Bulk scanning: almost all of a tape is crossed while seeking a pilot, and
// a pilot is only found after more than 5000 short pulses in a row. So while
// seeking, look first at the pulse that would complete the run: when it is
// not short, no run can complete before it, and everything up to it can be
// skipped unseen.
#include "decoder/class_masks.h"
#include "decoder/tape_decoder.h"

namespace {

// The first position from i on whose pulse is not short, or end.
std::size_t skip_short(const std::uint8_t* p, std::size_t i, std::size_t end) {
#ifdef BRIVANE_SSE2
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
#ifdef BRIVANE_SSE2
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

// Pulses of a byte after its marker's long pulse: the medium one, eight bit
// pairs and the parity pair.
constexpr std::size_t PULSES_AFTER_LONG = BYTE_PULSES - 1;

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
    if (d.state == STATE_MARKER && count - i > PULSES_AFTER_LONG && read_byte(d, pulses + i))
      i += PULSES_AFTER_LONG;
    if (decode_pulse(d, pulses[i++], name_buf, 0)) {
      *used = i;
      return 1;
    }
  }
  *used = count;
  return 0;
}
