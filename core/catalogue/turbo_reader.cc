// The turbo reader: looking for leads a stretch at a time, and trying each
// loader whose lead fits, pulse by pulse, until one reads a whole block.
#include "catalogue/turbo_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// Two pulses of one kind on a tape differ by less than this; a short and a
// long one of any loader by more (Turbotape's, 25 and 40, the closest).
constexpr int LIKE = 8;
// Pulses in a row like the one eight before that make a lead worth trying:
// a pilot of two bytes, the shortest any loader writes.
constexpr unsigned LEAD = 8;
constexpr unsigned WINDOW = 16;  // the pulses a lead is tried on first
// A lead's pulses are of one kind when they lie this close together, the
// widest the ROM's short pulses wobble on a worn tape.
constexpr int ONE_KIND = 20;
// Tries crossed at once, at the most: more are stepped through.
constexpr std::size_t MAX_CROSSING = 16;
// Pulses of a steady lead crossed at once.
constexpr std::size_t STEADY = 256;

unsigned count_bits(std::uint64_t x) {
  x -= x >> 1 & 0x5555555555555555;
  x = (x & 0x3333333333333333) + (x >> 2 & 0x3333333333333333);
  x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0F;
  return static_cast<unsigned>(x * 0x0101010101010101 >> 56);
}
// A bit pilot's first pulses, whose mean sets the band the rest must lie in.
constexpr unsigned PILOT_MEAN = 16;

// A measured pulse length is the nominal one give or take a fifth; a
// pilot's, which a checksum will later vouch for, give or take a third.
constexpr double NEAR = 0.2, PILOT_NEAR = 0.35;
bool near(double measured, int nominal, double within = NEAR) {
  return std::fabs(measured - nominal) <= within * nominal;
}

}  // namespace

turbo_reader::turbo_reader(class_path path)
    : bulk_(path != class_path::stepped),
      masks_{path == class_path::fastest},
      rows_(loader_rows()) {
  memory_.resize(rows_.size());
  burner_row_ = rows_.size();
  for (std::size_t r = 0; r < rows_.size(); ++r) {
    if (std::strcmp(rows_[r].name, "Burner") == 0) burner_row_ = r;
    pilot_bits_.push_back(window_order(rows_[r]));
  }
}

// A place past the tape's last byte: the piece of none the tape ends with.
const std::uint8_t END_OF_TAPE = 0;

// Tones this short are a byte's worth of repeats in any data, not a lead.
constexpr unsigned TONE = 64;

// The lead last tried is over: another may be tried.
void turbo_reader::lead_over() {
  lead_open_ = false;
  banded_ = false;
}

void turbo_reader::remember(const std::uint8_t* at, turbo_found& out) {
  const std::uint8_t pulse = *at;
  const unsigned before = periodic_;
  if (since_break_ >= 8) {
    const bool alike = banded_ ? pulse >= band_lo_ && pulse <= band_hi_
                               : std::abs(pulse - history_[(since_break_ - 8) & 63]) <= LIKE;
    periodic_ = alike ? periodic_ + 1 : 0;
  }
  if (periodic_ == 1) {  // a run begins with the eight pulses before this one
    tone_begin_ = clock_.offset_of(at) - 8;
    tone_units_ = 0;
    for (int k = 1; k <= 8; ++k) tone_units_ += history_[(since_break_ - k) & 63];
  }
  if (periodic_ > 0) tone_units_ += pulse;
  if (periodic_ == 0 && before >= TONE) end_tone(at, out);
  history_[since_break_ & 63] = pulse;
  ++since_break_;
}

// A run of pulses like the ones eight before has ended just before at: a tone.
void turbo_reader::end_tone(const std::uint8_t* at, turbo_found& out) {
  turbo_span tone;
  tone.begin = tone_begin_;
  tone.finish = clock_.offset_of(at);
  tone.cycles_finish = clock_.cycles_at(at);
  tone.cycles_begin = tone.cycles_finish - 8 * tone_units_;
  out.tones.push_back(tone);
}

void turbo_reader::read(const std::uint8_t* bytes, std::size_t count, turbo_found& out,
                        const std::vector<rom_claim>& claims) {
  clock_.start_piece(bytes, count);
  const std::uint64_t base = clock_.offset_of(bytes);
  std::size_t i = 0;
  while (head_size_ < TAP_HEADER_SIZE && i < count) {
    head_[head_size_++] = bytes[i++];
    if (head_size_ == TAP_HEADER_SIZE) pauses_ = tap_layout_of(head_).pauses;
  }
  std::size_t c = 0;  // the first claim not yet begun, or the one being passed over
  while (c < claims.size() && any_claim_ && claims[c].begin < claim_begin_) ++c;
  while (i < count) {
    if (in_claim_) {
      // Gone from the claims, it ended before this piece.
      const bool listed = c < claims.size() && claims[c].begin == claim_begin_;
      const std::uint64_t end = listed ? claims[c].end : base;
      if (end > base + i) {
        i = end - base >= count ? count : static_cast<std::size_t>(end - base);
        continue;
      }
      in_claim_ = false;
      if (listed) ++c;
    }
    const std::uint64_t next = c < claims.size() ? claims[c].begin : UINT64_MAX;
    if (next <= base + i) {
      break_stream(bytes + i, out);
      in_claim_ = any_claim_ = true;
      claim_begin_ = next;
      continue;
    }
    const std::size_t limit = next - base < count ? static_cast<std::size_t>(next - base) : count;
    read_pulses(bytes, i, limit, out);
    i = limit;
  }
  clock_.end_piece();
}

// Pulses p[i..n), none of them the ROM's.
void turbo_reader::read_pulses(const std::uint8_t* bytes, std::size_t i, std::size_t n,
                               turbo_found& out) {
  while (i < n) {
    if (skip_ > 0) {
      const std::size_t left = std::min<std::size_t>(static_cast<std::size_t>(skip_), n - i);
      i += left;
      skip_ -= static_cast<int>(left);
      continue;
    }
    if (bytes[i] == 0) {  // a pause, or the longest pulse: every bit stream breaks at it
      break_stream(bytes + i, out);
      if (pauses_) skip_ = 3;
      ++i;
      continue;
    }
    i = engaged_ ? step_engaged(bytes, i, n, out) : seek(bytes, i, n, out);
  }
}

