// The turbo reader: looking for leads a stretch at a time, and trying each
// loader whose lead fits, pulse by pulse, until one reads a whole block.
#include "catalogue/turbo_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "catalogue/turbo_tuning.h"

using namespace turbo_tuning;

turbo_reader::turbo_reader(class_path path)
    : bulk_(path != class_path::stepped),
      masks_{path == class_path::fastest},
      rows_(loader_rows()) {
  memory_.resize(rows_.size());
  carries_.resize(rows_.size());
  burner_row_ = rows_.size();
  for (std::size_t r = 0; r < rows_.size(); ++r) {
    if (std::strcmp(rows_[r].name, "Burner") == 0) burner_row_ = r;
    pilot_bits_.push_back(window_order(rows_[r]));
  }
}

// A place past the tape's last byte: the piece of none the tape ends with.
const std::uint8_t END_OF_TAPE = 0;

// The lead last tried is over: another may be tried.
void turbo_reader::lead_over() {
  lead_open_ = false;
  banded_ = false;
  rearm_at_ = 0;
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
    if (bulk_ && n - i >= 64 && since_break_ >= WINDOW && since_break_ >= rearm_at_) {
      const std::size_t crossed = cross(p + i, n - i);
      i += crossed;
      if (crossed >= 64) continue;
    }
    // A pulse looked at on its own.
    if (p[i] == 0) return i;
    remember(p + i, out);
    if (periodic_ == 0) lead_over();
    if (periodic_ >= LEAD && (!lead_open_ || since_break_ == rearm_at_))
      engage(p + i);
    else if (since_break_ == WINDOW && !lead_open_)
      engage_short(p + i);
    if (engaged_) return i + 1;
    ++i;
  }
  return n;
}

namespace {

// The byte b turned n bits to the left, those leaving it coming in again.
unsigned turned(unsigned b, int n) { return (b << n | b >> (8 - n)) & 0xFF; }

// Whether b is a turned by some number of bits.
bool same_turned(unsigned a, unsigned b) {
  for (int n = 0; n < 8; ++n)
    if (turned(a, n) == b) return true;
  return false;
}

}  // namespace

// Every loader whose lead fits the last pulses is tried on them.
void turbo_reader::engage(const std::uint8_t* at) {
  std::uint8_t window[WINDOW];
  for (unsigned k = 0; k < WINDOW; ++k) window[k] = history_[(since_break_ - WINDOW + k) & 63];
  std::uint64_t lead_units = 0;
  for (const std::uint8_t v : window) lead_units += v;
  try_lead(window, WINDOW, clock_.offset_of(at) + 1 - WINDOW, lead_units, since_break_ == WINDOW,
           false);
  engaged_ = !tries_.empty();
  lead_open_ = true;
  // A lead of one kind of pulse goes on while its pulses stay near the
  // lengths it began with, however they wobble about them; a lead of two
  // kinds, while each pulse is like the one eight before.
  const auto [least, most] = std::minmax_element(window, window + WINDOW);
  banded_ = *most - *least <= ONE_KIND;
  if (banded_) {
    // and no gap between its lengths wider than two of one kind differ by,
    // even without one pulse of them: one cut short after a pause can lie
    // between a lead's short and long pulses and seem to join them.
    std::uint8_t sorted[WINDOW];
    std::copy(window, window + WINDOW, sorted);
    std::sort(sorted, sorted + WINDOW);
    for (unsigned k = 2; k < WINDOW; ++k) banded_ = banded_ && sorted[k] - sorted[k - 2] <= LIKE;
  }
  band_lo_ = *least - LIKE / 2;
  band_hi_ = *most + LIKE / 2;
}

