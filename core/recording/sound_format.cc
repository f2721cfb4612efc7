// Telling recordings apart by their first bytes, and the counts of sound
// their formats record.
#include "recording/sound_format.h"

#include <algorithm>
#include <cstring>

namespace {

bool text_at(const std::uint8_t* b, std::size_t n, std::size_t at, const char* text) {
  const std::size_t len = std::strlen(text);
  return at + len <= n && std::memcmp(b + at, text, len) == 0;
}

// MPEG audio, layer III: a frame's sync bits and layer.
bool mp3_frame(const std::uint8_t* b, std::size_t n, std::size_t at) {
  return at + 2 <= n && b[at] == 0xFF && (b[at + 1] & 0xE6) == 0xE2;
}

}  // namespace

sniffed sniff_sound(const std::uint8_t* b, std::size_t n, bool whole) {
  const auto is = [&](std::size_t at, const char* text) { return text_at(b, n, at, text); };
  const sniffed too_few = {whole ? sound_format::other : sound_format::unknown, ""};
  if (n < 4) return too_few;
  if (is(0, "RIFF")) {
    if (n < 12) return too_few;
    if (is(8, "WAVE")) return {sound_format::wav, ""};
    return {sound_format::other, "a RIFF file of another kind"};
  }
  if (is(0, "fLaC")) return {sound_format::flac, ""};
  if (is(0, "OggS")) {
    // The first page's first packet names the codec.
    if (n < 27 || n < std::size_t{27} + b[26] + 8) return too_few;
    const std::size_t at = std::size_t{27} + b[26];
    if (b[at] == 1 && is(at + 1, "vorbis")) return {sound_format::ogg_vorbis, ""};
    if (is(at, "OpusHead")) return {sound_format::ogg_opus, ""};
    if (b[at] == 0x7F && is(at + 1, "FLAC")) return {sound_format::ogg_flac, ""};
    return {sound_format::other, "an Ogg file of a codec other than Vorbis, Opus and FLAC"};
  }
  if (is(0, "ID3") || mp3_frame(b, n, 0)) return {sound_format::mp3, ""};
  if (is(0, "FORM")) return {sound_format::aiff, "an AIFF file"};
  if (is(0, "RF64") || is(0, "BW64")) return {sound_format::rf64, "an RF64 WAV file, over 4 GiB"};
  if (is(0, "riff")) return {sound_format::w64, "a Sony Wave64 file"};
  const struct {
    bool is;
    const char* what;
  } named[] = {
      {n >= 8 && is(4, "ftyp"), "an MP4 or M4A file (AAC)"},
      {b[0] == 0x30 && b[1] == 0x26 && b[2] == 0xB2 && b[3] == 0x75, "a Windows Media (WMA) file"},
      {b[0] == 0xFF && (b[1] & 0xF6) == 0xF0, "an AAC file"},
      {is(0, "MThd"), "a MIDI file"},
      {std::memcmp(b, "C64-TAPE-RAW", std::min<std::size_t>(n, 12)) == 0,
       "a TAP file, not a recording"},
      {b[0] == 0xFF && b[1] == 0xD8, "a JPEG image"},
      {is(1, "PNG"), "a PNG image"},
      {is(0, "%PDF"), "a PDF document"},
      {is(0, "PK"), "a zip archive"},
  };
  for (const auto& k : named)
    if (k.is) return {sound_format::other, k.what};
  return {sound_format::other, ""};
}

const char* sound_format_name(sound_format f) {
  switch (f) {
    case sound_format::wav:
      return "wav";
    case sound_format::flac:
      return "flac";
    case sound_format::ogg_vorbis:
      return "ogg-vorbis";
    case sound_format::ogg_opus:
      return "ogg-opus";
    case sound_format::ogg_flac:
      return "ogg-flac";
    case sound_format::mp3:
      return "mp3";
    case sound_format::aiff:
      return "aiff";
    case sound_format::rf64:
      return "rf64";
    case sound_format::w64:
      return "w64";
    case sound_format::unknown:
    case sound_format::other:
      break;
  }
  return "";
}