// Crosses pulses until a lead: returns where it stopped, after the pulse
// that made a lead some loader tries (now engaged), at a 0, or at the end.
// A lead no loader takes is not tried again while it goes on.
std::size_t turbo_reader::seek(const std::uint8_t* p, std::size_t i, std::size_t n,
                               turbo_found& out) {
  while (i < n) {
    if (bulk_ && n - i >= 64 && since_break_ >= 8) {
      const std::size_t crossed = cross(p + i, n - i);
      i += crossed;
      if (crossed >= 64) continue;
    }
    // A pulse looked at on its own.
    if (p[i] == 0) return i;
    remember(p + i, out);
    if (periodic_ == 0) lead_over();
    if (periodic_ >= LEAD && !lead_open_) {
      engage(p + i);
      if (engaged_) return i + 1;
    }
    ++i;
  }
  return n;
}

// The 64 pulses at q as the lead detector sees them: which are like the one
// eight before (or, in a lead of one kind, near its lengths), and where
// stepping through them would have to look at one on its own: a 0, one
// that starts a lead to try or ends a tone, or the first of one kind's lead
// that is not near its lengths.
turbo_reader::lead_view turbo_reader::look(const std::uint8_t* q) const {
  lead_view v;
  v.block = masks_.stats(q);
  v.stop = v.block.least == 0 ? masks_.zeros(q) : 0;
  for (unsigned k = 0; k < 8; ++k) {
    v.head[k] = history_[(since_break_ - 8 + k) & 63];
    v.head_least = std::min<unsigned>(v.head_least, v.head[k]);
    v.head_most = std::max<unsigned>(v.head_most, v.head[k]);
  }
  std::memcpy(v.head + 8, q, 8);
  if (banded_) {
    v.alike = within(q, v.block, band_lo_, band_hi_);
    v.stop |= ~v.alike;
  } else {
    v.alike = masks_.alike(q, v.head, LIKE);
  }
  const std::uint64_t all = ~std::uint64_t{0};
  const unsigned first_unlike =
      v.alike == all ? 64 : static_cast<unsigned>(__builtin_ctzll(~v.alike));
  // A lead to try: the eighth pulse of a run begun after a break, or of the
  // run going on from before q where no lead of it has been tried.
  const std::uint64_t starts = v.alike & ~(v.alike << 1 | (periodic_ > 0 ? 1 : 0));
  v.stop |= (starts & runs_of8(v.alike)) << 7;
  if (!lead_open_ && periodic_ + first_unlike >= LEAD)
    v.stop |= std::uint64_t{1} << (periodic_ + 1 >= LEAD ? 0 : LEAD - 1 - periodic_);
  // A tone ends where the run from before q does, long enough.
  if (first_unlike < 64 && periodic_ + first_unlike >= TONE)
    v.stop |= std::uint64_t{1} << first_unlike;
  return v;
}

// Which of the 64 pulses at q lie in [low, high].
std::uint64_t turbo_reader::within(const std::uint8_t* q, const block_stats& block, int low,
                                   int high) const {
  if (static_cast<int>(block.least) >= low && static_cast<int>(block.most) <= high)
    return ~std::uint64_t{0};
  std::uint64_t in = masks_.at_least(q, std::max(low, 1));
  if (high < 255) in &= ~masks_.at_least(q, high + 1);
  return in;
}

// The first e of the 64 pulses at q, which last units, have been seen: the
// run of pulses like the ones eight before, and the last pulses seen, as
// remember() leaves them.
void turbo_reader::pass(const std::uint8_t* q, unsigned e, const lead_view& v, unsigned units) {
  const std::uint64_t first = e == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << e) - 1;
  if ((v.alike & first) == first) {
    if (periodic_ == 0) {  // it begins with the eight pulses before q
      tone_begin_ = clock_.offset_of(q) - 8;
      tone_units_ = 0;
      for (unsigned k = 0; k < 8; ++k) tone_units_ += v.head[k];
    }
    periodic_ += e;
    tone_units_ += units;
  } else {
    lead_over();  // a pulse unlike the one eight before ended it
    const std::uint64_t unlike = ~v.alike & first;
    const unsigned run = e - 1 - (63 - static_cast<unsigned>(__builtin_clzll(unlike)));
    periodic_ = run;
    if (run > 0) {
      // It begins with the eight pulses before its first, some perhaps before q.
      tone_begin_ = clock_.offset_of(q + e - run) - 8;
      tone_units_ = 0;
      for (int k = static_cast<int>(e - run) - 8; k < static_cast<int>(e); ++k)
        tone_units_ += k < 0 ? v.head[8 + k] : q[k];
    }
  }
  remember_many(q, e);
}

