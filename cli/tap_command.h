// brivane-tap as a whole run, apart from the process: options, the
// recording read once from its start through the one source its format
// calls for, the TAP written as pulses come, and every message and exit
// status, behind seams for the files and the streams.
#ifndef BRIVANE_TAP_COMMAND_H
#define BRIVANE_TAP_COMMAND_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "scan/tape_scan.h"
#include "tap/tap_file.h"

/// A recording opened for reading.
class byte_input {
 public:
  virtual ~byte_input() = default;
  /// Fills up to size bytes of buf, waiting only while nothing has arrived;
  /// returns the count, 0 at the end, or a negative value when reading
  /// failed (error() then says why).
  virtual std::ptrdiff_t read(std::uint8_t* buf, std::size_t size) = 0;
  /// Whether it can be read from any place (a file; not a pipe).
  virtual bool seekable() const = 0;
  /// Where the next read starts; false when it cannot be moved there.
  virtual bool seek(std::uint64_t at) = 0;
  /// Its size in bytes, where it is seekable.
  virtual std::uint64_t size() const = 0;
  /// Why the last read or seek failed, in words ("Input/output error").
  virtual std::string error() const = 0;
};

/// The TAP file being written. It is opened by the first write, so that a
/// recording that gives no TAP leaves no file.
class tap_output {
 public:
  virtual ~tap_output() = default;
  /// Writes the next bytes, the header first; false when it cannot (error()
  /// says why).
  virtual bool write(const std::uint8_t* bytes, std::size_t size) = 0;
  /// The TAP is whole: header is written over the first one where the
  /// output can be gone back to, and the file takes its name. False when it
  /// cannot.
  virtual bool finish(const std::vector<std::uint8_t>& header) = 0;
  /// Nothing is kept: no file of that name, nor any part of it beside.
  virtual void abandon() = 0;
  virtual std::string error() const = 0;
};

/// The outside world as one run of brivane-tap sees it.
class tap_host {
 public:
  virtual ~tap_host() = default;
  /// Opens the recording ("-": standard input); null, with why in words
  /// ("No such file or directory", "it is a folder"), when it cannot.
  virtual std::unique_ptr<byte_input> open_recording(const std::string& path, std::string& why) = 0;
  /// The TAP to write ("-": standard output).
  virtual std::unique_ptr<tap_output> tap_file(const std::string& path) = 0;
  /// Whether the two paths name one file (through a link, or spelled
  /// otherwise), so that writing the one would destroy the other.
  virtual bool same_file(const std::string& a, const std::string& b) = 0;
  virtual text_sink& out() = 0;
  virtual text_sink& err() = 0;
  /// Pushes out what is still buffered for out(); false if any of it was lost.
  virtual bool flush_out() = 0;
  /// Whether the run has been interrupted (Ctrl-C): reading stops.
  virtual bool interrupted() { return false; }
};

/// What became of a recording made a TAP: an exit status (tap_options.h)
/// and, where it is not 0, the words that say why, naming the recording
/// and the TAP ("NAME: it holds no tape signal", "cannot write TAPE: ...").
struct tap_outcome {
  int status = 0;
  std::string message;
};

/// Reads the recording in (name: what messages call it) from its start and
/// writes the TAP made from it, timed for machine m, to tap (tape_name).
/// Once stop() says so, reading stops: a recording read from a pipe or a
/// device ends there, a file's TAP is given up.
tap_outcome make_tap(byte_input& in, const std::string& name, machine m, tap_output& tap,
                     const std::string& tape_name, const std::function<bool()>& stop = {});

/// One whole run: arguments (without the program name), conversion,
/// messages. Returns the exit status (tap_options.h).
int run_brivane_tap(int argc, const char* const* argv, tap_host& sys);

#endif
