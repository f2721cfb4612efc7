// The recording converter: the WAV file's chunks, its samples, and the edges of the tape signal in
// them.
#include "recording/recording.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr double PI = 3.14159265358979323846;  // not every C library defines M_PI

// The high-pass's corner: well below the slowest tape wave (a long pulse is
// about 1.4 kHz), well above mains hum (50 or 60 Hz) and a drifting offset.
constexpr double HIGH_PASS_HZ = 250.0;
// Half waves looked at, in pairs, before a pair is given out: enough to see
// which pairing keeps both halves of a pulse together.
constexpr std::size_t PAIRS_AHEAD = 16;
// Pulses in the ROM's range that a recording must give to hold a tape.
constexpr std::uint64_t TAPE_LIKE_MIN = 256;

std::uint32_t le32(const std::uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

// How unlike the two halves of a wave are: 0 when equal.
double unlike(double a, double b) { return std::fabs(a - b) / (a + b); }

}  // namespace

const char* fault_name(recording_fault fault) {
  switch (fault) {
    case recording_fault::none:
      return "none";
    case recording_fault::not_wav:
      return "not_wav";
    case recording_fault::cut_short:
      return "cut_short";
    case recording_fault::unsupported:
      return "unsupported";
    case recording_fault::no_tape_signal:
      return "no_tape_signal";
  }
  return "";
}

edge_follower::edge_follower(double rate) {
  // First order: its answer to a step dies away without swinging back
  // across zero, which would look like an edge after a long wave.
  const double rc = 1 / (2 * PI * HIGH_PASS_HZ);
  pole_ = rc / (rc + 1 / rate);
  env_release_ = std::exp(-1 / (0.005 * rate));  // follows the wave's strength over 5 ms
  peak_release_ = std::exp(-1 / (2.0 * rate));   // and the recording's over seconds
}

void edge_follower::add(const float* xs, std::size_t n, std::vector<double>& periods) {
  if (measuring_)
    follow<true>(xs, n, periods);
  else
    follow<false>(xs, n, periods);
}

template <bool measure>
void edge_follower::follow(const float* xs, std::size_t n, std::vector<double>& periods) {
  if (n == 0) return;
  if (count_ == 0) x1_ = xs[0];  // a recording starts at its own level, not with a step from 0
  // The state in locals for the loop, which is most of the converter's time.
  double x1 = x1_, y1 = y1_, envelope = envelope_, peak = peak_, energy = energy_, prev = prev_,
         now = now_;
  int side = side_;
  const double pole = pole_, env_release = env_release_, peak_release = peak_release_;
  for (std::size_t i = 0; i < n; ++i) {
    const double x = xs[i];
    const double y = pole * (y1 + x - x1);
    x1 = x;
    y1 = y;
    if (measure) energy += y * y;
    const double a = std::fabs(y);
    envelope = std::max(a, envelope * env_release);  // no branch: which it takes is noise
    peak = std::max(a, peak * peak_release);
    // The band a wave must cross to count: wide against noise, and wide
    // enough in the quiet between blocks that hiss makes no waves.
    double band = 0.2 * envelope;
    band = std::max(band, 0.05 * peak);
    band = std::max(band, 1e-5);
    const int crossed = side >= 0 && y < -band ? -1 : side <= 0 && y > band ? 1 : 0;
    if (crossed != 0) {
      // An edge is where the wave crossed the band, between this sample and
      // the last: a falling edge a band below zero, a rising one a band
      // above, so that a period, from one falling edge to the next, keeps no
      // offset.
      const double at = now - 1 + (prev - crossed * band) / (prev - y);
      const bool edge = side != 0;
      side = crossed;
      if (edge) {
        // A wave is timed from a falling edge: the first one starts the count.
        if (last_edge_ >= 0) half_wave(at - last_edge_, periods);
        if (last_edge_ >= 0 || crossed < 0) last_edge_ = at;
      }
    }
    prev = y;
    now += 1;
  }
  x1_ = x1;
  y1_ = y1;
  envelope_ = envelope;
  peak_ = peak;
  energy_ = energy;
  prev_ = prev;
  now_ = now;
  side_ = side;
  count_ += n;
}