// Crosses the pulses at q, 64 at the most (more in a steady lead of one
// kind), up to the first that stepping through them would have to look at
// on its own, or that a try would not take as one more of its pilot. What
// stepping would do with each pulse before it is done with them all at
// once: each try's pilot, shift register and sums grow as stepping would
// make them. Returns how many pulses it crossed.
std::size_t turbo_reader::cross(const std::uint8_t* q, std::size_t available) {
  if (tries_.size() > MAX_CROSSING) return 0;
  for (const lead_try& t : tries_)
    if (t.phase != lead_try::pilot || t.short_pending) return 0;
  if (banded_) {
    for (const std::size_t stretch : {STEADY * 4, STEADY})
      if (available >= stretch && cross_steady(q, stretch)) return stretch;
  }
  const lead_view v = look(q);
  std::uint64_t stop = v.stop;
  const std::uint64_t all = ~std::uint64_t{0};
  // Where each try's pilot would end, or the try fail; and which pulses
  // each byte pilot's try takes as long.
  std::uint64_t long_masks[MAX_CROSSING] = {};
  for (std::size_t k = 0; k < tries_.size(); ++k) {
    const lead_try& t = tries_[k];
    const loader_row& row = rows_[t.row];
    if (row.lead == lead_kind::bit_pilot) {
      // Every pulse of the pilot's kind, and in its band.
      const bool pavloda = row.rule == bit_rule::pavloda;
      if (t.pilot_pulses < PILOT_MEAN || (pavloda && row.pilot != 0)) return 0;
      const bool longs = pavloda || row.pilot != 0;
      const int low = longs ? std::max(t.band_lo, t.threshold) : t.band_lo;
      const int high = longs ? t.band_hi : std::min(t.band_hi, t.threshold - 1);
      if (low > high) return 0;
      stop |= ~within(q, v.block, low, high);
      continue;
    }
    if (row.rule == bit_rule::pavloda) return 0;
    // A byte pilot: its register holds the pilot's last eight bits, and each
    // pulse must be of the kind of the one eight before it, so that each
    // byte it completes is the pilot again.
    const unsigned pilot = row.lead == lead_kind::named_byte_pilot ? t.pilot_byte : row.pilot;
    const auto b = static_cast<unsigned>(t.bits);
    const unsigned held = row.order == bit_order::msb_first
                              ? (pilot << b | pilot >> (8 - b)) & 0xFF
                              : (pilot >> b | pilot << (8 - b)) & 0xFF;
    if (t.reg != held) return 0;
    if (one_kind(t)) {
      if (t.pilot_pulses < PILOT_MEAN) return 0;
      stop |= ~within(q, v.block, t.band_lo, t.band_hi);
    }
    const auto th = static_cast<unsigned>(t.threshold);
    if (v.block.least >= th && v.head_least >= th) {
      long_masks[k] = all;
    } else if (v.block.most < th && v.head_most < th) {
      long_masks[k] = 0;
    } else {
      const std::uint64_t longs = masks_.at_least(q, t.threshold);
      std::uint64_t before = longs << 8;
      for (unsigned j = 0; j < 8; ++j) before |= std::uint64_t{v.head[j] >= t.threshold} << j;
      stop |= longs ^ before;
      long_masks[k] = longs;
    }
  }
  const unsigned e = stop == 0 ? 64 : static_cast<unsigned>(__builtin_ctzll(stop));
  if (e == 0) return 0;
  const std::uint64_t first = e == 64 ? all : (std::uint64_t{1} << e) - 1;
  const unsigned units = e == 64 ? v.block.sum : masks_.sum_first(q, e);
  for (std::size_t k = 0; k < tries_.size(); ++k) {
    lead_try& t = tries_[k];
    const loader_row& row = rows_[t.row];
    t.lead_units += units;
    if (row.lead == lead_kind::bit_pilot) {
      // Timed as long where they are long; Pavloda's long pulses are its 0s.
      const int timed = row.rule == bit_rule::pavloda ? 0 : row.pilot != 0 ? 1 : 0;
      t.count += e;
      t.pilot_pulses += e;
      t.sum[timed] += units;
      t.n[timed] += e;
      continue;
    }
    if (one_kind(t)) t.pilot_pulses += e;
    const std::uint64_t taken = long_masks[k] & first;
    const unsigned longs = count_bits(taken);
    const unsigned long_units = taken == 0       ? 0
                                : taken == first ? units
                                                 : masks_.sum_at_least(q, t.threshold, e);
    t.sum[1] += long_units;
    t.n[1] += longs;
    t.sum[0] += units - long_units;
    t.n[0] += e - longs;
    // The register turns with each bit, and is itself again after eight.
    const unsigned turn = e % 8, reg = t.reg;
    t.reg = static_cast<std::uint8_t>(row.order == bit_order::msb_first
                                          ? reg << turn | reg >> (8 - turn)
                                          : reg >> turn | reg << (8 - turn));
    t.count += (static_cast<unsigned>(t.bits) + e) / 8;
    t.bits = static_cast<int>((static_cast<unsigned>(t.bits) + e) % 8);
  }
  pass(q, e, v, units);
  return e;
}

// Whether every try reads its block's bytes by a threshold, a pulse to a
// bit: then their pulses may be read 64 at a time.
bool turbo_reader::reads_bytes() const {
  if (tries_.empty() || tries_.size() > MAX_CROSSING) return false;
  for (const lead_try& t : tries_)
    if (t.phase != lead_try::body || !t.reader || t.reader->bitwise() ||
        rows_[t.row].rule != bit_rule::threshold)
      return false;
  return true;
}

namespace {

// The bits of x in the opposite order.
std::uint64_t reversed(std::uint64_t x) {
  x = (x >> 1 & 0x5555555555555555) | (x & 0x5555555555555555) << 1;
  x = (x >> 2 & 0x3333333333333333) | (x & 0x3333333333333333) << 2;
  x = (x >> 4 & 0x0F0F0F0F0F0F0F0F) | (x & 0x0F0F0F0F0F0F0F0F) << 4;
  x = (x >> 8 & 0x00FF00FF00FF00FF) | (x & 0x00FF00FF00FF00FF) << 8;
  x = (x >> 16 & 0x0000FFFF0000FFFF) | (x & 0x0000FFFF0000FFFF) << 16;
  return x >> 32 | x << 32;
}

// A try's register as the pulses from the a-th take it on, n of them, a
// bit each: bit k of longs (and bit 63 - k of its reverse) is pulse k's.
// The first bit goes in lowest and ends highest where the highest comes
// first; of more than eight, the last eight stay.
unsigned shifted_in(unsigned reg, std::uint64_t longs, std::uint64_t longs_reversed, bool msb,
                    unsigned a, unsigned n) {
  if (n == 0) return reg;
  if (n > 8) a += n - 8, n = 8;
  const unsigned low = (1u << n) - 1;
  if (msb) return (reg << n | (static_cast<unsigned>(longs_reversed >> (64 - a - n)) & low)) & 0xFF;
  return (reg >> n | (static_cast<unsigned>(longs >> a) & low) << (8 - n)) & 0xFF;
}

}  // namespace

