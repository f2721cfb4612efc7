// The WAV reader: RIFF chunks, the format chunk's plain PCM, float and
// telephone (mu-law and A-law) layouts, and the data chunk's frames, whole
// however the file is split.
#include "recording/wav_reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

std::uint32_t le32(const std::uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

// The 8-bit codes of the telephone formats (G.711), as 16-bit samples. A
// mu-law code is its sample's sign, a power of two and four bits below it,
// all inverted; an A-law code the same, every other bit inverted, its sign
// bit set for the positive.
int from_mu_law(std::uint8_t code) {
  const unsigned c = ~code & 0xFFu;
  const int magnitude = (((static_cast<int>(c & 0x0F) << 3) + 0x84) << (c >> 4 & 7)) - 0x84;
  return c & 0x80 ? -magnitude : magnitude;
}
int from_a_law(std::uint8_t code) {
  const unsigned c = code ^ 0x55u;
  const int exponent = static_cast<int>(c >> 4 & 7);
  int magnitude = static_cast<int>(c & 0x0F);
  if (exponent > 0) magnitude += 16;
  magnitude = (magnitude << 4) + 8;
  if (exponent > 1) magnitude <<= exponent - 1;
  return c & 0x80 ? magnitude : -magnitude;
}

constexpr int A_LAW = 6, MU_LAW = 7;

// A data chunk's length that says only that the sound runs to the end of
// the file: what a recorder writing to a pipe, which cannot go back to set
// the length once it knows it, puts there: zero, all ones or the largest
// signed length by most, 0x7FFFF000 by sox, 0x80000000 by arecord. Any other
// length is the sound's, and a file that ends before it is cut short.
bool streamed_length(std::uint32_t length) {
  return length == 0 || length == 0xFFFFFFFFu || length == 0x7FFFF000u || length == 0x7FFFFFFFu ||
         length == 0x80000000u;
}

}  // namespace

bool wav_reader::fail(recording_fault f) {
  fault_ = f;
  stage_ = stage::done;
  return false;
}

bool wav_reader::read_format(const std::uint8_t* p, std::size_t size, frame_sink& sink) {
  if (size < 16) return fail(recording_fault::unsupported);
  format_ = le16(p);
  channels_ = le16(p + 2);
  rate_ = le32(p + 4);
  frame_ = le16(p + 12);
  bits_ = le16(p + 14);
  if (format_ == 0xFFFE) {  // the extensible header: the real format is in its subformat
    if (size < 26) return fail(recording_fault::unsupported);
    format_ = le16(p + 24);
  }
  const bool pcm = format_ == 1 && (bits_ == 8 || bits_ == 16 || bits_ == 24 || bits_ == 32);
  const bool floats = format_ == 3 && (bits_ == 32 || bits_ == 64);
  const bool telephone = (format_ == A_LAW || format_ == MU_LAW) && bits_ == 8;
  if (!(pcm || floats || telephone) || channels_ < 1 || channels_ > 8 ||
      frame_ < channels_ * (bits_ / 8))
    return fail(recording_fault::unsupported);
  if (!sink.format(rate_, channels_)) {
    stage_ = stage::done;  // the sink says why
    return false;
  }
  have_format_ = true;
  return true;
}

void wav_reader::decode(const std::uint8_t* p, std::size_t count, int channel, float* out) const {
  p += static_cast<std::ptrdiff_t>(channel) * (bits_ / 8);
  const std::size_t step = static_cast<std::size_t>(frame_);
  const auto each = [&](auto value) {
    for (std::size_t f = 0; f < count; ++f, p += step) out[f] = static_cast<float>(value(p));
  };
  const auto finite = [](double v) { return std::isfinite(v) ? v : 0.0; };
  switch (bits_) {
    case 8:
      if (format_ == MU_LAW)
        each([](const std::uint8_t* q) { return from_mu_law(q[0]) / 32768.0; });
      else if (format_ == A_LAW)
        each([](const std::uint8_t* q) { return from_a_law(q[0]) / 32768.0; });
      else
        each([](const std::uint8_t* q) { return (q[0] - 128) / 128.0; });
      break;
    case 16:
      each([](const std::uint8_t* q) { return static_cast<std::int16_t>(le16(q)) / 32768.0; });
      break;
    case 24:
      each([](const std::uint8_t* q) {
        const std::uint32_t u = static_cast<std::uint32_t>(q[0]) << 8 |
                                static_cast<std::uint32_t>(q[1]) << 16 |
                                static_cast<std::uint32_t>(q[2]) << 24;
        return static_cast<std::int32_t>(u) / 2147483648.0;
      });
      break;
    case 32:
      if (format_ == 3) {
        each([&](const std::uint8_t* q) {
          float v;
          const std::uint32_t u = le32(q);
          std::memcpy(&v, &u, 4);
          return finite(v);
        });
      } else {
        each([](const std::uint8_t* q) {
          return static_cast<std::int32_t>(le32(q)) / 2147483648.0;
        });
      }
      break;
    default:
      each([&](const std::uint8_t* q) {
        std::uint64_t u = 0;
        for (int i = 7; i >= 0; --i) u = u << 8 | q[i];
        double v;
        std::memcpy(&v, &u, 8);
        return finite(v);
      });
  }
}

