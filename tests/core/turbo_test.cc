// Turbo tapes in every format the catalogue reads, as the tape writer lays
// them down from the formats' notes: each file comes back whole, with its
// loader, addresses and program; damaged, cut or off speed, as it should.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <tuple>

#include "catalogue/tape_catalogue.h"
#include "catalogue/turbo_formats.h"
#include "catalogue/turbo_reader.h"
#include "turbo_writer.h"

namespace {

// Every record of the tape fed in pieces of piece bytes (0: whole), read
// the way path says; with coverage, the tape's coverage there too.
std::vector<catalogue_entry> catalogue_of(const bytes& file, std::size_t piece = 0,
                                          class_path path = class_path::fastest,
                                          double* coverage = nullptr) {
  tape_catalogue c(machine::c64_pal, path);
  std::vector<catalogue_entry> all;
  if (piece == 0) piece = file.size() + 1;
  for (std::size_t at = 0; at < file.size(); at += piece) {
    c.feed(file.data() + at, std::min(piece, file.size() - at));
    for (auto& e : c.take_settled()) all.push_back(std::move(e));
  }
  c.finish();
  for (auto& e : c.take_settled()) all.push_back(std::move(e));
  if (coverage) *coverage = c.coverage();
  return all;
}

// The turbo files among entries: not the ROM's, not the stretches no reader knows.
std::vector<catalogue_entry> turbo_files(const std::vector<catalogue_entry>& all) {
  std::vector<catalogue_entry> out;
  for (const catalogue_entry& e : all)
    if (e.kind == entry_kind::file && e.loader != "rom") out.push_back(e);
  return out;
}

bytes program(std::size_t n, std::uint32_t seed) { return random_bytes(n, seed); }

std::vector<turbo_program> two_files(turbo_format f) { return turbo_sample_files(f); }

// What the format keeps of a file: a name, a checksum.
bool keeps_name(turbo_format f) {
  return f == turbo_format::us_gold || f == turbo_format::novaload ||
         f == turbo_format::turbotape || f == turbo_format::accolade ||
         f == turbo_format::accolade_ea || f == turbo_format::cyberload_f4;
}
bool keeps_check(turbo_format f) {
  switch (f) {
    case turbo_format::ocean_imagine:
    case turbo_format::cyberload_f1:
    case turbo_format::cyberload_f2:
    case turbo_format::burner:
    case turbo_format::anirog:
    case turbo_format::jetload:
    case turbo_format::seuck:
      return false;
    default:
      return true;
  }
}
// Chains of blocks that say no length: cut, they read as a shorter file
// whose blocks all hold. (A Bleepload Special chain flags its last block,
// and a Super Pavloda one counts its pages: cut, they do not load.)
bool chained(turbo_format f) {
  return f == turbo_format::bleepload || f == turbo_format::cyberload_f3;
}

// Whether the catalogue gives the file's bytes (F2's are enciphered by the loader's own key).
bool gives_program(turbo_format f) { return f != turbo_format::cyberload_f2; }

std::string padded(const std::string& s) { return (s + std::string(16, ' ')).substr(0, 16); }

// Each format's files, fed whole and in pieces, and with a ROM file's lead
// straight after the last one's tail: each file's loader, name, addresses,
// program and check.
TEST(Turbo, EveryFormatGivesItsFiles) {
  for (const turbo_format f : turbo_formats()) {
    SCOPED_TRACE(turbo_format_name(f) + std::string(" (format ") +
                 std::to_string(static_cast<int>(f)) + ")");
    const std::vector<turbo_program> files = two_files(f);
    const bytes alone = turbo_tape(f, files);
    // The pause after the last file (a 0 and three bytes) gives way to a ROM file.
    bytes then_rom(alone.begin(), alone.end() - 4);
    tape_writer rom;
    rom.rom_file(1, "AFTER", program(300, 3));
    then_rom.insert(then_rom.end(), rom.pulses().begin(), rom.pulses().end());
    for (const auto& [tape, rom_files, piece] : {std::tuple{tap_file(alone), 0, std::size_t{0}},
                                                 {tap_file(alone), 0, std::size_t{4093}},
                                                 {tap_file(then_rom), 1, std::size_t{0}},
                                                 {tap_file(then_rom), 1, std::size_t{4093}}}) {
      const auto all = catalogue_of(tape, piece);
      const auto loads = [](const catalogue_entry& e) {
        return e.loader == "rom" && e.kind == entry_kind::file && e.program_check == copy_check::ok;
      };
      EXPECT_EQ(std::count_if(all.begin(), all.end(), loads), rom_files);
      EXPECT_TRUE(std::none_of(all.begin(), all.end(), [](const catalogue_entry& e) {
        return e.kind == entry_kind::unrecognised;
      })) << "a lead, trailer or tone of the format taken for something unknown";
      const auto got = turbo_files(all);
      ASSERT_EQ(got.size(), files.size()) << "pieces of " << piece;
      for (std::size_t i = 0; i < files.size(); ++i) {
        const catalogue_entry& e = got[i];
        EXPECT_EQ(e.loader, turbo_format_name(f));
        EXPECT_EQ(e.start, files[i].start);
        EXPECT_EQ(e.end, static_cast<std::uint16_t>(files[i].start + files[i].data.size()));
        EXPECT_EQ(e.program_check, keeps_check(f) ? copy_check::ok : copy_check::none);
        if (gives_program(f)) {
          EXPECT_TRUE(e.program == files[i].data) << "file " << i;
        }
        if (keeps_name(f)) {
          EXPECT_EQ(std::string(reinterpret_cast<const char*>(e.name), 16), padded(files[i].name));
        }
        EXPECT_EQ(e.number, 0);
      }
    }
  }
}

// A file straight after a block broken off in its data, with a few pulses
// of nothing in particular between and no pause. Its lead may be met at the
// very pulse at which a try at the broken block gives up (the new lead's
// tries have had that pulse once, as every other), or start anywhere in a
// pilot byte that shows no place where its bytes begin ($AA, $00, or one
// the tape names, whose complement after it shows the place).
// A chain's sub-blocks made one file: one stretch of memory where they fill
// it exactly, in whatever order they came; else their bytes in tape order,
// from the first one's address.
TEST(Turbo, AChainsPiecesMakeOneFile) {
  struct piece {
    std::uint16_t at;
    std::string bytes;
  };
  const struct {
    const char* what;
    std::vector<piece> pieces;
    std::uint16_t start, end;
    std::string program;
  } cases[] = {
      {"in order", {{0x1000, "ab"}, {0x1002, "cd"}}, 0x1000, 0x1004, "abcd"},
      {"out of order", {{0x1002, "cd"}, {0x1000, "ab"}}, 0x1000, 0x1004, "abcd"},
      {"an empty one inside",
       {{0x1000, "ab"}, {0x1001, ""}, {0x1002, "cd"}},
       0x1000,
       0x1004,
       "abcd"},
      {"a gap", {{0x1000, "ab"}, {0x1004, "cd"}}, 0x1000, 0x1004, "abcd"},
      {"an overlap as long as a gap",
       {{0x1000, "abcd"}, {0x1002, "ef"}, {0x1006, "gh"}},
       0x1000,
       0x1008,
       "abcdefgh"},
      {"later ones lower", {{0x1004, "ef"}, {0x1000, "ab"}}, 0x1004, 0x1008, "efab"},
      {"past the top of memory", {{0xFFFE, "abcd"}}, 0xFFFE, 0x0002, "abcd"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    turbo::chain ch;
    for (const piece& p : c.pieces) ch.add(p.at, bytes(p.bytes.begin(), p.bytes.end()));
    const turbo_file f = ch.file("Chain", copy_check::ok);
    EXPECT_EQ(f.start, c.start);
    EXPECT_EQ(f.end, c.end);
    EXPECT_EQ(std::string(f.program.begin(), f.program.end()), c.program);
  }
}

// Super Pavloda's file is a primary sub-block and the pages that follow it,
// each behind a lead of its own, and the primary says how many: with a
// page's lead lost the file does not load, and with the primary's its pages
// are no file at all (nothing says where they load); the next file loads
// either way. A tape may write 00 in the second state as one long pulse or
// two short ones.
TEST(Turbo, SuperPavlodaSubBlocks) {
  const struct {
    const char* what;
    int lost;  // the sub-block of the first file whose lead is spoilt; -1: none
    bool two_shorts;
    bool first_loads;  // and so the first file loads, is damaged, or is not there
    bool first_there;
  } rows[] = {
      {"whole", -1, false, true, true},
      {"00 as two short pulses", -1, true, true, true},
      {"its first page's lead spoilt", 1, false, false, true},
      {"its last page's lead spoilt", 2, true, false, true},
      {"its primary's lead spoilt", 0, false, false, false},
  };
  for (const turbo_format f : {turbo_format::super_pavloda_t1, turbo_format::super_pavloda_t2}) {
    const std::vector<turbo_program> files = two_files(f);
    ASSERT_EQ(files[0].data.size(), 700u);  // a primary of 188 bytes and two pages
    for (const auto& r : rows) {
      SCOPED_TRACE(std::to_string(static_cast<int>(f)) + ": " + r.what);
      turbo_knobs k;
      k.two_shorts = r.two_shorts;
      bytes pulses = turbo_tape(f, files, k);
      if (r.lost >= 0) {
        // Most of the short pulses of the lead before that sub-block's data
        // made long: too few are left to make a lead.
        const std::uint8_t shorts = f == turbo_format::super_pavloda_t1 ? 0x2E : 0x3E;
        std::size_t at = turbo_data_starts().at(static_cast<std::size_t>(r.lost));
        while (!std::all_of(&pulses[at - 30], &pulses[at], [&](int v) { return v == shorts; }))
          --at;
        while (pulses[at - 1] == shorts) pulses[--at] = 0x90;
      }
      const auto all = catalogue_of(tap_file(pulses));
      const auto got = turbo_files(all);
      ASSERT_EQ(got.size(), r.first_there ? 2u : 1u);
      const catalogue_entry& second = got.back();
      EXPECT_EQ(second.start, files[1].start);
      EXPECT_TRUE(second.program == files[1].data);
      EXPECT_EQ(second.program_check, copy_check::ok);
      if (r.first_there) {
        EXPECT_EQ(got[0].start, files[0].start);
        EXPECT_EQ(got[0].program_check, r.first_loads ? copy_check::ok : copy_check::damaged);
        EXPECT_EQ(got[0].program.empty(), !r.first_loads);
      }
      const bool unknown = std::any_of(all.begin(), all.end(), [](const catalogue_entry& e) {
        return e.kind == entry_kind::unrecognised;
      });
      EXPECT_EQ(unknown, r.lost >= 0) << "the spoilt sub-block is a stretch no loader explains";
    }
  }
}

// A chain that says where it ends (Bleepload Special flags its last block,
// Super Pavloda counts its pages), the tape cut after its first block: its
// file is listed, and does not load.
TEST(Turbo, AChainCutBeforeItsEnd) {
  for (const turbo_format f : {turbo_format::bleepload_special, turbo_format::super_pavloda_t1,
                               turbo_format::super_pavloda_t2}) {
    SCOPED_TRACE(static_cast<int>(f));
    const std::vector<turbo_program> files = two_files(f);
    bytes pulses = turbo_tape(f, files);
    pulses.resize(turbo_data_starts().at(1) - 10);  // in the second block's header
    const auto got = turbo_files(catalogue_of(tap_file(pulses)));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].start, files[0].start);
    EXPECT_EQ(got[0].program_check, copy_check::damaged);
    EXPECT_TRUE(got[0].program.empty());
  }
}

