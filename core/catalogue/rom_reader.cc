// The ROM block reader: pulse by pulse where it must, three whole bytes at a
// time where every pulse fits.
#include "catalogue/rom_reader.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// Short pulses in a row that may lead into a block: the gap before a
// repeated copy is 79 of them, the pilots far longer; and more than the
// 20 bytes of a TAP file's header, so that no block starts inside one.
constexpr std::uint32_t MIN_LEAD = 32;

// The most bytes a block can need: 65,535 of program and the checksum.
constexpr std::size_t MAX_DATA = 65536;

// The ROM's header block: 192 bytes and the checksum.
constexpr std::size_t HEADER_BLOCK = 193;

constexpr std::size_t WINDOW = 64;  // pulses classed at once: three bytes' worth

// A byte that breaks off (a pulse lost, split or misjudged) costs the
// machine that byte, not the block: it takes the next byte marker as the
// next byte, and notes the byte read wrong for its second pass to mend,
// at most this many in a block.
constexpr std::size_t BAD_MOST = 30;
// The next marker is looked for over this many pulses, a byte and a little,
// and only once the block has read this many bytes since it last found its
// way: a block that keeps breaking off has ended, or was never one.
constexpr std::uint32_t RESYNC_MOST = 24;
constexpr std::size_t RESYNC_AFTER = 2;

// Bits 0, 2, ... 14 of x, packed into the low 8.
std::uint32_t even_bits(std::uint32_t x) {
  x &= 0x5555;
  x = (x | x >> 1) & 0x3333;
  x = (x | x >> 2) & 0x0F0F;
  return (x | x >> 4) & 0x00FF;
}

class_masks classes_of64(const std::uint8_t* p, class_path path) {
#ifdef BRIVANE_SSE2
  if (path == class_path::fastest) return classes_of64_sse2(p);
#else
  (void)path;
#endif
  return classes_of64_portable(p);
}

}  // namespace

namespace {

// Whether a block's payload and checksum byte XOR to 0, as they do where the
// checksum holds: eight bytes at a time, then folded into one.
bool checksum_holds(const std::vector<std::uint8_t>& data) {
  const std::uint8_t* d = data.data();
  const std::size_t n = data.size();
  std::uint64_t wide = 0;
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, d + i, 8);
    wide ^= w;
  }
  for (unsigned shift = 32; shift >= 8; shift /= 2) wide ^= wide >> shift;
  auto x = static_cast<std::uint8_t>(wide);
  for (; i < n; ++i) x = static_cast<std::uint8_t>(x ^ d[i]);
  return x == 0;
}

}  // namespace

bool rom_block::loads() const {
  return whole && parity_ok && bad.empty() && !data.empty() && checksum_holds(data);
}

bool rom_block::mends(const rom_block& copy, std::vector<std::uint8_t>& out) const {
  if (!copy.whole || !whole || copy.data.size() != data.size() || copy.bad.empty() ||
      copy.bad.size() > BAD_MOST)
    return false;
  out = copy.data;
  for (const std::uint32_t i : copy.bad) {
    if (std::binary_search(bad.begin(), bad.end(), i)) return false;
    out[i] = data[i];
  }
  return checksum_holds(out);
}

