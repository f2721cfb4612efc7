// A sound recording of a cassette turned into TAP pulses, as the recording
// streams in: a WAV file's bytes, or samples another reader has decoded.
// Each channel is followed (channel_track.h); the one that holds the tape is
// chosen a stretch at a time; quiet, hiss and dither give one pause, not
// pulses. Fed in pieces of any size; memory stays the same however long the
// recording.
#ifndef BRIVANE_RECORDING_RECORDING_H
#define BRIVANE_RECORDING_RECORDING_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "recording/channel_track.h"
#include "recording/recording_fault.h"
#include "recording/wav_reader.h"
#include "tap/tap_file.h"

/// A recording fed in pieces, giving TAP pulse bytes timed at a machine's
/// clock: the bytes of a RIFF/WAVE file, or samples another reader has
/// decoded (FLAC, Ogg, MP3 and the like).
class recording_converter : private frame_sink {
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

  /// Takes the next piece of a WAV file; appends the pulse bytes it yields
  /// to out. Returns false once the recording is found faulty (fault() says
  /// how); later pieces are then ignored.
  bool feed(const std::uint8_t* bytes, std::size_t size, std::vector<std::uint8_t>& out);
  /// The recording has ended: appends the last pulses; returns false on a fault.
  bool finish(std::vector<std::uint8_t>& out);
  recording_fault fault() const { return fault_ != recording_fault::none ? fault_ : wav_.fault(); }
  /// The recording's sample rate, once its format has been read.
  double rate() const { return rate_ > 0 ? rate_ : wav_.rate(); }
  /// Once a WAV file has ended: its sound was cut short, its data chunk
  /// holding less than its header says (where it says a size at all).
  bool sound_missing() const { return wav_.sound_missing(); }

 private:
  bool fail(recording_fault f);
  bool format(double rate, int channels) override;
  void frames(const std::uint8_t* p, std::size_t count) override;
  template <class each_channel>
  void blocks(std::size_t frames, each_channel&& block, std::vector<std::uint8_t>& out);
  void choose(double until, std::vector<std::uint8_t>& out);
  void emit(const timed_pulse& p, std::vector<std::uint8_t>& out);
  void emit_pause(std::vector<std::uint8_t>& out);

  double clock_;
  recording_fault fault_ = recording_fault::none;
  wav_reader wav_;
  std::vector<std::uint8_t>* out_ = nullptr;  // where a WAV file's frames put their pulses
  bool bytes_fed_ = false, samples_ = false, have_format_ = false, finished_ = false;
  int channels_ = 0;
  double rate_ = 0;
  std::vector<channel_track> tracks_;
  int channel_ = 0;              // the channel that holds the tape in the stretch given out last
  double chosen_to_ = 0;         // the time up to which pulses have been given out, in samples
  double pause_ = 0;             // units of quiet or noise not yet given out as a pause
  std::uint64_t tape_like_ = 0;  // pulses of a loader's lengths
  std::uint64_t frames_ = 0;     // frames taken so far
};

#endif
