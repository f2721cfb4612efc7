// Small helpers shared by the tests that run tapes through the decoder.
#ifndef BRIVANE_TESTS_DECODE_HELPERS_H
#define BRIVANE_TESTS_DECODE_HELPERS_H

#include <string>
#include <vector>

#include "decoder/tape_decoder.h"
#include "tape_writer.h"

/// Every name decode_pulse hands over for the tape, fed one pulse at a time,
/// as the 16 raw bytes.
inline std::vector<std::string> names_in(const bytes& tape, tape_decoder* end = nullptr) {
  tape_decoder d{};
  std::uint8_t buf[17] = {};
  std::vector<std::string> names;
  for (const std::uint8_t p : tape)
    if (decode_pulse(d, p, buf, 0)) names.emplace_back(reinterpret_cast<char*>(buf), 16);
  if (end) *end = d;
  return names;
}

/// The same through the bulk scan, the tape handed over whole.
inline std::vector<std::string> names_in_bulk(const bytes& tape) {
  tape_decoder d{};
  std::uint8_t buf[17] = {};
  std::vector<std::string> names;
  for (std::size_t at = 0, used = 0; at < tape.size(); at += used)
    if (scan_pulses(d, tape.data() + at, tape.size() - at, buf, &used))
      names.emplace_back(reinterpret_cast<char*>(buf), 16);
  return names;
}

/// A name as the decoder hands it over: padded with spaces to 16 bytes.
inline std::string padded(std::string name) {
  name.resize(16, ' ');
  return name;
}

/// A tape holding one header block after a pilot of the given length.
inline bytes one_header(std::string_view name, std::size_t pilot = 5001, std::uint8_t type = 1,
                        pulse_values values = {}) {
  tape_writer w(values);
  return w.pilot(pilot).block(header_payload(type, name)).pulses();
}

#endif
