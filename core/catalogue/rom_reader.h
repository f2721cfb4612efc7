// The blocks the machines' ROM routines write, read whole off the tape:
// countdown, payload, parity and checksum, with the same pulse classes and
// bit pairs as the header decoder. Fed the tape in pieces; holds no more
// than the block it is reading.
#ifndef BRIVANE_CATALOGUE_ROM_READER_H
#define BRIVANE_CATALOGUE_ROM_READER_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "catalogue/piece_clock.h"
#include "decoder/class_masks.h"

/// One block as read off the tape.
struct rom_block {
  bool repeat = false;             ///< opened with 0x09..0x01, not 0x89..0x81
  std::vector<std::uint8_t> data;  ///< the payload, then the checksum byte
  bool whole = false;              ///< it ended between bytes, not inside one, and was not too long
  bool parity_ok = true;           ///< every byte's parity pair held odd parity
  std::uint64_t offset = 0;        ///< file offset of its first marker's long pulse
  std::uint64_t cycles = 0;        ///< time from the start of the tape to that pulse
  /// Where the run of short pulses before it begins, and where it ends:
  /// the stretch of tape it explains, as file offsets and times.
  std::uint64_t lead_offset = 0, lead_cycles = 0, end_offset = 0, end_cycles = 0;
  int number = 0;  ///< set when the header decoder listed it
  /// Payload bytes read wrong, in order: their parity failed, or their
  /// pulses broke off and the reader found the next byte's marker after
  /// them, as the machine does, counting the bytes between. The repeat may
  /// mend them, as the machine's second pass does.
  std::vector<std::uint32_t> bad;

  /// Whole, no byte read wrong, parity right and the checksum byte the XOR
  /// of the payload.
  bool loads() const;
  /// Whether the bytes that copy read wrong are read right here, at the
  /// same places, and with them the checksum holds: the machine loads the
  /// pair so, reading the first copy and then mending it from the repeat.
  /// The mended bytes go to out.
  bool mends(const rom_block& copy, std::vector<std::uint8_t>& out) const;
};

/// Where a block lies, once its countdown has been read: from the pulse
/// after its countdown to the pulse that ended it: no turbo loader's.
struct rom_claim {
  std::uint64_t begin = 0;
  std::uint64_t end = UINT64_MAX;  ///< UINT64_MAX while the block goes on
};

/// What the reader waits for next.
enum class rom_state {
  idle,    ///< a run of short pulses, then the long pulse that opens a block
  marker,  ///< the medium pulse that closes a byte marker
  bits,    ///< the eight data-bit pairs of a byte
  parity,  ///< the byte's parity pair
  next,    ///< the long pulse of the next byte's marker, or the end of the block
  resync,  ///< a byte broke off: the next byte's marker, a few pulses on, or the end
};

class rom_reader {
 public:
  explicit rom_reader(class_path path = class_path::fastest) : path_(path) {}

  /// Reads p[0..n), which lie in the piece the clock times; blocks that end
  /// go to ended, in tape order.
  void read(const std::uint8_t* p, std::size_t n, piece_clock& clock,
            std::vector<rom_block>& ended);
  /// The tape has ended, end bytes and cycles into it: a block still being
  /// read ends with it.
  void finish(std::uint64_t end, std::uint64_t cycles, std::vector<rom_block>& ended);
  /// The smallest file offset of a block still to end: where the run of
  /// short pulses before it began; at the most, what has been read.
  std::uint64_t horizon(std::uint64_t read) const {
    return in_block_ ? block_.lead_offset : run_pulses_ > 0 ? run_begin_ : read;
  }
  /// The header decoder has just listed a name, at the long pulse after the
  /// header's 21st byte past its countdown: true, with the block marked, when
  /// the block being read is that header's first copy.
  bool mark_listed(int number);
  rom_state state() const { return state_; }
  /// The blocks' bytes read so far, in tape order, but for those forgotten.
  const std::vector<rom_claim>& claims() const { return claims_; }
  /// Forgets the claims that end at or before offset.
  void forget_claims(std::uint64_t offset);

 private:
  bool whole_byte(const std::uint8_t* p, const class_masks& c, unsigned at);
  std::size_t payload(const std::uint8_t* p, std::size_t i, std::size_t n, bool& stuck);
  void step(const std::uint8_t* at, piece_clock& clock, std::vector<rom_block>& ended);
  void store_byte(std::uint8_t value, bool parity_ok);
  void end_block(bool whole, std::uint64_t end, std::uint64_t end_cycles,
                 std::vector<rom_block>& ended);
  void lead(const std::uint8_t* p, std::size_t n, piece_clock& clock);
  bool cross_idle(const std::uint8_t* p, piece_clock& clock);
  void restart_run(const std::uint8_t* at, piece_clock& clock);
  void claim_from(std::uint64_t after);
  void break_off(const std::uint8_t* at, piece_clock& clock, bool whole, unsigned stored,
                 std::vector<rom_block>& ended);
  void resync(const std::uint8_t* at, piece_clock& clock, std::vector<rom_block>& ended);
  void found_marker(const std::uint8_t* at);
  void mark_bad(std::size_t index);

  class_path path_;
  rom_state state_ = rom_state::idle;
  std::uint32_t run_ = 0;  // short pulses in a row while idle, up to the lead a block needs
  std::uint64_t run_pulses_ = 0, run_units_ = 0,
                run_begin_ = 0;  // the whole run: its length, sum, start
  rom_block block_;
  std::uint8_t first_ = 0, shift_ = 0;
  int bits_ = 0, phase_ = 0;
  std::uint8_t ones_ = 0;
  bool in_block_ = false;
  bool end_mark_ = false;      // the marker's second pulse was short as well as medium
  int countdown_ = 0;          // countdown bytes read
  bool told_copy_ = false;     // a countdown byte read says whether the block is a repeat
  bool overlong_ = false;      // more bytes than any block holds
  bool counted_down_ = false;  // the byte just stored ended the countdown
  // Pulses since, and with, the long pulse of the last byte's marker.
  std::uint32_t byte_pulses_ = 0;
  // Where the block broke off, while the next marker is looked for: the
  // pulses looked at, the bytes stored since the last marker, whether it
  // would have ended whole there, and where; the pulses since the last
  // marker to a long pulse just seen, 0 if the last pulse was none; and the
  // bytes the block must hold before it may break off and go on again.
  std::uint32_t resync_seen_ = 0, resync_stored_ = 0, resync_long_ = 0;
  std::size_t resync_from_ = 0;
  bool resync_whole_ = false;
  std::uint64_t break_offset_ = 0, break_cycles_ = 0;
  std::vector<rom_claim> claims_;
};

#endif