void sound_length_check::head(sound_format f, const std::uint8_t* b, std::size_t n) {
  format_ = f;
  total_ = 0;
  if (f == sound_format::flac && n >= 26) {
    // STREAMINFO's 36-bit count of samples; 0 where the encoder did not know it.
    total_ = std::uint64_t{b[21] & 0x0Fu} << 32 | std::uint64_t{b[22]} << 24 |
             std::uint64_t{b[23]} << 16 | std::uint64_t{b[24]} << 8 | b[25];
  } else if (f == sound_format::mp3) {
    // The Xing or Info frame an encoder writes first counts the frames: of
    // 1,152 samples in MPEG-1, of 576 in MPEG-2 and 2.5.
    std::size_t at = 0;
    if (text_at(b, n, 0, "ID3") && n >= 10)
      at = 10 + (std::size_t{b[6]} << 21 | std::size_t{b[7]} << 14 | std::size_t{b[8]} << 7 | b[9]);
    if (at + 4 > n || !(b[at] == 0xFF && (b[at + 1] & 0xE0) == 0xE0)) return;
    const std::uint64_t per_frame = (b[at + 1] & 0x18) == 0x18 ? 1152 : 576;
    for (std::size_t i = at + 4; i + 12 <= std::min(n, at + 200); ++i) {
      if ((text_at(b, n, i, "Xing") || text_at(b, n, i, "Info")) && (b[i + 7] & 1)) {
        const std::uint64_t frames = std::uint64_t{b[i + 8]} << 24 | std::uint64_t{b[i + 9]} << 16 |
                                     std::uint64_t{b[i + 10]} << 8 | b[i + 11];
        total_ = frames * per_frame;
        return;
      }
    }
  }
}

void sound_length_check::watch(const std::uint8_t* b, std::size_t n) {
  if (n == 0) return;
  // Each Ogg page starts "OggS"; its flags are the sixth byte. Only the
  // last page begun in these bytes, with the five before them, matters.
  std::uint8_t joined[5 + 5];
  const std::size_t lead = tail_size_, head_n = std::min<std::size_t>(n, 5);
  std::memcpy(joined, tail_, lead);
  std::memcpy(joined + lead, b, head_n);
  const auto flags_in = [](const std::uint8_t* p, std::size_t m) {
    for (std::size_t i = m >= 6 ? m - 6 + 1 : 0; i-- > 0;)
      if (p[i] == 'O' && p[i + 1] == 'g' && p[i + 2] == 'g' && p[i + 3] == 'S')
        return int{p[i + 5]};
    return -1;
  };
  const int in_body = flags_in(b, n);
  if (in_body >= 0) {
    last_flags_ = in_body;
  } else {
    const int across = flags_in(joined, lead + head_n);  // a page start cut between pieces
    if (across >= 0) last_flags_ = across;
  }
  // Keep the last five bytes for a page start cut at the next piece.
  std::uint8_t all[5 + 5];
  std::size_t k = 0;
  if (n < 5) {
    std::memcpy(all, tail_, tail_size_);
    std::memcpy(all + tail_size_, b, n);
    k = tail_size_ + n;
  } else {
    std::memcpy(all, b + n - 5, 5);
    k = 5;
  }
  tail_size_ = std::min<std::size_t>(k, 5);
  std::memcpy(tail_, all + (k - tail_size_), tail_size_);
}

bool sound_length_check::cut_short(std::uint64_t frames) const {
  const bool ogg = format_ == sound_format::ogg_vorbis || format_ == sound_format::ogg_opus ||
                   format_ == sound_format::ogg_flac;
  if (ogg && last_flags_ >= 0 && (last_flags_ & 4) == 0) return true;  // no end-of-stream mark
  if (total_ == 0) return false;
  // An MP3 decoder's count of samples differs a little from the encoder's.
  return format_ == sound_format::mp3
             ? static_cast<double>(frames) < 0.98 * static_cast<double>(total_)
             : frames < total_;
}
