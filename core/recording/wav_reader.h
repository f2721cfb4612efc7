// A RIFF/WAVE file read as it streams in: its chunks, its format, and its
// sound as whole frames, handed on with the way to turn them into samples.
#ifndef BRIVANE_RECORDING_WAV_READER_H
#define BRIVANE_RECORDING_WAV_READER_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "recording/recording_fault.h"

/// Where a WAV file's sound goes.
class frame_sink {
 public:
  virtual ~frame_sink() = default;
  /// The sound's format is known; false refuses it, and reading stops.
  virtual bool format(double rate, int channels) = 0;
  /// count whole frames, from p on, as the file stores them.
  virtual void frames(const std::uint8_t* p, std::size_t count) = 0;
};

class wav_reader {
 public:
  /// Takes the next piece of the file, handing its sound to sink. Returns
  /// false once the file is found faulty or the sink refused its format;
  /// later pieces are then ignored.
  bool feed(const std::uint8_t* bytes, std::size_t size, frame_sink& sink);
  /// The file has ended: false, with the fault cut_short, when it ended
  /// before its sound began.
  bool finish();
  recording_fault fault() const { return fault_; }
  /// Channel's samples of count frames from p on, in full scale (-1 to 1).
  void decode(const std::uint8_t* p, std::size_t count, int channel, float* out) const;
  /// Bytes of one frame, once the format is read.
  std::size_t frame_size() const { return static_cast<std::size_t>(frame_); }
  /// The sample rate its format gives, once read.
  double rate() const { return rate_; }
  /// Once the file has ended: its data chunk held less than its header says
  /// (where it says a size at all).
  bool sound_missing() const { return have_format_ && !data_to_end_ && data_left_ > 0; }

 private:
  bool fail(recording_fault f);
  bool read_format(const std::uint8_t* p, std::size_t size, frame_sink& sink);
  void sound(const std::uint8_t*& bytes, std::size_t& size, frame_sink& sink);

  recording_fault fault_ = recording_fault::none;
  enum class stage { riff, chunk, format, skip, data, done } stage_ = stage::riff;
  std::vector<std::uint8_t> held_;  // bytes of a header or a frame not yet whole
  std::uint64_t skip_ = 0, data_left_ = 0;
  std::size_t format_length_ = 0;
  bool have_format_ = false, data_to_end_ = false;
  int format_ = 0, channels_ = 0, bits_ = 0, frame_ = 0;
  double rate_ = 0;
};

#endif
