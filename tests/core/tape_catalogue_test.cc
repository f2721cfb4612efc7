// The catalogue: every header with its fields, place, checks and program,
// held field by field to what the tape writer laid down, damaged in each
// way a copy can be; and its numbering held to the listing's.
#include "catalogue/tape_catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <random>
#include <string>

#include "decode_helpers.h"

namespace {

// How one copy of a block is laid down.
enum class lay {
  good,
  bad_sum,
  broken,
  cut,
  absent,
  lost,
  lost_later,
  split_later,
  long_misjudged,
  countdown_lost,
  first_countdown_lost,
};

// What a file on the test tape should come back as.
struct expect {
  int number;
  std::uint8_t type;
  std::uint16_t start, end;
  std::string name;
  std::size_t offset;  // in the pulses
  copy_check header;
  std::optional<bytes> program;
  copy_check program_check;
};

// One copy of a block: good, with a wrong checksum, broken inside the third
// byte after its countdown (a bit pair of no class), cut short by a third,
// at a byte, or with a pulse of the third or the 31st byte lost, or split
// in two, as a deck's dropout or a crease leaves it, or the third byte's
// marker taken for none, its long pulse read as a medium one, or a pulse
// of its first or third countdown byte lost.
void copy_of(tape_writer& w, const bytes& payload, block_copy c, lay how) {
  if (how == lay::absent) return;
  if (how == lay::cut) {
    const bytes part(payload.begin(), payload.begin() + static_cast<long>(payload.size() / 3));
    w.block(part, c);
    return;
  }
  std::uint8_t sum = 0;
  for (const std::uint8_t b : payload) sum ^= b;
  w.block(payload, c, how == lay::bad_sum ? sum ^ 0x40 : sum);
  bytes& p = w.pulses();
  if (how == lay::broken) p[w.byte_start(12) + 4] = 120;
  if (how == lay::long_misjudged) p[w.byte_start(12)] = 66;
  if (how == lay::countdown_lost) p.erase(p.begin() + static_cast<long>(w.byte_start(3) + 7));
  if (how == lay::first_countdown_lost) p.erase(p.begin() + static_cast<long>(w.byte_start(1) + 5));
  if (how == lay::lost) p.erase(p.begin() + static_cast<long>(w.byte_start(12) + 7));
  if (how == lay::lost_later) p.erase(p.begin() + static_cast<long>(w.byte_start(40) + 10));
  if (how == lay::split_later) {
    const auto at = static_cast<long>(w.byte_start(40) + 5);
    const auto half = static_cast<std::uint8_t>(p[static_cast<std::size_t>(at)] / 2);
    p[static_cast<std::size_t>(at)] = half;
    p.insert(p.begin() + at, half);
  }
}

struct laid_file {
  std::uint8_t type;
  std::string name;
  std::uint16_t start;
  bytes program;  // none for types 4 and 5
  lay header_first = lay::good, header_repeat = lay::good;
  lay program_first = lay::good, program_repeat = lay::good;
};

// Lays the file as the ROM saves it; returns where its header starts.
std::size_t lay_file(tape_writer& w, const laid_file& f) {
  const auto end = static_cast<std::uint16_t>(f.start + f.program.size());
  const bytes header = header_payload(f.type, f.name, f.start, end);
  w.pilot(HEADER_PILOT);
  const std::size_t at = w.size();
  copy_of(w, header, block_copy::first, f.header_first);
  w.pilot(COPY_GAP);
  copy_of(w, header, block_copy::repeat, f.header_repeat);
  w.pilot(TRAILER);
  if (f.type == 1 || f.type == 3) {
    w.pilot(DATA_PILOT);
    copy_of(w, f.program, block_copy::first, f.program_first);
    w.pilot(COPY_GAP);
    copy_of(w, f.program, block_copy::repeat, f.program_repeat);
    w.pilot(TRAILER);
  } else if (f.type == 4) {  // a data file's first block of data, which is no header
    bytes data(192, 0x41);
    data[0] = 2;
    w.pilot(DATA_PILOT).block(data).pilot(COPY_GAP).block(data, block_copy::repeat).pilot(TRAILER);
  }
  return at;
}

std::vector<catalogue_entry> catalogue_of(const bytes& file, std::size_t piece = 0,
                                          machine m = machine::c64_pal,
                                          class_path path = class_path::fastest) {
  tape_catalogue c(m, path);
  std::vector<catalogue_entry> all;
  if (piece == 0) piece = file.size() + 1;
  for (std::size_t at = 0; at < file.size(); at += piece) {
    c.feed(file.data() + at, std::min(piece, file.size() - at));
    for (auto& e : c.take_settled()) all.push_back(std::move(e));
  }
  c.finish();
  for (auto& e : c.take_settled()) all.push_back(std::move(e));
  return all;
}

// The files among entries: what a stretch of the tape no reader knows leaves aside.
std::vector<catalogue_entry> files_of(std::vector<catalogue_entry> entries) {
  entries.erase(std::remove_if(entries.begin(), entries.end(),
                               [](const catalogue_entry& e) { return e.kind != entry_kind::file; }),
                entries.end());
  return entries;
}

void check_entries(const std::vector<catalogue_entry>& all, const std::vector<expect>& want,
                   std::size_t offset_shift = 0) {
  const std::vector<catalogue_entry> got = files_of(all);
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE("entry " + std::to_string(i));
    const catalogue_entry& g = got[i];
    const expect& w = want[i];
    EXPECT_EQ(g.number, w.number);
    EXPECT_EQ(g.type, w.type);
    EXPECT_EQ(g.start, w.start);
    EXPECT_EQ(g.end, w.end);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(g.name), NAME_LENGTH), padded(w.name));
    EXPECT_EQ(g.offset, w.offset + offset_shift);
    EXPECT_EQ(g.header, w.header);
    EXPECT_EQ(g.program_check, w.program_check);
    EXPECT_EQ(g.program, w.program.value_or(bytes{}));
  }
}

