// The catalogue: whole blocks read pulse by pulse, paired with their
// repeats, and each header given the program block that follows it.
#include "catalogue/tape_catalogue.h"

#include <algorithm>
#include <utility>

#if defined(__SSE2__) && !defined(BRIVANE_NO_SIMD)
#include <emmintrin.h>
#endif

namespace {

// Short pulses in a row that may lead into a block: the gap before a
// repeated copy is 79 of them, the pilots far longer; and more than the
// 20 bytes of a TAP file's header, so that no block starts inside one.
constexpr std::uint32_t MIN_LEAD = 32;

// The most bytes a block can need: 65,535 of program and the checksum.
constexpr std::size_t MAX_DATA = 65536;

// Header fields: type, start, end (low byte first), then the name.
constexpr std::size_t HEADER_FIELDS = 5 + NAME_LENGTH;
// The ROM's header block: 192 bytes and the checksum.
constexpr std::size_t HEADER_BLOCK = 193;

constexpr std::size_t BYTE_PULSES = 20;  // marker, eight bit pairs, parity pair
constexpr std::size_t WINDOW = 64;       // pulses classed at once: three bytes' worth

// Which of 64 pulses are short and which medium, bit k for p[k].
struct class_masks {
  std::uint64_t s, m;
};

#if defined(__SSE2__) && !defined(BRIVANE_NO_SIMD)
// Bit k set when lo <= p[k] <= lo + 18, for 16 pulses.
std::uint64_t in_range16(__m128i x, int lo) {
  const __m128i above = _mm_sub_epi8(x, _mm_set1_epi8(static_cast<char>(lo)));
  return static_cast<std::uint16_t>(
      _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(above, _mm_set1_epi8(18)), above)));
}

class_masks classes_of(const std::uint8_t* p) {
  class_masks c{0, 0};
  for (int k = 0; k < 4; ++k) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + std::size_t{16} * k));
    c.s |= in_range16(x, 39) << (16 * k);
    c.m |= in_range16(x, 57) << (16 * k);
  }
  return c;
}
#else
class_masks classes_of(const std::uint8_t* p) {
  class_masks c{0, 0};
  for (std::uint32_t k = 0; k < WINDOW; ++k) {
    c.s |= std::uint64_t{is_short(p[k])} << k;
    c.m |= std::uint64_t{is_medium(p[k])} << k;
  }
  return c;
}
#endif

// Bits 0, 2, ... 14 of x, packed into the low 8.
std::uint32_t even_bits(std::uint32_t x) {
  x &= 0x5555;
  x = (x | x >> 1) & 0x3333;
  x = (x | x >> 2) & 0x0F0F;
  return (x | x >> 4) & 0x00FF;
}

bool header_type(std::uint8_t t) { return t == 1 || t == 3 || t == 4 || t == 5; }

std::uint16_t word_at(const std::vector<std::uint8_t>& d, std::size_t i) {
  return static_cast<std::uint16_t>(d[i] | d[i + 1] << 8);
}

}  // namespace

bool rom_block::loads() const {
  if (!whole || !parity_ok || data.empty()) return false;
  std::uint8_t x = 0;
  for (const std::uint8_t b : data) x ^= b;
  return x == 0;  // the payload's XOR equals the checksum byte
}

tape_catalogue::tape_catalogue(machine m) : clock_(timing_of(m).clock) {}

void tape_catalogue::feed(const std::uint8_t* bytes, std::size_t count) {
  piece_ = bytes;
  piece_offset_ = fed_;
  timed_ = 0;
  std::size_t at = 0;
  while (at < count) {
    std::size_t used = 0;
    const int found = scan_pulses(dec_, bytes + at, count - at, name_buf_, &used);
    read(bytes + at, used);  // up to and with the pulse that completed a name
    at += used;
    if (found) listed();
  }
  time_.advance(bytes + timed_, count - timed_);
  fed_ += count;
  piece_ = nullptr;
}

void tape_catalogue::read(const std::uint8_t* p, std::size_t n) {
  std::size_t i = 0;
  while (i < n) {
    if (state_ == reading::idle) {
      const std::size_t j = skip_short_pulses(p, i, n);
      // Only whether the run reaches the lead counts.
      run_ = j - i >= MIN_LEAD ? MIN_LEAD
                               : std::min(MIN_LEAD, run_ + static_cast<std::uint32_t>(j - i));
      i = j;
      if (i == n) break;
    } else if (state_ == reading::next) {
      // Whole bytes, one after another, while every pulse fits: three to
      // each look at the pulses' classes.
      const std::size_t start = i;
      while (state_ == reading::next && n - i >= WINDOW) {
        const class_masks c = classes_of(p + i);
        unsigned k = 0;
        while (k < 3 && state_ == reading::next && fast_byte(p + i, c.s, c.m, k * BYTE_PULSES)) ++k;
        i += k * BYTE_PULSES;
        if (k < 3) break;
      }
      if (i != start) continue;
    }
    at_ = static_cast<std::size_t>(p + i - piece_);
    step(p[i++]);
  }
}

