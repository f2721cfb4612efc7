// The raw deflate decoder: block headers, Huffman tables, stored blocks and the fast loop of
// literals and matches.
#include "archive/deflate.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace {

// Back references reach at most this far.
constexpr std::size_t WINDOW = 32768;
// The longest a match can be, and room for copying eight bytes at a time.
constexpr std::size_t MAX_MATCH = 258;
constexpr std::size_t SLACK = 16;
// Every block header fits in this many bytes (a dynamic header takes at
// most about 570), so a header is read only once that many are at hand or
// the stream has ended.
constexpr std::size_t HEADER_MAX = 1024;
// A symbol with its extra bits, and a distance with its: 15 + 5 + 15 + 13.
constexpr unsigned SYMBOL_BITS_MAX = 48;

// A table entry: the code's length in bits (4), its kind (3), its extra
// bits or a second level's bits (4), and its value from bit 16 on: the
// literal, the base of a length or distance, or where the second level is.
// A literal's entry may hold the literal that follows too, when both codes
// fit in the table's first bits: then its length is theirs together, the
// second literal is in bits 24 on, and its extra bits are 1.
enum : std::uint32_t {
  LITERAL = 0,
  BASE = 1 << 4,
  END = 2 << 4,
  NEXT = 3 << 4,
  INVALID = 4 << 4,
  KIND = 7 << 4
};
constexpr unsigned LENGTH_ROOT = 11, DISTANCE_ROOT = 8, LENGTHS_ROOT = 7;

// A decoding table: a code's entry is found by its first bits; codes longer
// than the table's own bits lead on to a second level. Room for the largest
// table a code of lengths can need at the first bits used here (11 for
// literals and lengths, 8 for distances): the second levels need fewer
// entries the more first bits there are, and at 9 bits they need at most 340.
struct huffman_table {
  std::uint32_t entry[2048 + 512];
  unsigned bits;
};

constexpr std::uint32_t entry(std::uint32_t kind, std::uint32_t value, unsigned extra = 0) {
  return kind | extra << 8 | value << 16;
}