bytes random_bytes(std::mt19937& rng, std::size_t n) {
  bytes b(n);
  for (auto& v : b) v = static_cast<std::uint8_t>(rng());
  if (!b.empty() && (b[0] == 1 || b[0] == 3)) b[0] = 0;  // no program block reads as a header
  return b;
}

// Each kind of header, and each way its copies or its program's can be
// damaged, on a tape of its own and all on one tape, fed whole and in pieces.
TEST(Catalogue, EachFileFieldByField) {
  std::mt19937 rng(2024);
  const auto addr = [&] { return static_cast<std::uint16_t>(0x0400 + rng() % 0x8000); };
  struct row {
    const char* what;
    laid_file file;
    bool listed;
    copy_check header, program;
  };
  const row rows[] = {
      {"type 1",
       {1, "BASIC PROG", addr(), random_bytes(rng, 700)},
       true,
       copy_check::ok,
       copy_check::ok},
      {"type 3",
       {3, "\x93MACHINE\x05", addr(), random_bytes(rng, 3000)},
       true,
       copy_check::ok,
       copy_check::ok},
      {"type 4, a data file",
       {4, "SEQ DATA", addr(), {}},
       false,
       copy_check::ok,
       copy_check::missing},
      {"type 5, end of tape", {5, "END", addr(), {}}, false, copy_check::ok, copy_check::missing},
      {"header's first copy fails its checksum",
       {1, "SUM BAD", addr(), random_bytes(rng, 300), lay::bad_sum},
       true,
       copy_check::repeat,
       copy_check::ok},
      {"header's first copy broken off",
       {1, "BROKEN", addr(), random_bytes(rng, 300), lay::broken},
       false,
       copy_check::repeat,
       copy_check::ok},
      {"no repeats",
       {3, "ONCE ONLY", addr(), random_bytes(rng, 500), lay::good, lay::absent, lay::good,
        lay::absent},
       true,
       copy_check::ok,
       copy_check::ok},
      {"program's first copy fails its checksum",
       {1, "REPEAT SAVES", addr(), random_bytes(rng, 400), lay::good, lay::good, lay::bad_sum},
       true,
       copy_check::ok,
       copy_check::repeat},
      {"program's first copy broken off",
       {1, "REPEAT AGAIN", addr(), random_bytes(rng, 400), lay::good, lay::good, lay::broken},
       true,
       copy_check::ok,
       copy_check::repeat},
      {"program cut short in both copies",
       {1, "CUT", addr(), random_bytes(rng, 900), lay::good, lay::good, lay::cut, lay::cut},
       true,
       copy_check::ok,
       copy_check::damaged},
      {"program fails its checksum in both copies",
       {3, "BAD BOTH", addr(), random_bytes(rng, 200), lay::good, lay::good, lay::bad_sum,
        lay::bad_sum},
       true,
       copy_check::ok,
       copy_check::damaged},
      {"program missing",
       {1, "NO PROGRAM", addr(), random_bytes(rng, 100), lay::good, lay::good, lay::absent,
        lay::absent},
       true,
       copy_check::ok,
       copy_check::missing},
      // The machine reads on after a byte that breaks off, and mends the
      // bytes its first copy read wrong from the repeat.
      {"program loses a pulse in each copy, at different bytes",
       {1, "MENDED", addr(), random_bytes(rng, 400), lay::good, lay::good, lay::lost,
        lay::lost_later},
       true,
       copy_check::ok,
       copy_check::repeat},
      {"program loses a pulse in each copy, at the same byte",
       {1, "NOT MENDED", addr(), random_bytes(rng, 400), lay::good, lay::good, lay::lost,
        lay::lost},
       true,
       copy_check::ok,
       copy_check::damaged},
      {"header's first copy has a pulse split after the name, its repeat one lost",
       {3, "SPLIT", addr(), random_bytes(rng, 250), lay::split_later, lay::lost},
       true,
       copy_check::repeat,
       copy_check::ok},
      // The countdown holds nothing to keep: a copy is read on past it, but
      // the listing, which stops there, does not list the name.
      {"header's first copy loses a pulse in its countdown",
       {1, "COUNTDOWN", addr(), random_bytes(rng, 300), lay::countdown_lost},
       false,
       copy_check::ok,
       copy_check::ok},
      {"program's first copy loses a pulse in its countdown, its repeat is cut",
       {1, "NO REPEAT", addr(), random_bytes(rng, 300), lay::good, lay::good, lay::countdown_lost,
        lay::cut},
       true,
       copy_check::ok,
       copy_check::ok},
      {"each copy of the program loses a pulse in its first countdown byte",
       {3, "FIRST BYTE", addr(), random_bytes(rng, 300), lay::good, lay::good,
        lay::first_countdown_lost, lay::first_countdown_lost},
       true,
       copy_check::ok,
       copy_check::ok},
      {"program's first copy loses a marker, its repeat a pulse",
       {1, "NO MARKER", addr(), random_bytes(rng, 300), lay::good, lay::good, lay::long_misjudged,
        lay::lost_later},
       true,
       copy_check::ok,
       copy_check::repeat},
      {"program's first copy has a pulse split, its repeat is good",
       {1, "SPLIT PROGRAM", addr(), random_bytes(rng, 250), lay::good, lay::good, lay::split_later},
       true,
       copy_check::ok,
       copy_check::repeat},
  };
  tape_writer all(pulse_values::spread(), 9);
  std::vector<expect> all_want;
  int all_number = 0;
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    const auto to_expect = [&](std::size_t at, int number) {
      const laid_file& f = r.file;
      const auto end = static_cast<std::uint16_t>(f.start + f.program.size());
      const bool has_program = r.program == copy_check::ok || r.program == copy_check::repeat;
      return expect{
          number,   f.type, f.start,  end,
          f.name,   at,     r.header, has_program ? std::optional<bytes>(f.program) : std::nullopt,
          r.program};
    };
    tape_writer w(pulse_values::spread(), 3);
    const std::size_t at = lay_file(w, r.file);
    for (const std::size_t piece : {0u, 1u, 19u, 4096u}) {
      SCOPED_TRACE(piece);
      const auto got = catalogue_of(w.pulses(), piece);
      check_entries(got, {to_expect(at, r.listed ? 1 : 0)});
      // A damaged copy is still a block, whole but for the bytes it read
      // wrong: nothing of it is left over as a stretch no reader knows.
      EXPECT_EQ(got.size(), 1u);
    }
    tape_catalogue blocks;
    blocks.list_blocks(true);
    blocks.feed(w.pulses().data(), w.size());
    blocks.finish();
    for (const catalogue_entry& e : blocks.take_settled()) {
      if (e.kind != entry_kind::block || r.file.header_first == lay::cut) continue;
      // The header's two copies lie within 10,000 pulses of its start.
      const bool program = e.offset > at + 10000;
      if (program && (r.file.program_first == lay::cut || r.file.program_repeat == lay::cut))
        continue;
      const std::size_t want = !program || r.file.type == 4 ? 192 : r.file.program.size();
      EXPECT_EQ(e.block_bytes, want) << e.offset;
    }
    // Missing programs are only missing at the end of a tape; the next
    // file's header is not taken for one.
    if (r.file.program_first == lay::absent && r.file.program_repeat == lay::absent) continue;
    const std::size_t at_all = lay_file(all, r.file);
    all_want.push_back(to_expect(at_all, r.listed ? ++all_number : 0));
  }
  SCOPED_TRACE("all on one tape");
  check_entries(catalogue_of(all.pulses(), 777), all_want);
  check_entries(catalogue_of(tap_file(all.pulses())), all_want, TAP_HEADER_SIZE);
}