// The data chunk's bytes in this piece, as whole frames; a frame split
// between pieces is held until it is whole.
void wav_reader::sound(const std::uint8_t*& bytes, std::size_t& size, frame_sink& sink) {
  std::size_t avail = size;
  if (!data_to_end_) avail = static_cast<std::size_t>(std::min<std::uint64_t>(avail, data_left_));
  std::size_t used = 0;
  const auto frame = static_cast<std::size_t>(frame_);
  if (!held_.empty()) {
    used = std::min(avail, frame - held_.size());
    held_.insert(held_.end(), bytes, bytes + used);
    if (held_.size() == frame) {
      sink.frames(held_.data(), 1);
      held_.clear();
    }
  }
  const std::size_t frames = (avail - used) / frame;
  sink.frames(bytes + used, frames);
  used += frames * frame;
  held_.insert(held_.end(), bytes + used, bytes + avail);
  bytes += avail;
  size -= avail;
  if (!data_to_end_) {
    data_left_ -= avail;
    if (data_left_ == 0) stage_ = stage::done;  // what follows the sound is not read
  }
}

bool wav_reader::feed(const std::uint8_t* bytes, std::size_t size, frame_sink& sink) {
  while (size > 0 && stage_ != stage::done) {
    // Takes bytes into held_ until it holds want of them; true when it does.
    const auto gather = [&](std::size_t want) {
      const std::size_t n = std::min(size, want - std::min(want, held_.size()));
      held_.insert(held_.end(), bytes, bytes + n);
      bytes += n;
      size -= n;
      return held_.size() >= want;
    };
    switch (stage_) {
      case stage::riff:
        if (!gather(12)) {
          if (std::memcmp(held_.data(), "RIFF", std::min<std::size_t>(4, held_.size())) != 0)
            return fail(recording_fault::not_wav);
          break;
        }
        if (std::memcmp(held_.data(), "RIFF", 4) != 0 ||
            std::memcmp(held_.data() + 8, "WAVE", 4) != 0)
          return fail(recording_fault::not_wav);
        held_.clear();
        stage_ = stage::chunk;
        break;
      case stage::chunk: {
        if (!gather(8)) break;
        const std::uint32_t length = le32(held_.data() + 4);
        const bool fmt = std::memcmp(held_.data(), "fmt ", 4) == 0,
                   data = std::memcmp(held_.data(), "data", 4) == 0;
        held_.clear();
        if (data) {
          if (!have_format_) return fail(recording_fault::unsupported);
          data_left_ = length;
          data_to_end_ = streamed_length(length);
          stage_ = stage::data;
        } else if (fmt) {
          if (length < 16 || length > 4096) return fail(recording_fault::unsupported);
          format_length_ = length;
          skip_ = length + (length & 1);
          stage_ = stage::format;
        } else {
          skip_ = length + (length & 1);  // LIST, fact and the like, padded to even
          stage_ = stage::skip;
        }
        break;
      }
      case stage::format:
        if (!gather(static_cast<std::size_t>(skip_))) break;
        if (!read_format(held_.data(), format_length_, sink)) return false;
        held_.clear();
        stage_ = stage::chunk;
        break;
      case stage::skip: {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(skip_, size));
        bytes += n;
        size -= n;
        skip_ -= n;
        if (skip_ == 0) stage_ = stage::chunk;
        break;
      }
      case stage::data:
        sound(bytes, size, sink);
        break;
      case stage::done:
        break;
    }
  }
  return fault_ == recording_fault::none;
}

bool wav_reader::finish() {
  if (fault_ != recording_fault::none) return false;
  // Anything but the start of a RIFF file failed in feed.
  if (!have_format_ || (stage_ != stage::data && stage_ != stage::done))
    return fail(recording_fault::cut_short);
  return true;
}