// Right after a break a tape often garbles its first pulse or loses it,
// which leaves a pilot of two bytes 15 good pulses: too few to make a lead.
// Where the 16 pulses since the break are 15 such and one garbled, or 15
// such and then the sync's first, the loaders whose pilots are that short
// are tried on them, the garbled or lost pulse stood in for by one of the
// pilot's. The lead stays open to every other loader: a longer pilot goes
// on to make a lead of its own.
void turbo_reader::engage_short(const std::uint8_t* at) {
  unsigned unlike = 0;  // bit k: pulse k since the break is unlike the one eight before
  for (unsigned k = 8; k < WINDOW; ++k)
    if (std::abs(history_[k] - history_[k - 8]) > LIKE) unlike |= 1u << k;
  std::uint8_t window[WINDOW + 1];
  unsigned size = 0;
  if (unlike == 1u << 15) {  // the first lost: the 16th is the sync's
    window[size++] = history_[0];
    for (unsigned k = 0; k < WINDOW; ++k) window[size++] = history_[k];
  } else if (unlike != 0 && (unlike & (unlike - 1)) == 0) {
    // Pulse k or the one eight before it is garbled: the one further from
    // the others' middle length.
    for (unsigned k = 0; k < WINDOW; ++k) window[size++] = history_[k];
    std::uint8_t sorted[WINDOW];
    std::copy(window, window + WINDOW, sorted);
    std::nth_element(sorted, sorted + WINDOW / 2, sorted + WINDOW);
    const int middle = sorted[WINDOW / 2];
    unsigned k = 8;
    while (!(unlike >> k & 1)) ++k;
    std::uint8_t& a = window[k - 8];
    std::uint8_t& b = window[k];
    if (std::abs(a - middle) > std::abs(b - middle))
      a = b;
    else
      b = a;
  } else {
    return;
  }
  std::uint64_t lead_units = 0;
  for (unsigned k = 0; k < WINDOW; ++k) lead_units += history_[k];
  try_lead(window, size, clock_.offset_of(at) + 1 - WINDOW, lead_units, true, true);
  engaged_ = !tries_.empty();
}

// Tries every loader (or those with pilots of two bytes at most) whose lead
// could be the window's, its first 16 pulses; each try takes them all.
void turbo_reader::try_lead(const std::uint8_t* window, unsigned size, std::uint64_t lead_offset,
                            std::uint64_t lead_units, bool after_pause, bool short_only) {
  bool measured = false;  // the threshold between the window's short and long pulses, once found
  int measured_threshold = 0;
  for (std::size_t r = 0; r < rows_.size(); ++r) {
    const loader_row& row = rows_[r];
    if (r == burner_row_ && !burner_known_) continue;
    if (short_only && (row.lead != lead_kind::byte_pilot || row.min_pilot * 8 > WINDOW)) continue;
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
    static_assert(WINDOW == 16, "a lead's window is classed 16 pulses at once");
    if (!could_lead(r, masks_.at_least16(window, threshold))) continue;
    // A pilot byte that is itself again turned by fewer than eight bits
    // ($AA by two, $00 by one) shows no place where its bytes begin, and
    // the window may start anywhere in one, straight after a pause too (a
    // tape often loses a pulse or two there): a try is made for each place;
    // or one try that finds its place at the sync, where the sync shows it.
    const bool floating = sync_shows_start(row);
    const int period = floating ? 8 : pilot_period(row);
    const int alignments = row.lead == lead_kind::named_byte_pilot ? 8 : 8 / period;
    for (int a = 0; a < alignments; ++a) {
      lead_try t;
      t.row = r;
      t.threshold = threshold;
      t.lead_offset = lead_offset;
      t.lead_units = lead_units;
      t.floating = floating;
      t.after_pause = after_pause;
      if (since_break_ <= carries_[r].at + WINDOW) t.carried = carries_[r].count;
      t.count = t.carried;
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
        t.count = t.carried + 1 + (WINDOW - 8 - static_cast<unsigned>(a)) / 8;
        // A try of the row reading this pilot already (met again after a
        // wobble, perhaps cut into bytes another way) is left to read it.
        const bool seen = std::any_of(tries_.begin(), tries_.end(), [&](const lead_try& o) {
          return o.row == r && (o.phase == lead_try::align || o.phase == lead_try::pilot) &&
                 same_turned(o.pilot_byte, t.pilot_byte);
        });
        if (t.phase != lead_try::pilot || seen || !pilot_timed(t, row)) continue;
        // Its complement differs from it in every bit: where the pulses
        // first stop repeating every eight, it begins, and so does a byte.
        // One try finds that place for all eight ways of cutting.
        t.named_floating = true;
        tries_.push_back(std::move(t));
        break;
      }
      bool alive = true;
      for (unsigned k = static_cast<unsigned>(a * period); k < size; ++k)
        alive = alive && feed(t, window[k]) == fed::going;
      if (alive && t.phase == lead_try::pilot && pilot_timed(t, row))
        tries_.push_back(std::move(t));
    }
  }
}

