// Deflated data inflated as it arrives: a zip member's raw deflate stream,
// or a gzipped tape (one gzip member after another, each with its own
// checks). Fed compressed bytes in pieces of any size, it gives the tape's
// bytes a step at a time from a window it keeps; memory stays the same
// however large the stream.
#ifndef BRIVANE_ARCHIVE_INFLATE_H
#define BRIVANE_ARCHIVE_INFLATE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

/// What went wrong with a compressed stream, if anything.
enum class inflate_fault {
  none,
  damaged,       ///< not a valid deflate stream
  cut_short,     ///< the bytes ended before the stream did
  not_gzip,      ///< no gzip header where one must be
  unsupported,   ///< a gzip header for a method other than deflate, or with unknown flags
  check_failed,  ///< a gzip member's CRC-32 or size differs from what it inflated to
  trailing,      ///< other data after the last gzip member
};

/// A plain sentence for a fault, such as "its compressed data is damaged,
/// so it could not be inflated".
const char* describe(inflate_fault fault);

class inflater {
 public:
  enum class wrapping { raw, gzip };
  /// Bytes a step gives at the most.
  static constexpr std::size_t STEP = 1 << 20;

  explicit inflater(wrapping w = wrapping::raw);

  /// Takes the next compressed bytes. Call step() until it gives nothing
  /// before feeding more: the bytes not yet used are kept.
  void feed(const std::uint8_t* bytes, std::size_t size);
  /// No more compressed bytes follow.
  void end() { ending_ = true; }
  /// Inflates as far as the bytes fed allow, STEP bytes at the most, and
  /// returns how many it made; they are at output() until the next step.
  /// 0 once it needs more bytes, the stream is over, or it is found faulty.
  std::size_t step();
  const std::uint8_t* output() const { return made_; }

  /// The stream (every gzip member) has ended as it should.
  bool finished() const { return stage_ == stage::done; }
  inflate_fault fault() const { return fault_; }

  /// A decoding table: a code's entry is found by its first bits; codes
  /// longer than the table's own bits lead on to a second level. Room for
  /// the largest table a code of lengths can need at the first bits used
  /// here (11 for literals and lengths, 8 for distances): the second levels
  /// need fewer entries the more first bits there are, and at 9 bits they
  /// need at most 340.
  struct table {
    std::uint32_t entry[2048 + 512];
    unsigned bits;
  };

 private:
  enum class stage { gzip_header, gzip_extra_length, gzip_extra, gzip_name, gzip_comment, gzip_header_crc,
                     block_header, stored_length, stored, codes, gzip_trailer, gzip_next, done };

  void run();
  bool block_header();
  bool dynamic_tables();
  bool codes();
  bool stored_block();
  bool gzip_stage();
  bool fail(inflate_fault f);
  void account();

  // Bits, lowest first, as deflate packs them.
  bool have_bits(unsigned n);
  std::uint32_t take_bits(unsigned n);
  void to_byte_boundary();
  std::size_t bytes_left() const { return in_.size() - pos_; }

  wrapping wrapping_;
  stage stage_;
  inflate_fault fault_ = inflate_fault::none;
  bool ending_ = false;
  bool last_block_ = false;

  std::vector<std::uint8_t> in_;
  std::size_t pos_ = 0;
  std::uint64_t bitbuf_ = 0;
  unsigned bitcnt_ = 0;
  unsigned padding_ = 0;  // bits of zeros put in past the end of the bytes fed

  std::unique_ptr<std::uint8_t[]> window_;  // what was made, its last 32 KiB kept for back references
  std::size_t out_ = 0;               // where the next byte goes
  std::size_t checked_ = 0;           // made bytes up to here are in the gzip checks
  std::size_t limit_ = 0;             // where this step's bytes end at the most
  const std::uint8_t* made_ = nullptr;

  std::uint32_t stored_left_ = 0;
  table lengths_{}, distances_{};
  const table* lengths_in_use_ = nullptr;
  const table* distances_in_use_ = nullptr;

  // Gzip: the header's flags, bytes still to skip, and the member's checks.
  unsigned gzip_flags_ = 0;
  std::uint32_t gzip_skip_ = 0;
  std::uint32_t crc_ = 0;
  std::uint32_t member_size_ = 0;
  unsigned members_ = 0;  // gzip members read whole
  bool padded_ = false;   // zeros seen after the last of them
};

#endif
