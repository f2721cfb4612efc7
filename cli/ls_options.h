// brivane-ls's command line: options and paths, its usage text and its exit
// statuses.
#ifndef BRIVANE_LS_OPTIONS_H
#define BRIVANE_LS_OPTIONS_H

#include <string>
#include <vector>

#include "tap/tap_file.h"

/// How a run of brivane-ls ends, as its exit status.
enum ls_status : int {
  LS_OK = 0,      ///< every path was read
  LS_FAILED = 1,  ///< some path could not be read, or some output not written
  LS_USAGE = 2,   ///< the command line is wrong
};

/// How the records are written.
enum class ls_format { text, csv, json };

struct ls_options {
  ls_format format = ls_format::text;
  std::string prg_dir;  ///< where programs go as PRG files; empty: nowhere
  machine for_machine = machine::c64_pal;
  unsigned jobs = 0;  ///< tapes read side by side; 0: one for each core
  bool all_blocks = false;
  std::vector<std::string> paths;
  bool help = false, version = false;
  std::string error;  ///< what is wrong with the command line; empty when nothing is
};

/// Reads brivane-ls's arguments (without the program name).
ls_options parse_ls_options(int argc, const char* const* argv);

/// The usage text, for --help and after a wrong command line.
std::string ls_usage();

#endif