// What each symbol of each alphabet means, less its length.
struct meanings {
  std::uint32_t length[288], distance[32], code_length[19];
  meanings() : length(), distance(), code_length() {
    static const std::uint16_t length_base[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                                  15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                                  67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const std::uint8_t length_extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    static const std::uint16_t distance_base[30] = {
        1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
        193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    for (std::uint32_t s = 0; s < 256; ++s) length[s] = entry(LITERAL, s);
    length[256] = entry(END, 0);
    for (unsigned s = 0; s < 29; ++s)
      length[257 + s] = entry(BASE, length_base[s], length_extra[s]);
    length[286] = length[287] = entry(INVALID, 0);
    for (unsigned s = 0; s < 30; ++s)
      distance[s] = entry(BASE, distance_base[s], s < 4 ? 0 : s / 2 - 1);
    distance[30] = distance[31] = entry(INVALID, 0);
    for (std::uint32_t s = 0; s < 19; ++s) code_length[s] = entry(LITERAL, s);
  }
};
const meanings& meaning() {
  static const meanings m;
  return m;
}

// Builds the table of a canonical Huffman code from each symbol's code
// length (0: not used). A code must fill its space exactly, except that a
// lone code of one bit is allowed where incomplete is; one with no codes at
// all is allowed there too and gives a table of invalid entries.
bool build(huffman_table& t, const std::uint8_t* lengths, unsigned n, const std::uint32_t* means,
           unsigned root, bool incomplete_ok) {
  unsigned count[16] = {};
  for (unsigned s = 0; s < n; ++s) ++count[lengths[s]];
  count[0] = 0;
  int left = 1;
  unsigned longest = 0;
  for (unsigned len = 1; len <= 15; ++len) {
    left = (left << 1) - static_cast<int>(count[len]);
    if (left < 0) return false;  // more codes than there is room for
    if (count[len]) longest = len;
  }
  if (left > 0 && !(incomplete_ok && longest <= 1)) return false;

  t.bits = root;
  const std::uint32_t root_size = 1u << root;
  std::fill(t.entry, t.entry + root_size, entry(INVALID, 0) | 1);
  if (longest == 0) return true;

  // Symbols in code order (by length, then by value), with their codes.
  unsigned offset[16] = {};
  for (unsigned len = 1; len < 15; ++len) offset[len + 1] = offset[len] + count[len];
  std::uint16_t order[288] = {};
  for (unsigned s = 0; s < n; ++s)
    if (lengths[s]) order[offset[lengths[s]]++] = static_cast<std::uint16_t>(s);
  const unsigned used = offset[15];
  std::uint16_t reversed[288] = {};  // codes as they come off the stream, first bit lowest
  std::uint32_t code = 0;
  unsigned len = 0;
  for (unsigned i = 0; i < used; ++i) {
    const unsigned l = lengths[order[i]];
    code <<= (l - len);
    len = l;
    std::uint32_t r = 0;
    for (unsigned b = 0; b < l; ++b) r |= ((code >> b) & 1u) << (l - 1 - b);
    reversed[i] = static_cast<std::uint16_t>(r);
    ++code;
  }

  std::uint32_t next = root_size;  // where the next second-level table goes
  std::uint32_t prefix = ~0u, sub_start = 0;
  unsigned sub_bits = 0;
  for (unsigned i = 0; i < used; ++i) {
    const unsigned l = lengths[order[i]];
    const std::uint32_t e = means[order[i]] | l;
    if (l <= root) {
      for (std::uint32_t at = reversed[i]; at < root_size; at += 1u << l) t.entry[at] = e;
      continue;
    }
    // Codes longer than the root share second-level tables by their first
    // root bits; those of one table come one after another in code order,
    // the longest of them last.
    const std::uint32_t p = reversed[i] & (root_size - 1);
    if (p != prefix) {
      unsigned j = i;
      while (j + 1 < used && (reversed[j + 1] & (root_size - 1)) == p) ++j;
      sub_bits = lengths[order[j]] - root;
      if (next + (1u << sub_bits) > sizeof t.entry / sizeof t.entry[0]) return false;
      prefix = p;
      sub_start = next;
      next += 1u << sub_bits;
      t.entry[p] = entry(NEXT, sub_start, sub_bits);
    }
    for (std::uint32_t at = reversed[i] >> root; at < (1u << sub_bits); at += 1u << (l - root))
      t.entry[sub_start + at] = e;
  }
  return true;
}

// Literals two at a time: an entry whose literal leaves room in the table's
// first bits for the whole code of another literal takes it in too. From
// the top down, so that the entry looked at for the second is still single.
void pair_literals(huffman_table& t) {
  for (std::uint32_t i = (1u << t.bits); i-- > 0;) {
    const std::uint32_t e = t.entry[i];
    const unsigned first = e & 15;
    if ((e & KIND) != LITERAL || first >= t.bits) continue;
    const std::uint32_t next = t.entry[i >> first];
    const unsigned second = next & 15;
    if ((next & KIND) != LITERAL || first + second > t.bits) continue;
    t.entry[i] =
        (e & 0x00FF0000u) | (next & 0x00FF0000u) << 8 | 1u << 8 | LITERAL | (first + second);
  }
}

}  // namespace

struct deflate_tables {
  huffman_table lengths{}, distances{};
};

namespace {

struct fixed_tables : deflate_tables {
  fixed_tables() {
    std::uint8_t l[288];
    std::fill(l, l + 144, 8);
    std::fill(l + 144, l + 256, 9);
    std::fill(l + 256, l + 280, 7);
    std::fill(l + 280, l + 288, 8);
    build(lengths, l, 288, meaning().length, LENGTH_ROOT, false);
    pair_literals(lengths);
    std::fill(l, l + 32, 5);
    build(distances, l, 32, meaning().distance, DISTANCE_ROOT, false);
  }
};
const fixed_tables& fixed() {
  static const fixed_tables f;
  return f;
}

inline std::uint32_t lookup(const huffman_table& t, std::uint64_t bits) {
  std::uint32_t e = t.entry[bits & ((1u << t.bits) - 1)];
  if ((e & KIND) == NEXT)
    e = t.entry[(e >> 16) + ((bits >> t.bits) & ((1u << ((e >> 8) & 15)) - 1))];
  return e;
}

// Eight bytes, first lowest: written out so that compilers make it one load.
inline std::uint64_t load64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(p[0]) | static_cast<std::uint64_t>(p[1]) << 8 |
         static_cast<std::uint64_t>(p[2]) << 16 | static_cast<std::uint64_t>(p[3]) << 24 |
         static_cast<std::uint64_t>(p[4]) << 32 | static_cast<std::uint64_t>(p[5]) << 40 |
         static_cast<std::uint64_t>(p[6]) << 48 | static_cast<std::uint64_t>(p[7]) << 56;
}

// A literal entry's one or two literals; writes two bytes either way.
inline void store_literals(std::uint8_t* to, std::uint32_t e) {
  to[0] = static_cast<std::uint8_t>(e >> 16);
  to[1] = static_cast<std::uint8_t>(e >> 24);
}

// Copies a match; may write up to 7 bytes past its end.
inline void copy_match(std::uint8_t* to, std::size_t distance, std::size_t length) {
  const std::uint8_t* from = to - distance;
  if (distance >= 8) {
    for (std::size_t n = 0; n < length; n += 8) std::memcpy(to + n, from + n, 8);
  } else if (distance == 1) {
    std::memset(to, *from, length);
  } else {
    for (std::size_t n = 0; n < length; ++n) to[n] = from[n];
  }
}

}  // namespace

