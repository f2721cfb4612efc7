// Finds ROM-loader header blocks in a stream of TAP pulse bytes and hands
// over the 16-byte filename stored in each.
#ifndef BRIVANE_DECODER_TAPE_DECODER_H
#define BRIVANE_DECODER_TAPE_DECODER_H

#include <cstddef>
#include <cstdint>

/// What the decoder is waiting for next.
enum : std::int32_t {
  STATE_SEEK_PILOT = 0,  ///< a run of more than 5000 short pulses
  STATE_PILOT = 1,       ///< the long pulse that ends the pilot
  STATE_MARKER = 2,      ///< the medium pulse that closes a byte marker
  STATE_BITS = 3,        ///< eight data-bit pairs
  STATE_PARITY = 4,      ///< the parity pair
  STATE_CHECK_BYTE = 5,  ///< the long pulse of the next marker
};

/// Shortest run of short pulses that counts as a pilot is one more than this.
constexpr std::int32_t PILOT_THRESHOLD = 5000;

/// Number of filename bytes a header holds.
constexpr std::size_t NAME_LENGTH = 16;

/// Pulses of one byte on tape: its marker (long, medium), eight bit pairs
/// and the parity pair.
constexpr std::size_t BYTE_PULSES = 20;

/// Decoder state for one run over a tape; a zero-initialised value is a
/// fresh decoder.
struct tape_decoder {
  std::int32_t state;         ///< one of the STATE_* values
  std::int32_t pilot_run;     ///< current run of short pulses, capped past the threshold
  std::int32_t byte_index;    ///< bytes completed in the current block
  std::uint8_t pair_phase;    ///< 0: next pulse opens a pair; 1: it closes one
  std::uint8_t bit_count;     ///< data bits of the current byte, 0 to 8
  std::uint8_t first_pulse;   ///< first pulse of the current pair
  std::uint8_t second_pulse;  ///< second pulse of the current pair
  std::uint8_t shift_byte;    ///< byte under assembly, least significant bit first
};

/// Pulse classes as bit flags; 57 is both short and medium.
enum : std::uint8_t { PULSE_SHORT = 1, PULSE_MEDIUM = 2, PULSE_LONG = 4 };

/// Class flags of one pulse value: short 39-57, medium 57-75, long 77-95.
constexpr std::uint8_t classify_pulse(int v) {
  return static_cast<std::uint8_t>((v >= 39 && v <= 57 ? PULSE_SHORT : 0) |
                                   (v >= 57 && v <= 75 ? PULSE_MEDIUM : 0) |
                                   (v >= 77 && v <= 95 ? PULSE_LONG : 0));
}

/// classify_pulse for every byte value, for the per-pulse loops.
struct pulse_class_table {
  std::uint8_t of[256];
  constexpr pulse_class_table() : of() {
    for (int v = 0; v < 256; ++v) of[v] = classify_pulse(v);
  }
};
inline constexpr pulse_class_table pulse_classes{};

inline bool is_short(std::uint8_t p) { return (pulse_classes.of[p] & PULSE_SHORT) != 0; }
inline bool is_medium(std::uint8_t p) { return (pulse_classes.of[p] & PULSE_MEDIUM) != 0; }
inline bool is_long(std::uint8_t p) { return (pulse_classes.of[p] & PULSE_LONG) != 0; }

/// The data bit a pair of pulses stands for: (medium, short) is 1 and
/// (short, medium) is 0, tested in that order, so (57, 57) is a 1; -1 when
/// the pair is neither.
inline int pair_bit(std::uint8_t first, std::uint8_t second) {
  if (is_medium(first) && is_short(second)) return 1;
  if (is_short(first) && is_medium(second)) return 0;
  return -1;
}

/// Feeds one pulse to the decoder. Writes filename bytes into positions 0 to
/// 15 of name_buf as they are confirmed and returns 1 when the sixteenth has
/// been confirmed by the long pulse that follows it; 0 otherwise. A nonzero
/// reset clears state and pilot_run before the pulse is handled.
int decode_pulse(tape_decoder& dec, std::uint8_t pulse, std::uint8_t* name_buf, int reset);

/// The first position from i on, up to end, whose pulse is not short.
std::size_t skip_short_pulses(const std::uint8_t* pulses, std::size_t i, std::size_t end);

/// Feeds pulses[0..count) to the decoder, stopping right after a pulse for
/// which decode_pulse returns 1. Stores in *used how many pulses it consumed
/// and returns what decode_pulse returned for the last of them. Gives exactly
/// the results, name bytes and final state of calling decode_pulse (reset
/// clear) on each pulse in turn, but crosses stretches that cannot finish a
/// pilot without looking at most of their pulses.
int scan_pulses(tape_decoder& dec, const std::uint8_t* pulses, std::size_t count,
                std::uint8_t* name_buf, std::size_t* used);

#endif
