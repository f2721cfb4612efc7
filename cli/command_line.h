// The command line of brivane, apart from the process: options, usage, the
// read loop and the run as a whole, behind seams for the file system and the
// standard streams.
#ifndef BRIVANE_COMMAND_LINE_H
#define BRIVANE_COMMAND_LINE_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include "scan/tape_scan.h"

/// What the command line asks for.
struct options {
  scan_options scan;
  const char* program = "";    ///< the program name for the usage text
  const char* path = nullptr;  ///< the tape to read; null when none was given
};

/// Reads the options: arguments starting with '-' are judged by their second
/// character alone; the first argument that does not start with '-' is the
/// path and everything after it is ignored.
options parse_options(int argc, const char* const* argv);

void print_usage(const char* program, text_sink& out);

/// Where the pulses come from.
class pulse_source {
 public:
  virtual ~pulse_source() = default;
  /// Fills up to size bytes of buf with what has arrived, waiting only while
  /// nothing has; returns the count, 0 at the end of the tape, or a negative
  /// value when reading failed.
  virtual std::ptrdiff_t read(std::uint8_t* buf, std::size_t size) = 0;
};

/// The outside world as one run sees it.
class host {
 public:
  virtual ~host() = default;
  /// Opens the tape for reading; null when it cannot be read as a file.
  virtual std::unique_ptr<pulse_source> open(const char* path) = 0;
  virtual text_sink& out() = 0;
  virtual text_sink& err() = 0;
  /// Pushes out what is still buffered for out(); true if any of it was lost.
  virtual bool output_failed() = 0;
};

/// How a scan ended.
enum class scan_end { finished, read_error };

/// Reads the tape from in, as it arrives, through a tape_scan.
scan_end scan_tape(pulse_source& in, scan_options opts, text_sink& out);

/// One whole run: banner, options, scan, messages. Returns the exit status.
int run_brivane(int argc, const char* const* argv, host& sys);

#endif
