// Every file on a tape, as a machine loading it would see it: each ROM
// block read whole, its repeated copy beside it, a header's program block
// after it, and each numbered as the listing of all names numbers it. Fed
// the tape in pieces, as the scan is; holds no more than the blocks it is
// reading.
#ifndef BRIVANE_CATALOGUE_TAPE_CATALOGUE_H
#define BRIVANE_CATALOGUE_TAPE_CATALOGUE_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "catalogue/piece_clock.h"
#include "catalogue/rom_reader.h"
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

/// The catalogue of one tape.
class tape_catalogue {
 public:
  /// Times are counted at m's clock.
  explicit tape_catalogue(machine m = machine::c64_pal, class_path path = class_path::fastest);

  /// Feeds the next count bytes of the file.
  void feed(const std::uint8_t* bytes, std::size_t count);
  /// The file has ended: what was still being read is settled.
  void finish();
  /// Takes out the entries settled since the last call, in tape order.
  std::vector<catalogue_entry> take_settled();
  /// Whether the file starts as a TAP file does ("C64-TAPE-RAW"), once 20
  /// bytes of it have been fed.
  bool tap_signature() const { return clock_.signature(); }

 private:
  void read_blocks(const std::uint8_t* p, std::size_t n);
  void listed(std::uint64_t offset);
  void add_block(rom_block b);
  void add_unit(rom_block* first, rom_block* repeat);

  double hz_;
  // The header decoder, run alongside for the listing's numbering.
  tape_decoder dec_{};
  std::uint8_t name_buf_[NAME_LENGTH + 1] = {};
  int listed_count_ = 0;
  piece_clock clock_;
  rom_reader rom_;
  std::vector<rom_block> ended_;  // blocks the reader has just finished

  // A first copy waiting for its repeat; a header waiting for its program.
  rom_block pending_;
  bool has_pending_ = false;
  bool waiting_ = false;
  std::deque<catalogue_entry> done_;
};

#endif
