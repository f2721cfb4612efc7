// The inflater against zlib's deflate and gzip, whole and in pieces; against
// streams damaged by hand, one defect a row; and cut at every length.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "archive/crc32.h"
#include "archive/gzip.h"
#include "tape_writer.h"
#include "zlib_deflate.h"

namespace {

enum class wrapping { raw, gzip };

// Feeds data in pieces of the given size, taking every step's bytes.
inflated inflate(const bytes& data, std::size_t piece, wrapping w = wrapping::raw) {
  inflated r = w == wrapping::gzip
                   ? inflate_in_pieces<gzip_reader>(data.data(), data.size(), piece)
                   : inflate_in_pieces<deflate_decoder>(data.data(), data.size(), piece);
  EXPECT_LE(r.largest_step, deflate_decoder::STEP);
  EXPECT_NE(r.finished, r.fault != inflate_fault::none)
      << "a stream ends either whole or with a fault";
  return r;
}

// window_bits -8 to -15: raw; 24 to 31: gzip.
bytes deflated(const bytes& data, int level, int strategy, int window_bits = -15) {
  bytes out = zlib_deflate(data.data(), data.size(), level, strategy, window_bits);
  EXPECT_FALSE(out.empty());
  return out;
}
bytes gzipped(const bytes& data) { return deflated(data, 6, Z_DEFAULT_STRATEGY, 31); }

// What zlib makes of a raw deflate stream: its bytes, and Z_STREAM_END,
// Z_DATA_ERROR or Z_BUF_ERROR (cut short).
std::pair<bytes, int> zlib_inflate(const bytes& packed) {
  z_stream z{};
  EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
  bytes out(1 << 16);
  z.next_in = const_cast<Bytef*>(packed.data());
  z.avail_in = static_cast<uInt>(packed.size());
  int rc;
  do {
    if (z.total_out == out.size()) out.resize(out.size() * 2);
    z.next_out = out.data() + z.total_out;
    z.avail_out = static_cast<uInt>(out.size() - z.total_out);
    rc = ::inflate(&z, Z_NO_FLUSH);
  } while (rc == Z_OK || (rc == Z_BUF_ERROR && z.avail_out == 0));
  out.resize(z.total_out);
  inflateEnd(&z);
  return {out, rc};
}

bytes cat(bytes a, const bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Files as the ROM saves them, with random data and pulses spread over each
// class's range, as tapes in archives are.
bytes tape(std::size_t files, std::size_t data_size, std::size_t pilot = HEADER_PILOT) {
  tape_writer w(pulse_values::spread(), 3);
  std::mt19937 rng(5);
  for (std::size_t i = 0; i < files; ++i) {
    bytes data(data_size);
    for (auto& b : data) b = static_cast<std::uint8_t>(rng());
    w.rom_file(3, "FILE " + std::to_string(i), data, pilot);
  }
  return w.pulses();
}

// What is deflated: tapes, and the shapes that take an inflater's other paths.
struct sample {
  const char* name;
  std::function<bytes()> make;
};
const sample SAMPLES[] = {
    {"empty", [] { return bytes{}; }},
    {"tape", [] { return tape(3, 3000); }},
    {"noise",
     [] {
       std::mt19937 rng(7);
       bytes b(300000);
       for (auto& x : b) x = static_cast<std::uint8_t>(rng());
       return b;
     }},
    {"zeros", [] { return bytes(3 << 20, 0); }},
    {"text",
     [] {
       std::string s;
       for (int i = 0; s.size() < 200000; ++i)
         s += "LOAD \"TAPE " + std::to_string(i % 97) + "\",1,1\n";
       return bytes(s.begin(), s.end());
     }},
    {"repeats at the window's reach",
     [] {  // matches 32768 back, across steps
       std::mt19937 rng(11);
       bytes block(32768);
       for (auto& x : block) x = static_cast<std::uint8_t>(rng());
       bytes b;
       for (int i = 0; i < 70; ++i) b.insert(b.end(), block.begin(), block.end());
       return b;
     }},
};

struct zlib_setting {
  int level, strategy, window_bits;
};
const zlib_setting SETTINGS[] = {
    {0, Z_DEFAULT_STRATEGY, -15},  // stored blocks
    {1, Z_DEFAULT_STRATEGY, -15},
    {6, Z_DEFAULT_STRATEGY, -15},
    {9, Z_DEFAULT_STRATEGY, -15},
    {6, Z_FILTERED, -15},
    {6, Z_HUFFMAN_ONLY, -15},
    {6, Z_RLE, -15},
    {6, Z_FIXED, -15},
    {9, Z_DEFAULT_STRATEGY, -9},  // fixed codes; a small window
};

TEST(Inflate, GivesBackWhatZlibDeflated) {
  for (const sample& s : SAMPLES) {
    const bytes data = s.make();
    for (const zlib_setting& z : SETTINGS) {
      const bytes packed = deflated(data, z.level, z.strategy, z.window_bits);
      for (const std::size_t piece : {std::size_t{1} << 30, std::size_t{4093}, std::size_t{7}}) {
        if (piece < 100 && data.size() > 400000)
          continue;  // a byte at a time is slow on the largest
        SCOPED_TRACE(std::string(s.name) + ", level " + std::to_string(z.level) + ", strategy " +
                     std::to_string(z.strategy) + ", window " + std::to_string(z.window_bits) +
                     ", pieces of " + std::to_string(piece));
        const inflated r = inflate(packed, piece);
        EXPECT_EQ(r.fault, inflate_fault::none);
        EXPECT_TRUE(r.out == data) << "made " << r.out.size() << " bytes of " << data.size();
      }
    }
  }
}

// The CRC-32 that zip and gzip hold a member to, as zlib computes it, for
// every length about its step of sixteen bytes, whole and in two pieces.
TEST(Inflate, Crc32AsZlibHasIt) {
  const std::string check = "123456789";
  EXPECT_EQ(crc32_update(0, reinterpret_cast<const std::uint8_t*>(check.data()), check.size()),
            0xCBF43926u);
  const bytes data = tape(3, 40, 200);
  for (std::size_t n = 0; n <= 70; ++n) {
    const auto want = static_cast<std::uint32_t>(crc32(0, data.data(), static_cast<uInt>(n)));
    EXPECT_EQ(crc32_update(0, data.data(), n), want) << n;
    for (std::size_t cut = 0; cut <= n; cut += 7)
      EXPECT_EQ(crc32_update(crc32_update(0, data.data(), cut), data.data() + cut, n - cut), want)
          << n << " cut at " << cut;
  }
}

TEST(Inflate, GzipMembersOneAfterAnother) {
  const bytes one = tape(1, 300, 2000), two = SAMPLES[4].make();
  // A header with every optional field: extra, name, comment and its CRC.
  bytes fancy = {0x1F, 0x8B, 8, 2 | 4 | 8 | 16, 0, 0, 0, 0, 0, 3, 4, 0, 'a', 'b', 'c', 'd'};
  for (const char c : std::string("tape.tap")) fancy.push_back(static_cast<std::uint8_t>(c));
  fancy.push_back(0);
  for (const char c : std::string("side A")) fancy.push_back(static_cast<std::uint8_t>(c));
  fancy.push_back(0);
  const std::uint32_t header_crc = crc32_update(0, fancy.data(), fancy.size());
  fancy.insert(fancy.end(),
               {static_cast<std::uint8_t>(header_crc), static_cast<std::uint8_t>(header_crc >> 8)});
  const bytes body = deflated(one, 6, Z_DEFAULT_STRATEGY);
  fancy.insert(fancy.end(), body.begin(), body.end());
  const std::uint32_t crc = crc32_update(0, one.data(), one.size()),
                      size = static_cast<std::uint32_t>(one.size());
  for (int i = 0; i < 4; ++i) fancy.push_back(static_cast<std::uint8_t>(crc >> (8 * i)));
  for (int i = 0; i < 4; ++i) fancy.push_back(static_cast<std::uint8_t>(size >> (8 * i)));

  struct row {
    const char* what;
    bytes file;
    bytes want;
    inflate_fault fault;
  };
  const row rows[] = {
      {"one member", gzipped(one), one, inflate_fault::none},
      {"a header with every optional field", fancy, one, inflate_fault::none},
      {"two members: their tapes one after the other", cat(gzipped(one), gzipped(two)),
       cat(one, two), inflate_fault::none},
      {"zeros after the last member pad the file", cat(gzipped(one), bytes(300, 0)), one,
       inflate_fault::none},
      {"other data after the last member", cat(gzipped(one), {'P', 'K', 3, 4}), one,
       inflate_fault::trailing},
      {"other data after zeros", cat(cat(gzipped(one), bytes(5, 0)), {1}), one,
       inflate_fault::trailing},
      {"no gzip header", deflated(one, 6, Z_DEFAULT_STRATEGY), {}, inflate_fault::not_gzip},
      {"an empty file", {}, {}, inflate_fault::cut_short},
  };
  for (const row& r : rows) {
    for (const std::size_t piece : {std::size_t{1} << 30, std::size_t{3}}) {
      SCOPED_TRACE(std::string(r.what) + ", pieces of " + std::to_string(piece));
      const inflated got = inflate(r.file, piece, wrapping::gzip);
      EXPECT_EQ(got.fault, r.fault);
      EXPECT_TRUE(got.out == r.want) << "made " << got.out.size() << " bytes of " << r.want.size();
    }
  }

  // The header's method and flags, and the member's checks.
  const bytes good = gzipped(one);
  struct damage {
    const char* what;
    std::size_t at;
    std::uint8_t value;
    inflate_fault fault;
  };
  const damage damages[] = {
      {"a method other than deflate", 2, 9, inflate_fault::unsupported},
      {"a header CRC other than the header's", 0, 0, inflate_fault::check_failed},
      {"a flag no reader knows", 3, 0x20, inflate_fault::unsupported},
      {"a CRC-32 other than the data's", good.size() - 8,
       static_cast<std::uint8_t>(good[good.size() - 8] ^ 1), inflate_fault::check_failed},
      {"a size other than the data's", good.size() - 4,
       static_cast<std::uint8_t>(good[good.size() - 4] ^ 1), inflate_fault::check_failed},
  };
  for (const damage& d : damages) {
    SCOPED_TRACE(d.what);
    bytes bad = d.at == 0 ? fancy : good;
    if (d.at == 0)
      bad[fancy.size() - body.size() - 10] ^=
          1;  // the header's CRC, just before the deflate stream
    else
      bad[d.at] = d.value;
    EXPECT_EQ(inflate(bad, 1 << 30, wrapping::gzip).fault, d.fault);
  }
}

// Bits as deflate packs them, lowest first; Huffman codes first bit highest.
struct bit_writer {
  bytes out;
  unsigned used = 8;
  void bit(unsigned b) {
    if (used == 8) {
      out.push_back(0);
      used = 0;
    }
    out.back() = static_cast<std::uint8_t>(out.back() | (b & 1) << used++);
  }
  bit_writer& bits(std::uint32_t v, unsigned n) {
    for (unsigned i = 0; i < n; ++i) bit(v >> i);
    return *this;
  }
  bit_writer& code(std::uint32_t c, unsigned n) {
    for (unsigned i = n; i-- > 0;) bit(c >> i);
    return *this;
  }
  bit_writer& align() {
    used = 8;
    return *this;
  }
  // A symbol of the fixed literal/length code.
  bit_writer& fixed(unsigned s) {
    if (s < 144) return code(0x30 + s, 8);
    if (s < 256) return code(0x190 + s - 144, 9);
    if (s < 280) return code(s - 256, 7);
    return code(0xC0 + s - 280, 8);
  }
  // A dynamic block's header up to its code lengths, whose code gives 5 bits
  // to each of 0 to 15 and 3, 3 and 2 to 16, 17 and 18.
  bit_writer& dynamic(bool last, unsigned nlen, unsigned ndist) {
    bits(last, 1).bits(2, 2).bits(nlen - 257, 5).bits(ndist - 1, 5).bits(19 - 4, 4);
    const unsigned order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    for (const unsigned s : order) bits(s == 16 || s == 17 ? 3 : s == 18 ? 2 : 5, 3);
    return *this;
  }
  // A code length in that code: 18 is 00, 16 and 17 are 010 and 011, 0 to 15 are 10000 on.
  bit_writer& length(unsigned s) {
    if (s == 18) return code(0, 2);
    if (s == 16 || s == 17) return code(s == 16 ? 2 : 3, 3);
    return code(0x10 + s, 5);
  }
  // n lengths of 0, in runs.
  bit_writer& zeros(unsigned n) {
    for (; n >= 11; n -= std::min(n, 138u)) length(18).bits(std::min(n, 138u) - 11, 7);
    for (; n > 0; --n) length(0);
    return *this;
  }
};

// A dynamic block's first n code lengths, all of one length.
bit_writer lengths_of(bit_writer w, int n, unsigned length) {
  for (int i = 0; i < n; ++i) w.length(length);
  return w;
}
// A dynamic block's lengths: 256 literals of 8 bits, then the rest.
bit_writer literals_of_8(bit_writer w) { return lengths_of(std::move(w), 256, 8); }

// A dynamic block's header of the fewest codes, up to the lengths of the code
// lengths code: these, for 16, 17, 18 and 0.
bit_writer code_lengths_code(std::initializer_list<unsigned> lengths) {
  bit_writer w;
  w.bits(1, 1).bits(2, 2).bits(0, 5).bits(0, 5).bits(0, 4);
  for (const unsigned l : lengths) w.bits(l, 3);
  return w;
}

TEST(Inflate, DamagedStreams) {
  struct row {
    const char* what;
    bit_writer stream;
    inflate_fault fault;
    const char* made;  // what comes out before the damage
  };
  const row rows[] = {
      {"a block of type 3, which does not exist", bit_writer().bits(1, 1).bits(3, 2),
       inflate_fault::damaged, ""},
      {"a stored block whose length and its complement disagree",
       bit_writer().bits(1, 1).bits(0, 2).align().bits(5, 16).bits(0, 16), inflate_fault::damaged,
       ""},
      {"a match reaching back before the start",
       bit_writer().bits(1, 1).bits(1, 2).fixed('A').fixed(257).code(1, 5).fixed(256),
       inflate_fault::damaged, "A"},
      {"literal/length symbol 286, which means nothing",
       bit_writer().bits(1, 1).bits(1, 2).fixed('A').fixed(286).fixed(256), inflate_fault::damaged,
       "A"},
      {"distance symbol 30, which means nothing",
       bit_writer().bits(1, 1).bits(1, 2).fixed('A').fixed('B').fixed(257).code(30, 5).fixed(256),
       inflate_fault::damaged, "AB"},
      {"more than 286 literal/length codes",
       bit_writer().bits(1, 1).bits(2, 2).bits(30, 5).bits(0, 5).bits(0, 4), inflate_fault::damaged,
       ""},
      {"a code lengths code with more codes than room", code_lengths_code({1, 1, 1, 1}),
       inflate_fault::damaged, ""},
      {"a code lengths code that leaves room unused", code_lengths_code({0, 0, 0, 1}),
       inflate_fault::damaged, ""},
      {"a repeat of the length before the first",
       bit_writer().dynamic(true, 257, 1).length(16).bits(0, 2), inflate_fault::damaged, ""},
      {"a run of zeros past the last length",
       literals_of_8(bit_writer().dynamic(true, 257, 1)).length(18).bits(127, 7),
       inflate_fault::damaged, ""},
      {"no code for the end of the block",
       literals_of_8(bit_writer().dynamic(true, 257, 1)).length(0).length(1),
       inflate_fault::damaged, ""},
      {"literal/length codes with more codes than room",
       literals_of_8(bit_writer().dynamic(true, 257, 1)).length(1).length(1),
       inflate_fault::damaged, ""},
      {"more than 30 distance codes",
       bit_writer().bits(1, 1).bits(2, 2).bits(0, 5).bits(30, 5).bits(0, 4), inflate_fault::damaged,
       ""},
      {"literal/length codes that leave room unused",
       lengths_of(bit_writer().dynamic(true, 257, 1), 254, 8)
           .length(0)
           .length(0)
           .length(8)
           .length(1),
       inflate_fault::damaged, ""},
      {"two distance codes that leave room unused",
       lengths_of(bit_writer().dynamic(true, 257, 2), 255, 8)
           .length(9)
           .length(9)
           .length(2)
           .length(2),
       inflate_fault::damaged, ""},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    const inflated got = inflate(r.stream.out, 1 << 30);
    EXPECT_EQ(got.fault, r.fault);
    EXPECT_EQ(std::string(got.out.begin(), got.out.end()), r.made);
    EXPECT_EQ(zlib_inflate(r.stream.out).second, Z_DATA_ERROR) << "zlib takes it";
  }

  // Allowed: a lone distance code of one bit, and none at all where no
  // match is made. Literal/length codes: 'Z' 10, the end 11, length 257 0;
  // then 'Y' 0, the end 1.
  bit_writer lone = bit_writer().dynamic(true, 258, 1).zeros('Z').length(2).zeros(256 - 'Z' - 1);
  lone.length(2).length(1).length(1);
  lone.code(2, 2).code(0, 1).code(0, 1).code(3, 2);  // Z, a match of 3 one back, the end
  bit_writer none = bit_writer().dynamic(true, 257, 1).zeros('Y').length(1).zeros(256 - 'Y' - 1);
  none.length(1).length(0);
  none.code(0, 1).code(1, 1);  // Y, the end
  for (const auto& [stream, want] : {std::pair{lone, "ZZZZ"}, std::pair{none, "Y"}}) {
    const inflated got = inflate(stream.out, 1 << 30);
    EXPECT_EQ(got.fault, inflate_fault::none) << want;
    EXPECT_EQ(std::string(got.out.begin(), got.out.end()), want);
  }
}

// Every length code and every distance code, each with its least and its
// most extra bits, in a block of fixed codes after 40,000 literals: copies
// that overlap themselves at distances 1 to 8, and copies from the far end
// of the window. The bytes are worked out here a byte at a time, and zlib
// must agree.
TEST(Inflate, EveryLengthAndDistanceCode) {
  static const unsigned length_base[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                           15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                           67, 83, 99, 115, 131, 163, 195, 227, 258};
  static const unsigned distance_base[30] = {
      1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
      193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
  const auto length_extra = [](unsigned s) { return s < 8 || s == 28 ? 0u : (s - 4) / 4; };
  const auto distance_extra = [](unsigned s) { return s < 4 ? 0u : s / 2 - 1; };
  bit_writer w;
  w.bits(1, 1).bits(1, 2);
  bytes want;
  std::mt19937 rng(3);
  for (int i = 0; i < 40000; ++i) {
    const auto b = static_cast<std::uint8_t>(rng());
    w.fixed(b);
    want.push_back(b);
  }
  for (unsigned ls = 0; ls < 29; ++ls) {
    for (const unsigned le : {0u, (1u << length_extra(ls)) - 1}) {
      for (unsigned ds = 0; ds < 30; ++ds) {
        for (const unsigned de : {0u, (1u << distance_extra(ds)) - 1}) {
          const unsigned length = length_base[ls] + le, distance = distance_base[ds] + de;
          w.fixed(257 + ls).bits(le, length_extra(ls)).code(ds, 5).bits(de, distance_extra(ds));
          for (unsigned k = 0; k < length; ++k) want.push_back(want[want.size() - distance]);
        }
      }
    }
  }
  w.fixed(256);
  const auto [by_zlib, rc] = zlib_inflate(w.out);
  ASSERT_EQ(rc, Z_STREAM_END);
  ASSERT_TRUE(by_zlib == want) << "the stream is not what this test means it to be";
  for (const std::size_t piece : {std::size_t{1} << 30, std::size_t{7}}) {
    const inflated got = inflate(w.out, piece);
    EXPECT_EQ(got.fault, inflate_fault::none) << "pieces of " << piece;
    EXPECT_TRUE(got.out == want) << "pieces of " << piece;
  }
}

// A gzip member around a raw deflate stream, whose trailer records made.
bytes gzip_member(const bytes& body, const std::string& made, bytes extra = {}) {
  bytes m = {0x1F, 0x8B, 8, static_cast<std::uint8_t>(extra.empty() ? 0 : 4), 0, 0, 0, 0, 0, 3};
  if (!extra.empty()) {
    m.push_back(static_cast<std::uint8_t>(extra.size()));
    m.push_back(static_cast<std::uint8_t>(extra.size() >> 8));
    m.insert(m.end(), extra.begin(), extra.end());
  }
  m.insert(m.end(), body.begin(), body.end());
  const auto* p = reinterpret_cast<const std::uint8_t*>(made.data());
  const std::uint32_t crc = crc32_update(0, p, made.size()),
                      size = static_cast<std::uint32_t>(made.size());
  for (int i = 0; i < 4; ++i) m.push_back(static_cast<std::uint8_t>(crc >> (8 * i)));
  for (int i = 0; i < 4; ++i) m.push_back(static_cast<std::uint8_t>(size >> (8 * i)));
  return m;
}

// Each gzip member is a deflate stream of its own, as zlib reads them: a
// match in the second may not reach back into what the first made.
TEST(Inflate, GzipMembersAreStreamsOfTheirOwn) {
  const bytes abc =
      bit_writer().bits(1, 1).bits(1, 2).fixed('A').fixed('B').fixed('C').fixed(256).out;
  // A match of 3, one back, as the very first thing in its stream.
  const bytes reaching = bit_writer().bits(1, 1).bits(1, 2).fixed(257).code(0, 5).fixed(256).out;
  // 'D', then a match of 3 one back: within its own stream.
  const bytes own =
      bit_writer().bits(1, 1).bits(1, 2).fixed('D').fixed(257).code(0, 5).fixed(256).out;
  struct row {
    const char* what;
    bytes file;
    inflate_fault fault;
    const char* made;
  };
  const row rows[] = {
      {"a match in the second reaching into the first",
       cat(gzip_member(abc, "ABC"), gzip_member(reaching, "CCC")), inflate_fault::damaged, "ABC"},
      {"a match within the second member", cat(gzip_member(abc, "ABC"), gzip_member(own, "DDDD")),
       inflate_fault::none, "ABCDDDD"},
      {"an extra field of 300 bytes", gzip_member(abc, "ABC", bytes(300, 0xEE)),
       inflate_fault::none, "ABC"},
  };
  for (const row& r : rows) {
    for (const std::size_t piece : {std::size_t{1} << 30, std::size_t{1}}) {
      SCOPED_TRACE(std::string(r.what) + ", pieces of " + std::to_string(piece));
      const inflated got = inflate(r.file, piece, wrapping::gzip);
      EXPECT_EQ(got.fault, r.fault);
      EXPECT_EQ(std::string(got.out.begin(), got.out.end()), r.made);
    }
  }
}

// A stream in two blocks, ended at a full flush half way: zlib ends the
// first block there, with an empty stored block after it. Gives the bytes
// and where the flush's bytes start.
std::pair<bytes, std::size_t> two_blocks(const bytes& data, int window_bits) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY), Z_OK);
  bytes out(deflateBound(&z, static_cast<uLong>(data.size())) + 64);
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size() / 2);
  EXPECT_EQ(deflate(&z, Z_FULL_FLUSH), Z_OK);
  const std::size_t boundary = z.total_out - 5;
  z.avail_in = static_cast<uInt>(data.size() - data.size() / 2);
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return {out, boundary};
}