// A chain of pages that loads over memory more than once, as Arkanoid's
// Ocean-Imagine chain of 275 pages does: read whole, its bytes in tape order.
TEST(Turbo, AChainLongerThanMemory) {
  for (const turbo_format f : {turbo_format::ocean_imagine, turbo_format::novaload_special}) {
    SCOPED_TRACE(static_cast<int>(f));
    const std::vector<turbo_program> files = {{0x0800, program(std::size_t{275} * 256, 9), ""}};
    const auto got = turbo_files(catalogue_of(tap_file(turbo_tape(f, files))));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].start, 0x0800);
    EXPECT_EQ(got[0].program_check, keeps_check(f) ? copy_check::ok : copy_check::none);
    EXPECT_TRUE(got[0].program == files[0].data);
  }
}

// Pavloda's blocks have no trailer, and its loader passes over the second
// pulse of a 1: where a block ends in a 1, that pulse may run on into the
// pause, drawn out or lost in it, and the file still loads.
TEST(Turbo, APavlodaBlocksLastPulseRunsIntoThePause) {
  const std::vector<turbo_program> files = two_files(turbo_format::pavloda);
  const bytes clean = turbo_tape(turbo_format::pavloda, files);
  std::vector<std::size_t> ends;  // where each file's block ends: at the pause after it
  for (std::size_t at = 4; at < clean.size(); ++at) {
    if (clean[at] != 0) continue;
    ends.push_back(at);
    at += 3;
  }
  ASSERT_EQ(ends.size(), files.size());
  for (const std::size_t end : ends)  // each block ends in a 1: two short pulses
    ASSERT_TRUE(clean[end - 1] == 0x1F && clean[end - 2] == 0x1F && clean[end - 3] != 0x1F);
  for (const int last : {0x1F, 0x30, 0x60, 0xFF, -1}) {  // -1: lost in the pause
    SCOPED_TRACE(last);
    bytes tape = clean;
    for (auto end = ends.rbegin(); end != ends.rend(); ++end) {
      if (last < 0) {
        tape.erase(tape.begin() + static_cast<long>(*end) - 1);
      } else {
        tape[*end - 1] = static_cast<std::uint8_t>(last);
      }
    }
    const auto got = turbo_files(catalogue_of(tap_file(tape)));
    ASSERT_EQ(got.size(), files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
      EXPECT_EQ(got[i].program_check, copy_check::ok) << "file " << i;
      EXPECT_TRUE(got[i].program == files[i].data) << "file " << i;
    }
  }
}