// The tries reading their blocks a byte at a time, each by its threshold:
// the 64 pulses at q read as bits by the mask of those at or above it,
// each byte the tries complete handed to its try's reader in the order of
// the pulses that complete them (and of the tries, for one pulse), as
// stepping gives each try each pulse: up to the first pulse stepping would
// have to look at on its own, or the try whose byte fails it, ends its
// block or takes it on to a tail. Returns how many pulses it read; *event
// is that try (the tries after it have not had the last pulse) or the count
// of tries where none was, and *outcome what its pulse came to.
std::size_t turbo_reader::read_body(const std::uint8_t* q, std::size_t* event, fed* outcome) {
  const lead_view v = look(q);
  const unsigned events = v.stop == 0 ? 64 : static_cast<unsigned>(__builtin_ctzll(v.stop));
  const std::size_t tries = tries_.size();
  *event = tries;
  *outcome = fed::going;
  if (events == 0) return 0;
  struct reading_try {
    std::uint64_t longs, longs_reversed;
    bool msb;
    unsigned reg, read;  // its register, and the pulses of these it holds
    unsigned ends;       // the pulse that completes its byte
  } r[MAX_CROSSING];
  for (std::size_t k = 0; k < tries; ++k) {
    const lead_try& t = tries_[k];
    r[k].longs = masks_.at_least(q, t.threshold);
    r[k].msb = rows_[t.row].order == bit_order::msb_first;
    r[k].longs_reversed = r[k].msb ? reversed(r[k].longs) : 0;
    r[k].reg = t.reg;
    r[k].read = 0;
    r[k].ends = 7 - static_cast<unsigned>(t.bits);
  }
  unsigned e = events;  // the pulses read, once one try's byte is an event
  for (;;) {
    std::size_t k = 0;  // the try whose byte ends first, the first such try
    for (std::size_t j = 1; j < tries; ++j)
      if (r[j].ends < r[k].ends) k = j;
    reading_try& c = r[k];
    if (c.ends >= events) break;
    c.reg = shifted_in(c.reg, c.longs, c.longs_reversed, c.msb, c.read, c.ends + 1 - c.read);
    c.read = c.ends + 1;
    c.ends += 8;
    lead_try& t = tries_[k];
    const reading got = t.reader->byte(static_cast<std::uint8_t>(c.reg));
    if (got == reading::more) continue;
    *event = k;
    e = c.read;
    if (got == reading::failed) {
      *outcome = fed::failed;
    } else if (rows_[t.row].quiet_end) {  // the block must end at a pause or a steady tone
      t.phase = lead_try::tail;
      t.tail_left = 16;
    } else {
      *outcome = fed::done;
    }
    break;
  }
  const unsigned units = e == 64 ? v.block.sum : masks_.sum_first(q, e);
  for (std::size_t k = 0; k < tries; ++k) {
    lead_try& t = tries_[k];
    reading_try& c = r[k];
    const unsigned took = k > *event ? e - 1 : e;  // the pulses this try had
    c.reg = shifted_in(c.reg, c.longs, c.longs_reversed, c.msb, c.read, took - c.read);
    const unsigned took_units = took == e ? units : masks_.sum_first(q, took);
    const std::uint64_t first = took == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << took) - 1;
    const std::uint64_t taken = c.longs & first;
    const unsigned long_units = taken == 0       ? 0
                                : taken == first ? took_units
                                                 : masks_.sum_at_least(q, t.threshold, took);
    const unsigned long_count = count_bits(taken);
    t.sum[1] += long_units;
    t.n[1] += long_count;
    t.sum[0] += took_units - long_units;
    t.n[0] += took - long_count;
    t.body_units += took_units;
    t.lead_units += took_units;
    t.reg = static_cast<std::uint8_t>(c.reg);
    t.bits = static_cast<int>((static_cast<unsigned>(t.bits) + took) % 8);
  }
  pass(q, e, v, units);
  return e;
}

// In a lead of one kind of pulse, count pulses at q (a multiple of 64)
// crossed at once where
// the least and the greatest of them show that each is near the lead's
// lengths and that each try takes every one as one kind of pulse, more of
// its pilot. Returns false, having done nothing, where that is not so.
bool turbo_reader::cross_steady(const std::uint8_t* q, std::size_t count) {
  const block_stats block = masks_.stats(q, count);
  if (block.least == 0 || static_cast<int>(block.least) < band_lo_ ||
      static_cast<int>(block.most) > band_hi_ || tries_.size() > MAX_CROSSING)
    return false;
  unsigned head_least = 255, head_most = 0;
  for (unsigned k = 0; k < 8; ++k) {
    const unsigned v = history_[(since_break_ - 8 + k) & 63];
    head_least = std::min(head_least, v);
    head_most = std::max(head_most, v);
  }
  bool taken_long[MAX_CROSSING];
  for (std::size_t k = 0; k < tries_.size(); ++k) {
    const lead_try& t = tries_[k];
    const loader_row& row = rows_[t.row];
    if (t.phase != lead_try::pilot || t.short_pending) return false;
    const auto least = static_cast<int>(block.least), most = static_cast<int>(block.most);
    if (row.lead == lead_kind::bit_pilot) {
      const bool pavloda = row.rule == bit_rule::pavloda;
      if (t.pilot_pulses < PILOT_MEAN || (pavloda && row.pilot != 0)) return false;
      const bool longs = pavloda || row.pilot != 0;
      if (longs ? least < std::max(t.band_lo, t.threshold) || most > t.band_hi
                : least < t.band_lo || most > std::min(t.band_hi, t.threshold - 1))
        return false;
      taken_long[k] = pavloda ? false : longs;  // Pavloda's long pulses are its 0s, timed as such
      continue;
    }
    if (row.rule == bit_rule::pavloda) return false;
    const unsigned pilot = row.lead == lead_kind::named_byte_pilot ? t.pilot_byte : row.pilot;
    const auto b = static_cast<unsigned>(t.bits);
    const unsigned held = row.order == bit_order::msb_first
                              ? (pilot << b | pilot >> (8 - b)) & 0xFF
                              : (pilot >> b | pilot << (8 - b)) & 0xFF;
    if (t.reg != held) return false;
    if (one_kind(t) && (t.pilot_pulses < PILOT_MEAN || least < t.band_lo || most > t.band_hi))
      return false;
    const auto th = static_cast<unsigned>(t.threshold);
    if (block.least >= th && head_least >= th) {
      taken_long[k] = true;
    } else if (block.most < th && head_most < th) {
      taken_long[k] = false;
    } else {
      return false;
    }
  }
  for (std::size_t k = 0; k < tries_.size(); ++k) {
    lead_try& t = tries_[k];
    t.lead_units += block.sum;
    const bool bit_pilot = rows_[t.row].lead == lead_kind::bit_pilot;
    t.count += static_cast<unsigned>(bit_pilot ? count : count / 8);
    if (bit_pilot || one_kind(t)) t.pilot_pulses += static_cast<unsigned>(count);
    t.sum[taken_long[k] ? 1 : 0] += block.sum;
    t.n[taken_long[k] ? 1 : 0] += count;
  }
  if (periodic_ == 0) {  // the run begins with the eight pulses before q
    tone_begin_ = clock_.offset_of(q) - 8;
    tone_units_ = 0;
    for (unsigned k = 0; k < 8; ++k) tone_units_ += history_[(since_break_ - 8 + k) & 63];
  }
  periodic_ += static_cast<unsigned>(count);
  tone_units_ += block.sum;
  since_break_ += count - 64;  // the last 64 are remembered, each in its place
  remember_many(q + count - 64, 64);
  return true;
}

