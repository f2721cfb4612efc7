// The command-line logic of brivane, apart from the process: options, the
// scan loop and the run as a whole, behind seams for reading and writing.
#ifndef BRIVANE_BRIVANE_H
#define BRIVANE_BRIVANE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "decoder/tape_decoder.h"

/// What the command line asks for.
struct options {
  int extract_all = 0;         ///< -a: every name, numbered
  int escape_codes = 0;        ///< -e: control codes by name
  const char* program = "";    ///< the program name for the usage text
  const char* path = nullptr;  ///< the tape to read; null when none was given
};

/// Reads the options: arguments starting with '-' are judged by their second
/// character alone; the first argument that does not start with '-' is the
/// path and everything after it is ignored.
options parse_options(int argc, const char* const* argv);

/// Where the pulses come from.
class pulse_source {
 public:
  virtual ~pulse_source() = default;
  /// Fills up to size bytes of buf; returns the count, 0 at the end of the
  /// tape, or a negative value when reading failed.
  virtual std::ptrdiff_t read(std::uint8_t* buf, std::size_t size) = 0;
};

/// Where text goes.
class text_sink {
 public:
  virtual ~text_sink() = default;
  virtual void write(std::string_view bytes) = 0;
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

/// The first line of every run.
constexpr std::string_view BANNER = "Brivane, rel 1.1\n";

/// Bytes asked of the source per read: small reads at first, so that a small
/// tape touches little memory and starts fast, larger ones once a tape proves
/// long, into a buffer aligned to a page. Chosen by measurement
/// (bench/run_tape_bench.sh, bench/startup.py).
constexpr std::size_t READ_BLOCK_SIZE = std::size_t{256} * 1024;
constexpr std::size_t FIRST_READ_SIZE = std::size_t{64} * 1024;
constexpr std::size_t FIRST_READS_UP_TO = std::size_t{1024} * 1024;
constexpr std::size_t READ_BLOCK_ALIGN = 4096;

void print_usage(const char* program, text_sink& out);

/// Trims name_buf in place and writes the rendered name.
void print_filename(std::uint8_t* name_buf, int escape, text_sink& out);

/// One tape scanned as it arrives in pieces: the decoder, the name count and
/// whether the scan is over carry from one piece to the next, so that any
/// split of a tape gives the same result lines as the whole.
class tape_scan {
 public:
  tape_scan(int extract_all, int escape_codes)
      : extract_all_(extract_all), escape_codes_(escape_codes) {}

  /// Feeds the next count pulses and writes a result line for each name they
  /// complete. Returns false once the scan wants no more pulses (without -a,
  /// after the first name); later calls then do nothing.
  bool feed(const std::uint8_t* pulses, std::size_t count, text_sink& out);
  bool done() const { return done_; }
  int found_count() const { return found_count_; }

 private:
  void write_result(text_sink& out);

  tape_decoder dec_{};
  std::uint8_t name_buf_[NAME_LENGTH + 1] = {};
  int found_count_ = 0;
  bool done_ = false;
  int extract_all_, escape_codes_;
};

/// How a scan ended.
enum class scan_end { finished, read_error };

/// Reads the tape from in, in blocks, through a tape_scan: a result line for
/// the first name found, or for every name when opts.extract_all is set.
scan_end scan_tape(pulse_source& in, const options& opts, text_sink& out);

/// One whole run: banner, options, scan, messages. Returns the exit status.
int run_brivane(int argc, const char* const* argv, host& sys);

#endif