TEST(Turbo, ALeadStraightAfterABrokenBlock) {
  const struct {
    turbo_format before, after;
    std::size_t between;  // pulses between them
  } rows[] = {
      {turbo_format::cyberload_f1, turbo_format::freeload, 8},
      {turbo_format::cyberload_f1, turbo_format::hitload, 9},
      {turbo_format::cyberload_f1, turbo_format::virgin, 8},
      {turbo_format::novaload, turbo_format::bleepload_special, 8},
      {turbo_format::wildload, turbo_format::bleepload_special, 0},
      {turbo_format::virgin, turbo_format::virgin, 0},
      {turbo_format::freeload, turbo_format::hi_tec, 0},
      {turbo_format::bleepload, turbo_format::virgin, 15},
      {turbo_format::hitload, turbo_format::jetload, 0},
      {turbo_format::virgin, turbo_format::jetload, 9},
      {turbo_format::mega_save_t1, turbo_format::jetload, 18},
      {turbo_format::bleepload, turbo_format::bleepload, 6},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string(turbo_format_name(r.before)) + " then " + turbo_format_name(r.after));
    const bytes broken = turbo_tape(r.before, two_files(r.before));
    bytes pulses(broken.begin(), broken.begin() + static_cast<long>(turbo_data_starts()[0] + 40));
    for (std::size_t k = 0; k < r.between; ++k)
      pulses.push_back(static_cast<std::uint8_t>(0x30 + (k * 37) % 0x30));
    const std::vector<turbo_program> files = two_files(r.after);
    const bytes after = turbo_tape(r.after, files);
    pulses.insert(pulses.end(), after.begin() + 4, after.end());  // its first pause left out
    const auto got = turbo_files(catalogue_of(tap_file(pulses)));
    for (const turbo_program& f : files) {
      EXPECT_TRUE(std::any_of(got.begin(), got.end(),
                              [&](const catalogue_entry& e) {
                                return e.loader == turbo_format_name(r.after) &&
                                       e.start == f.start && e.program == f.data;
                              }))
          << "the file at $" << std::hex << f.start;
    }
  }
}

}  // namespace