// A whole byte from its marker's long pulse at p[at] on, when every pulse
// fits: each bit pair (medium, short) for 1, else (short, medium) for 0, as
// pair_bit reads them; bit k of shorts and mediums tells the class of p[k],
// at + 20 <= 64.
bool tape_catalogue::fast_byte(const std::uint8_t* p, std::uint64_t shorts, std::uint64_t mediums,
                               unsigned at) {
  if (!is_long(p[at]) || (mediums >> (at + 1) & 1) == 0) return false;
  // Bit k: the pulse k after the marker.
  const auto m = static_cast<std::uint32_t>(mediums >> (at + 2));
  const auto s = static_cast<std::uint32_t>(shorts >> (at + 2));
  const std::uint32_t one = m & s >> 1;
  const std::uint32_t zero = s & m >> 1 & ~one;
  if (((one | zero) & 0x5555) != 0x5555) return false;
  const std::uint32_t value = even_bits(one);
  const std::uint32_t parity_known = (one | zero) >> 16 & 1;
  // Odd parity: the data bits and the parity bit hold an odd number of ones.
  std::uint32_t x = value ^ (one >> 16 & 1);
  x ^= x >> 4;
  x ^= x >> 2;
  x ^= x >> 1;
  const bool parity_ok = parity_known != 0 && (x & 1) != 0;
  if (countdown_ == 9 && block_.data.size() < MAX_DATA) {  // a payload byte, as store_byte keeps it
    block_.data.push_back(static_cast<std::uint8_t>(value));
    block_.parity_ok = block_.parity_ok && parity_ok;
  } else {
    store_byte(static_cast<std::uint8_t>(value), parity_ok);
  }
  return true;
}

void tape_catalogue::step(std::uint8_t pulse) {
  switch (state_) {
    case reading::idle:
      if (is_short(pulse)) {
        if (run_ < MIN_LEAD) ++run_;
      } else if (is_long(pulse) && run_ >= MIN_LEAD) {
        open_block();
      } else {
        run_ = 0;
      }
      return;
    case reading::marker:
      if (is_medium(pulse)) {
        end_mark_ = is_short(pulse);  // a 57: maybe the end-of-data mark's short pulse
        bits_ = 0;
        phase_ = 0;
        ones_ = 0;
        state_ = reading::bits;
        return;
      }
      break;  // the end-of-data mark (long, short), or whatever follows the block
    case reading::bits:
    case reading::parity: {
      if (phase_ == 0) {
        first_ = pulse;
        phase_ = 1;
        return;
      }
      phase_ = 0;
      const int bit = pair_bit(first_, pulse);
      if (state_ == reading::parity) {
        store_byte(shift_, bit >= 0 && (ones_ + bit) % 2 == 1);
        return;
      }
      if (bit < 0) {  // broken off inside a byte, or what followed the end-of-data mark
        end_block(end_mark_);
        run_ = is_short(pulse) ? 1 : 0;
        return;
      }
      shift_ = static_cast<std::uint8_t>(shift_ >> 1 | bit << 7);
      ones_ = static_cast<std::uint8_t>(ones_ + bit);
      if (++bits_ == 8) state_ = reading::parity;
      return;
    }
    case reading::next:
      if (is_long(pulse)) {
        state_ = reading::marker;
        return;
      }
      break;
  }
  end_block(true);  // between bytes: the block is over
  run_ = is_short(pulse) ? 1 : 0;
}

void tape_catalogue::open_block() {
  block_ = rom_block{};
  block_.offset = piece_offset_ + at_;
  time_.advance(piece_ + timed_, at_ - timed_);
  timed_ = at_;
  block_.cycles = time_.cycles();
  block_.data.reserve(HEADER_BLOCK);
  in_block_ = true;
  countdown_ = 0;
  run_ = 0;
  state_ = reading::marker;
}

void tape_catalogue::store_byte(std::uint8_t value, bool parity_ok) {
  state_ = reading::next;
  if (countdown_ < 9) {
    // 0x89 down to 0x81 opens a first copy, 0x09 down to 0x01 a repeat;
    // anything else is no block.
    if (countdown_ == 0 && (value == 0x89 || value == 0x09)) block_.repeat = value == 0x09;
    const std::uint8_t want = static_cast<std::uint8_t>((block_.repeat ? 0x09 : 0x89) - countdown_);
    if (value != want) {
      in_block_ = false;
      state_ = reading::idle;
      run_ = 0;
      return;
    }
    ++countdown_;
    return;
  }
  if (block_.data.size() < MAX_DATA) {
    block_.data.push_back(value);
  } else {
    overlong_ = true;
  }
  block_.parity_ok = block_.parity_ok && parity_ok;
}

