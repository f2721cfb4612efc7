// brivane-ls as a whole run, apart from the process: the paths walked into
// tapes (files, folders, archives' members), each tape read and catalogued,
// tapes read side by side while their lines go out in the order given,
// programs written as PRG files, and every message and exit status.
#ifndef BRIVANE_LS_COMMAND_H
#define BRIVANE_LS_COMMAND_H

#include <string>

#include "scan/tape_scan.h"

/// The streams one run of brivane-ls writes to.
class ls_host {
 public:
  virtual ~ls_host() = default;
  virtual text_sink& out() = 0;
  virtual text_sink& err() = 0;
  /// Whether everything written to out() went out.
  virtual bool out_ok() = 0;
  /// Whether standard error is a terminal, where progress is shown.
  virtual bool terminal() = 0;
  /// The cores the machine has.
  virtual unsigned cores() = 0;
};

/// One whole run: arguments (without the program name). Returns the exit
/// status (ls_options.h).
int run_brivane_ls(int argc, const char* const* argv, ls_host& sys);

#endif
