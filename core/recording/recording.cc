// The recording converter: the WAV file's chunks, its samples, the edges of
// the tape signal in each channel, the speed of each stretch of tape, and
// the channel that holds it.
#include "recording/recording.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

namespace {

constexpr double PI = 3.14159265358979323846;  // not every C library defines M_PI

// The high-pass's corner: well below the slowest tape wave (a long pulse is
// about 1.4 kHz), well above mains hum (50 or 60 Hz) and a drifting offset.
constexpr double HIGH_PASS_HZ = 250.0;
// A channel takes no edge below this share of the strongest channel's
// strength: hiss on a channel without the tape makes no waves.
constexpr double SHARED_FLOOR = 0.02;
// The strongest channel's strength is looked at every this many frames.
constexpr std::size_t BLOCK = 4096;
// Half waves looked at, in pairs, before a pair is given out: enough to see
// which pairing keeps both halves of a pulse together.
constexpr std::size_t PAIRS_AHEAD = 16;

// A TAP unit is 8 machine cycles. The ROM's short pulse, of which its pilot
// tone is made, is 48 units long on every machine, counted in its own clock.
constexpr double PILOT_UNITS = 48;
// A run of this many periods, each within 16% of their mean, is pilot
// tone, when that mean is a short pulse played up to 40% fast or slow.
constexpr std::size_t PILOT_RUN = 256;
constexpr double PILOT_LIKE = 0.16, PILOT_LO = 28, PILOT_HI = 75;
// A stretch whose pilot is this close to the ROM's is timed as it is, at
// the machine's clock, so that a clean recording gives back its own pulses
// and the clocks of PAL and NTSC machines stay told apart. One further off
// is timed as if it were only this far off.
constexpr double TRUE_SPEED = 0.02;

// The lengths a tape's pulses fall in, once timed at the tape's speed; and
// around each pulse, this many before and after, of which nine in ten must
// be such for it to be a tape's pulse rather than noise.
constexpr double TAPE_LO = 30, TAPE_HI = 110;
constexpr std::size_t AROUND = 32, AROUND_MIN = 8;
constexpr double AROUND_TAPE = 0.9;
// Periods are held back this many, or this long, for the pulses after them.
constexpr std::size_t HOLD = 384;
constexpr double HOLD_SECONDS = 0.5;

// The channel that holds the tape is chosen for stretches of this long, once
// every channel's pulses up to their end are known; another channel takes
// over when the chosen one gives under half as many of a tape's pulses as
// it, and at least this many.
constexpr double STRETCH_SECONDS = 0.25, CHOICE_DELAY_SECONDS = 0.75;
constexpr std::size_t TAKE_OVER_MIN = 16;

// Pulses in the ROM's range that a recording must give to hold a tape.
constexpr std::uint64_t TAPE_LIKE_MIN = 256;

std::uint32_t le32(const std::uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

// How unlike the two halves of a wave are: 0 when equal.
double unlike(double a, double b) { return std::fabs(a - b) / (a + b); }

bool tape_length(double units) { return units >= TAPE_LO && units <= TAPE_HI; }

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
    case recording_fault::rate_out_of_range:
      return "rate_out_of_range";
    case recording_fault::no_tape_signal:
      return "no_tape_signal";
  }
  return "";
}

channel_track::channel_track(double rate, double clock)
    : rate_(rate), units_per_sample_(clock / rate / 8) {
  // First order: its answer to a step dies away without swinging back
  // across zero, which would look like an edge after a long wave.
  const double rc = 1 / (2 * PI * HIGH_PASS_HZ);
  pole_ = rc / (rc + 1 / rate);
  env_release_ = std::exp(-1 / (0.005 * rate));  // follows the wave's strength over 5 ms
  peak_release_ = std::exp(-1 / (10.0 * rate));  // and the recording's over ten seconds
}

void channel_track::add(const float* xs, std::size_t n) {
  if (n == 0) return;
  if (!started_) {
    started_ = true;
    x1_ = xs[0];  // a recording starts at its own level, not with a step from 0
  }
  follow(xs, n);
  release(false);
}