// A header whose program is missing is followed straight by the next
// file's header: that header is its own entry, the program is missing.
TEST(Catalogue, NextHeaderIsNoProgram) {
  tape_writer w;
  lay_file(w, {1, "LOST", 0x0801, bytes(50, 7), lay::good, lay::good, lay::absent, lay::absent});
  const std::size_t at = lay_file(w, {1, "FOUND", 0x0801, bytes(192, 3)});
  const auto got = catalogue_of(w.pulses());
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].program_check, copy_check::missing);
  EXPECT_EQ(got[1].number, 2);
  EXPECT_EQ(got[1].offset, at);
  // A 192-byte program starting with 3 is still that header's program,
  // and, as the listing names it, an entry of its own too.
  EXPECT_EQ(got[1].program, bytes(192, 3));
  EXPECT_EQ(got[2].number, 3);
  EXPECT_EQ(got[2].type, 3);
  EXPECT_EQ(got[2].program_check, copy_check::missing);
}

// Times as the TAP format counts pulses: raw bytes and version 0, where a
// 0 is 256 x 8 cycles, and version 1, where it opens a pause; each at
// every machine's clock. Zeros lie before, between and after the files, at
// odd places, some side by side.
TEST(Catalogue, PositionsAndTimes) {
  tape_writer w(pulse_values::spread(), 4);
  w.raw({0, 200, 31, 1});
  const std::size_t first = lay_file(w, {1, "ONE", 0x1000, bytes(300, 0x11)});
  w.raw({48, 0, 0, 0, 0, 0, 9, 1, 0, 7, 0, 2});
  const std::size_t second = lay_file(w, {3, "TWO", 0x2000, bytes(30, 2)});
  w.raw({0, 1, 2, 3});
  const std::size_t third = lay_file(w, {1, "THREE", 0x3000, bytes(17, 5)});
  const bytes& p = w.pulses();
  // The cycles before p[to], byte by byte.
  const auto cycles = [&](std::size_t to, bool pauses) {
    std::uint64_t c = 0;
    for (std::size_t i = 0; i < to; ++i) {
      if (p[i] != 0) {
        c += std::uint64_t{8} * p[i];
      } else if (!pauses) {
        c += 2048;
      } else {
        c += p[i + 1] | p[i + 2] << 8 | p[i + 3] << 16;
        i += 3;
      }
    }
    return static_cast<double>(c);
  };
  bytes v0 = tap_file(p);
  v0[12] = 0;
  const struct {
    const char* what;
    bytes file;
    std::size_t shift;
    bool pauses;
  } files[] = {
      {"raw", p, 0, false},
      {"version 0", v0, TAP_HEADER_SIZE, false},
      {"version 1", tap_file(p), TAP_HEADER_SIZE, true},
  };
  for (const machine m :
       {machine::c64_pal, machine::c64_ntsc, machine::vic20_pal, machine::vic20_ntsc}) {
    const double clock = timing_of(m).clock;
    for (const auto& f : files) {
      SCOPED_TRACE(f.what);
      for (const std::size_t piece : {0u, 2u, 333u}) {
        const auto got = catalogue_of(f.file, piece, m);
        ASSERT_EQ(got.size(), 3u);
        EXPECT_EQ(got[0].offset, first + f.shift);
        EXPECT_EQ(got[1].offset, second + f.shift);
        EXPECT_EQ(got[2].offset, third + f.shift);
        EXPECT_DOUBLE_EQ(got[0].seconds, cycles(first, f.pauses) / clock);
        EXPECT_DOUBLE_EQ(got[1].seconds, cycles(second, f.pauses) / clock);
        EXPECT_DOUBLE_EQ(got[2].seconds, cycles(third, f.pauses) / clock);
      }
    }
  }
}