namespace {

// A row of damage: how the tape is spoiled, and what becomes of its files.
struct spoiling {
  const char* what;
  turbo_knobs knobs;
  bool cut;            // the tape ends in the first file's data
  bool first_damaged;  // the first file's check fails
};

// Every format off speed and wobbling gives its files whole; with a bad
// checksum, a dropout in its data or cut in it, the first file is damaged
// (where the format has a check to fail) and nothing is called good that
// is not.
TEST(Turbo, DamagedCutAndOffSpeed) {
  const auto knobs = [](double speed, int wobble, bool bad, std::size_t dropout) {
    turbo_knobs k;
    k.speed = speed, k.wobble = wobble, k.bad_check = bad, k.dropout = dropout;
    return k;
  };
  const spoiling rows[] = {
      {"a deck 6% slow", knobs(1.06, 0, false, 0), false, false},
      {"a deck 6% fast", knobs(0.94, 0, false, 0), false, false},
      {"pulses off by up to 2", knobs(1, 2, false, 0), false, false},
      {"a deck 4% slow, pulses off by up to 2", knobs(1.04, 2, false, 0), false, false},
      {"a wrong checksum", knobs(1, 0, true, 0), false, true},
      {"a dropout in the data", knobs(1, 0, false, 301), false, true},
      {"cut in the first file's data", knobs(1, 0, false, 0), true, true},
  };
  for (const turbo_format f : turbo_formats()) {
    const std::vector<turbo_program> files = two_files(f);
    for (const spoiling& r : rows) {
      SCOPED_TRACE(std::string(turbo_format_name(f)) + " (format " +
                   std::to_string(static_cast<int>(f)) + "): " + r.what);
      bytes pulses = turbo_tape(f, files, r.knobs);
      if (r.cut) pulses.resize(turbo_data_starts().at(0) + 2000);
      const auto got = turbo_files(catalogue_of(tap_file(pulses)));
      const bool checked = keeps_check(f);
      if (!r.first_damaged) {
        ASSERT_EQ(got.size(), files.size());
        for (std::size_t i = 0; i < files.size(); ++i) {
          if (gives_program(f)) {
            EXPECT_TRUE(got[i].program == files[i].data) << "file " << i;
          }
        }
        continue;
      }
      // Nothing with a check that does not hold is called good: a file that
      // is, is one of the tape's (or, cut, the start of one whose blocks
      // say no length).
      for (const catalogue_entry& e : got) {
        if (e.program_check == copy_check::ok) {
          const bool one_of = std::any_of(files.begin(), files.end(), [&](const turbo_program& p) {
            const bool start = r.cut && chained(f) && e.program.size() < p.data.size() &&
                               std::equal(e.program.begin(), e.program.end(), p.data.begin());
            return p.start == e.start && (p.data == e.program || start);
          });
          EXPECT_TRUE(one_of) << "a file called good that is none of the tape's: " << e.loader;
        }
      }
      if (!checked || got.empty()) continue;
      if (r.cut && chained(f) && got[0].program_check == copy_check::ok) {
        const bytes& whole = files[0].data;
        EXPECT_LT(got[0].program.size(), whole.size());
        EXPECT_TRUE(std::equal(got[0].program.begin(), got[0].program.end(), whole.begin()));
        continue;
      }
      if (got[0].start == files[0].start) {
        EXPECT_NE(got[0].program_check, copy_check::ok);
        EXPECT_TRUE(got[0].program.empty());
      }
    }
  }
}

// Leads as real tapes show them: a pulse or a few lost after the pause (so
// that a pilot read from the pause is cut into bytes in the wrong places),
// noise before the lead, its first pulses garbled, or one pulse in it
// spoilt. Each file is found whole and named by its loader, as the machine
// would load it; Jetload's too where the damage leaves 15 pulses of its
// two-byte pilot.
TEST(Turbo, LeadsAsRealTapesShowThem) {
  const struct {  // NOLINT(clang-analyzer-optin.performance.Padding): in the order the rows read
    const char* what;
    std::size_t lost, noise, garbled;
    double first_times;  // the first pulse after each pause made this many times as long,
    int first_off;       // and this added to it
    std::size_t later;   // or to the one this many pulses after it
    bool jetload;
  } rows[] = {
      {"the first pulse after each pause lost", 1, 0, 0, 1, 0, 0, true},
      {"the first three lost", 3, 0, 0, 1, 0, 0, false},
      {"noise before each lead", 0, 12, 0, 1, 0, 0, true},
      {"the first 24 pulses of each lead garbled", 0, 0, 24, 1, 0, 0, false},
      {"the first pulse after each pause cut short", 0, 0, 0, 1, -8, 0, true},
      {"the first pulse after each pause drawn out", 0, 0, 0, 1, 8, 0, true},
      {"the first pulse after each pause a third as long", 0, 0, 0, 1 / 3.0, 0, 0, true},
      {"the first pulse after each pause twice as long", 0, 0, 0, 2, 0, 0, true},
      {"a pulse 20 into each lead drawn out", 0, 0, 0, 1, 8, 20, true},
      {"a pulse 40 into each lead twice as long", 0, 0, 0, 2, 0, 40, false},
      {"a pulse 10 into each lead a third as long", 0, 0, 0, 1 / 3.0, 0, 10, true},
  };
  for (const turbo_format f : turbo_formats()) {
    const std::vector<turbo_program> files = two_files(f);
    const bytes clean = turbo_tape(f, files);
    for (const auto& r : rows) {
      SCOPED_TRACE(std::string(turbo_format_name(f)) + " (format " +
                   std::to_string(static_cast<int>(f)) + "): " + r.what);
      if (f == turbo_format::jetload && !r.jetload) continue;
      std::mt19937 rng(7);
      const auto noise = [&rng] { return static_cast<std::uint8_t>(0x10 + rng() % 0x60); };
      bytes tape;
      for (std::size_t at = 0; at < clean.size();) {
        const bool pause = clean[at] == 0;  // a 0 and three bytes of its length
        const std::size_t next = at + (pause ? 4 : 1);
        tape.insert(tape.end(), clean.begin() + static_cast<long>(at),
                    clean.begin() + static_cast<long>(next));
        at = next;
        if (!pause || at == clean.size()) continue;
        at = std::min(clean.size(), at + r.lost);
        for (std::size_t k = 0; k < r.noise; ++k) tape.push_back(noise());
        for (std::size_t k = 0; k < r.garbled && at < clean.size() && clean[at] != 0; ++k, ++at)
          tape.push_back(noise());
        for (std::size_t k = 0; k < r.later && at < clean.size() && clean[at] != 0; ++k)
          tape.push_back(clean[at++]);
        if ((r.first_off != 0 || r.first_times != 1) && at < clean.size() && clean[at] != 0) {
          const long v = std::lround(clean[at++] * r.first_times) + r.first_off;
          tape.push_back(static_cast<std::uint8_t>(std::clamp(v, 1L, 255L)));
        }
      }
      const auto got = turbo_files(catalogue_of(tap_file(tape)));
      EXPECT_EQ(got.size(), files.size());
      for (std::size_t i = 0; i < std::min(files.size(), got.size()); ++i) {
        EXPECT_EQ(got[i].start, files[i].start);
        EXPECT_EQ(got[i].loader, turbo_format_name(f));
        if (gives_program(f)) {
          EXPECT_TRUE(got[i].program == files[i].data) << "file " << i;
        }
      }
    }
  }
}

}  // namespace

