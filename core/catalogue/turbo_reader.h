// Turbo loaders' blocks found on a tape, fed the same pulses in the same
// pieces as the ROM block reader. Most of a tape is crossed looking only for
// a lead: a stretch whose pulses repeat every eight, as a pilot of one byte
// or one bit does. There every loader whose lead fits is tried side by side,
// each reading bits by its own threshold, until one reads a whole block.
#ifndef BRIVANE_CATALOGUE_TURBO_READER_H
#define BRIVANE_CATALOGUE_TURBO_READER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/lead_masks.h"
#include "catalogue/piece_clock.h"
#include "catalogue/rom_reader.h"
#include "catalogue/turbo_loaders.h"

/// One loader tried on one lead: where it stands in its lead, its bytes
/// and its reader of the block.
struct lead_try {
  /// What the loader waits for next.
  enum phase_t {
    align,  ///< the pilot byte in its shift register, to find where bytes begin
    pilot,  ///< more of the pilot, or its end
    sync,   ///< the sync bytes
    body,   ///< the block itself, read by the row's reader
    tail,   ///< a pause or a steady tone after it, where the row asks for one
  };
  std::size_t row = 0;
  int threshold = 0;
  phase_t phase = align;
  std::uint8_t reg = 0, pilot_byte = 0;
  int bits = 0;
  unsigned count = 0;
  // Of count, the pilot a try on the same lead read before a spoilt pulse
  // ended it, a few pulses back.
  unsigned carried = 0;
  std::size_t sync_at = 0;
  bool short_pending = false;   // the first short pulse of a Pavloda 1
  bool first_state = false;     // Super Pavloda's: a medium pulse switched it from its second
  bool floating = false;        // a pilot of one kind met with no pause before it
  bool named_floating = false;  // a named pilot whose bytes' place its complement shows
  // Its lead's first pulse is the first after a break in the stream: a
  // pause, or a ROM block passed over.
  bool after_pause = false;
  // A pilot of one kind of pulse (of one bit, or of the byte 0 or 255): its
  // pulses so far, their mean over the first sixteen, and then the band
  // every later one must lie in, a quarter either side of it.
  unsigned pilot_pulses = 0;
  double pilot_mean = 0;
  int band_lo = 0, band_hi = 255;
  std::uint64_t sum[2] = {}, n[2] = {};  // pulses read as 0 and as 1
  std::unique_ptr<block_reader> reader;
  std::uint64_t lead_offset = 0, lead_units = 0;  // where its lead began; pulse units since
  std::uint64_t body_offset = 0, body_units = 0;  // where its block began; units since
  int tail_left = 0, tail_bit = -1;
};

/// A stretch of the tape a loader's block explains: its lead and the block.
struct turbo_span {
  std::uint64_t begin = 0, finish = 0;  ///< file offsets: its lead's first pulse, one past its last
  std::uint64_t cycles_begin = 0, cycles_finish = 0;
};

/// What the reader found in the pulses fed: files, the stretches of tape
/// its blocks explain, and the tones: stretches of pulses repeating every
/// eight (a lead, a trailer), which a block beside them explains too.
/// A block a loader read: where its bytes begin (after its sync) and end,
/// their time, its files' bytes and whether its checks hold.
struct turbo_block {
  std::string loader;
  std::uint64_t offset = 0, finish = 0, cycles_at = 0, cycles_finish = 0;
  std::uint32_t bytes = 0;
  copy_check check = copy_check::none;
};

struct turbo_found {
  std::vector<turbo_file> files;
  std::vector<turbo_span> spans;
  std::vector<turbo_span> tones;
  std::vector<turbo_block> blocks;
};

class turbo_reader {
 public:
  explicit turbo_reader(class_path path = class_path::fastest);

  /// Reads the next count bytes of the file (a TAP file's header and its
  /// pauses told apart from pulses). The ROM's blocks read in them, or going
  /// on into them, are claims: their bytes are passed over, as no turbo
  /// loader's, each breaking the stream as a pause does.
  void read(const std::uint8_t* bytes, std::size_t count, turbo_found& out,
            const std::vector<rom_claim>& claims = {});
  /// The tape has ended.
  void finish(turbo_found& out);
  /// The smallest file offset a file not yet given out may have: what it
  /// reads now, or a file it keeps open for more.
  std::uint64_t horizon() const;
  /// The smallest file offset a stretch its blocks explain may yet begin at.
  std::uint64_t span_horizon() const;
  /// Bytes it holds of what it reads: its tries, and files it keeps.
  std::size_t held_bytes() const;
  /// Times the tape by leader's checkpoints: a clock that has taken each
  /// piece whole just before this reads it.
  void follow(const piece_clock* leader) { clock_.follow(leader); }
  /// A ROM header block read on the tape (its payload: type, addresses,
  /// name and the rest): where a boot loader names its Burner blocks' lead.
  void rom_header(const std::uint8_t* payload, std::size_t size);