bool same_entries(const std::vector<catalogue_entry>& a, const std::vector<catalogue_entry>& b) {
  const auto same = [](const catalogue_entry& x, const catalogue_entry& y) {
    return x.number == y.number && x.type == y.type && x.start == y.start && x.end == y.end &&
           std::memcmp(x.name, y.name, NAME_LENGTH) == 0 && x.offset == y.offset &&
           x.seconds == y.seconds && x.header == y.header && x.program == y.program &&
           x.program_check == y.program_check;
  };
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), same);
}

// On damaged tapes (pulses misjudged, lost and split) the entries listed
// are exactly the listing's names, in its order and numbering, whatever
// else the catalogue finds; and the catalogue finds the same whether it
// classes pulses sixteen at a time or one at a time, as a build without
// SSE2 does, or steps through every pulse.
TEST(Catalogue, ListedAsTheListingLists) {
  std::mt19937 rng(77);
  for (int round = 0; round < 100; ++round) {
    SCOPED_TRACE(round);
    tape_writer w(pulse_values::spread(), static_cast<std::uint32_t>(round + 1));
    for (int f = 0; f < 4; ++f) {
      const std::uint8_t types[] = {1, 3, 4, 5, 1, 3};
      laid_file file{types[rng() % 6], "F" + std::to_string(f), static_cast<std::uint16_t>(rng()),
                     random_bytes(rng, 20 + rng() % 300)};
      if (file.type >= 4) file.program.clear();
      if (!file.program.empty() && rng() % 3 == 0)
        file.program[0] = rng() % 2 ? 1 : 3;  // a program shaped like a header
      lay_file(w, file);
    }
    bytes& p = w.pulses();
    for (int hits = 0; hits < 10 + round * 2; ++hits) {
      const std::size_t at = rng() % p.size();
      switch (rng() % 3) {  // a pulse misjudged, lost, or split in two
        case 0:
          p[at] = static_cast<std::uint8_t>(rng());
          break;
        case 1:
          p.erase(p.begin() + static_cast<long>(at));
          break;
        default:
          p.insert(p.begin() + static_cast<long>(at), static_cast<std::uint8_t>(rng()));
      }
    }
    if (round % 2) p.resize(rng() % p.size());
    const auto names = names_in(p);
    const auto got = catalogue_of(p, 1 + rng() % 5000);
    EXPECT_TRUE(same_entries(got, catalogue_of(p, 0, machine::c64_pal, class_path::portable)));
    EXPECT_TRUE(same_entries(got, catalogue_of(p, 0, machine::c64_pal, class_path::stepped)));
    int number = 0;
    for (const catalogue_entry& e : got) {
      if (e.number == 0) continue;
      ASSERT_EQ(e.number, ++number);
      if (e.header == copy_check::ok) {
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(e.name), NAME_LENGTH),
                  names[number - 1]);
      }
    }
    EXPECT_EQ(number, static_cast<int>(names.size()));
  }
}

}  // namespace