// The count pulses at q, 64 at the most, are the last seen.
void turbo_reader::remember_many(const std::uint8_t* q, std::size_t count) {
  const auto at = static_cast<std::size_t>(since_break_ & 63);
  const std::size_t first = std::min(count, 64 - at);
  std::memcpy(history_ + at, q, first);
  std::memcpy(history_, q + first, count - first);
  since_break_ += count;
}

// Every loader whose lead fits the last pulses is tried on them.
void turbo_reader::engage(const std::uint8_t* at) {
  std::uint8_t window[WINDOW];
  for (unsigned k = 0; k < WINDOW; ++k) window[k] = history_[(since_break_ - WINDOW + k) & 63];
  const std::uint64_t lead_offset = clock_.offset_of(at) + 1 - WINDOW;
  std::uint64_t lead_units = 0;
  for (const std::uint8_t v : window) lead_units += v;
  bool measured = false;  // the threshold between the window's short and long pulses, once found
  int measured_threshold = 0;
  for (std::size_t r = 0; r < rows_.size(); ++r) {
    const loader_row& row = rows_[r];
    if (r == burner_row_ && !burner_known_) continue;
    // A try of the row still in a lead reads this one too: a pilot whose
    // pulses wobble breaks off and is met again and again, and a try for
    // each would pile up.
    const bool reading_lead = std::any_of(tries_.begin(), tries_.end(), [&](const lead_try& o) {
      return o.row == r && (o.phase == lead_try::align || o.phase == lead_try::pilot) &&
             row.lead != lead_kind::named_byte_pilot;
    });
    if (reading_lead) continue;
    int threshold = row.threshold;
    if (threshold == 0) {  // measured: between the pilot's short and long pulses
      if (!measured) {
        measured = true;
        // The sums of the shorter half of the pulses and of the longer.
        std::uint8_t sorted[WINDOW];
        std::copy(window, window + WINDOW, sorted);
        constexpr unsigned HALF = WINDOW / 2;
        std::nth_element(sorted, sorted + HALF, sorted + WINDOW);
        double lo = 0, hi = 0;
        for (unsigned k = 0; k < HALF; ++k) lo += sorted[k], hi += sorted[k + HALF];
        measured_threshold = hi < 1.3 * lo ? 0 : static_cast<int>(std::lround((lo + hi) / WINDOW));
      }
      if (measured_threshold == 0) continue;
      threshold = measured_threshold;
    }
    unsigned longs = 0;
    for (unsigned k = 0; k < WINDOW; ++k) longs |= unsigned{window[k] >= threshold} << k;
    if (!could_lead(r, longs)) continue;
    const int alignments = row.lead == lead_kind::named_byte_pilot ? 8 : 1;
    for (int a = 0; a < alignments; ++a) {
      lead_try t;
      t.row = r;
      t.threshold = threshold;
      t.lead_offset = lead_offset;
      t.lead_units = lead_units;
      if (row.lead == lead_kind::named_byte_pilot) {
        // The byte is the tape's: each of the eight ways of cutting the
        // window into bytes proposes one, and only the right one sees its
        // complement follow.
        std::uint8_t b = 0;
        for (int k = 0; k < 8; ++k)
          b = static_cast<std::uint8_t>(b << 1 | (window[a + k] >= threshold));
        t.pilot_byte = b;
        t.phase = lead_try::pilot;
        for (unsigned k = static_cast<unsigned>(a) + 8; k < WINDOW; ++k)
          if (feed(t, window[k]) == fed::failed) t.phase = lead_try::align;
        t.count = 1 + (WINDOW - 8 - static_cast<unsigned>(a)) / 8;
        const bool seen = std::any_of(tries_.begin(), tries_.end(), [&](const lead_try& o) {
          return o.row == r && o.pilot_byte == t.pilot_byte;
        });
        if (t.phase == lead_try::pilot && !seen && pilot_timed(t, row))
          tries_.push_back(std::move(t));
        continue;
      }
      bool alive = true;
      for (const std::uint8_t v : window) alive = alive && feed(t, v) == fed::going;
      if (alive && t.phase == lead_try::pilot && pilot_timed(t, row))
        tries_.push_back(std::move(t));
    }
  }
  engaged_ = !tries_.empty();
  lead_open_ = true;
  // A lead of one kind of pulse goes on while its pulses stay near the
  // lengths it began with, however they wobble about them; a lead of two
  // kinds, while each pulse is like the one eight before.
  const auto [least, most] = std::minmax_element(window, window + WINDOW);
  banded_ = *most - *least <= ONE_KIND;
  if (banded_) {  // and no gap between its lengths wider than two of one kind differ by
    std::uint8_t sorted[WINDOW];
    std::copy(window, window + WINDOW, sorted);
    std::sort(sorted, sorted + WINDOW);
    for (unsigned k = 1; k < WINDOW; ++k) banded_ = banded_ && sorted[k] - sorted[k - 1] <= LIKE;
  }
  band_lo_ = *least - LIKE / 2;
  band_hi_ = *most + LIKE / 2;
}

// A row's pilot byte as pulses hold it, the first the lowest bit.
unsigned turbo_reader::window_order(const loader_row& row) {
  if (row.order == bit_order::lsb_first) return row.pilot;
  unsigned reversed = 0;  // its first pulse is its highest bit
  for (int k = 0; k < 8; ++k) reversed |= (row.pilot >> k & 1u) << (7 - k);
  return reversed;
}

