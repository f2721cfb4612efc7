// decode_pulse: the header decoder's state machine, one pulse at a time.
#include "decoder/tape_decoder.h"

namespace {

// Counts one more short pulse. The count stops once it is past the threshold:
// nothing depends on how far past, and a pilot of more than 2^31 pulses must
// not overflow it.
void count_short(tape_decoder& d) {
  if (d.pilot_run <= PILOT_THRESHOLD) ++d.pilot_run;
  if (d.pilot_run > PILOT_THRESHOLD) d.state = STATE_PILOT;
}

// Puts the pulse into the current pair; true when the pair is now complete.
bool store_in_pair(tape_decoder& d, std::uint8_t pulse) {
  if (d.pair_phase == 0) {
    d.first_pulse = pulse;
    d.pair_phase = 1;
    return false;
  }
  d.second_pulse = pulse;
  d.pair_phase = 0;
  return true;
}

// A long pulse has confirmed the byte in shift_byte: check it against the
// header layout and keep it when it belongs to the name.
int check_byte(tape_decoder& d, std::uint8_t* name_buf) {
  const std::int32_t i = d.byte_index;
  if (i >= 1 && i <= 9 && d.shift_byte != 138 - i) {  // countdown 0x89..0x81
    d.state = STATE_SEEK_PILOT;
    return 0;
  }
  if (i == 10 && d.shift_byte != 1 && d.shift_byte != 3) {  // header type
    d.state = STATE_SEEK_PILOT;
    return 0;
  }
  if (i >= 15 && i <= 30) name_buf[i - 15] = d.shift_byte;
  if (i == 30) {
    d.state = STATE_SEEK_PILOT;
    return 1;
  }
  d.state = STATE_MARKER;  // this long pulse opens the next byte's marker
  return 0;
}

}  // namespace

int decode_pulse(tape_decoder& d, std::uint8_t pulse, std::uint8_t* name_buf, int reset) {
  if (reset) {
    d.state = STATE_SEEK_PILOT;
    d.pilot_run = 0;
  }
  const std::uint8_t cls = pulse_classes.of[pulse];
  switch (d.state) {
    case STATE_SEEK_PILOT:
      if (cls & PULSE_SHORT)
        count_short(d);
      else
        d.pilot_run = 0;
      return 0;
    case STATE_PILOT:
      if (cls & PULSE_SHORT) {
        count_short(d);
      } else if (cls & PULSE_LONG) {
        d.pilot_run = 0;
        d.byte_index = 0;
        d.state = STATE_MARKER;
      } else {
        d.pilot_run = 0;
        d.state = STATE_SEEK_PILOT;
      }
      return 0;
    case STATE_MARKER:
      if (cls & PULSE_MEDIUM) {
        d.pair_phase = 0;
        d.bit_count = 0;
        d.state = STATE_BITS;
      } else {
        d.state = STATE_SEEK_PILOT;
      }
      return 0;
    case STATE_BITS:
      if (!store_in_pair(d, pulse)) return 0;
      d.shift_byte = static_cast<std::uint8_t>(d.shift_byte >> 1);
      switch (pair_bit(d.first_pulse, d.second_pulse)) {
        case 1:
          d.shift_byte |= 0x80;
          break;
        case 0:
          break;
        default:
          d.state = STATE_SEEK_PILOT;
          return 0;
      }
      if (++d.bit_count == 8) {
        d.bit_count = 0;
        d.state = STATE_PARITY;
      }
      return 0;
    case STATE_PARITY:  // parity is never checked: any two pulses will do
      if (store_in_pair(d, pulse)) {
        ++d.byte_index;
        d.state = STATE_CHECK_BYTE;
      }
      return 0;
    case STATE_CHECK_BYTE:
      if (cls & PULSE_LONG) return check_byte(d, name_buf);
      d.state = STATE_SEEK_PILOT;
      return 0;
    default:  // not a state the decoder ever enters; start over
      d.state = STATE_SEEK_PILOT;
      return 0;
  }
}