void rom_reader::read(const std::uint8_t* p, std::size_t n, piece_clock& clock,
                      std::vector<rom_block>& ended) {
  std::size_t i = 0;
  while (i < n) {
    if (state_ == rom_state::idle) {
      const std::size_t j = skip_short_pulses(p, i, n);
      lead(p + i, j - i, clock);
      // Only whether the run reaches the lead counts.
      run_ = j - i >= MIN_LEAD ? MIN_LEAD
                               : std::min(MIN_LEAD, run_ + static_cast<std::uint32_t>(j - i));
      i = j;
      if (i == n) break;
      // Pulses that hold no run of short ones long enough to lead into a
      // block (a turbo loader's, noise), 64 at a time.
      const std::size_t start = i;
      while (path_ != class_path::stepped && n - i >= WINDOW && cross_idle(p + i, clock))
        i += WINDOW;
      if (i != start) continue;
    } else if (state_ == rom_state::next) {
      // Whole bytes, one after another, while every pulse fits: three to
      // each look at the pulses' classes. The payload's, most of a tape,
      // with nothing but the bytes to keep.
      if (countdown_ == 9 && path_ != class_path::stepped) {
        bool stuck = false;
        const std::size_t from = i;
        i = payload(p, i, n, stuck);
        if (stuck) {
          step(p + i, clock, ended);
          ++i;
          continue;
        }
        if (i != from) continue;
      }
      const std::size_t start = i;
      bool stuck = false;  // at a byte whose pulses do not all fit: for step
      while (path_ != class_path::stepped && state_ == rom_state::next && n - i >= WINDOW) {
        const class_masks c = classes_of64(p + i, path_);
        unsigned k = 0;
        bool counted_down = false;  // the payload follows: read as such
        while (k < 3 && state_ == rom_state::next && !counted_down &&
               whole_byte(p + i, c, k * BYTE_PULSES)) {
          ++k;
          if (counted_down_) {
            counted_down_ = false;
            counted_down = true;
            claim_from(clock.offset_of(p + i + k * BYTE_PULSES));
          }
        }
        i += k * BYTE_PULSES;
        if (counted_down) break;
        if (k < 3) {
          stuck = state_ == rom_state::next;
          break;
        }
      }
      if (i != start && !stuck) continue;
    }
    step(p + i, clock, ended);
    ++i;
  }
}

// The countdown has just ended, its last pulse before after: from there
// the block's bytes are its own. Its lead is left to the turbo loaders as
// well: the pulses before after have been read by them already where the
// tape comes in pieces, and claiming them back would make what is found
// depend on where the pieces break.
void rom_reader::claim_from(std::uint64_t after) { claims_.push_back({after}); }

namespace {

// Pulse pairs of 64 pulses: bit k of one where the pair from p[k] on reads
// 1 (medium, short), of known where it reads 1 or 0 (short, medium), as
// pair_bit reads them.
struct pair_masks {
  std::uint64_t one, known;
};

pair_masks pairs_of(const class_masks& c) {
  const std::uint64_t one = c.mediums & c.shorts >> 1;
  return {one, one | (c.shorts & c.mediums >> 1)};
}

// A whole byte from its marker's long pulse at p[at] on, when every pulse
// fits, at + 20 <= 64: mediums and pairs tell the classes and pairs of the
// 64 pulses from p on. False where a pulse does not fit; else the byte is
// put in value, and parity_ok is left true only where its parity holds.
bool decode_whole(const std::uint8_t* p, std::uint64_t mediums, pair_masks pairs, unsigned at,
                  std::uint8_t& value, bool& parity_ok) {
  if (!is_long(p[at]) || (mediums >> (at + 1) & 1) == 0 ||
      (pairs.known >> (at + 2) & 0x5555) != 0x5555)
    return false;
  // Bit k: the pair k pulses after the marker.
  const auto one = static_cast<std::uint32_t>(pairs.one >> (at + 2));
  const std::uint32_t bits = even_bits(one);
  // Odd parity: the data bits and the parity bit hold an odd number of ones.
  parity_ok = parity_ok && (pairs.known >> (at + 18) & 1) != 0 &&
              (__builtin_popcount(bits ^ (one >> 16 & 1)) & 1) != 0;
  value = static_cast<std::uint8_t>(bits);
  return true;
}

}  // namespace

bool rom_reader::whole_byte(const std::uint8_t* p, const class_masks& c, unsigned at) {
  std::uint8_t value = 0;
  bool parity_ok = true;
  if (!decode_whole(p, c.mediums, pairs_of(c), at, value, parity_ok)) return false;
  byte_pulses_ = BYTE_PULSES;
  if (countdown_ == 9 && block_.data.size() < MAX_DATA) {  // a payload byte, as store_byte keeps it
    block_.data.push_back(value);
    if (!parity_ok) mark_bad(block_.data.size() - 1);
    block_.parity_ok = block_.parity_ok && parity_ok;
  } else {
    store_byte(value, parity_ok);
  }
  return true;
}