const char* fault_name(inflate_fault fault) {
  switch (fault) {
    case inflate_fault::none:
      return "none";
    case inflate_fault::damaged:
      return "damaged";
    case inflate_fault::cut_short:
      return "cut_short";
    case inflate_fault::not_gzip:
      return "not_gzip";
    case inflate_fault::unsupported:
      return "unsupported";
    case inflate_fault::trailing:
      return "trailing";
    case inflate_fault::check_failed:
      return "check_failed";
  }
  return "";
}

deflate_decoder::deflate_decoder()
    : window_(new std::uint8_t[WINDOW + STEP + MAX_MATCH +
                               SLACK]),  // not cleared: only what is made is read
      dynamic_(new deflate_tables) {}

deflate_decoder::~deflate_decoder() = default;

void deflate_decoder::feed(const std::uint8_t* bytes, std::size_t size) {
  if (ending_ || size == 0) return;
  // The bit buffer's bytes stay: the end of a stream or a stored block gives them back.
  const std::size_t keep = std::min<std::size_t>(pos_, 8);
  in_.erase(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(pos_ - keep));
  pos_ = keep;
  in_.insert(in_.end(), bytes, bytes + size);
}

// A stream found faulty once it has been read past its end was cut short,
// whatever the zeros put in there made of it.
bool deflate_decoder::fail(inflate_fault f) {
  fault_ = f == inflate_fault::damaged && padding_ > bitcnt_ ? inflate_fault::cut_short : f;
  return false;
}

bool deflate_decoder::have_bits(unsigned n) {
  while (bitcnt_ < n) {
    if (pos_ < in_.size()) {
      bitbuf_ |= static_cast<std::uint64_t>(in_[pos_++]) << bitcnt_;
    } else if (ending_) {
      padding_ += 8;  // zeros past the end: using them means the stream was cut short
    } else {
      return false;
    }
    bitcnt_ += 8;
  }
  return true;
}

// Only where the bits are sure to be at hand: a block header is read once
// all of it is fed or the stream has ended (then zeros stand in past the
// end, which fail() finds).
std::uint32_t deflate_decoder::take_bits(unsigned n) {
  assert(n <= 32);
  [[maybe_unused]] const bool at_hand = have_bits(n);
  assert(at_hand);
  const auto v = static_cast<std::uint32_t>(bitbuf_ & ((std::uint64_t{1} << n) - 1));
  bitbuf_ >>= n;
  bitcnt_ -= n;
  return v;
}

// Drops the bits up to the next byte and gives the whole bytes still held
// back to the input, for the parts of a stream that are read bytewise.
void deflate_decoder::to_byte_boundary() {
  assert(bitcnt_ >= padding_ && (bitcnt_ - padding_) / 8 <= pos_);
  const unsigned whole = (bitcnt_ - bitcnt_ % 8 - padding_) / 8;
  pos_ -= whole;
  bitbuf_ = 0;
  bitcnt_ = 0;
  padding_ = 0;
}

std::size_t deflate_decoder::step() {
  made_ = nullptr;
  if (fault_ != inflate_fault::none || stage_ == stage::done) return 0;
  if (out_ > WINDOW) {
    std::memmove(window_.get(), window_.get() + out_ - WINDOW, WINDOW);
    out_ = WINDOW;
  }
  const std::size_t start = out_;
  limit_ = start + STEP;
  run();
  assert(out_ <= limit_);
  const std::size_t n = out_ - start;
  if (n == 0) return 0;
  made_ = window_.get() + start;
  return n;
}

