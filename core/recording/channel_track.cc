// A channel's waves into pulses: the high-pass, the edges, the pairing of
// half waves into periods, the speed each pilot tone sets, and whether each
// period is among a tape's pulses or noise.
#include "recording/channel_track.h"

#include <cmath>

namespace {

constexpr double PI = 3.14159265358979323846;  // not every C library defines M_PI

// The high-pass's corner: well below the slowest tape wave (a long pulse is
// about 1.4 kHz), well above mains hum (50 or 60 Hz) and a drifting offset.
constexpr double HIGH_PASS_HZ = 250.0;
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

// The lengths a tape's pulses fall in, once timed at the tape's speed: the
// ROM's and every turbo loader's, from about 16 units up to Firebird's long
// pulse of 126, with room either side; though never under three samples,
// which no recording can time. And around each pulse, this many before and
// after, of which nine in ten must be such for it to be a tape's pulse
// rather than noise.
constexpr double TAPE_LO = 14, TAPE_LO_MOST = 30, TAPE_HI = 160, SAMPLES_LEAST = 3;
constexpr std::size_t AROUND = 32, AROUND_MIN = 8;
constexpr double AROUND_TAPE = 0.9;
// Periods are held back this many, or this long, for the pulses after them.
constexpr std::size_t HOLD = 384;
constexpr double HOLD_SECONDS = 0.5;

// How unlike the two halves of a wave are, in samples: 0 when equal, or
// when they differ by no more than where their edges may be off. An edge
// between samples is found to well within half a sample; a converter's
// square wave puts each edge on a sample, so its halves may be a whole
// sample out.
constexpr double EDGE_JITTER = 0.5, STEP_JITTER = 1.0;
double unlike(double a, double b, double jitter) {
  return std::max(0.0, std::fabs(a - b) - jitter) / (a + b);
}
// An edge is a step when the wave was flat into it, within this share of
// its strength, and then crossed more than its strength in one sample. The
// last edges are weighed at this share each; the channel's edges are on
// samples while most of them are steps.
constexpr double STEP_FLAT = 0.2, STEP_FOLLOW = 1.0 / 32;

// A run of like periods that would change the speed is the ROM's pilot only
// if what follows it is the ROM's first byte marker: a long pulse, then a
// medium one, these many times as long as the pilot's.
constexpr double MARKER_LONG_LO = 1.5, MARKER_LONG_HI = 2.1, MARKER_MEDIUM_LO = 1.15,
                 MARKER_MEDIUM_HI = 1.65;
// A short pulse is a tape's only if at least this share of the mean of the
// tape's pulses around it, this many each side.
constexpr double NEIGHBOUR_SHARE = 0.45;
constexpr std::size_t NEIGHBOURS = 8;
// Periods held back at the most while such a run waits for what follows it:
// a run this long is the ROM's pilot whatever follows.
constexpr std::size_t PENDING_MOST = std::size_t{1} << 16;

}  // namespace