// A block's payload from p[i] on, three whole bytes to each look at the
// pulses' classes, while every pulse fits and the block has room for three
// more: nothing but the bytes and their parity to keep, byte for byte as
// whole_byte keeps them. Returns where it stopped; stuck where a byte's
// pulses did not all fit, which is then for step to read.
std::size_t rom_reader::payload(const std::uint8_t* p, std::size_t i, std::size_t n, bool& stuck) {
  std::vector<std::uint8_t>& data = block_.data;
  bool parity_ok = true;
  stuck = false;
  const std::size_t from = i;
  while (n - i >= WINDOW && data.size() + 3 <= MAX_DATA) {
    const class_masks c = classes_of64(p + i, path_);
    const pair_masks pairs = pairs_of(c);
    unsigned k = 0;
    for (std::uint8_t value = 0; k < 3; ++k) {
      bool byte_ok = true;
      if (!decode_whole(p + i, c.mediums, pairs, k * BYTE_PULSES, value, byte_ok)) break;
      data.push_back(value);
      if (!byte_ok) {
        parity_ok = false;
        mark_bad(data.size() - 1);
      }
    }
    i += k * BYTE_PULSES;
    if (k < 3) {
      stuck = true;
      break;
    }
  }
  block_.parity_ok = block_.parity_ok && parity_ok;
  if (i != from) byte_pulses_ = BYTE_PULSES;
  return i;
}

// While idle, the 64 pulses at p crossed at once where no block can start
// among them: no long pulse follows a run of short ones long enough to lead
// into one. The run at their end is kept, as stepping would keep it.
bool rom_reader::cross_idle(const std::uint8_t* p, piece_clock& clock) {
  const std::uint64_t shorts = classes_of64(p, path_).shorts;
  const std::uint64_t all = ~std::uint64_t{0};
  const unsigned leading = shorts == all ? 64 : static_cast<unsigned>(__builtin_ctzll(~shorts));
  if (run_ + leading >= MIN_LEAD) return false;
  std::uint64_t runs = shorts;  // bit k: pulses k to k + 31 all short
  for (const unsigned shift : {1u, 2u, 4u, 8u, 16u}) runs &= runs >> shift;
  if (runs != 0) return false;
  const unsigned last = shorts >> 63 ? static_cast<unsigned>(__builtin_clzll(~shorts)) : 0;
  run_ = last;
  run_pulses_ = run_units_ = 0;
  lead(p + WINDOW - last, last, clock);
  return true;
}

// Short pulses in a row while idle, from p on: the run a block's lead may be.
void rom_reader::lead(const std::uint8_t* p, std::size_t n, piece_clock& clock) {
  if (n == 0) return;
  if (run_pulses_ == 0) run_begin_ = clock.offset_of(p);
  run_pulses_ += n;
  run_units_ += pulse_units(p, n);
}

void rom_reader::step(const std::uint8_t* at, piece_clock& clock, std::vector<rom_block>& ended) {
  const std::uint8_t pulse = *at;
  if (state_ != rom_state::idle) ++byte_pulses_;
  switch (state_) {
    case rom_state::idle:
      if (is_short(pulse)) {
        if (run_ < MIN_LEAD) ++run_;
        lead(at, 1, clock);
      } else if (is_long(pulse) && run_ >= MIN_LEAD) {
        block_ = rom_block{};
        block_.offset = clock.offset_of(at);
        block_.cycles = clock.cycles_at(at);
        block_.lead_offset = run_begin_;
        block_.lead_cycles = block_.cycles - 8 * run_units_;
        run_pulses_ = run_units_ = 0;
        block_.data.reserve(HEADER_BLOCK);
        in_block_ = true;
        countdown_ = 0;
        told_copy_ = false;
        run_ = 0;
        byte_pulses_ = 1;
        resync_from_ = 0;
        state_ = rom_state::marker;
      } else {
        run_ = 0;
        run_pulses_ = run_units_ = 0;
      }
      return;
    case rom_state::marker:
      if (is_medium(pulse)) {
        end_mark_ = is_short(pulse);  // a 57: maybe the end-of-data mark's short pulse
        bits_ = 0;
        phase_ = 0;
        ones_ = 0;
        state_ = rom_state::bits;
        return;
      }
      // The end-of-data mark (long, short), or whatever follows the block.
      end_block(true, clock.offset_of(at), clock.cycles_at(at), ended);
      restart_run(at, clock);
      return;
    case rom_state::bits:
    case rom_state::parity: {
      if (phase_ == 0) {
        first_ = pulse;
        phase_ = 1;
        return;
      }
      phase_ = 0;
      const int bit = pair_bit(first_, pulse);
      if (state_ == rom_state::parity) {
        store_byte(shift_, bit >= 0 && (ones_ + bit) % 2 == 1);
        if (counted_down_) {
          counted_down_ = false;
          claim_from(clock.offset_of(at) + 1);
        }
        return;
      }
      if (bit < 0) {  // broken off inside a byte, or what followed the end-of-data mark
        break_off(at, clock, end_mark_, 0, ended);
        return;
      }
      shift_ = static_cast<std::uint8_t>(shift_ >> 1 | bit << 7);
      ones_ = static_cast<std::uint8_t>(ones_ + bit);
      if (++bits_ == 8) state_ = rom_state::parity;
      return;
    }
    case rom_state::next:
      if (is_long(pulse)) {
        byte_pulses_ = 1;
        state_ = rom_state::marker;
        return;
      }
      break_off(at, clock, true, 1, ended);  // between bytes: the block is over, or a byte broke
      return;
    case rom_state::resync:
      resync(at, clock, ended);
      return;
  }
}

