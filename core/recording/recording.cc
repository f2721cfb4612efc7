// The recording converter: a WAV file's frames or decoded samples through
// a track for each channel, the channel that holds the tape chosen stretch
// by stretch, and its pulses and pauses given out as TAP bytes.
#include "recording/recording.h"

#include <algorithm>
#include <cmath>

namespace {

// A channel takes no edge below this share of the strongest channel's
// strength: hiss on a channel without the tape makes no waves.
constexpr double SHARED_FLOOR = 0.02;
// The strongest channel's strength is looked at every this many frames.
constexpr std::size_t BLOCK = 4096;

// The channel that holds the tape is chosen for stretches of this long, once
// every channel's pulses up to their end are known; another channel takes
// over when the chosen one gives under half as many of a tape's pulses as
// it, and at least this many.
constexpr double STRETCH_SECONDS = 0.25, CHOICE_DELAY_SECONDS = 0.75;
constexpr std::size_t TAKE_OVER_MIN = 16;

// Pulses of a loader's lengths that a recording must give to hold a tape:
// from Turbotape's short pulse (25) on a deck a tenth fast to the ROM's long.
constexpr std::uint64_t TAPE_LIKE_MIN = 256;
constexpr long long TAPE_LIKE_SHORTEST = 20, TAPE_LIKE_LONGEST = 95;

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

bool recording_converter::fail(recording_fault f) {
  fault_ = f;
  return false;
}

// The sound's format, from the WAV file or the caller: a track for each channel.
bool recording_converter::format(double rate, int channels) {
  rate_ = rate;
  channels_ = channels;
  if (channels < 1 || channels > 8) return fail(recording_fault::unsupported);
  if (!(rate >= MIN_RATE && rate <= MAX_RATE)) return fail(recording_fault::rate_out_of_range);
  have_format_ = true;
  for (int c = 0; c < channels_; ++c) tracks_.emplace_back(rate_, clock_);
  return true;
}

bool recording_converter::start_samples(double rate, int channels) {
  if (bytes_fed_ || have_format_) return fail(recording_fault::unsupported);
  if (!format(rate, channels)) return false;
  samples_ = true;
  return true;
}

void recording_converter::feed_samples(const float* samples, std::size_t frames,
                                       std::size_t channel_step, std::size_t frame_step,
                                       std::vector<std::uint8_t>& out) {
  if (!samples_ || finished_ || fault_ != recording_fault::none) return;
  blocks(
      frames,
      [&](std::size_t at, std::size_t n, int c, float* x) {
        const float* p = samples + static_cast<std::size_t>(c) * channel_step + at * frame_step;
        for (std::size_t f = 0; f < n; ++f, p += frame_step) x[f] = std::isfinite(*p) ? *p : 0.0f;
      },
      out);
}

void recording_converter::frames(const std::uint8_t* p, std::size_t count) {
  blocks(
      count,
      [&](std::size_t at, std::size_t n, int c, float* x) {
        wav_.decode(p + at * wav_.frame_size(), n, c, x);
      },
      *out_);
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
  if (value >= TAPE_LIKE_SHORTEST && value <= TAPE_LIKE_LONGEST) ++tape_like_;
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
    const int was = channel_;
    if (best_count >= TAKE_OVER_MIN && 2 * chosen_count < best_count)
      channel_ = static_cast<int>(best);
    // A channel given up keeps its tape up to where that stops in the
    // stretch (a tape ends, and hiss beside it goes on): the other takes
    // over from there.
    double cut = -1;
    if (channel_ != was) {
      auto& made = tracks_[static_cast<std::size_t>(was)].made();
      bool tape = true;
      for (; !made.empty() && made.front().end < end; made.pop_front()) {
        tape = tape && made.front().tape_like;
        if (!tape) continue;
        cut = made.front().end;
        emit(made.front(), out);
      }
    }
    // One channel's waves do not go on into another's: the first pulse
    // taken after a change is a break, as a pause is.
    bool broken = channel_ != was;
    for (std::size_t c = 0; c < tracks_.size(); ++c) {
      auto& made = tracks_[c].made();
      for (; !made.empty() && made.front().end < end; made.pop_front()) {
        if (static_cast<int>(c) != channel_ || made.front().end <= cut) continue;
        if (broken) made.front().tape_like = false;
        broken = false;
        emit(made.front(), out);
      }
    }
    chosen_to_ = end;
  }
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
    if (frames_ % BLOCK == 0)
      for (channel_track& t : tracks_) t.pass_quiet();
    if (frames_ % BLOCK == 0 && channels_ > 1) {
      double strongest = 0;
      for (const channel_track& t : tracks_) strongest = std::max(strongest, t.peak());
      for (channel_track& t : tracks_) t.floor(SHARED_FLOOR * strongest);
    }
    at += n;
  }
  // A stretch is chosen once every channel's pulses in it are known.
  double until = tracks_[0].now() - CHOICE_DELAY_SECONDS * rate_;
  for (const channel_track& t : tracks_) until = std::min(until, t.settled_to());
  choose(until, out);
}

bool recording_converter::feed(const std::uint8_t* bytes, std::size_t size,
                               std::vector<std::uint8_t>& out) {
  if (samples_ || finished_ || fault() != recording_fault::none) return false;
  bytes_fed_ = true;
  out_ = &out;
  const bool sound = wav_.feed(bytes, size, *this);
  out_ = nullptr;
  return sound && fault() == recording_fault::none;
}

bool recording_converter::finish(std::vector<std::uint8_t>& out) {
  if (fault() != recording_fault::none) return false;
  if (!samples_ && !wav_.finish()) return false;
  if (!have_format_) return fail(recording_fault::cut_short);
  finished_ = true;
  double last = chosen_to_;  // pulses held through a quiet may end before what was chosen
  for (channel_track& t : tracks_) {
    t.finish();
    if (!t.made().empty()) last = std::max(last, t.made().back().end);
  }
  choose(last + 2 * STRETCH_SECONDS * rate_, out);
  emit_pause(out);
  if (tape_like_ < TAPE_LIKE_MIN) return fail(recording_fault::no_tape_signal);
  return true;
}