void tape_catalogue::end_block(bool whole) {
  state_ = reading::idle;
  if (!in_block_) return;
  in_block_ = false;
  if (countdown_ < 9) return;  // not even the countdown: no block
  block_.whole = whole && !overlong_;
  overlong_ = false;
  add_block(std::move(block_));
}

// The header decoder has just listed a name: the block being read is that
// header's first copy, 21 bytes past its countdown, at the long pulse after them.
void tape_catalogue::listed() {
  ++listed_count_;
  if (in_block_ && !block_.repeat && countdown_ == 9 && block_.data.size() == HEADER_FIELDS &&
      state_ == reading::marker) {
    block_.number = listed_count_;
    return;
  }
  // Cannot happen while the two read the same pulses alike; were it ever
  // to, the name still gets its entry, with nothing of it vouched for.
  catalogue_entry e;
  e.number = listed_count_;
  for (std::size_t i = 0; i < NAME_LENGTH; ++i) e.name[i] = name_buf_[i];
  e.offset = piece_offset_ + at_;
  done_.insert(waiting_ ? done_.end() - 1 : done_.end(), std::move(e));
}

void tape_catalogue::add_block(rom_block b) {
  if (b.repeat && has_pending_) {
    has_pending_ = false;
    add_unit(&pending_, &b);
    return;
  }
  if (has_pending_) {
    has_pending_ = false;
    add_unit(&pending_, nullptr);
  }
  if (b.repeat) {
    add_unit(nullptr, &b);
    return;
  }
  pending_ = std::move(b);
  has_pending_ = true;
}

// A block and its repeat, either of which may be missing: the program of
// the header before it, when one waits and it is no header itself, or a
// header, or neither.
void tape_catalogue::add_unit(rom_block* first, rom_block* repeat) {
  rom_block* good = first && first->loads() ? first : repeat && repeat->loads() ? repeat : nullptr;
  const rom_block* any = good ? good : first ? first : repeat;
  const int number = first ? first->number : 0;
  const bool header_shaped =
      good && good->data.size() > HEADER_FIELDS && header_type(good->data[0]);
  bool was_program = false;
  if (waiting_) {
    catalogue_entry& w = done_.back();
    const long expected = w.end >= w.start ? long{w.end} - w.start : -1;
    waiting_ = false;
    // The ROM loads whatever block follows a header as its program; only a
    // whole, sound header block of another size is taken as the next header.
    const bool next_header = header_shaped && good->data.size() == HEADER_BLOCK && expected != 192;
    if (!next_header) {
      const auto fits = [&](const rom_block* b) {
        return b && b->loads() &&
               (expected < 0 || static_cast<long>(b->data.size()) - 1 == expected);
      };
      const rom_block* from = fits(first) ? first : fits(repeat) ? repeat : nullptr;
      w.program_check = from == first && from ? copy_check::ok
                        : from                ? copy_check::repeat
                                              : copy_check::damaged;
      if (from) w.program.assign(from->data.begin(), from->data.end() - 1);
      if (number == 0) return;  // the block was a program and nothing more
      was_program = true;
    }
  }
  if (number == 0 && !header_shaped) return;  // a data block, or none a machine would take
  catalogue_entry e;
  e.number = number;
  const std::vector<std::uint8_t>& d = any->data;
  if (d.size() >= HEADER_FIELDS) {
    e.type = d[0];
    e.start = word_at(d, 1);
    e.end = word_at(d, 3);
    for (std::size_t i = 0; i < NAME_LENGTH; ++i) e.name[i] = d[5 + i];
  }
  const rom_block& where = first ? *first : *repeat;
  e.offset = where.offset;
  e.seconds = static_cast<double>(where.cycles) / clock_;
  e.header = good == first && good ? copy_check::ok
             : good                ? copy_check::repeat
                                   : copy_check::damaged;
  // A listed block that was taken as the program before it has none of its own.
  waiting_ = (e.type == 1 || e.type == 3) && !was_program;
  done_.push_back(std::move(e));
}

void tape_catalogue::finish() {
  if (in_block_) end_block(state_ == reading::marker || state_ == reading::next);
  if (has_pending_) {
    has_pending_ = false;
    add_unit(&pending_, nullptr);
  }
  waiting_ = false;  // no program followed: it is missing
}

std::vector<catalogue_entry> tape_catalogue::take() {
  std::vector<catalogue_entry> out;
  const std::size_t ready = done_.size() - (waiting_ ? 1 : 0);
  for (std::size_t i = 0; i < ready; ++i) {
    out.push_back(std::move(done_.front()));
    done_.pop_front();
  }
  return out;
}