// Cut anywhere, a stream is cut short, and all it gave is the start of the
// tape. Every length near the start (the headers), near the block boundary
// and near the end (the last symbols and a gzip trailer); a stride between.
TEST(Inflate, CutAnywhereIsCutShortWithWhatCameBefore) {
  const bytes data = tape(1, 300, 2000);
  for (const auto w : {wrapping::raw, wrapping::gzip}) {
    const auto [packed, boundary] = two_blocks(data, w == wrapping::raw ? -15 : 31);
    auto near = [&](std::size_t n, std::size_t at) { return n + 48 >= at && n <= at + 48; };
    for (std::size_t n = 0; n < packed.size(); ++n) {
      if (!(n % 17 == 0 || n < 320 || near(n, boundary) || n + 48 >= packed.size())) continue;
      SCOPED_TRACE("cut at " + std::to_string(n) + " of " + std::to_string(packed.size()));
      const inflated got =
          inflate(bytes(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(n)),
                  n % 2 ? 1 << 30 : 5, w);
      ASSERT_EQ(got.fault, inflate_fault::cut_short);
      ASSERT_TRUE(std::equal(got.out.begin(), got.out.end(), data.begin()))
          << "what came out is not the start";
    }
    EXPECT_EQ(inflate(packed, 5, w).out, data);
  }
}

}  // namespace