// Pairs half waves into periods. A pulse is a wave whose two halves are as
// long as each other; timed from the wrong edge, a period is half of one
// pulse and half of the next, and halves of a short and a medium pulse are
// unlike. So of the two ways to pair the half waves ahead, the one whose
// pairs are the more alike is kept: an inverted recording is paired the
// other way round from its first data on, losing one half wave of pilot.
void edge_follower::half_wave(double length, std::vector<double>& periods) {
  // unlike_[i] is how unlike half waves i and i + 1 are, worked out once.
  if (!halves_.empty()) unlike_.push_back(unlike(halves_.back(), length));
  halves_.push_back(length);
  while (halves_.size() >= 2 * PAIRS_AHEAD + 1) {
    double kept = 0, other = 0;
    for (std::size_t k = 0; k < PAIRS_AHEAD; ++k) {
      kept += unlike_[2 * k];
      other += unlike_[2 * k + 1];
    }
    if (other < 0.5 * kept && kept - other > 0.5) {
      halves_.pop_front();
      unlike_.pop_front();
      continue;
    }
    periods.push_back(halves_[0] + halves_[1]);
    halves_.pop_front();
    halves_.pop_front();
    unlike_.pop_front();
    unlike_.pop_front();
  }
}

void edge_follower::flush(std::vector<double>& periods) {
  for (; halves_.size() >= 2; halves_.pop_front(), halves_.pop_front())
    periods.push_back(halves_[0] + halves_[1]);
  halves_.clear();
  unlike_.clear();
}

bool recording_converter::fail(recording_fault f) {
  fault_ = f;
  stage_ = stage::done;
  return false;
}

bool recording_converter::read_format(const std::uint8_t* p, std::size_t size) {
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
  if (!(pcm || floats) || channels_ < 1 || channels_ > 8 || rate_ < 8000 || rate_ > 192000 ||
      frame_ < channels_ * (bits_ / 8))
    return fail(recording_fault::unsupported);
  have_format_ = true;
  for (int c = 0; c < channels_; ++c) channels_followed_.emplace_back(rate_);
  early_.resize(static_cast<std::size_t>(channels_));
  if (channels_ == 1) {
    channel_ = 0;
    channels_followed_[0].stop_measuring();
  }
  return true;
}

