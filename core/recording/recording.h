// A sound recording of a cassette turned into TAP pulses, as the recording
// streams in: the datasette's signal gives one pulse per full wave period,
// from one falling edge to the next, and the length of that period is the
// pulse. Fed in pieces of any size; memory stays the same however long the
// recording.
#ifndef BRIVANE_RECORDING_RECORDING_H
#define BRIVANE_RECORDING_RECORDING_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "tap/tap_file.h"

/// What went wrong with a recording, if anything.
enum class recording_fault {
  none,
  not_wav,         ///< not a RIFF/WAVE file
  cut_short,       ///< the file ends inside its header
  unsupported,     ///< an encoding that is not plain PCM or float, or an odd layout
  no_tape_signal,  ///< read to its end, nothing on it looks like a tape
};

/// The fault's name as written here ("not_wav"), for a front end to put
/// into words.
const char* fault_name(recording_fault fault);

/// One channel's signal turned into wave periods: a slow high-pass takes
/// away offset, drift and hum; zero crossings with hysteresis against noise
/// mark the edges; each period is two half waves, paired so that both halves
/// belong to one pulse, which finds the recording's polarity from the
/// signal itself.
class edge_follower {
 public:
  explicit edge_follower(double rate);
  /// Takes the next n samples; appends any periods they complete, in samples.
  void add(const float* x, std::size_t n, std::vector<double>& periods);
  /// The half waves still held, paired up.
  void flush(std::vector<double>& periods);
  /// The signal's strength so far (mean square after the high-pass), while measured.
  double power() const { return count_ ? energy_ / static_cast<double>(count_) : 0; }
  /// Its strength is no longer wanted: the channel has been chosen.
  void stop_measuring() { measuring_ = false; }

 private:
  template <bool measure>
  void follow(const float* x, std::size_t n, std::vector<double>& periods);
  void half_wave(double length, std::vector<double>& periods);

  // The high-pass.
  double pole_;
  double x1_ = 0, y1_ = 0;
  double envelope_ = 0, peak_ = 0, env_release_, peak_release_;
  double prev_ = 0, last_edge_ = -1, now_ = 0;
  int side_ = 0;  // +1 above the hysteresis band, -1 below, 0 not yet known
  double energy_ = 0;
  bool measuring_ = true;
  std::uint64_t count_ = 0;
  std::deque<double> halves_;  // half waves not yet paired
  std::deque<double> unlike_;  // how unlike each of them is the next
};

/// A RIFF/WAVE recording fed in pieces, giving TAP pulse bytes.
class recording_converter {
 public:
  explicit recording_converter(double clock = PAL_CLOCK) : clock_(clock) {}

  /// Takes the next piece of the file; appends the pulse bytes it yields to
  /// out. Returns false once the recording is found faulty (fault() says
  /// how); later pieces are then ignored.
  bool feed(const std::uint8_t* bytes, std::size_t size, std::vector<std::uint8_t>& out);
  /// The file has ended: appends the last pulses; returns false on a fault.
  bool finish(std::vector<std::uint8_t>& out);
  recording_fault fault() const { return fault_; }

 private:
  bool fail(recording_fault f);
  bool read_format(const std::uint8_t* p, std::size_t size);
  void samples(const std::uint8_t* p, std::size_t frames, std::vector<std::uint8_t>& out);
  void decode(const std::uint8_t* p, std::size_t frames, int channel, float* out) const;
  void emit(const std::vector<double>& periods, std::vector<std::uint8_t>& out);
  void choose_channel(std::vector<std::uint8_t>& out);

  double clock_;
  recording_fault fault_ = recording_fault::none;
  enum class stage { riff, chunk, format, skip, data, done } stage_ = stage::riff;
  std::vector<std::uint8_t> held_;  // bytes of a header or a frame not yet whole
  std::uint64_t skip_ = 0, data_left_ = 0;
  std::size_t format_length_ = 0;
  bool have_format_ = false, data_to_end_ = false;
  int format_ = 0, channels_ = 0, bits_ = 0, frame_ = 0;
  double rate_ = 0;
  std::vector<edge_follower> channels_followed_;
  int channel_ = -1;  // the channel that holds the tape, once chosen
  std::uint64_t frames_seen_ = 0;
  std::vector<std::vector<double>> early_;  // each channel's periods before the choice
  std::vector<double> periods_;
  std::uint64_t tape_like_ = 0;  // pulses in the range of the ROM's
};

#endif
