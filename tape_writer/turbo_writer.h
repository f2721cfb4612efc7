// Lays down tapes in the turbo loaders' formats, each as its format notes
// describe it: a lead, a sync, a header, the data and its check, and
// between files a pause; with knobs for the deck's speed, a worn tape's
// wobble and damage.
#ifndef BRIVANE_TURBO_WRITER_H
#define BRIVANE_TURBO_WRITER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tape_writer.h"

enum class turbo_format {
  freeload,
  hitload,
  ocean_new_f1,
  ocean_new_f2,
  novaload,
  novaload_special,
  ocean_imagine,
  cyberload_f1,
  cyberload_f2,
  cyberload_f3,
  cyberload_f4,
  bleepload,
  bleepload_special,
  burner,
  us_gold,
  mega_save_t1,
  mega_save_t2,
  mega_save_t3,
  turbotape,
  anirog,
  pavloda,
  virgin,
  hi_tec,
  wildload,
  flashload,
  jetload,
  firebird_t1,
  firebird_t2,
  accolade,
  accolade_ea,
  seuck,
  super_pavloda_t1,  // its two sets of pulse lengths
  super_pavloda_t2,
};

/// Every format, in order.
std::vector<turbo_format> turbo_formats();

/// The name a catalogue gives a file of the format.
const char* turbo_format_name(turbo_format f);

/// A file for a turbo tape: where it loads, its bytes, its name where the
/// format keeps one.
struct turbo_program {
  std::uint16_t start = 0x0801;
  bytes data;
  std::string name;
};

struct turbo_knobs {
  double speed = 1;  ///< every pulse this many times as long (a slow deck above 1)
  int wobble = 0;    ///< each pulse off by up to this many units, at random
  std::uint32_t seed = 1;
  bool bad_check = false;  ///< the first file's checksum written wrong
  /// A pulse of each file's data made one of no class (a dropout), this
  /// far into it; 0: none.
  std::size_t dropout = 0;
  /// Super Pavloda's 00 in its second state written as two short pulses,
  /// which last as long as the long one that is written otherwise.
  bool two_shorts = false;
};

/// The pulses of a tape holding files in the format, each behind its lead,
/// a pause before each and after the last, as a version 1 TAP holds them (a
/// pause is 0 and three bytes of its length). For Burner, the boot loader's
/// ROM header that names the lead comes first.
bytes turbo_tape(turbo_format f, const std::vector<turbo_program>& files,
                 const turbo_knobs& k = {});

/// n bytes from a generator seeded with seed: a program no loader could guess.
bytes random_bytes(std::size_t n, std::uint32_t seed);

/// Files as the format would carry them: two where it can (the first named
/// "FIRST FILE", the second "SECOND", where it keeps names), of the sizes and
/// at the addresses its blocks allow; one for Cyberload F2 and SEUCK.
std::vector<turbo_program> turbo_sample_files(turbo_format f);

/// The README's turbo example: a boot loader saved by the ROM, then a game
/// as its loaders save one: a Freeload file, a Novaload file named for its
/// level, a U.S. Gold file of high scores, and between them a stretch of a
/// loader no reader knows.
bytes example_turbo_tape();

/// Where in the pulses of turbo_tape's last tape each file's first data
/// byte begins (after its header fields), for damage at a chosen place.
const std::vector<std::size_t>& turbo_data_starts();

#endif