// The fewest bits a row's pilot byte turns by to be itself again: 8 for
// most, 2 for $AA, 1 for $00; 8 where the pilot is no one byte.
int turbo_reader::pilot_period(const loader_row& row) {
  if (row.lead != lead_kind::byte_pilot) return 8;
  const unsigned b = row.pilot;
  for (const int p : {1, 2, 4})
    if (turned(b, p) == b) return p;
  return 8;
}

// Whether a row's pilot is of one kind of pulse and the first bit of its
// sync is of the other: its bytes begin with the first pulse of that kind.
bool turbo_reader::sync_shows_start(const loader_row& row) {
  if (row.lead != lead_kind::byte_pilot || (row.pilot != 0 && row.pilot != 0xFF) ||
      row.sync.empty())
    return false;
  const unsigned first = row.order == bit_order::msb_first ? row.sync[0] >> 7 : row.sync[0] & 1u;
  return first != (row.pilot & 1u);
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
  if (t.pilot_pulses > 0 && std::fabs(pulse - t.pilot_mean) > 0.25 * t.pilot_mean) {
    // The first pulse after a pause is often cut short or drawn out: the
    // pilot is measured from the next one instead.
    if (t.pilot_pulses > 1 || !t.after_pause) return false;
    t.pilot_pulses = 0;
    t.pilot_mean = 0;
  }
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

// One pulse to one try; or, where bit is not -1, one of the bits the pulse
// has been read as already.
turbo_reader::fed turbo_reader::feed(lead_try& t, std::uint8_t pulse, int bit) {
  const loader_row& row = rows_[t.row];
  if (bit < 0) {
    if (row.rule == bit_rule::super_pavloda) return feed_three(t, pulse);
    // The pulse's length goes to the sums of its kind: long or short.
    const int kind = pulse >= t.threshold ? 1 : 0;
    const int timed_as = row.rule == bit_rule::pavloda ? 1 - kind : kind;
    t.sum[timed_as] += pulse;
    ++t.n[timed_as];
    if (t.phase == lead_try::body) t.body_units += pulse;
    bit = kind;
    if (row.rule == bit_rule::pavloda) {
      // A long pulse is a 0; a 1 is two short pulses. The loader times the
      // first of the two and passes over the second, whatever its length,
      // and so does a block here: its last pulse may run on into the pause
      // after it. In a lead, a long pulse after a lone short one breaks it.
      if (t.short_pending) {
        if (kind == 1 && t.phase != lead_try::body) return fed::failed;
        t.short_pending = false;
        bit = 1;
      } else if (kind == 1) {
        bit = 0;
      } else {
        t.short_pending = true;
        return fed::going;
      }
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
  if (t.phase == lead_try::pilot && t.named_floating) {
    const bool msb = row.order == bit_order::msb_first;
    const int eight_before = (msb ? t.reg >> 7 : t.reg) & 1;
    if (bit != eight_before) {  // the last eight bits were the pilot byte
      t.named_floating = false;
      t.pilot_byte = t.reg;
      if (t.bits != 0) {
        t.bits = 0;
        ++t.count;
      }
    }
  }
  if (t.phase == lead_try::pilot && one_kind(t)) {
    if (bit == (t.reg & 1) && !steady(t, pulse)) return fed::failed;
    // A pilot of one kind of pulse met with no pause before it shows no
    // place where its bytes begin: where its sync's first bit is of the
    // other kind, a byte begins with the first pulse of that kind.
    if (t.floating && bit != (t.reg & 1)) {
      t.floating = false;
      if (t.bits != 0) {
        t.bits = 0;
        ++t.count;
      }
    }
  }
  t.reg = row.order == bit_order::msb_first ? static_cast<std::uint8_t>(t.reg << 1 | bit)
                                            : static_cast<std::uint8_t>(t.reg >> 1 | bit << 7);
  if (t.phase == lead_try::align) {
    if (++t.bits >= 8 && t.reg == row.pilot) {
      t.phase = lead_try::pilot;
      t.count = 1 + t.carried;
      t.bits = 0;
    }
    return fed::going;
  }
  if (++t.bits < 8) return fed::going;
  t.bits = 0;
  return feed_byte(t, t.reg);
}

// Super Pavloda's pulses, of three lengths, each one bit or two by the state
// the last medium pulse left: in the first, a short pulse is a 1, a medium
// one 00 and a long one 01; in the second, a short one 0, a medium one 1 and
// a long one 00. A medium pulse switches the state. Its pilot is short
// pulses in the second state, and the medium one that ends it the 1 after.
turbo_reader::fed turbo_reader::feed_three(lead_try& t, std::uint8_t pulse) {
  const loader_row& row = rows_[t.row];
  const int length = pulse < t.threshold ? 0 : pulse < row.long_threshold ? 1 : 2;
  t.sum[length == 0 ? 0 : 1] += pulse;  // timed as short or not
  ++t.n[length == 0 ? 0 : 1];
  if (t.phase == lead_try::body) t.body_units += pulse;
  static constexpr int BITS[2][3][2] = {{{0, -1}, {1, -1}, {0, 0}},  // the second state
                                        {{1, -1}, {0, 0}, {0, 1}}};  // the first
  const int(&bits)[2] = BITS[t.first_state ? 1 : 0][length];
  if (length == 1) t.first_state = !t.first_state;
  for (const int bit : bits) {
    if (bit < 0) break;
    const fed f = feed(t, pulse, bit);
    if (f != fed::going) return f;
  }
  return fed::going;
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
    o.wants_more = f.wants_more;
    if (!o.may_continue) let_go(out);
    return;
  }
  if (has_open_) let_go(out);
  has_open_ = f.may_continue;
  if (has_open_) {
    open_ = std::move(f);
  } else {
    out.files.push_back(std::move(f));
  }
}

// The file kept open goes out as it stands: one still waiting for a block
// it cannot load without does not load.
void turbo_reader::let_go(turbo_found& out) {
  if (open_.wants_more) {
    open_.program_check = copy_check::damaged;
    open_.program.clear();
  }
  out.files.push_back(std::move(open_));
  has_open_ = false;
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
    if (bulk_ && n - i >= 64 && since_break_ >= WINDOW && since_break_ >= rearm_at_) {
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
    if (periodic_ >= LEAD && (!lead_open_ || since_break_ == rearm_at_))
      engage(p + i);
    else if (since_break_ == WINDOW && !lead_open_)
      engage_short(p + i);
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
  // A try that read a pilot for a while and then failed in it, or at its
  // sync, met a pulse the tape garbled or lost: the lead is tried again,
  // once its window of pulses has passed that one, while it goes on.
  const lead_try& t = tries_[k];
  const unsigned read = rows_[t.row].lead == lead_kind::bit_pilot ? WINDOW : 2;
  if (f == fed::failed && (t.phase == lead_try::pilot || t.phase == lead_try::sync) &&
      t.count - t.carried >= read) {
    rearm_at_ = since_break_ + WINDOW;
    carries_[t.row] = {t.count, since_break_};
  }
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
    fed f = fed::going;
    if (t.phase == lead_try::body && t.short_pending) {
      // A Pavloda 1 whose second pulse, which the loader passes over, ran
      // on into the pause.
      t.short_pending = false;
      f = feed(t, 0, 1);
      if (f == fed::failed) continue;
    }
    if ((f == fed::done || t.phase == lead_try::tail || t.reader->end() == reading::done) &&
        accept(t) && settle(t, at, out)) {
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
  std::fill(carries_.begin(), carries_.end(), carry{});
  since_break_ = 0;
  periodic_ = 0;
}

void turbo_reader::finish(turbo_found& out) {
  clock_.start_piece(&END_OF_TAPE, 0);
  break_stream(&END_OF_TAPE, out);
  clock_.end_piece();
  if (has_open_) let_go(out);
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
