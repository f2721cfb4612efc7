// A raw deflate stream (a zip member's data, or the body of a gzip member)
// inflated as it arrives. Fed compressed bytes in pieces of any size, it
// gives the tape's bytes a step at a time from a window it keeps; memory
// stays the same however large the stream.
#ifndef BRIVANE_ARCHIVE_DEFLATE_H
#define BRIVANE_ARCHIVE_DEFLATE_H

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
  check_failed,  ///< a gzip member's CRC-32 or size differs from what it inflated to, or its header
                 ///< CRC from its header
  trailing,      ///< other data after the last gzip member
};

/// The fault's name as written here ("cut_short"), for a front end to put
/// into words.
const char* fault_name(inflate_fault fault);

/// The decoding tables of a block's codes (kept out of sight).
struct deflate_tables;

class deflate_decoder {
 public:
  /// Bytes a step gives at the most.
  static constexpr std::size_t STEP = 1 << 20;

  deflate_decoder();
  ~deflate_decoder();
  deflate_decoder(const deflate_decoder&) = delete;
  deflate_decoder& operator=(const deflate_decoder&) = delete;

  /// Takes the next compressed bytes. Call step() until it gives nothing
  /// before feeding more: the bytes not yet used are kept.
  void feed(const std::uint8_t* bytes, std::size_t size);
  /// No more compressed bytes follow.
  void end() { ending_ = true; }
  bool ending() const { return ending_; }
  /// Inflates as far as the bytes fed allow, STEP bytes at the most, and
  /// returns how many it made; they are at output() until the next step.
  /// 0 once it needs more bytes, the stream is over, or it is found faulty.
  std::size_t step();
  const std::uint8_t* output() const { return made_; }

  /// The stream's last block has ended; the bytes after it are at bytes().
  bool finished() const { return stage_ == stage::done; }
  inflate_fault fault() const { return fault_; }

  // For a wrapping read bytewise around deflate streams (gzip): only
  // before a stream's first block or once it has finished.
  /// The bytes fed and not yet used.
  const std::uint8_t* bytes() const { return in_.data() + pos_; }
  std::size_t bytes_left() const { return in_.size() - pos_; }
  /// Uses n of them.
  void skip(std::size_t n);
  /// A new stream starts at bytes(). Its window starts empty: nothing made
  /// before can be reached back into.
  void restart();

 private:
  enum class stage { block_header, stored_length, stored, codes, done };

  void run();
  bool block_header();
  bool dynamic_tables();
  bool codes();
  bool stored_block();
  bool fail(inflate_fault f);
  void end_block();

  // Bits, lowest first, as deflate packs them.
  bool have_bits(unsigned n);
  std::uint32_t take_bits(unsigned n);
  void to_byte_boundary();
  bool between_streams() const {
    return stage_ == stage::done || (stage_ == stage::block_header && out_ == 0);
  }

  stage stage_ = stage::block_header;
  inflate_fault fault_ = inflate_fault::none;
  bool ending_ = false;
  bool last_block_ = false;

  std::vector<std::uint8_t> in_;
  std::size_t pos_ = 0;
  std::uint64_t bitbuf_ = 0;
  unsigned bitcnt_ = 0;
  unsigned padding_ = 0;  // bits of zeros put in past the end of the bytes fed

  std::unique_ptr<std::uint8_t[]>
      window_;             // what was made, its last 32 KiB kept for back references
  std::size_t out_ = 0;    // where the next byte goes
  std::size_t limit_ = 0;  // where this step's bytes end at the most
  const std::uint8_t* made_ = nullptr;

  std::uint32_t stored_left_ = 0;
  std::unique_ptr<deflate_tables> dynamic_;  // a dynamic block's codes
  const deflate_tables* in_use_ = nullptr;
};

#endif