 private:
  std::size_t seek(const std::uint8_t* p, std::size_t i, std::size_t n, turbo_found& out);
  // The 64 pulses at q as the lead detector sees them.
  struct lead_view {
    block_stats block{};
    std::uint64_t alike = 0, stop = 0;
    std::uint8_t head[16] = {};  // the eight pulses before q, then q's first eight
    unsigned head_least = 255, head_most = 0;
  };
  lead_view look(const std::uint8_t* q) const;
  std::uint64_t within(const std::uint8_t* q, const block_stats& block, int low, int high) const;
  void pass(const std::uint8_t* q, unsigned e, const lead_view& v, unsigned units);
  std::size_t cross(const std::uint8_t* q, std::size_t available);
  bool cross_steady(const std::uint8_t* q, std::size_t count);
  void remember_many(const std::uint8_t* q, std::size_t count);
  std::size_t step_engaged(const std::uint8_t* p, std::size_t i, std::size_t n, turbo_found& out);
  void engage(const std::uint8_t* at);
  void engage_short(const std::uint8_t* at);
  void try_lead(const std::uint8_t* window, unsigned size, std::uint64_t lead_offset,
                std::uint64_t lead_units, bool after_pause, bool short_only);
  enum class fed { going, failed, done };
  std::size_t read_body(const std::uint8_t* q, std::size_t* event, fed* outcome);
  enum class taken { kept, stays, dropped };
  taken take(std::size_t k, fed f, const std::uint8_t* after, turbo_found& out);
  bool feed_tries(const std::uint8_t* p, std::size_t i, std::size_t k, std::size_t before,
                  turbo_found& out);
  bool pilot_band(const lead_try& t, int* low, int* high) const;
  void more_of_bit_pilot(lead_try& t, unsigned pulses, unsigned units) const;
  static int pilot_period(const loader_row& row);
  static bool sync_shows_start(const loader_row& row);
  bool reads_bytes() const;
  fed feed(lead_try& t, std::uint8_t pulse, int bit = -1);
  fed feed_three(lead_try& t, std::uint8_t pulse);
  bool one_kind(const lead_try& t) const;
  static bool steady(lead_try& t, std::uint8_t pulse);
  fed feed_byte(lead_try& t, std::uint8_t b);
  void start_body(lead_try& t, std::uint8_t sync);
  bool accept(const lead_try& t) const;
  bool pilot_timed(const lead_try& t, const loader_row& row) const;
  bool could_lead(std::size_t r, unsigned longs) const;
  static unsigned window_order(const loader_row& row);
  void read_out(lead_try& t, const std::uint8_t* after, turbo_found& out);
  bool settle(lead_try& t, const std::uint8_t* after, turbo_found& out);
  void commit(turbo_found& found, turbo_found& out);
  void give(turbo_file f, turbo_found& out);
  void let_go(turbo_found& out);
  void break_stream(const std::uint8_t* at, turbo_found& out);
  void remember(const std::uint8_t* at, turbo_found& out);
  void end_tone(const std::uint8_t* at, turbo_found& out);

  bool bulk_;         // stretches with nothing in them crossed 64 pulses at once
  lead_masks masks_;  // how
  std::vector<loader_row> rows_;
  std::vector<std::unique_ptr<loader_memory>> memory_;  // each row's, between its blocks
  std::vector<unsigned> pilot_bits_;  // each row's pilot byte, its first pulse the lowest bit
  std::size_t burner_row_;            // tried only once a boot loader's header names its lead
  bool burner_known_ = false;
  piece_clock clock_;
  std::uint8_t head_[20] = {};
  std::size_t head_size_ = 0;
  bool pauses_ = false;
  int skip_ = 0;  // bytes of a pause's length still to pass over

  // The pulses since the last break: the last 64, how many, and how many in
  // a row were like the one eight before.
  std::uint8_t history_[64] = {};
  std::uint64_t since_break_ = 0;
  unsigned periodic_ = 0;
  std::uint64_t tone_begin_ = 0, tone_units_ = 0;  // the run of pulses like the ones eight before

  // The ROM's block whose bytes are being passed over, by where they begin;
  // and where the last one passed over began.
  bool in_claim_ = false;
  std::uint64_t claim_begin_ = 0;
  bool any_claim_ = false;
  void read_pulses(const std::uint8_t* bytes, std::size_t i, std::size_t n, turbo_found& out);

  bool engaged_ = false;
  bool lead_open_ = false;      // the lead last tried goes on: it is not tried again
  std::uint64_t rearm_at_ = 0;  // but once more when since_break_ comes to this (0: not)
  bool banded_ = false;         // it is of one kind of pulse, these long at the most and least:
  int band_lo_ = 0, band_hi_ = 0;
  // For each row, the last of its tries that failed in its pilot: the pilot
  // it had read, and since_break_ then. A try of the row on a lead met again
  // within a window of pulses after it counts that pilot as its own.
  struct carry {
    unsigned count = 0;
    std::uint64_t at = 0;
  };
  std::vector<carry> carries_;
  void block_kept();
  void lead_over();
  std::vector<lead_try> tries_;
  bool has_open_ = false;  // a file that may go on in a later block
  turbo_file open_;
  // A block read whole whose checks did not all hold, or which has none:
  // kept while tries that may do better read on.
  int held_quality_ = -1;
  turbo_found held_;
};

#endif