void channel_track::follow(const float* xs, std::size_t n) {
  // The state in locals for the loop, which is most of the converter's time.
  double x1 = x1_, y1 = y1_, envelope = envelope_, peak = peak_, prev = prev_, now = now_;
  int side = side_;
  const double pole = pole_, env_release = env_release_, peak_release = peak_release_,
               floor = floor_;
  for (std::size_t i = 0; i < n; ++i) {
    const double x = xs[i];
    const double y = pole * (y1 + x - x1);
    x1 = x;
    y1 = y;
    const double a = std::fabs(y);
    envelope = std::max(a, envelope * env_release);  // no branch: which it takes is noise
    peak = std::max(a, peak * peak_release);
    // The band a wave must cross to count: wide against noise, and wide
    // enough in the quiet between blocks that hiss makes no waves; never
    // below the floor the strongest channel sets.
    double band = 0.2 * envelope;
    band = std::max(band, 0.05 * peak);
    band = std::max(band, floor);
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
        if (last_edge_ >= 0) {
          now_ = now;  // for the pulses' times
          half_wave(at - last_edge_);
        } else if (crossed < 0) {
          time_ = at;
        }
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
  prev_ = prev;
  now_ = now;
  side_ = side;
}

// Pairs half waves into periods. A pulse is a wave whose two halves are as
// long as each other; timed from the wrong edge, a period is half of one
// pulse and half of the next, and halves of a short and a medium pulse are
// unlike. So of the two ways to pair the half waves ahead, the one whose
// pairs are the more alike is kept: an inverted recording is paired the
// other way round from its first data on, losing one half wave of pilot.
void channel_track::half_wave(double length) {
  // unlike_[i] is how unlike half waves i and i + 1 are, worked out once,
  // and summed over the even and the odd places as it goes.
  if (!halves_.empty()) {
    const double u = unlike(halves_.back(), length);
    (unlike_.size() % 2 == 0 ? even_ : odd_) += u;
    unlike_.push_back(u);
  }
  halves_.push_back(length);
  while (halves_.size() >= 2 * PAIRS_AHEAD + 1) {
    // Pairs as kept (0 with 1, 2 with 3, ...) against the other way round.
    const double kept = even_, other = odd_;
    if (other < 0.5 * kept && kept - other > 0.5) {
      time_ += halves_.front();
      halves_.pop_front();
      even_ -= unlike_.front();
      unlike_.pop_front();
      std::swap(even_, odd_);  // every place moves by one
      continue;
    }
    period(halves_[0] + halves_[1]);
    halves_.pop_front();
    halves_.pop_front();
    even_ -= unlike_[0];
    odd_ -= unlike_[1];
    unlike_.pop_front();
    unlike_.pop_front();
    if (unlike_.empty()) even_ = odd_ = 0;  // no rounding carried on
  }
}

// A whole wave: held back with its time, and measured against the pilot
// tone it may belong to.
void channel_track::period(double samples) {
  const double units = samples * units_per_sample_;
  time_ += samples;
  if (run_ > 0 && std::fabs(units - run_sum_) <= PILOT_LIKE * run_sum_) {
    ++run_;
    run_sum_ += (units - run_sum_) / static_cast<double>(std::min(run_, PILOT_RUN));  // its mean
  } else {
    run_ = 1;
    run_sum_ = units;
  }
  if (run_ >= PILOT_RUN && run_sum_ >= PILOT_LO && run_sum_ <= PILOT_HI) {
    const double off = run_sum_ / PILOT_UNITS;
    scale_ = std::clamp(off, 1 - TRUE_SPEED, 1 + TRUE_SPEED) / off;
    if (std::fabs(scale_ - marked_at_) > 0.01 * marked_at_) mark_again();
  }
  hold({units, time_, tape_length(units * scale_)});
  release(false);
}

// The first AROUND periods held are those after the one given out next.
void channel_track::hold(const timed_pulse& p) {
  held_.push_back(p);
  if (held_.size() <= AROUND) ahead_tape_ += p.tape_like;
}

// The speed has changed: which periods held are of a tape's length, anew.
void channel_track::mark_again() {
  marked_at_ = scale_;
  ahead_tape_ = 0;
  for (std::size_t i = 0; i < held_.size(); ++i) {
    held_[i].tape_like = tape_length(held_[i].units * scale_);
    if (i < AROUND) ahead_tape_ += held_[i].tape_like;
  }
}

// Gives out the periods held long enough, timed at the tape's speed, each
// marked a tape's pulse or not by the periods around it.
void channel_track::release(bool all) {
  const double oldest = now_ - HOLD_SECONDS * rate_;
  const auto most = [](std::size_t tape, std::size_t n) {
    return n >= AROUND_MIN && static_cast<double>(tape) >= AROUND_TAPE * static_cast<double>(n);
  };
  while (!held_.empty() && (all || held_.size() > HOLD || held_.front().end < oldest)) {
    timed_pulse p = held_.front();
    held_.pop_front();
    ahead_tape_ -= p.tape_like;
    if (held_.size() >= AROUND) ahead_tape_ += held_[AROUND - 1].tape_like;
    const bool own = p.tape_like;
    p.units *= scale_;
    const std::size_t after = std::min(held_.size(), AROUND);
    p.tape_like = own && (most(past_tape_, past_.size()) || most(ahead_tape_, after));
    past_.push_back(own);
    past_tape_ += own;
    if (past_.size() > AROUND) {
      past_tape_ -= past_.front();
      past_.pop_front();
    }
    made_.push_back(p);
  }
}

void channel_track::finish() {
  for (std::size_t i = 0; i + 1 < halves_.size(); i += 2) period(halves_[i] + halves_[i + 1]);
  halves_.clear();
  unlike_.clear();
  even_ = odd_ = 0;
  release(true);
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
  if (!(pcm || floats) || channels_ < 1 || channels_ > 8 || frame_ < channels_ * (bits_ / 8))
    return fail(recording_fault::unsupported);
  return start(rate_, channels_);
}

bool recording_converter::start(double rate, int channels) {
  rate_ = rate;
  channels_ = channels;
  if (channels < 1 || channels > 8) return fail(recording_fault::unsupported);
  if (!(rate >= MIN_RATE && rate <= MAX_RATE)) return fail(recording_fault::rate_out_of_range);
  have_format_ = true;
  for (int c = 0; c < channels_; ++c) tracks_.emplace_back(rate_, clock_);
  return true;
}

bool recording_converter::start_samples(double rate, int channels) {
  if (stage_ != stage::riff || have_format_) return fail(recording_fault::unsupported);
  if (!start(rate, channels)) return false;
  stage_ = stage::data;
  data_to_end_ = true;
  return true;
}

void recording_converter::feed_samples(const float* samples, std::size_t frames,
                                       std::size_t channel_step, std::size_t frame_step,
                                       std::vector<std::uint8_t>& out) {
  if (!have_format_ || stage_ != stage::data || fault_ != recording_fault::none) return;
  blocks(
      frames,
      [&](std::size_t at, std::size_t n, int c, float* x) {
        const float* p = samples + static_cast<std::size_t>(c) * channel_step + at * frame_step;
        for (std::size_t f = 0; f < n; ++f, p += frame_step) x[f] = std::isfinite(*p) ? *p : 0.0f;
      },
      out);
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

// Gives out a pulse of the chosen channel: one of a tape's, after the quiet
// or noise before it as one pause.
void recording_converter::emit(const timed_pulse& p, std::vector<std::uint8_t>& out) {
  if (!p.tape_like) {
    pause_ += p.units;
    return;
  }
  emit_pause(out);
  const long long value = std::llround(p.units);
  out.push_back(static_cast<std::uint8_t>(std::clamp(value, 1LL, 255LL)));
  if (value >= 39 && value <= 95) ++tape_like_;
}

// A pause, as TAP version 1 gives one: 0, then its length in cycles, 24
// bits, low byte first, as many times as it takes.
void recording_converter::emit_pause(std::vector<std::uint8_t>& out) {
  for (long long left = std::llround(pause_ * 8); left > 0; left -= 0xFFFFFF) {
    const long long c = std::min(left, 0xFFFFFFLL);
    out.insert(out.end(), {0, static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c >> 8),
                           static_cast<std::uint8_t>(c >> 16)});
  }
  pause_ = 0;
}

// The channel that holds the tape, stretch by stretch up to until (in
// samples): the one that gives the most of a tape's pulses, kept while the
// chosen one gives at least half as many. Its pulses are given out; the
// other channels' are let go.
void recording_converter::choose(double until, std::vector<std::uint8_t>& out) {
  const double stretch = STRETCH_SECONDS * rate_;
  while (chosen_to_ + stretch <= until) {
    const double end = chosen_to_ + stretch;
    std::size_t best = 0, best_count = 0, chosen_count = 0;
    for (std::size_t c = 0; c < tracks_.size(); ++c) {
      std::size_t count = 0;
      for (const timed_pulse& p : tracks_[c].made()) {
        if (p.end >= end) break;
        count += p.tape_like;
      }
      if (count > best_count) {
        best = c;
        best_count = count;
      }
      if (static_cast<int>(c) == channel_) chosen_count = count;
    }
    if (best_count >= TAKE_OVER_MIN && 2 * chosen_count < best_count)
      channel_ = static_cast<int>(best);
    for (std::size_t c = 0; c < tracks_.size(); ++c) {
      auto& made = tracks_[c].made();
      for (; !made.empty() && made.front().end < end; made.pop_front())
        if (static_cast<int>(c) == channel_) emit(made.front(), out);
    }
    chosen_to_ = end;
  }
}

void recording_converter::samples(const std::uint8_t* p, std::size_t frames,
                                  std::vector<std::uint8_t>& out) {
  const auto frame = static_cast<std::size_t>(frame_);
  blocks(
      frames,
      [&](std::size_t at, std::size_t n, int c, float* x) { decode(p + at * frame, n, c, x); },
      out);
}

// Frames a block at a time, block(at, n, channel, x) putting channel's
// samples of frames at to at + n into x; each channel's go to its track.
template <class each_channel>
void recording_converter::blocks(std::size_t frames, each_channel&& block,
                                 std::vector<std::uint8_t>& out) {
  float x[BLOCK];
  for (std::size_t at = 0; at < frames;) {
    // Blocks end at the same frames however the file arrives, so that any
    // split of it gives the same pulses.
    const std::size_t n = std::min(frames - at, BLOCK - static_cast<std::size_t>(frames_ % BLOCK));
    for (int c = 0; c < channels_; ++c) {
      block(at, n, c, x);
      tracks_[static_cast<std::size_t>(c)].add(x, n);
    }
    frames_ += n;
    if (frames_ % BLOCK == 0 && channels_ > 1) {
      double strongest = 0;
      for (const channel_track& t : tracks_) strongest = std::max(strongest, t.peak());
      for (channel_track& t : tracks_) t.floor(SHARED_FLOOR * strongest);
    }
    at += n;
  }
  choose(tracks_[0].now() - CHOICE_DELAY_SECONDS * rate_, out);
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
  if (!have_format_ || (stage_ != stage::data && stage_ != stage::done))
    return fail(
        recording_fault::cut_short);  // anything but the start of a RIFF file failed in feed
  double last = 0;
  for (channel_track& t : tracks_) {
    t.finish();
    if (!t.made().empty()) last = std::max(last, t.made().back().end);
  }
  choose(last + 2 * STRETCH_SECONDS * rate_, out);
  emit_pause(out);
  stage_ = stage::done;
  if (tape_like_ < TAPE_LIKE_MIN) return fail(recording_fault::no_tape_signal);
  return true;
}