channel_track::channel_track(double rate, double clock)
    : rate_(rate),
      units_per_sample_(clock / rate / 8),
      tape_lo_(std::clamp(SAMPLES_LEAST * units_per_sample_, TAPE_LO, TAPE_LO_MOST)) {
  // First order: its answer to a step dies away without swinging back
  // across zero, which would look like an edge after a long wave.
  const double rc = 1 / (2 * PI * HIGH_PASS_HZ);
  pole_ = rc / (rc + 1 / rate);
  // The wave's strength is followed over 2 ms: where a worn tape's signal
  // drops, its edges are taken again within a pulse or two.
  env_release_ = std::exp(-1 / (0.002 * rate));
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

void channel_track::pass_quiet() {
  if (last_edge_ < 0 || now_ - last_edge_ <= HOLD_SECONDS * rate_) return;
  if (halves_.empty() && held_.empty()) return;
  pair_the_rest();
  pending_ = false;  // a run that no marker followed: not the ROM's pilot
  after_run_ = 0;
  release(true);
}

double channel_track::settled_to() const {
  if (!held_.empty()) return held_.front().end;
  if (!halves_.empty()) return time_;
  return now_ - 1;  // the next wave ends at an edge still to come
}

void channel_track::follow(const float* xs, std::size_t n) {
  // The state in locals for the loop, which is most of the converter's time.
  double x1 = x1_, y1 = y1_, envelope = envelope_, peak = peak_, prev = prev_, before = before_,
         now = now_;
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
      side = crossed;
      const bool flat = std::fabs(prev - before) < STEP_FLAT * envelope;
      const bool step = flat && std::fabs(y - prev) > envelope;
      steps_ += ((step ? 1.0 : 0.0) - steps_) * STEP_FOLLOW;
      // The first crossing of all starts the count, whichever way it goes:
      // out of the quiet a recording starts in, it is the first pulse's
      // first edge, whichever way up the recording is.
      if (last_edge_ >= 0) {
        now_ = now;  // for the pulses' times
        half_wave(at - last_edge_);
      } else {
        time_ = at;
      }
      last_edge_ = at;
    }
    before = prev;
    prev = y;
    now += 1;
  }
  x1_ = x1;
  y1_ = y1;
  envelope_ = envelope;
  peak_ = peak;
  prev_ = prev;
  before_ = before;
  now_ = now;
  side_ = side;
}

// Pairs half waves into periods. A pulse is a wave whose two halves are as
// long as each other; timed from the wrong edge, a period is half of one
// pulse and half of the next, and halves of a short and a medium pulse are
// unlike. So of the two ways to pair the half waves ahead, the one whose
// pairs are the more alike is kept: a recording that starts in the middle
// of a wave is paired the other way round from its first data on, losing
// one half wave of pilot.
void channel_track::half_wave(double length) {
  if (length * units_per_sample_ > TAPE_HI) {
    quiet(length);
    return;
  }
  // unlike_[i] is how unlike half waves i and i + 1 are, worked out once,
  // and summed over the even and the odd places as it goes.
  if (!halves_.empty()) {
    const double u = unlike(halves_.back(), length, on_samples() ? STEP_JITTER : EDGE_JITTER);
    (unlike_.size() % 2 == 0 ? even_ : odd_) += u;
    unlike_.push_back(u);
  }
  halves_.push_back(length);
  pair_front(2 * PAIRS_AHEAD + 1);
}