// Whether a row's lead could be the window's, whose pulses at or above the
// row's threshold are the set bits of longs (bit k for pulse k): where it
// could not, trying it would end in its failing. A bit pilot's every pulse
// is of its kind; a byte pilot's byte is among the window's bits.
bool turbo_reader::could_lead(std::size_t r, unsigned longs) const {
  const loader_row& row = rows_[r];
  if (row.lead == lead_kind::bit_pilot) {
    const bool long_pilot = row.rule == bit_rule::pavloda ? row.pilot == 0 : row.pilot != 0;
    return longs == (long_pilot ? (1u << WINDOW) - 1 : 0u);
  }
  if (row.lead != lead_kind::byte_pilot || row.rule == bit_rule::pavloda) return true;
  const unsigned pilot =
      pilot_bits_[r];  // the pilot byte as the window holds it, first pulse lowest
  for (unsigned end = 8; end <= WINDOW; ++end)
    if ((longs >> (end - 8) & 0xFF) == pilot) return true;
  return false;
}

// Whether a try's byte pilot is of one kind of pulse: the byte 0 or 255.
bool turbo_reader::one_kind(const lead_try& t) const {
  const loader_row& row = rows_[t.row];
  if (row.lead == lead_kind::bit_pilot) return false;
  const unsigned pilot = row.lead == lead_kind::named_byte_pilot ? t.pilot_byte : row.pilot;
  return pilot == 0 || pilot == 0xFF;
}

// One more pulse of a pilot of one kind: whether it is near the others.
bool turbo_reader::steady(lead_try& t, std::uint8_t pulse) {
  if (t.pilot_pulses >= PILOT_MEAN) return pulse >= t.band_lo && pulse <= t.band_hi;
  if (t.pilot_pulses > 0 && std::fabs(pulse - t.pilot_mean) > 0.25 * t.pilot_mean) return false;
  t.pilot_mean += (pulse - t.pilot_mean) / (t.pilot_pulses + 1);
  if (++t.pilot_pulses == PILOT_MEAN) {
    t.band_lo = static_cast<int>(std::ceil(0.75 * t.pilot_mean));
    t.band_hi = static_cast<int>(std::floor(1.25 * t.pilot_mean));
  }
  return true;
}

// Whether a pilot's pulses were of the loader's lengths: a ROM pilot, or
// another loader's, leads into no block of this one.
bool turbo_reader::pilot_timed(const lead_try& t, const loader_row& row) const {
  if (row.threshold == 0) return true;  // measured from this very pilot
  const double within = row.timed ? NEAR : PILOT_NEAR;
  for (const int b : {0, 1})
    if (t.n[b] > 0 && !near(static_cast<double>(t.sum[b]) / static_cast<double>(t.n[b]),
                            b ? row.bit1 : row.bit0, within))
      return false;
  return true;
}

// One pulse to one try.
turbo_reader::fed turbo_reader::feed(lead_try& t, std::uint8_t pulse) {
  const loader_row& row = rows_[t.row];
  // The pulse's length goes to the sums of its kind: long or short.
  const int kind = pulse >= t.threshold ? 1 : 0;
  const int timed_as = row.rule == bit_rule::pavloda ? 1 - kind : kind;
  t.sum[timed_as] += pulse;
  ++t.n[timed_as];
  if (t.phase == lead_try::body) t.body_units += pulse;
  int bit = kind;
  if (row.rule == bit_rule::pavloda) {
    // A long pulse is a 0; a 1 is two short pulses.
    if (kind == 1) {
      if (t.short_pending) return fed::failed;
      bit = 0;
    } else if (!t.short_pending) {
      t.short_pending = true;
      return fed::going;
    } else {
      t.short_pending = false;
      bit = 1;
    }
  }

  if (row.lead == lead_kind::bit_pilot &&
      (t.phase == lead_try::align || t.phase == lead_try::pilot)) {
    if (bit == static_cast<int>(row.pilot)) {
      // A pilot of one bit: its pulses stay alike.
      if (!steady(t, pulse)) return fed::failed;
      ++t.count;
      t.phase = lead_try::pilot;
      return fed::going;
    }
    if (t.count < row.min_pilot || !pilot_timed(t, row)) return fed::failed;
    // The bit of the other value ends the pilot; bytes begin after it.
    t.bits = 0;
    t.reg = 0;
    if (row.sync.empty()) {
      start_body(t, 0);
      return t.phase == lead_try::tail ? fed::failed : fed::going;
    }
    t.phase = lead_try::sync;
    return fed::going;
  }
  if (t.phase == lead_try::tail) {
    if (t.tail_bit < 0) t.tail_bit = bit;
    if (bit != t.tail_bit) return fed::failed;
    return --t.tail_left == 0 ? fed::done : fed::going;
  }
  if (t.phase == lead_try::body && t.reader->bitwise()) {
    const reading r = t.reader->bit(bit);
    return r == reading::more ? fed::going : r == reading::failed ? fed::failed : fed::done;
  }
  // A pilot of the byte 0 or 255 is of one kind of pulse, as a bit pilot is.
  if (t.phase == lead_try::pilot && one_kind(t) && bit == (t.reg & 1) && !steady(t, pulse))
    return fed::failed;
  t.reg = row.order == bit_order::msb_first ? static_cast<std::uint8_t>(t.reg << 1 | bit)
                                            : static_cast<std::uint8_t>(t.reg >> 1 | bit << 7);
  if (t.phase == lead_try::align) {
    if (++t.bits >= 8 && t.reg == row.pilot) {
      t.phase = lead_try::pilot;
      t.count = 1;
      t.bits = 0;
    }
    return fed::going;
  }
  if (++t.bits < 8) return fed::going;
  t.bits = 0;
  return feed_byte(t, t.reg);
}

