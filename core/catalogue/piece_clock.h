// Time along a tape at any pulse of the piece being read: the TAP file's
// clock, advanced only as far as it is asked.
#ifndef BRIVANE_CATALOGUE_PIECE_CLOCK_H
#define BRIVANE_CATALOGUE_PIECE_CLOCK_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tap/tap_file.h"

class piece_clock {
 public:
  /// The next piece of the file: count bytes, starting at offset() in it.
  void start_piece(const std::uint8_t* bytes, std::size_t count) {
    piece_ = bytes;
    count_ = count;
    timed_ = 0;
  }
  /// The piece has been read: the clock takes the rest of it.
  void end_piece() {
    clock_.advance(piece_ + timed_, count_ - timed_);
    offset_ += count_;
    piece_ = nullptr;
    count_ = timed_ = 0;
  }
  /// Cycles from the start of the tape to the pulse at p, in the piece; never
  /// asked for an earlier pulse than the last time.
  std::uint64_t cycles_at(const std::uint8_t* p) {
    const auto i = static_cast<std::size_t>(p - piece_);
    clock_.advance(piece_ + timed_, i - timed_);
    timed_ = i;
    return clock_.cycles();
  }
  /// The file offset of the pulse at p, in the piece.
  std::uint64_t offset_of(const std::uint8_t* p) const {
    return offset_ + static_cast<std::uint64_t>(p - piece_);
  }
  /// Cycles to the end of what the clock has taken.
  std::uint64_t cycles() const { return clock_.cycles(); }
  /// Whether the file starts as a TAP file does, once 20 bytes have been taken.
  bool signature() const { return clock_.signature(); }
  /// Each 0 the clock takes from now on is told to marks.
  void log_pauses(std::vector<pause_mark>* marks) { clock_.log_pauses(marks); }

 private:
  tap_clock clock_;
  const std::uint8_t* piece_ = nullptr;
  std::size_t count_ = 0, timed_ = 0;
  std::uint64_t offset_ = 0;
};

#endif