// The block broke off at the pulse at, inside a byte or between bytes, the
// bytes since its last marker stored: it ends there, unless a byte marker
// follows within a byte or so, which the reader then reads on from.
void rom_reader::break_off(const std::uint8_t* at, piece_clock& clock, bool whole, unsigned stored,
                           std::vector<rom_block>& ended) {
  const std::uint64_t offset = clock.offset_of(at), cycles = clock.cycles_at(at);
  if (block_.bad.size() >= BAD_MOST || block_.data.size() < resync_from_) {
    end_block(whole, offset, cycles, ended);
    restart_run(at, clock);
    return;
  }
  const bool marker_here = state_ == rom_state::bits && is_long(first_) && is_medium(*at);
  state_ = rom_state::resync;
  resync_seen_ = 0;
  resync_stored_ = stored;
  resync_whole_ = whole;
  break_offset_ = offset;
  break_cycles_ = cycles;
  // Nothing after the break is the block's unless the reader finds its way.
  if (!claims_.empty() && claims_.back().end == UINT64_MAX) claims_.back().end = offset;
  restart_run(at, clock);
  if (marker_here) {  // a pulse lost: the pair that broke is the next marker
    resync_long_ = byte_pulses_ - 1;
    found_marker(at);
    return;
  }
  resync_long_ = is_long(*at) ? byte_pulses_ : 0;
}

// Looking for the next byte's marker after a break: a long pulse, then a
// medium one. Meanwhile the short pulses count towards a lead, as they
// would after a block, in case it is not found.
void rom_reader::resync(const std::uint8_t* at, piece_clock& clock, std::vector<rom_block>& ended) {
  ++resync_seen_;
  if (resync_long_ != 0 && is_medium(*at)) {
    found_marker(at);
    return;
  }
  resync_long_ = is_long(*at) ? byte_pulses_ : 0;
  if (is_short(*at)) {
    if (run_ < MIN_LEAD) ++run_;
    lead(at, 1, clock);
  } else {
    run_ = 0;
    run_pulses_ = run_units_ = 0;
  }
  if (resync_seen_ >= RESYNC_MOST && resync_long_ == 0)
    end_block(resync_whole_, break_offset_, break_cycles_, ended);
}

