// What brivane-ls writes for each tape, apart from where it goes: its
// records as aligned lines with a closing verdict, as CSV lines (the core's,
// as the page saves them), or as JSON Lines; and the name of each program's
// PRG file.
#ifndef BRIVANE_LS_REPORT_H
#define BRIVANE_LS_REPORT_H

#include <string>
#include <vector>

#include "catalogue/tape_catalogue.h"
#include "ls_options.h"

/// A tape as read: its path as the output names it ("games.zip/Arcade/x.tap"),
/// its records in tape order, the share of its time its blocks explain, and
/// for a TAP file cut short, what it holds of what its header gives.
struct tape_report {
  std::string path;
  std::vector<catalogue_entry> records;
  double coverage = 1;
  tap_shortfall cut{};
};

/// A tape's lines, built a record at a time as the catalogue settles them:
/// only what the lines need is kept, so that a tape of a hundred thousand
/// files takes a few bytes a file.
class tape_lines {
 public:
  tape_lines(ls_format f, std::string path);
  void add(const catalogue_entry& e);
  /// Every line, and for a person the verdict last, for a tape whose
  /// blocks explain that share of its time (and that may be cut short).
  std::string finish(double coverage, tap_shortfall cut = {});
  /// The verdict, without the path.
  std::string verdict(double coverage, tap_shortfall cut = {}) const;

 private:
  ls_format format_;
  std::string path_, shown_path_;
  std::string done_;               // the lines of CSV or JSON so far
  std::vector<std::string> rows_;  // for a person: each row's cells, each ended by a 0
  std::vector<std::size_t> widths_;
  std::size_t files_ = 0, failing_ = 0, stretches_ = 0;
};

/// What goes before every tape's lines: the CSV's first line, or nothing.
std::string report_start(ls_format f);

/// A tape's lines in the format: for a person, one line a record, its
/// columns aligned, then a verdict ("demo.tap: 4 files, all load.").
std::string report_tape(ls_format f, const tape_report& t);

/// The verdict on a tape, without its path: "4 files, all load.", "5 files,
/// 1 would not load; its blocks explain 94% of its time.", "1 file, which
/// loads; the file is cut short: it holds 6,000 of the 12,000 bytes of
/// pulses its header gives."
std::string verdict(const tape_report& t);

/// The name of a record's program as a PRG file, made safe for any file
/// system: the tape's file name, the record's number in the listing (or its
/// loader) and its name as shown without -e ("demo.tap-001-GAME.prg").
std::string prg_name(const tape_report& t, const catalogue_entry& e);

/// A record's program as a PRG file: its start address, low byte first,
/// then its bytes; empty where it has none to write.
std::vector<std::uint8_t> prg_bytes(const catalogue_entry& e);

#endif