namespace {

// Pulses of a loader no reader knows: bits of two lengths, in no lead.
bytes unknown_loader(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  bytes b(n);
  for (auto& v : b) v = static_cast<std::uint8_t>(rng() % 8 < 5 ? 0x28 : 0x50);
  return b;
}

const bytes pause_bytes = {0, 0x40, 0x0D, 0x03};  // a fifth of a second

// A tape of the ROM's own file, a stretch of a loader no reader knows, and
// a Freeload file, with pauses between: the stretch is a record of its own
// where it lies, with its pulse values, and the share of time the blocks
// explain is what it leaves.
TEST(Turbo, WhatNoReaderKnowsIsSaidWhereItLies) {
  tape_writer rom;
  rom.rom_file(1, "LOADER", bytes(200, 0x33));
  bytes pulses = rom.pulses();
  pulses.insert(pulses.end(), pause_bytes.begin(), pause_bytes.end());
  const std::size_t unknown_at = pulses.size();
  const bytes unknown = unknown_loader(30000, 4);
  pulses.insert(pulses.end(), unknown.begin(), unknown.end());
  const std::vector<turbo_program> game = {{0x1000, program(2000, 5), ""}};
  const bytes freeload = turbo_tape(turbo_format::freeload, game);
  pulses.insert(pulses.end(), freeload.begin(), freeload.end());
  const bytes tape = tap_file(pulses);
  for (const std::size_t piece : {std::size_t{0}, std::size_t{1000}, std::size_t{65536}}) {
    SCOPED_TRACE(piece);
    tape_catalogue c;
    std::vector<catalogue_entry> all;
    for (std::size_t at = 0; at < tape.size(); at += piece ? piece : tape.size()) {
      c.feed(tape.data() + at, std::min(piece ? piece : tape.size(), tape.size() - at));
      for (auto& e : c.take_settled()) all.push_back(std::move(e));
    }
    c.finish();
    for (auto& e : c.take_settled()) all.push_back(std::move(e));
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].loader, "rom");
    EXPECT_EQ(all[1].kind, entry_kind::unrecognised);
    EXPECT_EQ(all[1].offset, unknown_at + TAP_HEADER_SIZE);
    EXPECT_EQ(all[1].length, unknown.size());
    EXPECT_EQ(all[1].pulse_values, (bytes{0x28, 0x50}));
    double units = 0;
    for (const std::uint8_t v : unknown) units += v;
    EXPECT_NEAR(all[1].duration, units * 8 / PAL_CLOCK, 1e-9);
    EXPECT_EQ(all[2].loader, "Freeload");
    EXPECT_TRUE(all[2].program == game[0].data);
    // Everything but the unknown loader's pulses and the pauses is explained.
    double time = 0;
    for (std::size_t i = 0; i < pulses.size(); ++i) {
      if (pulses[i] == 0) {
        i += 3;
        continue;
      }
      time += pulses[i] * 8;
    }
    EXPECT_NEAR(c.coverage(), 1 - units * 8 / time, 0.003);
  }
}

