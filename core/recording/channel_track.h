// One channel of a recording of a cassette turned into pulses: the
// datasette's signal gives one pulse per full wave period, from one falling
// edge to the next, and each stretch of tape is timed against its own pilot
// tone, so that a deck off speed still gives the ROM's pulses.
#ifndef BRIVANE_RECORDING_CHANNEL_TRACK_H
#define BRIVANE_RECORDING_CHANNEL_TRACK_H

#include <algorithm>
#include <cstddef>
#include <deque>

#include "recording/ring.h"

/// A stretch of a channel turned into a pulse, in units of 8 machine cycles
/// (a TAP byte's unit), with the time its wave ended, in samples.
struct timed_pulse {
  double units;
  double end;
  bool tape_like;  ///< among pulses of a tape's lengths, not noise
};

/// One channel's signal turned into pulses. A slow high-pass takes away
/// offset, drift and hum; zero crossings with hysteresis against noise, and
/// a floor below which nothing counts, mark the edges; each period is two
/// half waves, paired so that both halves belong to one pulse, which finds
/// the recording's polarity from the signal itself. Each run of pilot tone
/// sets the speed its stretch of tape is timed at. Pulses come out a little
/// later than their waves, once the pulses around them are known.
class channel_track {
 public:
  channel_track(double rate, double clock);
  /// Takes the next n samples.
  void add(const float* x, std::size_t n);
  /// Where no wave has come for a while, what the last ones left unpaired
  /// or held comes out, as at the end: the quiet is not waited through.
  void pass_quiet();
  /// The channel has ended: every pulse still held comes out.
  void finish();
  /// The pulses made so far, in order; the caller takes them from the front.
  std::deque<timed_pulse>& made() { return made_; }
  /// Samples taken so far.
  double now() const { return now_; }
  /// Every pulse that ends before this sample has been made: none made
  /// later ends before it.
  double settled_to() const;
  /// The strongest the signal has been lately, in full scale.
  double peak() const { return peak_; }
  /// No edge below this, whatever the channel's own strength: set from the
  /// strongest channel's.
  void floor(double level) { floor_ = std::max(level, FLOOR_LEVEL); }
  /// The least any edge crosses: -66 dBFS, below a 16-bit recording's dither
  /// and a quiet sound card's hiss.
  static constexpr double FLOOR_LEVEL = 5e-4;

 private:
  void follow(const float* x, std::size_t n);
  void half_wave(double length);
  void pair_front(std::size_t waiting);
  void quiet(double length);
  void period(double samples);
  void settle(double units);
  bool tape_length(double units) const;
  bool like_its_neighbours(double units) const;
  bool on_samples() const { return steps_ > 0.5; }
  void release(bool all);
  void pair_the_rest();
  void hold(const timed_pulse& p);
  void mark_again();

  double rate_, units_per_sample_;
  double tape_lo_;  // the shortest pulse a tape's may be, at this rate
  // The high-pass, the wave's strength and the recording's.
  double pole_, x1_ = 0, y1_ = 0;
  double envelope_ = 0, peak_ = 0, env_release_, peak_release_, floor_ = FLOOR_LEVEL;
  double prev_ = 0, before_ = 0, last_edge_ = -1, now_ = 0;
  // How many of the last edges or so were a step from one level straight to
  // the other, as in a converter's square wave, whose edges fall on samples.
  double steps_ = 0;
  int side_ = 0;  // +1 above the hysteresis band, -1 below, 0 not yet known
  bool started_ = false;
  // Half waves not yet paired, and how unlike each is the next.
  ring<double, 64> halves_, unlike_;
  double even_ = 0, odd_ = 0;  // the sums of unlike_ at even and at odd places
  double time_ = 0;            // where the periods given out so far end, in samples
  // The speed: the current run of like periods, and the scale it set.
  double run_sum_ = 0;
  std::size_t run_ = 0;
  double scale_ = 1;
  // A run that would set another speed, waiting for the two periods after
  // it to say whether it was the ROM's pilot.
  bool pending_ = false;
  double pending_scale_ = 1, pending_mean_ = 0, first_after_ = 0;
  int after_run_ = 0;
  // Periods held back until the pulses around them are known, each marked
  // whether it is of a tape's length at the speed it was held at; how many
  // of the first of them are; whether the last ones given out were.
  std::deque<timed_pulse> held_;
  std::size_t ahead_tape_ = 0;
  double marked_at_ = 1;  // the speed the marks were made at
  ring<bool, 64> past_;
  ring<double, 16> recent_;  // the last tape's pulses given out
  std::size_t past_tape_ = 0;
  std::deque<timed_pulse> made_;
};

#endif
