// Time along a tape at any pulse of the piece being read: the TAP file's
// clock, advanced only as far as it is asked.
#ifndef BRIVANE_CATALOGUE_PIECE_CLOCK_H
#define BRIVANE_CATALOGUE_PIECE_CLOCK_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tap/tap_file.h"

class piece_clock {
 public:
  /// Keeps a copy of the clock every CHECKPOINT bytes into each piece, for
  /// another clock to follow.
  void keep_checkpoints() { keep_ = true; }
  /// Times each piece from the checkpoints of leader, which has taken it
  /// whole just before, instead of taking every byte again: only what lies
  /// between a checkpoint and a pulse asked about.
  void follow(const piece_clock* leader) { leader_ = leader; }

  /// The next piece of the file: count bytes, starting at offset() in it.
  void start_piece(const std::uint8_t* bytes, std::size_t count) {
    piece_ = bytes;
    count_ = count;
    timed_ = 0;
    if (leader_) {
      // The piece the leader took last; or, at the tape's end, none.
      const bool same = bytes == leader_->last_piece_ && count == leader_->last_count_;
      clock_ = same ? leader_->checkpoints_.front() : leader_->clock_.quiet();
    }
    if (keep_) {
      last_piece_ = bytes;
      last_count_ = count;
      checkpoints_.assign(1, clock_.quiet());
    }
  }
  /// The piece has been read: the clock takes the rest of it (a follower
  /// leaves it: the next piece starts from its leader's clock).
  void end_piece() {
    if (!leader_) advance_to(count_);
    offset_ += count_;
    piece_ = nullptr;
    count_ = timed_ = 0;
  }
  /// Cycles from the start of the tape to the pulse at p, in the piece; never
  /// asked for an earlier pulse than the last time.
  std::uint64_t cycles_at(const std::uint8_t* p) {
    const auto i = static_cast<std::size_t>(p - piece_);
    if (leader_) {
      const std::size_t k = i / CHECKPOINT;
      if (k * CHECKPOINT > timed_ && k < leader_->checkpoints_.size()) {
        clock_ = leader_->checkpoints_[k];
        timed_ = k * CHECKPOINT;
      }
    }
    advance_to(i);
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
  /// With the signature, the bytes of pulses the TAP header says follow it.
  std::uint32_t pulses_given() const { return clock_.pulses_given(); }
  /// Each 0 the clock takes from now on is told to marks.
  void log_pauses(std::vector<pause_mark>* marks) { clock_.log_pauses(marks); }

 private:
  static constexpr std::size_t CHECKPOINT = 4096;

  // Takes the piece's bytes up to i, keeping checkpoints on the way.
  void advance_to(std::size_t i) {
    while (timed_ < i) {
      const std::size_t boundary = (timed_ / CHECKPOINT + 1) * CHECKPOINT;
      const std::size_t to = std::min(i, boundary);
      clock_.advance(piece_ + timed_, to - timed_);
      timed_ = to;
      if (keep_ && timed_ == boundary && checkpoints_.size() == boundary / CHECKPOINT)
        checkpoints_.push_back(clock_.quiet());
    }
  }

  tap_clock clock_;
  const std::uint8_t* piece_ = nullptr;
  std::size_t count_ = 0, timed_ = 0;
  std::uint64_t offset_ = 0;
  bool keep_ = false;
  std::vector<tap_clock> checkpoints_;
  const std::uint8_t* last_piece_ = nullptr;
  std::size_t last_count_ = 0;
  const piece_clock* leader_ = nullptr;
};

#endif
