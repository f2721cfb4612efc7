// Where brivane-tap's recordings are decoded: a WAV file by the core's own
// reader, as the page reads it; FLAC and Ogg FLAC by libFLAC; the other
// formats by libsndfile. Each is handed the recording's bytes with its start
// already read, and feeds the converter.
#ifndef BRIVANE_SOUND_SOURCES_H
#define BRIVANE_SOUND_SOURCES_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "recording/recording.h"
#include "recording/sound_format.h"
#include "tap_command.h"

/// A recording's bytes, its start held in memory from the one read that
/// told its format: read again from there, never from the input.
class recording_bytes {
 public:
  recording_bytes(byte_input& in, std::vector<std::uint8_t> head)
      : in_(in), head_(std::move(head)), at_input_(head_.size()) {}
  /// Fills up to size bytes from where reading stands; 0 at the end, negative on failure.
  std::ptrdiff_t read(std::uint8_t* buf, std::size_t size);
  /// Moves to byte at; false where the input cannot go there.
  bool seek(std::uint64_t at);
  std::uint64_t tell() const { return pos_; }
  bool seekable() const { return in_.seekable(); }
  std::uint64_t size() const { return in_.seekable() ? in_.size() : 0; }
  std::string error() const { return in_.error(); }
  const std::vector<std::uint8_t>& head() const { return head_; }

 private:
  byte_input& in_;
  std::vector<std::uint8_t> head_;
  std::uint64_t pos_ = 0;       // where the next read starts
  std::uint64_t at_input_ = 0;  // where the input's own next read starts
};

/// How reading a recording ended.
enum class source_end {
  whole,        ///< to its end (the converter may still have found it faulty)
  cut_short,    ///< its decoder found it damaged or ending early
  read_error,   ///< the input could not be read to its end
  write_error,  ///< the pulses could not be written
};

/// Hands the pulses made so far on; false when they could not be written.
using pulse_writer = std::function<bool(std::vector<std::uint8_t>&)>;

class sound_source {
 public:
  virtual ~sound_source() = default;
  /// Reads the recording from its start into the converter.
  virtual source_end run(recording_bytes& in, recording_converter& c,
                         const pulse_writer& write) = 0;
  /// Frames of sound decoded.
  virtual std::uint64_t frames() const = 0;
};

/// The core's own WAV reader.
std::unique_ptr<sound_source> wav_source();

/// The source that decodes a format other than WAV in this build, or null:
/// seekable tells whether the input can be read from any place, which
/// libsndfile needs.
std::unique_ptr<sound_source> decoder_for(sound_format f, bool seekable);

/// The formats this build reads, in words, for --help.
extern const char* const FORMATS_READ;

#endif