// A whole byte to a try past its alignment.
turbo_reader::fed turbo_reader::feed_byte(lead_try& t, std::uint8_t b) {
  const loader_row& row = rows_[t.row];
  const bool named = row.lead == lead_kind::named_byte_pilot;
  const std::uint8_t pilot = named ? t.pilot_byte : row.pilot;
  switch (t.phase) {
    case lead_try::pilot:
      if (b == pilot) {
        ++t.count;
        return fed::going;
      }
      if (t.count < row.min_pilot || !pilot_timed(t, row)) return fed::failed;
      if (named) {
        if (b != static_cast<std::uint8_t>(pilot ^ 0xFF)) return fed::failed;
        t.phase = lead_try::sync;
        t.sync_at = 0;
        return fed::going;
      }
      if (row.sync_one_of) {
        if (std::find(row.sync.begin(), row.sync.end(), b) == row.sync.end()) return fed::failed;
        start_body(t, b);
        return t.phase == lead_try::tail ? fed::failed : fed::going;
      }
      if (row.sync.empty() || b != row.sync[0]) return fed::failed;
      t.sync_at = 1;
      t.phase = lead_try::sync;
      if (t.sync_at == row.sync.size()) start_body(t, b);
      return t.phase == lead_try::tail ? fed::failed : fed::going;
    case lead_try::sync:
      if (named) {
        if (b != pilot) return fed::failed;
        start_body(t, b);
        return t.phase == lead_try::tail ? fed::failed : fed::going;
      }
      if (b != row.sync[t.sync_at]) return fed::failed;
      if (++t.sync_at == row.sync.size()) start_body(t, b);
      return t.phase == lead_try::tail ? fed::failed : fed::going;
    case lead_try::body: {
      const reading r = t.reader->byte(b);
      if (r == reading::more) return fed::going;
      if (r == reading::failed) return fed::failed;
      if (row.quiet_end) {
        t.phase = lead_try::tail;
        t.tail_left = 16;
        return fed::going;
      }
      return fed::done;
    }
    default:
      return fed::failed;
  }
}

void turbo_reader::start_body(lead_try& t, std::uint8_t sync) {
  const loader_row& row = rows_[t.row];
  lead_info lead;
  lead.pilot = t.count;
  lead.sync = sync;
  lead.threshold = t.threshold;
  if (row.lead == lead_kind::named_byte_pilot) lead.sync = t.pilot_byte;
  t.reader = reader_for(row, lead, memory_[t.row]);
  t.phase = t.reader ? lead_try::body : lead_try::tail;
  t.tail_left = -1;   // no reader for this lead: the try is over
  t.body_offset = 0;  // set by the caller, which knows where it stands
  t.body_units = 0;
}

// Whether a block a try read whole is its loader's: where the format keeps
// no checksum, by its pulses' lengths.
bool turbo_reader::accept(const lead_try& t) const {
  const loader_row& row = rows_[t.row];
  if (!row.timed) return true;
  const auto mean = [&](int b) {
    return t.n[b] ? static_cast<double>(t.sum[b]) / static_cast<double>(t.n[b]) : 0.0;
  };
  return near(mean(0), row.bit0) && near(mean(1), row.bit1);
}

// A try has read its block: the stretch it explains, and its files, placed
// and timed, named by its timing where two loaders read alike.
void turbo_reader::read_out(lead_try& t, const std::uint8_t* after, turbo_found& out) {
  const loader_row& row = rows_[t.row];
  turbo_span span;
  span.begin = t.lead_offset;
  span.finish = clock_.offset_of(after);
  span.cycles_finish = clock_.cycles_at(after);
  span.cycles_begin = span.cycles_finish - 8 * t.lead_units;
  out.spans.push_back(span);
  turbo_block block;
  block.loader = row.name;
  block.offset = t.body_offset;
  block.finish = span.finish;
  block.cycles_finish = span.cycles_finish;
  block.cycles_at = span.cycles_finish - 8 * t.body_units;
  const double long_mean = t.n[1] ? static_cast<double>(t.sum[1]) / static_cast<double>(t.n[1]) : 0;
  bool held = true, any = false;
  for (const turbo_file& f : t.reader->files()) {
    block.bytes += static_cast<std::uint32_t>(f.program.size());
    held = held && f.program_check != copy_check::damaged && f.header != copy_check::damaged;
    any = any || f.program_check == copy_check::ok || f.header == copy_check::ok;
  }
  block.check = !held ? copy_check::damaged : any ? copy_check::ok : copy_check::none;
  for (turbo_file& f : t.reader->files()) {
    if (row.long_variant && f.loader == row.name && long_mean >= row.long_split)
      f.loader = row.long_variant;
    f.begin = span.begin;
    f.offset = t.body_offset;
    f.finish = span.finish;
    f.cycles_finish = span.cycles_finish;
    f.cycles_begin = span.cycles_begin;
    f.cycles_at = span.cycles_finish - 8 * t.body_units;
    block.loader = f.loader;
    out.files.push_back(std::move(f));
  }
  out.blocks.push_back(std::move(block));
}

namespace {

// How well a block was read: every check held (3), some held (2), it has
// none (1), or none held (0); a block of several files, as its worst.
int quality(const std::vector<turbo_file>& files) {
  if (files.empty()) return 0;
  int q = 3;
  for (const turbo_file& f : files) {
    const bool failed = f.program_check == copy_check::damaged || f.header == copy_check::damaged;
    const int of_file = failed                              ? (f.checks_held > 0 ? 2 : 0)
                        : f.program_check == copy_check::ok ? 3
                                                            : 1;
    q = std::min(q, of_file);
  }
  return q;
}

}  // namespace

// A try has read its block. One whose checks all hold wins at once, and
// true is returned: every other try ends. Any other is held, the best of
// them, while the others read on.
bool turbo_reader::settle(lead_try& t, const std::uint8_t* after, turbo_found& out) {
  turbo_found got;
  read_out(t, after, got);
  const int q = quality(got.files);
  if (q == 3) {
    held_quality_ = -1;
    held_ = {};
    commit(got, out);
    return true;
  }
  if (q > held_quality_) {
    held_quality_ = q;
    held_ = std::move(got);
  }
  return false;
}

// What was read goes out: the stretches it explains, and its files.
void turbo_reader::commit(turbo_found& found, turbo_found& out) {
  out.spans.insert(out.spans.end(), found.spans.begin(), found.spans.end());
  out.blocks.insert(out.blocks.end(), found.blocks.begin(), found.blocks.end());
  for (turbo_file& f : found.files) give(std::move(f), out);
  found = {};
}

// A file goes out, or is kept open where a later block may go on with it;
// one that goes on from the file kept open is joined to it: a header's data
// fills it, a chain's next piece is added to it.
void turbo_reader::give(turbo_file f, turbo_found& out) {
  if (f.continues && has_open_ && open_.loader == f.loader) {
    turbo_file& o = open_;
    if (o.program_check == copy_check::missing) {
      o.program = std::move(f.program);
      o.program_check = f.program_check;
    } else {
      const bool both = !o.program.empty() && !f.program.empty() && o.end == f.start;
      if (both) o.program.insert(o.program.end(), f.program.begin(), f.program.end());
      if (!both) o.program.clear();
      if (f.program_check == copy_check::damaged || !both) o.program_check = copy_check::damaged;
      o.end = f.end;
    }
    o.finish = f.finish;
    o.cycles_finish = f.cycles_finish;
    o.may_continue = f.may_continue;
    if (!o.may_continue) {
      out.files.push_back(std::move(o));
      has_open_ = false;
    }
    return;
  }
  if (has_open_) out.files.push_back(std::move(open_));
  has_open_ = f.may_continue;
  if (has_open_) {
    open_ = std::move(f);
  } else {
    out.files.push_back(std::move(f));
  }
}