void deflate_decoder::skip(std::size_t n) {
  assert(between_streams() && bitcnt_ == 0 && n <= bytes_left());
  pos_ += n;
}

void deflate_decoder::restart() {
  assert(finished() && bitcnt_ == 0);
  stage_ = stage::block_header;
  last_block_ = false;
  out_ = 0;
}

// A block has ended: the next one, or after the last, the stream is over
// and the bytes after it are handed back whole.
void deflate_decoder::end_block() {
  if (!last_block_) {
    stage_ = stage::block_header;
    return;
  }
  to_byte_boundary();
  stage_ = stage::done;
}

// Goes on from stage to stage until the step's output is full, the input
// runs out, the stream ends or a fault is found.
void deflate_decoder::run() {
  for (;;) {
    bool more = false;
    switch (stage_) {
      case stage::block_header:
        more = block_header();
        break;
      case stage::stored_length:
      case stage::stored:
        more = stored_block();
        break;
      case stage::codes:
        more = codes();
        break;
      case stage::done:
        return;
    }
    if (!more) return;
  }
}

bool deflate_decoder::block_header() {
  if (!ending_ && bytes_left() < HEADER_MAX) return false;
  if (ending_ && bytes_left() == 0 && bitcnt_ == 0) return fail(inflate_fault::cut_short);
  last_block_ = take_bits(1) != 0;
  const std::uint32_t type = take_bits(2);
  if (padding_ > bitcnt_) return fail(inflate_fault::cut_short);
  if (type == 0) {
    to_byte_boundary();
    stage_ = stage::stored_length;
  } else if (type == 1) {
    in_use_ = &fixed();
    stage_ = stage::codes;
  } else if (type == 2) {
    if (!dynamic_tables()) return false;
    stage_ = stage::codes;
  } else {
    return fail(inflate_fault::damaged);
  }
  return true;
}

bool deflate_decoder::dynamic_tables() {
  static const std::uint8_t order[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                         11, 4,  12, 3, 13, 2, 14, 1, 15};
  const unsigned nlen = take_bits(5) + 257, ndist = take_bits(5) + 1, ncode = take_bits(4) + 4;
  if (nlen > 286 || ndist > 30) return fail(inflate_fault::damaged);
  std::uint8_t code_lengths[19] = {};
  for (unsigned i = 0; i < ncode; ++i)
    code_lengths[order[i]] = static_cast<std::uint8_t>(take_bits(3));
  huffman_table code_table;
  if (!build(code_table, code_lengths, 19, meaning().code_length, LENGTHS_ROOT, false))
    return fail(inflate_fault::damaged);

  std::uint8_t lengths[286 + 30] = {};
  for (unsigned i = 0; i < nlen + ndist;) {
    have_bits(7);
    const std::uint32_t e = lookup(code_table, bitbuf_);
    take_bits(e & 15);
    const unsigned sym = e >> 16;
    if (sym < 16) {
      lengths[i++] = static_cast<std::uint8_t>(sym);
      continue;
    }
    unsigned repeat;
    std::uint8_t value = 0;
    if (sym == 16) {
      if (i == 0) return fail(inflate_fault::damaged);  // nothing to repeat
      value = lengths[i - 1];
      repeat = 3 + take_bits(2);
    } else if (sym == 17) {
      repeat = 3 + take_bits(3);
    } else {
      repeat = 11 + take_bits(7);
    }
    if (i + repeat > nlen + ndist) return fail(inflate_fault::damaged);
    std::fill(lengths + i, lengths + i + repeat, value);
    i += repeat;
  }
  if (padding_ > bitcnt_) return fail(inflate_fault::cut_short);
  if (lengths[256] == 0) return fail(inflate_fault::damaged);  // no end of block
  if (!build(dynamic_->lengths, lengths, nlen, meaning().length, LENGTH_ROOT, true) ||
      !build(dynamic_->distances, lengths + nlen, ndist, meaning().distance, DISTANCE_ROOT, true))
    return fail(inflate_fault::damaged);
  pair_literals(dynamic_->lengths);
  in_use_ = dynamic_.get();
  return true;
}

