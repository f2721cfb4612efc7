// Every file on a tape, as a machine loading it would see it: each ROM
// block read whole, its repeated copy beside it, a header's program block
// after it, each numbered as the listing of all names numbers it; each
// turbo loader's file; and each stretch of the tape that no reader
// recognises. Fed the tape in pieces, as the scan is; holds no more than the
// blocks it is reading.
#ifndef BRIVANE_CATALOGUE_TAPE_CATALOGUE_H
#define BRIVANE_CATALOGUE_TAPE_CATALOGUE_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "catalogue/copy_check.h"
#include "catalogue/piece_clock.h"
#include "catalogue/rom_reader.h"
#include "catalogue/turbo_reader.h"
#include "decoder/tape_decoder.h"
#include "tap/tap_file.h"

/// What a record is: a file a loader reads, or a stretch of the tape no
/// reader recognises.
enum class entry_kind { file, unrecognised, block };

/// One file on the tape, or one stretch of it that no reader recognises;
/// or, where they are asked for, one block read, under its file.
struct catalogue_entry {
  entry_kind kind = entry_kind::file;
  /// "rom" for the ROM's own blocks, a turbo format's name, "" for a stretch.
  std::string loader = "rom";
  int number = 0;                    ///< its number in `brivane -a`'s listing; 0 when not listed
  std::uint8_t type = 0;             ///< a ROM header's type; 0 for the rest
  std::uint16_t start = 0, end = 0;  ///< load addresses; end is one past the last byte
  std::uint8_t name[NAME_LENGTH] =
      {};  ///< as on tape, padded with spaces; spaces where the format keeps none
  /// File offset of the long pulse opening its first countdown byte (of
  /// the repeat's, where no first copy was found); of a turbo file's first
  /// byte after its sync; of a stretch's first pulse.
  std::uint64_t offset = 0;
  double seconds = 0;  ///< time from the start of the tape to that pulse
  copy_check header = copy_check::damaged;
  std::vector<std::uint8_t>
      program;  ///< from a copy whose checksum holds (or that has none); else empty
  copy_check program_check = copy_check::missing;
  /// A turbo file's blocks, lead to end, or a stretch: its pulses, and how long they last.
  std::uint64_t length = 0;
  double duration = 0;
  /// A stretch's most common pulse values, the most common first.
  std::vector<std::uint8_t> pulse_values;
  /// A block's bytes: a ROM block's payload, a turbo block's files'.
  std::uint32_t block_bytes = 0;
  /// How many bytes program holds as taken out; kept where a caller lets
  /// the bytes themselves go.
  std::size_t program_size = 0;
};

/// Bytes of pulses a TAP file holds, and the bytes its header gives.
struct tap_shortfall {
  std::uint64_t holds = 0, gives = 0;
};

/// The catalogue of one tape.
class tape_catalogue {
 public:
  /// Times are counted at m's clock.
  explicit tape_catalogue(machine m = machine::c64_pal, class_path path = class_path::fastest);
  tape_catalogue(const tape_catalogue&) = delete;  // its turbo reader times by its clock
  tape_catalogue& operator=(const tape_catalogue&) = delete;

  /// Feeds the next count bytes of the file.
  void feed(const std::uint8_t* bytes, std::size_t count);
  /// The file has ended: what was still being read is settled.
  void finish();
  /// Whether each block read is an entry of its own too (kind block, after
  /// its file's): a ROM block's copy (header: ok for the first, repeat for
  /// the repeat) with its own check as program_check, a turbo loader's block
  /// with its checks. Off unless asked for.
  void list_blocks(bool on) { blocks_ = on; }
  /// Takes out the entries settled since the last call, in tape order.
  std::vector<catalogue_entry> take_settled();
  /// Keeps each name the header decoder lists (off by default: a tape of
  /// nothing but headers would hold 16 bytes for every few thousand).
  void keep_listed_names(bool on) { keep_names_ = on; }
  /// With keep_listed_names, the names listed so far, as `brivane -a` finds
  /// them: 16 bytes each, one after another.
  const std::string& listed_names() const { return listed_names_; }
  /// How many names the header decoder has listed so far.
  int listed_count() const { return listed_count_; }
  /// Whether the file starts as a TAP file does ("C64-TAPE-RAW"), once 20
  /// bytes of it have been fed.
  bool tap_signature() const { return clock_.signature(); }
  /// Once finished, for a TAP file that ends before the pulses its header
  /// gives: how many bytes of pulses it holds and how many the header gives.
  /// {0, 0} for any other file (a header that gives fewer than the file
  /// holds is no sign of loss).
  tap_shortfall cut_short() const;
  /// Once finished: the share of the tape's time, pauses aside, that the
  /// blocks read explain, 0 to 1 (1 for a tape with nothing on it).
  double coverage() const;
  /// Bytes it holds now of what could grow with a tape: blocks, files and
  /// stretches not yet settled or taken out; it stays flat however long
  /// the tape.
  std::size_t held_bytes() const;

 private:
  void read_blocks(const std::uint8_t* p, std::size_t n);
  void listed(std::uint64_t offset);
  void add_block(rom_block b);
  void add_unit(rom_block* first, rom_block* repeat);
  void add_turbo(turbo_found& found);
  void sample(const std::uint8_t* bytes, std::size_t count);
  void account(std::uint64_t limit, bool all);
  void gap(std::uint64_t to, std::uint64_t to_cycles, bool block_after);
  void stretch(std::uint64_t from, std::uint64_t from_cycles, std::uint64_t to,
               std::uint64_t to_cycles);
  void end_stretch();

  double hz_;
  // The header decoder, run alongside for the listing's numbering.
  tape_decoder dec_{};
  std::uint8_t name_buf_[NAME_LENGTH + 1] = {};
  int listed_count_ = 0;
  bool keep_names_ = false;
  std::string listed_names_;
  piece_clock clock_;
  rom_reader rom_;
  std::vector<rom_block> ended_;  // blocks the reader has just finished
  turbo_reader turbo_;
  turbo_found found_;
  std::uint64_t fed_ = 0;
  bool finished_ = false;

  // A first copy waiting for its repeat; a header waiting for its program.
  rom_block pending_;
  bool has_pending_ = false;
  bool waiting_ = false;
  std::deque<catalogue_entry> done_;    // the ROM's entries, the last perhaps waiting
  std::vector<catalogue_entry> ready_;  // settled entries of every reader, to go out in tape order

  // What the blocks read explain: their stretches of tape, not yet accounted
  // for; the pauses; everything up to covered_ accounted for.
  std::vector<turbo_span> spans_, tones_;
  std::vector<pause_mark> pauses_;
  std::uint64_t covered_ = 0, covered_cycles_ = 0;
  bool blocks_ = false;
  bool block_before_ = false;  // what covered_ ends is a block, not a pause
  std::uint64_t explained_ = 0, paused_ = 0;
  // The stretch no block explains being gathered, pauses aside: where it
  // begins, its pulses and their time, the pulse values sampled in it.
  struct unknown_stretch {
    bool open = false;
    std::uint64_t from = 0, from_cycles = 0, pulses = 0, cycles = 0;
    std::array<std::uint32_t, 256> counts{};
  } unknown_;
  // Pulse values seen, the one at every 16th byte of the file, from the
  // first_sample_'th such byte on (about covered_'s), to stretches' counts.
  // Those before samples_[taken_] are gone. A ROM block's bytes are
  // sampled as 0s: no stretch lies in them.
  std::vector<std::uint8_t> samples_;
  std::size_t taken_ = 0;
  std::uint64_t first_sample_ = 0;
  void drop_samples(std::uint64_t before);
};

#endif