std::uint64_t turbo_reader::span_horizon() const {
  std::uint64_t h = periodic_ > 0 ? tone_begin_ : UINT64_MAX;  // a tone still going on
  for (const lead_try& t : tries_) h = std::min(h, t.lead_offset);
  for (const turbo_span& s : held_.spans) h = std::min(h, s.begin);
  return h;
}

std::uint64_t turbo_reader::horizon() const {
  std::uint64_t h = std::min(span_horizon(), has_open_ ? open_.offset : UINT64_MAX);
  for (const turbo_file& f : held_.files) h = std::min(h, f.offset);
  return h;
}

// A try has read a block and kept it: the lead is over, and every try with it.
void turbo_reader::block_kept() {
  tries_.clear();
  engaged_ = false;
  lead_over();
  periodic_ = 0;
}

// Pulses while tries read: each try takes each pulse, the first to read a
// whole block wins, and the reader looks for leads again after it. A new
// lead met meanwhile is tried beside them: a try may be reading what is no
// block of its loader's.
std::size_t turbo_reader::step_engaged(const std::uint8_t* p, std::size_t i, std::size_t n,
                                       turbo_found& out) {
  for (; i < n; ++i) {
    if (bulk_ && n - i >= 64 && since_break_ >= 8) {
      const std::size_t crossed = cross(p + i, n - i);
      if (crossed >= 64) {
        i += crossed - 1;  // and one more, as the loop goes on
        continue;
      }
      i += crossed;  // to the pulse looked at on its own
      if (crossed == 0 && n - i >= 64 && reads_bytes()) {
        std::size_t event = 0;
        fed f = fed::going;
        const std::size_t read = read_body(p + i, &event, &f);
        if (read > 0) {
          i += read - 1;  // the last pulse read
          if (event == tries_.size()) continue;
          // What it came to for the try it was an event for; then the tries
          // after that one take it, as stepping gives it them.
          const taken r = take(event, f, p + i + 1, out);
          if (r == taken::kept) return i + 1;
          if (feed_tries(p, i, r == taken::stays ? event + 1 : event, tries_.size(), out))
            return i + 1;
          continue;
        }
      }
    }
    if (p[i] == 0) return i;
    remember(p + i, out);
    if (periodic_ == 0) lead_over();
    const std::size_t before = tries_.size();
    if (periodic_ >= LEAD && !lead_open_) engage(p + i);
    if (feed_tries(p, i, 0, before, out)) return i + 1;
  }
  return n;
}

// What a try's pulse came to: a block it read whole and keeps, or the try
// stays, or is dropped (it failed, or read a block it does not keep).
turbo_reader::taken turbo_reader::take(std::size_t k, fed f, const std::uint8_t* after,
                                       turbo_found& out) {
  if (f == fed::done && accept(tries_[k]) && settle(tries_[k], after, out)) {
    block_kept();
    return taken::kept;
  }
  if (f == fed::going) return taken::stays;
  tries_.erase(tries_.begin() + static_cast<std::ptrdiff_t>(k));
  return taken::dropped;
}

// The pulse at p[i] to the tries from the k-th up to the one before the
// first of those a lead met at it has just made (they have had it). Returns
// true where the tries stop at it: a block is kept, or no try is left.
bool turbo_reader::feed_tries(const std::uint8_t* p, std::size_t i, std::size_t k,
                              std::size_t before, turbo_found& out) {
  while (k < before) {
    lead_try& t = tries_[k];
    t.lead_units += p[i];
    const bool in_body = t.phase == lead_try::body;
    const fed f = feed(t, p[i]);
    if (!in_body && t.phase == lead_try::body) t.body_offset = clock_.offset_of(p + i + 1);
    if (f == fed::going) {
      ++k;
      continue;
    }
    if (take(k, f, p + i + 1, out) == taken::kept) return true;
    --before;  // dropped: the tries after it, new ones too, are one place nearer
  }
  if (!tries_.empty()) return false;
  engaged_ = false;
  if (held_quality_ >= 0) commit(held_, out);
  held_quality_ = -1;
  return true;
}

void turbo_reader::break_stream(const std::uint8_t* at, turbo_found& out) {
  if (periodic_ >= TONE) end_tone(at, out);
  bool won = false;
  for (lead_try& t : tries_) {
    if (t.phase != lead_try::body && t.phase != lead_try::tail) continue;
    if ((t.phase == lead_try::tail || t.reader->end() == reading::done) && accept(t) &&
        settle(t, at, out)) {
      won = true;
      break;
    }
  }
  if (!won && held_quality_ >= 0) commit(held_, out);
  held_quality_ = -1;
  held_ = {};
  tries_.clear();
  engaged_ = false;
  lead_over();
  since_break_ = 0;
  periodic_ = 0;
}

void turbo_reader::finish(turbo_found& out) {
  clock_.start_piece(&END_OF_TAPE, 0);
  break_stream(&END_OF_TAPE, out);
  clock_.end_piece();
  if (has_open_) out.files.push_back(std::move(open_));
  has_open_ = false;
}

void turbo_reader::rom_header(const std::uint8_t* payload, std::size_t size) {
  if (burner_known_ || burner_row_ == rows_.size()) return;
  loader_row& row = rows_[burner_row_];
  std::uint8_t pilot = 0, sync = 0;
  if (!burner_lead(payload, size, row.order, pilot, sync)) return;
  row.pilot = pilot;
  row.sync = {sync};
  pilot_bits_[burner_row_] = window_order(row);
  burner_known_ = true;
}

std::size_t turbo_reader::held_bytes() const {
  std::size_t n = tries_.capacity() * sizeof(lead_try) + open_.program.capacity();
  for (const turbo_file& f : held_.files) n += sizeof f + f.program.capacity();
  return n;
}