bool deflate_decoder::stored_block() {
  if (stage_ == stage::stored_length) {
    if (bytes_left() < 4) {
      if (ending_) return fail(inflate_fault::cut_short);
      return false;
    }
    const std::uint8_t* p = in_.data() + pos_;
    const std::uint32_t len = p[0] | p[1] << 8, nlen = p[2] | p[3] << 8;
    if ((len ^ 0xFFFF) != nlen) return fail(inflate_fault::damaged);
    pos_ += 4;
    stored_left_ = len;
    stage_ = stage::stored;
  }
  while (stored_left_ > 0) {
    if (out_ >= limit_) return false;  // the step is full
    const std::size_t n =
        std::min({static_cast<std::size_t>(stored_left_), bytes_left(), limit_ - out_});
    if (n == 0) return ending_ ? fail(inflate_fault::cut_short) : false;
    std::memcpy(window_.get() + out_, in_.data() + pos_, n);
    out_ += n;
    pos_ += n;
    stored_left_ -= static_cast<std::uint32_t>(n);
  }
  end_block();
  return true;
}

// Literals and matches until the block's end. The fast loop runs while the
// input holds a whole refill and the output room for the longest match; the
// careful one near the end of what has been fed.
bool deflate_decoder::codes() {
  const huffman_table& lt = in_use_->lengths;
  const huffman_table& dt = in_use_->distances;
  std::uint8_t* const w = window_.get();
  // Room for the longest match, so that a step gives STEP bytes at the most.
  const std::size_t limit = limit_ - MAX_MATCH;
  std::uint64_t bits = bitbuf_;
  unsigned count = bitcnt_;
  std::size_t out = out_;
  const std::uint8_t* const in = in_.data();
  std::size_t pos = pos_;
  const std::size_t end = in_.size();
  auto save = [&] {
    bitbuf_ = bits;
    bitcnt_ = count;
    out_ = out;
    pos_ = pos;
  };
  const std::uint32_t lmask = (1u << lt.bits) - 1;

  for (;;) {
    if (out >= limit) {
      save();
      return false;
    }
    if (end - pos >= 8) {
      bits |= load64(in + pos) << count;
      pos += (63 - count) >> 3;
      count |= 56;
      // Up to three entries of literals from one refill: 56 bits hold three
      // codes of 15. An entry's literal is stored with the byte after it,
      // which is a second literal or is written over next.
      std::uint32_t e = lt.entry[bits & lmask];
      if ((e & KIND) == LITERAL) {
        for (int k = 0; k < 3 && (e & KIND) == LITERAL; ++k) {
          bits >>= e & 15;
          count -= e & 15;
          store_literals(w + out, e);
          out += 1 + ((e >> 8) & 1);
          e = lt.entry[bits & lmask];
        }
        continue;
      }
    } else {
      while (count < 56 && pos < end) {
        bits |= static_cast<std::uint64_t>(in[pos++]) << count;
        count += 8;
      }
      if (count < SYMBOL_BITS_MAX) {
        if (!ending_) {
          save();
          return false;
        }
        while (count < 56) {
          padding_ += 8;
          count += 8;
        }
      }
    }
    // One whole symbol, with its distance, from at least 48 bits at hand.
    // Nothing is written that was read from the zeros past the end.
    std::uint32_t e = lookup(lt, bits);
    bits >>= e & 15;
    count -= e & 15;
    const std::uint32_t kind = e & KIND;
    if (kind == LITERAL) {
      if (padding_ > count) break;
      store_literals(w + out, e);
      out += 1 + ((e >> 8) & 1);
    } else if (kind == BASE) {
      const unsigned extra = (e >> 8) & 15;
      const std::size_t length = (e >> 16) + (bits & ((1u << extra) - 1));
      bits >>= extra;
      count -= extra;
      const std::uint32_t d = lookup(dt, bits);
      bits >>= d & 15;
      count -= d & 15;
      const unsigned dextra = (d >> 8) & 15;
      const std::size_t distance = (d >> 16) + (bits & ((1u << dextra) - 1));
      bits >>= dextra;
      count -= dextra;
      if (padding_ > count) break;
      if ((d & KIND) != BASE ||
          distance > out) {  // no such distance, or before the start of the stream
        save();
        return fail(inflate_fault::damaged);
      }
      copy_match(w + out, distance, length);
      out += length;
    } else if (kind == END) {
      if (padding_ > count) break;
      save();
      end_block();
      return true;
    } else {
      save();
      return fail(inflate_fault::damaged);
    }
  }
  save();
  return fail(inflate_fault::cut_short);
}
