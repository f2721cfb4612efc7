// brivane-tap's command line: options and arguments, its usage text, and
// the exit status of each way a run can end.
#ifndef BRIVANE_TAP_OPTIONS_H
#define BRIVANE_TAP_OPTIONS_H

#include <string>

#include "tap/tap_file.h"

/// How a run of brivane-tap ends, as its exit status.
enum tap_status : int {
  TAP_OK = 0,
  TAP_USAGE = 2,          ///< the command line is wrong
  TAP_CANNOT_OPEN = 3,    ///< the recording cannot be opened
  TAP_NOT_READ = 4,       ///< it is not a recording brivane-tap reads
  TAP_NO_SIGNAL = 5,      ///< read to its end, it holds no tape signal
  TAP_CANNOT_WRITE = 6,   ///< the TAP file cannot be written
  TAP_CUT_SHORT = 7,      ///< it ends early or is damaged part-way: the TAP holds what came before
  TAP_INTERRUPTED = 130,  ///< stopped by Ctrl-C (128 and SIGINT's number, as a shell says it)
};

struct tap_options {
  machine for_machine = machine::c64_pal;
  std::string recording;  ///< "-": standard input
  std::string tape;       ///< "-": standard output
  bool help = false, version = false;
  std::string error;  ///< what is wrong with the command line; empty when nothing is
};

/// Reads brivane-tap's arguments (without the program name). TAPE defaults
/// to RECORDING's name with its extension, if any, replaced by .tap; to
/// standard output when RECORDING is standard input.
tap_options parse_tap_options(int argc, const char* const* argv);

/// The usage text, for --help and after a wrong command line.
std::string tap_usage();

#endif