// Noise gives no file whose checksum holds and that is longer than a few
// bytes, and comes out as one stretch, however the pulses are spread.
TEST(Turbo, NoFilesFromNoise) {
  std::mt19937 rng(11);
  for (const int kind : {0, 1, 2}) {
    SCOPED_TRACE(kind);
    bytes noise(32u << 20);
    for (auto& v : noise) {
      const std::uint32_t r = rng();
      // Any value; two values as turbo bits are; values of the ROM's classes.
      v = static_cast<std::uint8_t>(kind == 0   ? r
                                    : kind == 1 ? (r & 1 ? 0x24 : 0x42) + (r >> 8) % 5
                                                : 40 + (r >> 4) % 56);
    }
    tape_catalogue c;
    std::size_t stretches = 0;
    const auto look = [&](const std::vector<catalogue_entry>& got) {
      for (const catalogue_entry& e : got) {
        stretches += e.kind == entry_kind::unrecognised;
        EXPECT_FALSE(e.program_check == copy_check::ok && e.program.size() > 256)
            << e.loader << " of " << e.program.size() << " bytes at " << e.offset;
      }
    };
    for (std::size_t at = 0; at < noise.size(); at += 1 << 20) {
      c.feed(noise.data() + at, 1 << 20);
      look(c.take_settled());
    }
    c.finish();
    look(c.take_settled());
    EXPECT_EQ(stretches, 1u);
    EXPECT_LT(c.coverage(), 0.01);
  }
}

}  // namespace