// A TAP file that ends before the pulses its header gives says how much it
// holds, however it arrives in pieces; a header that gives no more than the
// file holds, or 20 bytes more (some count themselves in), or a file
// without a header, says nothing.
TEST(Catalogue, ATapCutShortSaysSo) {
  tape_writer w;
  lay_file(w, {1, "HALF", 0x0801, bytes(300, 9)});
  const std::vector<std::uint8_t> pulses = w.pulses();
  const std::size_t n = pulses.size();
  struct row {
    const char* what;
    std::size_t holds, gives;
    bool header, cut;
  };
  const row rows[] = {
      {"whole", n, n, true, false},
      {"header gives 0", n, 0, true, false},
      {"header gives less", n, n / 2, true, false},
      {"header counts itself in", n, n + TAP_HEADER_SIZE, true, false},
      {"one byte more than that", n, n + TAP_HEADER_SIZE + 1, true, true},
      {"cut in half", n / 2, n, true, true},
      {"nothing after the header", 0, n, true, true},
      {"no header", n / 2, n, false, false},
  };
  for (const row& r : rows) {
    std::vector<std::uint8_t> file;
    if (r.header) file = tap_header(r.gives);
    file.insert(file.end(), pulses.begin(), pulses.begin() + static_cast<std::ptrdiff_t>(r.holds));
    for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, file.size() + 1}) {
      tape_catalogue c;
      for (std::size_t at = 0; at < file.size(); at += piece)
        c.feed(file.data() + at, std::min(piece, file.size() - at));
      c.finish();
      const tap_shortfall got = c.cut_short();
      SCOPED_TRACE(std::string(r.what) + ", pieces of " + std::to_string(piece));
      EXPECT_EQ(got.gives, r.cut ? r.gives : 0);
      EXPECT_EQ(got.holds, r.cut ? r.holds : 0);
    }
  }
}
