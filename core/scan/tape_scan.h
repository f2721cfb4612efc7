// A tape scanned as it arrives, in pieces of any size, into the result lines
// the program prints: what the command line and the page both run.
#ifndef BRIVANE_TAPE_SCAN_H
#define BRIVANE_TAPE_SCAN_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "decoder/tape_decoder.h"

/// The first line of every run.
constexpr std::string_view BANNER = "Brivane, rel 1.1\n";

/// What a scan reports.
struct scan_options {
  bool extract_all = false;   ///< -a: every name, numbered, not just the first
  bool escape_codes = false;  ///< -e: control codes by name
};

/// Where text goes.
class text_sink {
 public:
  virtual ~text_sink() = default;
  virtual void write(std::string_view bytes) = 0;
};

/// Text kept in memory.
class string_sink : public text_sink {
 public:
  void write(std::string_view bytes) override { text.append(bytes); }
  std::string text;
};

/// A name as a result line shows it: its number in the listing (1 for the
/// one line without -a) and the bytes shown between the quotes.
struct found_name {
  int number;
  std::string shown;
};

/// Trims name_buf in place and writes the rendered name.
void print_filename(std::uint8_t* name_buf, bool escape, text_sink& out);

/// The result line for the number'th name found, name_buf its 16 bytes and
/// a 0 after them (trimmed in place): "FOUND (003): \"NAME\"\n" with -a,
/// "FOUND: \"NAME\"\n" without.
std::string result_line(int number, std::uint8_t* name_buf, scan_options opts);

/// Exactly what a scan with opts writes for a tape whose names, as the
/// decoder found them, are names (16 bytes each, one after another): the
/// banner, and the first name's line, or with -a every name's.
std::string listing(const std::string& names, scan_options opts);

/// One tape scanned as it arrives in pieces: the decoder, the name count and
/// whether the scan is over carry from one piece to the next, so that any
/// split of a tape gives the same result lines as the whole.
class tape_scan {
 public:
  /// With found, each name reported is also added there, as data.
  explicit tape_scan(scan_options opts, std::vector<found_name>* found = nullptr)
      : opts_(opts), found_(found) {}

  /// Feeds the next count pulses and writes a result line for each name they
  /// complete. Returns false once the scan wants no more pulses (without -a,
  /// after the first name); later calls then do nothing.
  bool feed(const std::uint8_t* pulses, std::size_t count, text_sink& out);
  /// Names found so far.
  int found_count() const { return found_count_; }

 private:
  void write_result(text_sink& out);

  tape_decoder dec_{};
  std::uint8_t name_buf_[NAME_LENGTH + 1] = {};
  int found_count_ = 0;
  bool done_ = false;
  scan_options opts_;
  std::vector<found_name>* found_;
};

#endif