// Pairs the half waves at the front while at least this many wait, each
// pair as kept or, where the other way round is the more alike, after
// letting one go.
void channel_track::pair_front(std::size_t waiting) {
  while (halves_.size() >= waiting) {
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

// A half wave longer than any pulse of a tape: quiet between blocks, or
// hum. The half waves before it pair up as they stand; a lone one left is
// a pulse whose second half went into the quiet, as where a converter
// writes each pulse as one wave and then silence, and is given a second
// half as long as itself. The rest is a period of its own.
void channel_track::quiet(double length) {
  const double lone = halves_.size() % 2 == 1 ? halves_.back() : 0;
  pair_the_rest();
  period(length - lone);
}

// A whole wave: held back with its time, and measured against the pilot
// tone it may belong to. A run of pilot tone that says the tape plays at
// another speed than the last one set is the ROM's pilot only if the ROM's
// first byte marker follows it; until that is known its periods are held,
// and a turbo loader's pilot, which a ROM pilot off speed can look like,
// leaves the speed as it was.
void channel_track::period(double samples) {
  const double units = samples * units_per_sample_;
  time_ += samples;
  const bool like = run_ > 0 && std::fabs(units - run_sum_) <= PILOT_LIKE * run_sum_;
  if (pending_ && (after_run_ > 0 || !like)) settle(units);
  if (like) {
    ++run_;
    run_sum_ += (units - run_sum_) / static_cast<double>(std::min(run_, PILOT_RUN));  // its mean
  } else {
    run_ = 1;
    run_sum_ = units;
  }
  if (run_ >= PILOT_RUN && run_sum_ >= PILOT_LO && run_sum_ <= PILOT_HI) {
    const double off = run_sum_ / PILOT_UNITS;
    const double scale = std::clamp(off, 1 - TRUE_SPEED, 1 + TRUE_SPEED) / off;
    if (pending_ || std::fabs(scale - scale_) > 0.01 * scale_) {
      pending_ = true;
      pending_scale_ = scale;
      pending_mean_ = run_sum_;
      after_run_ = 0;
    } else {
      scale_ = scale;  // the same pilot's speed, followed as it drifts
      if (std::fabs(scale_ - marked_at_) > 0.01 * marked_at_) mark_again();
    }
  }
  hold({units, time_, tape_length(units * scale_)});
  release(false);
}

// A period after a run that waits: the first two say whether it was the
// ROM's pilot, whose speed is then the tape's.
void channel_track::settle(double units) {
  const double ratio = units / pending_mean_;
  if (after_run_ == 0) {
    first_after_ = ratio;
    after_run_ = 1;
    return;
  }
  pending_ = false;
  after_run_ = 0;
  const bool marker = first_after_ >= MARKER_LONG_LO && first_after_ <= MARKER_LONG_HI &&
                      ratio >= MARKER_MEDIUM_LO && ratio <= MARKER_MEDIUM_HI;
  if (marker) {
    scale_ = pending_scale_;
    mark_again();
  }
}

bool channel_track::tape_length(double units) const {
  return units >= tape_lo_ && units <= TAPE_HI;
}

// A pulse shorter than any of the ROM's is a turbo loader's only among
// pulses not much longer than it, as its loader's other pulses are; beside
// the ROM's or in the lead-in to a tape, it is noise. Where a converter put
// each edge on a sample, a wave may have lost up to a sample of its length.
bool channel_track::like_its_neighbours(double units) const {
  double sum = 0;
  std::size_t n = 0;
  for (std::size_t i = 0; i < held_.size() && i < NEIGHBOURS; ++i) {
    if (!held_[i].tape_like) continue;
    sum += held_[i].units * scale_;
    ++n;
  }
  for (std::size_t i = 0; i < recent_.size(); ++i, ++n) sum += recent_[i];
  const double lost = on_samples() ? units_per_sample_ : 0;
  return n > 0 && units + lost >= NEIGHBOUR_SHARE * sum / static_cast<double>(n);
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
  // While a run waits to be told the ROM's pilot or not, it stays held.
  if (pending_ && !all && held_.size() < PENDING_MOST) return;
  if (pending_ && !all) {  // a run this long is the ROM's pilot
    pending_ = false;
    scale_ = pending_scale_;
    mark_again();
  }
  while (!held_.empty() && (all || held_.size() > HOLD || held_.front().end < oldest)) {
    timed_pulse p = held_.front();
    held_.pop_front();
    ahead_tape_ -= p.tape_like;
    if (held_.size() >= AROUND) ahead_tape_ += held_[AROUND - 1].tape_like;
    const bool own = p.tape_like;
    p.units *= scale_;
    const std::size_t after = std::min(held_.size(), AROUND);
    p.tape_like = own && (most(past_tape_, past_.size()) || most(ahead_tape_, after)) &&
                  (p.units >= TAPE_LO_MOST || like_its_neighbours(p.units));
    if (p.tape_like) {
      recent_.push_back(p.units);
      if (recent_.size() > NEIGHBOURS) recent_.pop_front();
    }
    past_.push_back(own);
    past_tape_ += own;
    if (past_.size() > AROUND) {
      past_tape_ -= past_.front();
      past_.pop_front();
    }
    made_.push_back(p);
  }
}

// The half waves not yet paired, paired as they stand: quiet follows. A
// lone one left is given a second half as long as itself (see quiet()).
void channel_track::pair_the_rest() {
  std::size_t i = 0;
  for (; i + 1 < halves_.size(); i += 2) period(halves_[i] + halves_[i + 1]);
  if (i < halves_.size()) period(2 * halves_[i]);
  halves_.clear();
  unlike_.clear();
  even_ = odd_ = 0;
}

void channel_track::finish() {
  pair_the_rest();
  release(true);
}