// One channel's samples of frames frames from p on, as floats.
void recording_converter::decode(const std::uint8_t* p, std::size_t frames, int channel,
                                 float* out) const {
  p += static_cast<std::ptrdiff_t>(channel) * (bits_ / 8);
  const std::size_t step = static_cast<std::size_t>(frame_);
  const auto each = [&](auto value) {
    for (std::size_t f = 0; f < frames; ++f, p += step) out[f] = static_cast<float>(value(p));
  };
  const auto finite = [](double v) { return std::isfinite(v) ? v : 0.0; };
  switch (bits_) {
    case 8:
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

void recording_converter::emit(const std::vector<double>& periods, std::vector<std::uint8_t>& out) {
  for (const double samples : periods) {
    const double cycles = samples / rate_ * clock_;
    const long long value = std::llround(cycles / 8);
    if (value <= 255) {
      const auto v = static_cast<std::uint8_t>(std::max(1LL, value));  // 0 would open a long pulse
      out.push_back(v);
      if (v >= 39 && v <= 95) ++tape_like_;
      continue;
    }
    // Longer than a byte holds: 0, then the period in cycles, 24 bits.
    for (long long left = std::llround(cycles); left > 0; left -= 0xFFFFFF) {
      const long long c = std::min(left, 0xFFFFFFLL);
      out.insert(out.end(), {0, static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c >> 8),
                             static_cast<std::uint8_t>(c >> 16)});
    }
  }
}

// In a recording of several channels, the tape is on the strongest: the
// others may be silent. The choice is made after a second of sound.
void recording_converter::choose_channel(std::vector<std::uint8_t>& out) {
  channel_ = 0;
  for (int c = 1; c < channels_; ++c)
    if (channels_followed_[c].power() > channels_followed_[channel_].power()) channel_ = c;
  emit(early_[static_cast<std::size_t>(channel_)], out);
  early_.clear();
  channels_followed_[static_cast<std::size_t>(channel_)].stop_measuring();
}

void recording_converter::samples(const std::uint8_t* p, std::size_t frames,
                                  std::vector<std::uint8_t>& out) {
  constexpr std::size_t BLOCK = 4096;
  float x[BLOCK];
  while (frames > 0) {
    std::size_t n = std::min(frames, BLOCK);
    if (channel_ < 0)
      n = static_cast<std::size_t>(
          std::min<double>(static_cast<double>(n), rate_ - static_cast<double>(frames_seen_)));
    if (channel_ >= 0) {
      decode(p, n, channel_, x);
      channels_followed_[static_cast<std::size_t>(channel_)].add(x, n, periods_);
    } else {
      for (int c = 0; c < channels_; ++c) {
        decode(p, n, c, x);
        channels_followed_[static_cast<std::size_t>(c)].add(x, n,
                                                            early_[static_cast<std::size_t>(c)]);
      }
      frames_seen_ += n;
      if (static_cast<double>(frames_seen_) >= rate_) choose_channel(out);
    }
    p += n * static_cast<std::size_t>(frame_);
    frames -= n;
  }
  emit(periods_, out);
  periods_.clear();
}

bool recording_converter::feed(const std::uint8_t* bytes, std::size_t size,
                               std::vector<std::uint8_t>& out) {
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
          data_to_end_ =
              length == 0 || length == 0xFFFFFFFFu;  // as a recorder that was stopped leaves it
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
        if (!read_format(held_.data(), format_length_)) return false;
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
      case stage::data: {
        std::size_t avail = size;
        if (!data_to_end_)
          avail = static_cast<std::size_t>(std::min<std::uint64_t>(avail, data_left_));
        std::size_t used = 0;
        const auto frame = static_cast<std::size_t>(frame_);
        if (!held_.empty()) {  // a frame split between pieces
          used = std::min(avail, frame - held_.size());
          held_.insert(held_.end(), bytes, bytes + used);
          if (held_.size() == frame) {
            samples(held_.data(), 1, out);
            held_.clear();
          }
        }
        const std::size_t frames = (avail - used) / frame;
        samples(bytes + used, frames, out);
        used += frames * frame;
        held_.insert(held_.end(), bytes + used, bytes + avail);
        bytes += avail;
        size -= avail;
        if (!data_to_end_) {
          data_left_ -= avail;
          if (data_left_ == 0) stage_ = stage::done;  // what follows the sound is not read
        }
        break;
      }
      case stage::done:
        break;
    }
  }
  return fault_ == recording_fault::none;
}

bool recording_converter::finish(std::vector<std::uint8_t>& out) {
  if (fault_ != recording_fault::none) return false;
  if (!have_format_ || channels_followed_.empty() ||
      (stage_ != stage::data && stage_ != stage::done))
    return fail(
        recording_fault::cut_short);  // anything but the start of a RIFF file failed in feed
  if (channel_ < 0) {
    for (int c = 0; c < channels_; ++c) channels_followed_[c].flush(early_[c]);
    choose_channel(out);
  } else {
    channels_followed_[static_cast<std::size_t>(channel_)].flush(periods_);
    emit(periods_, out);
    periods_.clear();
  }
  stage_ = stage::done;
  if (tape_like_ < TAPE_LIKE_MIN) return fail(recording_fault::no_tape_signal);
  return true;
}