namespace {

// Every field of two catalogues' entries alike.
void expect_same(const std::vector<catalogue_entry>& a, const std::vector<catalogue_entry>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(a[i].kind, b[i].kind);
    EXPECT_EQ(a[i].loader, b[i].loader);
    EXPECT_EQ(a[i].number, b[i].number);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(a[i].name), 16),
              std::string(reinterpret_cast<const char*>(b[i].name), 16));
    EXPECT_EQ(a[i].start, b[i].start);
    EXPECT_EQ(a[i].end, b[i].end);
    EXPECT_EQ(a[i].offset, b[i].offset);
    EXPECT_EQ(a[i].seconds, b[i].seconds);
    EXPECT_EQ(a[i].header, b[i].header);
    EXPECT_EQ(a[i].program_check, b[i].program_check);
    EXPECT_TRUE(a[i].program == b[i].program);
    EXPECT_EQ(a[i].length, b[i].length);
    EXPECT_EQ(a[i].duration, b[i].duration);
    EXPECT_EQ(a[i].pulse_values, b[i].pulse_values);
  }
}

// Where the turbo reader crosses stretches of pulses at once (with SSE2 or
// without), it finds what stepping through every pulse finds, to the last
// field and the coverage: on every format, worn and off speed, on ROM tapes
// whose pilots wobble, on noise, and fed in pieces of any size.
TEST(Turbo, CrossingAtOnceIsSteppingThrough) {
  std::vector<std::pair<std::string, bytes>> tapes;
  for (const turbo_format f : turbo_formats()) {
    if (f == turbo_format::seuck) continue;  // long, and a layout like the rest
    turbo_knobs worn;
    worn.wobble = 3;
    worn.speed = 1.03;
    tapes.emplace_back(turbo_format_name(f), tap_file(turbo_tape(f, two_files(f))));
    tapes.emplace_back(std::string(turbo_format_name(f)) + ", worn",
                       tap_file(turbo_tape(f, two_files(f), worn)));
    turbo_knobs dropout;
    dropout.dropout = 301;
    tapes.emplace_back(std::string(turbo_format_name(f)) + ", a dropout",
                       tap_file(turbo_tape(f, two_files(f), dropout)));
  }
  // A block broken off in its data and another loader's lead straight
  // after, no pause between: tries of the new lead, bit pilots among them,
  // go on beside the broken block's try.
  const std::vector<turbo_format> all = turbo_formats();
  for (std::size_t k = 0; k < all.size(); ++k) {
    const bytes broken = turbo_tape(all[k], two_files(all[k]));
    const bytes cut(broken.begin(),
                    broken.begin() + static_cast<long>(turbo_data_starts()[0] + 40));
    for (const turbo_format g :
         {all[(k + 1) % all.size()], turbo_format::pavloda, turbo_format::flashload}) {
      bytes pulses = cut;
      const bytes after = turbo_tape(g, two_files(g));
      pulses.insert(pulses.end(), after.begin() + 4, after.end());  // its first pause left out
      tapes.emplace_back(
          std::string(turbo_format_name(all[k])) + " cut, then " + turbo_format_name(g),
          tap_file(pulses));
    }
  }
  tape_writer rom(pulse_values::spread(), 9);
  rom.rom_file(1, "WOBBLY", program(3000, 7)).rom_file(1, "AGAIN", program(500, 8));
  tapes.emplace_back("a ROM tape whose pulses wobble all they may", tap_file(rom.pulses()));
  // ROM files straight after pulses of no loader, with no pause: their
  // leads begin at every place among 64 pulses.
  bytes joined;
  std::mt19937 rng(5);
  for (int k = 0; k < 64; ++k) {
    for (int n = 0; n < 100 + k; ++n)
      joined.push_back(static_cast<std::uint8_t>(0x60 + rng() % 64));
    tape_writer w(pulse_values::spread(), static_cast<std::uint32_t>(k));
    w.rom_file(1, "JOINED", program(100, static_cast<std::uint32_t>(k)));
    const bytes file = w.pulses();
    joined.insert(joined.end(), file.begin(), file.end());
  }
  tapes.emplace_back("ROM files straight after pulses of no loader", tap_file(joined));
  bytes noise(1 << 18);
  for (auto& v : noise) v = static_cast<std::uint8_t>(rng() % 3 ? 40 + rng() % 56 : rng());
  tapes.emplace_back("noise", noise);
  for (const auto& named : tapes) {
    const bytes& tape = named.second;  // a name the lambdas below may take
    SCOPED_TRACE(named.first);
    const auto stepped = [&](std::size_t piece) {
      double coverage = 0;
      auto all = catalogue_of(tape, piece, class_path::stepped, &coverage);
      return std::make_pair(std::move(all), coverage);
    };
    const auto want = stepped(tape.size());
    // The turbo reader's own findings: its blocks' stretches, and the tones,
    // to the cycle.
    const auto found = [&](class_path path, std::size_t piece) {
      turbo_reader r(path);
      turbo_found f;
      for (std::size_t at = 0; at < tape.size(); at += piece)
        r.read(tape.data() + at, std::min(piece, tape.size() - at), f);
      r.finish(f);
      std::vector<std::uint64_t> flat;
      for (const auto* spans : {&f.spans, &f.tones}) {
        for (const turbo_span& s : *spans)
          flat.insert(flat.end(), {s.begin, s.finish, s.cycles_begin, s.cycles_finish});
        flat.push_back(UINT64_MAX);
      }
      return flat;
    };
    const auto spans = found(class_path::stepped, tape.size());
    EXPECT_EQ(found(class_path::fastest, tape.size()), spans);
    EXPECT_EQ(found(class_path::portable, 777), spans);
    for (const class_path path : {class_path::fastest, class_path::portable}) {
      for (const std::size_t piece : {tape.size(), std::size_t{100}, std::size_t{4099}}) {
        double coverage = 0;
        const auto all = catalogue_of(tape, piece, path, &coverage);
        SCOPED_TRACE(piece);
        expect_same(all, want.first);
        EXPECT_EQ(coverage, want.second);
      }
    }
  }
}

}  // namespace
