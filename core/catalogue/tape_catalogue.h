// Every file on a tape, as a machine loading it would see it: each ROM
// block read whole (countdown, payload, checksum) with the same pulse
// classes and bit pairs as the header decoder, its repeated copy beside
// it, a header's program block after it. Fed the tape in pieces, as the
// scan is; holds no more than the blocks it is reading.
#ifndef BRIVANE_CATALOGUE_TAPE_CATALOGUE_H
#define BRIVANE_CATALOGUE_TAPE_CATALOGUE_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "decoder/tape_decoder.h"
#include "tap/tap_file.h"

/// Which copy of a block could be loaded: the first, only the repeat,
/// neither (both are damaged or cut short), or there is none at all.
enum class copy_check { ok, repeat, damaged, missing };

/// One header on the tape and the file it announces.
struct catalogue_entry {
  int number = 0;  ///< its number in `brivane -a`'s listing; 0 when not listed
  std::uint8_t type = 0;
  std::uint16_t start = 0, end = 0;     ///< load addresses; end is one past the last byte
  std::uint8_t name[NAME_LENGTH] = {};  ///< as on tape, padded with spaces
  /// File offset of the long pulse opening its first countdown byte (of
  /// the repeat's, where no first copy was found).
  std::uint64_t offset = 0;
  double seconds = 0;  ///< time from the start of the tape to that pulse
  copy_check header = copy_check::damaged;
  std::vector<std::uint8_t> program;  ///< from a copy whose checksum holds; else empty
  copy_check program_check = copy_check::missing;
};

/// One block as read off the tape.
struct rom_block {
  bool repeat = false;             ///< opened with 0x09..0x01, not 0x89..0x81
  std::vector<std::uint8_t> data;  ///< the payload, then the checksum byte
  bool whole = false;              ///< it ended between bytes, not inside one, and was not too long
  bool parity_ok = true;           ///< every byte's parity pair held odd parity
  std::uint64_t offset = 0;        ///< file offset of its first marker's long pulse
  std::uint64_t cycles = 0;        ///< time from the start of the tape to that pulse
  int number = 0;                  ///< set when the header decoder listed it

  /// Whole, parity right and the checksum byte the XOR of the payload.
  bool loads() const;
};

/// The catalogue of one tape.
class tape_catalogue {
 public:
  /// Times are counted at m's clock.
  explicit tape_catalogue(machine m = machine::c64_pal);

  /// Feeds the next count bytes of the file.
  void feed(const std::uint8_t* bytes, std::size_t count);
  /// The file has ended: what was still being read is settled.
  void finish();
  /// Entries settled since the last call, in tape order.
  std::vector<catalogue_entry> take();

 private:
  enum class reading { idle, marker, bits, parity, next };

  void read(const std::uint8_t* p, std::size_t n);
  bool fast_byte(const std::uint8_t* p, std::uint64_t shorts, std::uint64_t mediums, unsigned at);
  void step(std::uint8_t pulse);
  void open_block();
  void store_byte(std::uint8_t value, bool parity_ok);
  void end_block(bool whole);
  void listed();
  void add_block(rom_block b);
  void add_unit(rom_block* first, rom_block* repeat);
  void settle_waiting(rom_block* first, rom_block* repeat);

  double clock_;
  // The header decoder, run alongside for the listing's numbering.
  tape_decoder dec_{};
  std::uint8_t name_buf_[NAME_LENGTH + 1] = {};
  int listed_count_ = 0;
  // Time along the file, and where the bytes being read lie in it.
  tap_clock time_;
  std::uint64_t fed_ = 0;
  const std::uint8_t* piece_ = nullptr;
  std::uint64_t piece_offset_ = 0;
  std::size_t timed_ = 0;  // bytes of the piece the clock has taken
  std::size_t at_ = 0;     // the pulse being read, in the piece

  // The block being read.
  reading state_ = reading::idle;
  std::uint32_t run_ = 0;  // short pulses in a row while idle
  rom_block block_;
  std::uint8_t first_ = 0, shift_ = 0;
  int bits_ = 0, phase_ = 0;
  std::uint8_t ones_ = 0;
  bool in_block_ = false;
  bool end_mark_ = false;  // the marker's second pulse was short as well as medium
  int countdown_ = 0;      // countdown bytes read
  bool overlong_ = false;  // more bytes than any block holds

  // A first copy waiting for its repeat; a header waiting for its program.
  rom_block pending_;
  bool has_pending_ = false;
  bool waiting_ = false;
  std::deque<catalogue_entry> done_;
};

#endif
