// The turbo reader crossing pulses 64 or more at a time where stepping
// through them would come to the same: the lead detector's look at them,
// a steady pilot, the pilots of the tries under way, and the blocks the
// tries read by their thresholds.
#include <algorithm>
#include <cstring>

#include "catalogue/turbo_reader.h"
#include "catalogue/turbo_tuning.h"

using namespace turbo_tuning;

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
    if (row.lead == lead_kind::bit_pilot) {  // every pulse of the pilot's kind, in its band
      int low = 0, high = 0;
      if (!pilot_band(t, &low, &high)) return 0;
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
      more_of_bit_pilot(t, e, units);
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

// The pulses a try in a bit pilot takes as one more of it, crossed at once:
// those of the pilot's kind and in its band. False where it cannot be
// crossed so (its band not yet set, or a Pavloda 1 pilot).
bool turbo_reader::pilot_band(const lead_try& t, int* low, int* high) const {
  const loader_row& row = rows_[t.row];
  const bool pavloda = row.rule == bit_rule::pavloda;
  if (row.lead != lead_kind::bit_pilot || t.phase != lead_try::pilot || t.short_pending ||
      t.pilot_pulses < PILOT_MEAN || (pavloda && row.pilot != 0))
    return false;
  const bool longs = pavloda || row.pilot != 0;
  *low = longs ? std::max(t.band_lo, t.threshold) : t.band_lo;
  *high = longs ? t.band_hi : std::min(t.band_hi, t.threshold - 1);
  return *low <= *high;
}

// Pulses, lasting units, that a try in a bit pilot takes as more of it:
// timed as long where they are long (Pavloda's long pulses are its 0s).
void turbo_reader::more_of_bit_pilot(lead_try& t, unsigned pulses, unsigned units) const {
  const loader_row& row = rows_[t.row];
  const int timed = row.rule == bit_rule::pavloda ? 0 : row.pilot != 0 ? 1 : 0;
  t.count += pulses;
  t.pilot_pulses += pulses;
  t.sum[timed] += units;
  t.n[timed] += pulses;
}

// Whether every try reads its block by a threshold (a pulse to a bit, or
// Pavloda's), or goes on through a bit pilot: then their pulses may be read
// 64 at a time. Super Pavloda's blocks, of three lengths of pulse, are
// stepped through.
bool turbo_reader::reads_bytes() const {
  if (tries_.empty() || tries_.size() > MAX_CROSSING) return false;
  for (const lead_try& t : tries_) {
    int low = 0, high = 0;
    if (t.phase == lead_try::pilot && pilot_band(t, &low, &high)) continue;
    if (t.phase != lead_try::body || !t.reader) return false;
    const bit_rule rule = rows_[t.row].rule;
    if ((rule == bit_rule::pavloda && t.reader->bitwise()) || rule == bit_rule::super_pavloda)
      return false;
  }
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

// A Pavloda try's bits from the pulses of its block: a long pulse is a 0,
// a short one and the pulse after it, whatever its length, a 1.
struct pavloda_bits {
  unsigned reg;
  int bits;
  bool pending;  // a short pulse waits for its second
  bool msb;
  // One pulse, long or not. Sets *byte where it completes one.
  void take(bool is_long, bool* byte) {
    // Written without branches: the pulses come at random.
    const bool completes = is_long || pending;
    const unsigned bit = pending || !is_long ? 1 : 0;
    pending = !completes;
    const unsigned shifted = msb ? (reg << 1 | bit) & 0xFF : reg >> 1 | bit << 7;
    reg = completes ? shifted : reg;
    bits += completes ? 1 : 0;
    *byte = bits == 8;
    bits &= 7;
  }
};

}  // namespace

// The tries reading their blocks a byte (or, for a reader of bits, a bit)
// at a time, each by its threshold: the 64 pulses at q read as bits by the
// mask of those at or above it, each byte the tries complete handed to its
// try's reader in the order of the pulses that complete them (and of the
// tries, for one pulse), as stepping gives each try each pulse. A try still
// in a bit pilot takes each pulse as more of it. Up to the first pulse
// stepping would have to look at on its own, or that a pilot's try would
// not take as more of it, or the try whose byte fails it, ends its block or
// takes it on to a tail. Returns how many pulses it read; *event is that
// try (the tries after it have not had the last pulse) or the count of
// tries where none was, and *outcome what its pulse came to.
std::size_t turbo_reader::read_body(const std::uint8_t* q, std::size_t* event, fed* outcome) {
  const lead_view v = look(q);
  std::uint64_t stop = v.stop;
  const std::size_t tries = tries_.size();
  *event = tries;
  *outcome = fed::going;
  struct reading_try {
    std::uint64_t longs, longs_reversed;
    bool msb;
    unsigned reg, read;  // its register, and the pulses of these it holds
    unsigned ends;       // the pulse that completes its byte (or bit)
    enum { in_pilot, by_bytes, by_bits, pavloda } how;
    // Pavloda's bytes, which take no set count of pulses: the pulse that
    // completes each, and its value.
    unsigned bytes, next;
    std::uint8_t byte_ends[8], byte_values[8];
  } r[MAX_CROSSING];
  constexpr unsigned NEVER = 64;
  for (std::size_t k = 0; k < tries; ++k) {
    const lead_try& t = tries_[k];
    if (t.phase == lead_try::pilot) {
      int low = 0, high = 0;
      pilot_band(t, &low, &high);
      stop |= ~within(q, v.block, low, high);
      r[k].ends = NEVER;
      r[k].how = reading_try::in_pilot;
      continue;
    }
    r[k].longs = masks_.at_least(q, t.threshold);
    r[k].msb = rows_[t.row].order == bit_order::msb_first;
    r[k].longs_reversed = r[k].msb ? reversed(r[k].longs) : 0;
    r[k].reg = t.reg;
    r[k].read = 0;
    if (rows_[t.row].rule == bit_rule::pavloda) {
      pavloda_bits b{t.reg, t.bits, t.short_pending, r[k].msb};
      r[k].bytes = r[k].next = 0;
      for (unsigned j = 0; j < 64; ++j) {
        bool byte = false;
        b.take((r[k].longs >> j & 1) != 0, &byte);
        if (!byte) continue;
        r[k].byte_ends[r[k].bytes] = static_cast<std::uint8_t>(j);
        r[k].byte_values[r[k].bytes++] = static_cast<std::uint8_t>(b.reg);
      }
      r[k].how = reading_try::pavloda;
      r[k].ends = r[k].bytes > 0 ? r[k].byte_ends[0] : NEVER;
      continue;
    }
    const bool bits = t.reader->bitwise();
    r[k].how = bits ? reading_try::by_bits : reading_try::by_bytes;
    r[k].ends = bits ? 0 : 7 - static_cast<unsigned>(t.bits);
  }
  const unsigned events = stop == 0 ? 64 : static_cast<unsigned>(__builtin_ctzll(stop));
  if (events == 0) return 0;
  unsigned e = events;  // the pulses read, once one try's byte is an event
  for (;;) {
    std::size_t k = 0;  // the try whose byte ends first, the first such try
    for (std::size_t j = 1; j < tries; ++j)
      if (r[j].ends < r[k].ends) k = j;
    reading_try& c = r[k];
    if (c.ends >= events) break;
    lead_try& t = tries_[k];
    reading got;
    if (c.how == reading_try::pavloda) {
      c.read = c.ends + 1;
      got = t.reader->byte(c.byte_values[c.next++]);
      c.ends = c.next < c.bytes ? c.byte_ends[c.next] : NEVER;
    } else if (c.how == reading_try::by_bits) {
      got = t.reader->bit(static_cast<int>(c.longs >> c.ends & 1));
      c.read = c.ends + 1;
      c.ends += 1;
      if (got == reading::more) continue;
      *outcome = got == reading::failed ? fed::failed : fed::done;
      *event = k;
      e = c.read;
      break;
    } else {
      c.reg = shifted_in(c.reg, c.longs, c.longs_reversed, c.msb, c.read, c.ends + 1 - c.read);
      c.read = c.ends + 1;
      c.ends += 8;
      got = t.reader->byte(static_cast<std::uint8_t>(c.reg));
    }
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
    const unsigned took_units = took == e ? units : masks_.sum_first(q, took);
    t.lead_units += took_units;
    if (c.how == reading_try::in_pilot) {
      more_of_bit_pilot(t, took, took_units);
      continue;
    }
    const std::uint64_t first = took == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << took) - 1;
    const std::uint64_t taken = c.longs & first;
    const unsigned long_units = taken == 0       ? 0
                                : taken == first ? took_units
                                                 : masks_.sum_at_least(q, t.threshold, took);
    const unsigned long_count = count_bits(taken);
    const int timed_long = c.how == reading_try::pavloda ? 0 : 1;  // Pavloda's long pulses are 0s
    t.sum[timed_long] += long_units;
    t.n[timed_long] += long_count;
    t.sum[1 - timed_long] += took_units - long_units;
    t.n[1 - timed_long] += took - long_count;
    t.body_units += took_units;
    if (c.how == reading_try::by_bits) continue;  // a reader of bits keeps no register here
    if (c.how == reading_try::pavloda) {
      pavloda_bits b{t.reg, t.bits, t.short_pending, c.msb};
      bool byte = false;
      for (unsigned j = 0; j < took; ++j) b.take((c.longs >> j & 1) != 0, &byte);
      t.reg = static_cast<std::uint8_t>(b.reg);
      t.bits = b.bits;
      t.short_pending = b.pending;
      continue;
    }
    c.reg = shifted_in(c.reg, c.longs, c.longs_reversed, c.msb, c.read, took - c.read);
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
