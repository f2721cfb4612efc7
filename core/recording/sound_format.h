// What a recording's first bytes say it is, and whether the recording held
// all the sound it says it holds: the rules every front end goes by, so
// that a file is taken for the same thing, and found cut short alike,
// wherever it is read.
#ifndef BRIVANE_RECORDING_SOUND_FORMAT_H
#define BRIVANE_RECORDING_SOUND_FORMAT_H

#include <cstddef>
#include <cstdint>

/// The kinds of file told apart. unknown: too few bytes to tell yet;
/// other: none of the recordings known (what it is, where that can be told,
/// is in sniffed::what).
enum class sound_format {
  unknown,
  wav,
  flac,
  ogg_vorbis,
  ogg_opus,
  ogg_flac,
  mp3,
  aiff,
  rf64,
  w64,
  other,
};

/// What a file's start says it is.
struct sniffed {
  sound_format format = sound_format::unknown;
  /// What the file is in words ("a JPEG image"), for other and for the
  /// recordings some front ends do not read (aiff, rf64, w64); "" where
  /// nothing can be told.
  const char* what = "";
};

/// Bytes of a file's start that always suffice to tell what it is.
constexpr std::size_t SNIFF_BYTES = 512;

/// What the first n bytes of a file say it is; unknown while they are too
/// few to tell. With whole, b holds the whole file, and a file too short to
/// be anything is other.
sniffed sniff_sound(const std::uint8_t* b, std::size_t n, bool whole = false);

/// The format's name as front ends give it ("ogg-vorbis"); "" for unknown and other.
const char* sound_format_name(sound_format f);

/// Whether a recording held all the sound its start says it holds: FLAC's
/// count of samples, an MP3 encoder's Xing or Info frame, the mark on an
/// Ogg stream's last page. (A WAV file's data size is its reader's.)
class sound_length_check {
 public:
  /// Bytes of the start that head() wants: enough for an MP3's tags and
  /// its first frame.
  static constexpr std::size_t HEAD_BYTES = 8192;

  /// The file's first bytes (HEAD_BYTES of them, or the whole file when it
  /// is shorter), once its format is known.
  void head(sound_format f, const std::uint8_t* b, std::size_t n);
  /// Bytes of the file in order, from any point on: an Ogg stream's pages,
  /// of which only the last one's mark counts (its last 64 KiB suffice).
  void watch(const std::uint8_t* b, std::size_t n);
  /// Whether the recording, of which frames were decoded, is cut short or
  /// damaged part-way.
  bool cut_short(std::uint64_t frames) const;

 private:
  sound_format format_ = sound_format::unknown;
  std::uint64_t total_ = 0;  // samples the start says there are; 0 where it says nothing
  std::uint8_t tail_[5] = {};
  std::size_t tail_size_ = 0;
  int last_flags_ = -1;  // the flags of the last Ogg page seen
};

#endif
