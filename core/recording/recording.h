// A sound recording of a cassette turned into TAP pulses, as the recording
// streams in: the datasette's signal gives one pulse per full wave period,
// from one falling edge to the next, and the length of that period is the
// pulse. Each channel is followed; the one that holds the tape is chosen a
// stretch at a time; each stretch of tape is timed against its own pilot
// tone, so that a deck off speed or a machine of another clock still gives
// the ROM's pulses; and quiet, hiss and dither give one pause, not pulses.
// Fed in pieces of any size; memory stays the same however long the
// recording.
#ifndef BRIVANE_RECORDING_RECORDING_H
#define BRIVANE_RECORDING_RECORDING_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "tap/tap_file.h"

/// What went wrong with a recording, if anything.
enum class recording_fault {
  none,
  not_wav,            ///< not a RIFF/WAVE file
  cut_short,          ///< the file ends inside its header
  unsupported,        ///< an encoding that is not plain PCM or float, or an odd layout
  rate_out_of_range,  ///< plain samples, at a rate outside MIN_RATE to MAX_RATE
  no_tape_signal,     ///< read to its end, nothing on it looks like a tape
};

/// The fault's name as written here ("not_wav"), for a front end to put
/// into words.
const char* fault_name(recording_fault fault);

/// The sample rates read, in Hz. Below the lowest, a short pulse is less
/// than three samples long and its edges blur into the next.
constexpr double MIN_RATE = 11025;
constexpr double MAX_RATE = 384000;

/// A stretch of a channel turned into a pulse, in units of 8 machine cycles
/// (a TAP byte's unit), with the time its wave ended, in samples.
struct timed_pulse {
  double units;
  double end;
  bool tape_like;  ///< among pulses of a tape's lengths, not noise
};

/// A first-in first-out queue of at most N - 1 values, N a power of 2, in
/// place: the converter's queues are short and used once a sample or so.
template <class T, std::size_t N>
class ring {
 public:
  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  T& operator[](std::size_t i) { return v_[(head_ + i) & (N - 1)]; }
  const T& operator[](std::size_t i) const { return v_[(head_ + i) & (N - 1)]; }
  T& front() { return (*this)[0]; }
  T& back() { return (*this)[count_ - 1]; }
  void push_back(const T& x) { v_[(head_ + count_++) & (N - 1)] = x; }
  void pop_front() {
    head_ = (head_ + 1) & (N - 1);
    --count_;
  }
  void clear() { count_ = 0; }

 private:
  T v_[N] = {};
  std::size_t head_ = 0, count_ = 0;
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
  /// The channel has ended: every pulse still held comes out.
  void finish();
  /// The pulses made so far, in order; the caller takes them from the front.
  std::deque<timed_pulse>& made() { return made_; }
  /// Samples taken so far.
  double now() const { return now_; }
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
  void period(double samples);
  void release(bool all);
  void hold(const timed_pulse& p);
  void mark_again();

  double rate_, units_per_sample_;
  // The high-pass, the wave's strength and the recording's.
  double pole_, x1_ = 0, y1_ = 0;
  double envelope_ = 0, peak_ = 0, env_release_, peak_release_, floor_ = FLOOR_LEVEL;
  double prev_ = 0, last_edge_ = -1, now_ = 0;
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
  // Periods held back until the pulses around them are known, each marked
  // whether it is of a tape's length at the speed it was held at; how many
  // of the first of them are; whether the last ones given out were.
  ring<timed_pulse, 512> held_;
  std::size_t ahead_tape_ = 0;
  double marked_at_ = 1;  // the speed the marks were made at
  ring<bool, 64> past_;
  std::size_t past_tape_ = 0;
  std::deque<timed_pulse> made_;
};

/// A recording fed in pieces, giving TAP pulse bytes timed at a machine's
/// clock: the bytes of a RIFF/WAVE file, or samples another reader has
/// decoded (FLAC, Ogg, MP3 and the like).
class recording_converter {
 public:
  explicit recording_converter(double clock = PAL_CLOCK) : clock_(clock) {}

  /// Samples will come decoded, channels to a frame, rate frames a second,
  /// instead of a file's bytes. False for a layout or a rate it does not
  /// read (fault() says which).
  bool start_samples(double rate, int channels);
  /// The next frames of decoded samples, each in full scale (-1 to 1): the
  /// sample of channel c in frame f at samples[c * channel_step + f *
  /// frame_step] (interleaved: 1 and channels; one block per channel:
  /// the block's length and 1). Appends the pulse bytes they yield.
  void feed_samples(const float* samples, std::size_t frames, std::size_t channel_step,
                    std::size_t frame_step, std::vector<std::uint8_t>& out);

  /// Takes the next piece of the file; appends the pulse bytes it yields to
  /// out. Returns false once the recording is found faulty (fault() says
  /// how); later pieces are then ignored.
  bool feed(const std::uint8_t* bytes, std::size_t size, std::vector<std::uint8_t>& out);
  /// The file has ended: appends the last pulses; returns false on a fault.
  bool finish(std::vector<std::uint8_t>& out);
  recording_fault fault() const { return fault_; }
  /// The recording's sample rate, once its format has been read.
  double rate() const { return rate_; }
  /// Once the file has ended: its sound was cut short, its data chunk
  /// holding less than its header says (where it says a size at all).
  bool sound_missing() const { return have_format_ && !data_to_end_ && data_left_ > 0; }

 private:
  bool fail(recording_fault f);
  bool read_format(const std::uint8_t* p, std::size_t size);
  bool start(double rate, int channels);
  template <class each_channel>
  void blocks(std::size_t frames, each_channel&& block, std::vector<std::uint8_t>& out);
  void samples(const std::uint8_t* p, std::size_t frames, std::vector<std::uint8_t>& out);
  void decode(const std::uint8_t* p, std::size_t frames, int channel, float* out) const;
  void choose(double until, std::vector<std::uint8_t>& out);
  void emit(const timed_pulse& p, std::vector<std::uint8_t>& out);
  void emit_pause(std::vector<std::uint8_t>& out);

  double clock_;
  recording_fault fault_ = recording_fault::none;
  enum class stage { riff, chunk, format, skip, data, done } stage_ = stage::riff;
  std::vector<std::uint8_t> held_;  // bytes of a header or a frame not yet whole
  std::uint64_t skip_ = 0, data_left_ = 0;
  std::size_t format_length_ = 0;
  bool have_format_ = false, data_to_end_ = false;
  int format_ = 0, channels_ = 0, bits_ = 0, frame_ = 0;
  double rate_ = 0;
  std::vector<channel_track> tracks_;
  int channel_ = 0;              // the channel that holds the tape in the stretch given out last
  double chosen_to_ = 0;         // the time up to which pulses have been given out, in samples
  double pause_ = 0;             // units of quiet or noise not yet given out as a pause
  std::uint64_t tape_like_ = 0;  // pulses in the range of the ROM's
  std::uint64_t frames_ = 0;     // frames taken so far
};

#endif