// The marker after a break is found, its medium pulse at at: the bytes from
// the last marker to it are counted by their pulses, and those not read are
// kept as read wrong, so that every byte after lands where it belongs. A
// countdown byte not read is passed over: the bytes after it must still
// count down to the payload.
void rom_reader::found_marker(const std::uint8_t* at) {
  std::vector<std::uint8_t>& data = block_.data;
  const std::uint32_t between = resync_long_ - 1;  // pulses from the last marker to this one
  const std::uint32_t slots = std::max<std::uint32_t>(
      1, (between + BYTE_PULSES / 2) / static_cast<std::uint32_t>(BYTE_PULSES));
  if (resync_stored_ > 0 && !data.empty()) mark_bad(data.size() - 1);
  for (std::uint32_t k = resync_stored_; k < slots; ++k) {
    if (countdown_ < 9) {  // a countdown byte: it holds nothing to keep
      ++countdown_;
      continue;
    }
    if (data.size() >= MAX_DATA) {
      overlong_ = true;
      break;
    }
    data.push_back(0);
    mark_bad(data.size() - 1);
  }
  resync_from_ = data.size() + RESYNC_AFTER;
  run_ = 0;
  run_pulses_ = run_units_ = 0;
  end_mark_ = is_short(*at);
  bits_ = 0;
  phase_ = 0;
  ones_ = 0;
  byte_pulses_ = 2;
  state_ = rom_state::bits;
  // What follows is left unclaimed, as it was when a break ended the block:
  // the turbo loaders read on through it as they would have.
}

void rom_reader::mark_bad(std::size_t index) {
  const auto i = static_cast<std::uint32_t>(index);
  if (block_.bad.empty() || block_.bad.back() != i) block_.bad.push_back(i);
}

// After a block, the pulse that ended it may start a run of its own.
void rom_reader::restart_run(const std::uint8_t* at, piece_clock& clock) {
  run_ = is_short(*at) ? 1 : 0;
  run_pulses_ = run_units_ = 0;
  if (run_) lead(at, 1, clock);
}

void rom_reader::store_byte(std::uint8_t value, bool parity_ok) {
  state_ = rom_state::next;
  if (countdown_ < 9) {
    // 0x89 down to 0x81 opens a first copy, 0x09 down to 0x01 a repeat;
    // anything else is no block.
    // The first byte read says which; a first byte broken off is passed over.
    if (!told_copy_) block_.repeat = value == 0x09 - countdown_;
    told_copy_ = true;
    const std::uint8_t want = static_cast<std::uint8_t>((block_.repeat ? 0x09 : 0x89) - countdown_);
    if (value != want) {
      in_block_ = false;
      state_ = rom_state::idle;
      run_ = 0;
      run_pulses_ = run_units_ = 0;
      return;
    }
    counted_down_ = ++countdown_ == 9;
    return;
  }
  if (block_.data.size() < MAX_DATA) {
    block_.data.push_back(value);
    if (!parity_ok) mark_bad(block_.data.size() - 1);
  } else {
    overlong_ = true;
  }
  block_.parity_ok = block_.parity_ok && parity_ok;
}

void rom_reader::end_block(bool whole, std::uint64_t end, std::uint64_t end_cycles,
                           std::vector<rom_block>& ended) {
  state_ = rom_state::idle;
  if (!in_block_) return;
  in_block_ = false;
  if (countdown_ < 9) return;  // not even the countdown: no block
  block_.whole = whole && !overlong_;
  overlong_ = false;
  block_.end_offset = end;
  block_.end_cycles = end_cycles;
  if (!claims_.empty() && claims_.back().end == UINT64_MAX) claims_.back().end = end;
  ended.push_back(std::move(block_));
}

void rom_reader::finish(std::uint64_t end, std::uint64_t cycles, std::vector<rom_block>& ended) {
  if (!in_block_) return;
  if (state_ == rom_state::resync)
    end_block(resync_whole_, break_offset_, break_cycles_, ended);
  else
    end_block(state_ == rom_state::marker || state_ == rom_state::next, end, cycles, ended);
}

void rom_reader::forget_claims(std::uint64_t offset) {
  std::size_t n = 0;
  while (n < claims_.size() && claims_[n].end <= offset) ++n;
  claims_.erase(claims_.begin(), claims_.begin() + static_cast<std::ptrdiff_t>(n));
}

bool rom_reader::mark_listed(int number) {
  // Header fields (type, start, end, the name) are 21 bytes: the decoder
  // names a header at the long pulse after them.
  if (in_block_ && !block_.repeat && countdown_ == 9 && block_.data.size() == 21 &&
      state_ == rom_state::marker) {
    block_.number = number;
    return true;
  }
  return false;
}
