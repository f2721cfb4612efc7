// Bulk scanning: almost all of a tape is crossed while seeking a pilot, and
// a pilot is only found after more than 5000 short pulses in a row. So while
// seeking, look first at the pulse that would complete the run: when it is
// not short, no run can complete before it, and everything up to it can be
// skipped unseen.
#include "decoder/tape_decoder.h"

namespace {

bool is_short(std::uint8_t p) { return (pulse_classes.of[p] & PULSE_SHORT) != 0; }

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
    std::size_t k = last + 1;
    while (k > i && is_short(pulses[k - 1])) --k;
    if (k == i) {  // pulses[i..last] are all short
      d.pilot_run = static_cast<std::int32_t>(pilot);
      d.state = STATE_PILOT;
      return last + 1;
    }
    run = last + 1 - k;  // pulses[k - 1] ends any run; pulses[k..last] start a new one
    i = last + 1;
  }
  std::size_t k = count;
  while (k > i && is_short(pulses[k - 1])) --k;
  d.pilot_run = static_cast<std::int32_t>(k == i ? run + (count - i) : count - k);
  return count;
}

}  // namespace

int scan_pulses(tape_decoder& d, const std::uint8_t* pulses, std::size_t count,
                std::uint8_t* name_buf, std::size_t* used) {
  std::size_t i = 0;
  while (i < count) {
    if (d.state == STATE_SEEK_PILOT && d.pilot_run >= 0 && d.pilot_run <= PILOT_THRESHOLD) {
      i = seek_pilot(d, pulses, i, count);
      continue;
    }
    if (d.state == STATE_PILOT && d.pilot_run > PILOT_THRESHOLD) {
      while (i < count && is_short(pulses[i])) ++i;  // the count stays where it is
      if (i == count) break;
    }
    if (decode_pulse(d, pulses[i++], name_buf, 0)) {
      *used = i;
      return 1;
    }
  }
  *used = count;
  return 0;
}
