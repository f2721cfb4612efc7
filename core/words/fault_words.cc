// The words for each fault, written once.
#include "words/fault_words.h"

#include <string>

namespace {

// A count as people write it: 44,100.
std::string grouped(std::uint64_t n) {
  std::string digits = std::to_string(n);
  for (std::size_t i = digits.size(); i > 3;) {
    i -= 3;
    digits.insert(i, ",");
  }
  return digits;
}

// A whole number of Hz as people write it: 44,100 Hz.
std::string hz(double rate) {
  return grouped(static_cast<std::uint64_t>(rate < 0 ? 0 : rate + 0.5)) + " Hz";
}

}  // namespace

const char* const CUT_SHORT_WORDS =
    "the recording is cut short or damaged part-way; the TAP file holds what came before";

const char* const UNDECODABLE_WORDS = "its sound could not be decoded: it is damaged";

std::string recording_fault_words(recording_fault fault, double rate) {
  switch (fault) {
    case recording_fault::not_wav:
      return "it is not a WAV file";
    case recording_fault::cut_short:
      return "the file is cut short: it ends inside its header";
    case recording_fault::unsupported:
      return "its sound is encoded in a way brivane does not read (only plain PCM, float, "
             "mu-law and A-law samples, up to 8 channels)";
    case recording_fault::rate_out_of_range:
      return "its sample rate, " + hz(rate) + ", is outside what brivane reads (" + hz(MIN_RATE) +
             " to " + hz(MAX_RATE) + ")";
    case recording_fault::no_tape_signal:
      return "there is no tape signal in it";
    case recording_fault::none:
      break;
  }
  return "";
}

std::string not_a_recording_words(const sniffed& s) {
  if (s.format == sound_format::aiff || s.format == sound_format::rf64 ||
      s.format == sound_format::w64)
    return std::string("it is ") + s.what +
           ": brivane-tap reads it, the page and the module do not";
  std::string words = "it is not a recording brivane reads";
  if (*s.what) words += std::string(": it is ") + s.what;
  return words;
}

std::string tap_cut_short_words(std::uint64_t holds, std::uint64_t gives) {
  return "the file is cut short: it holds " + grouped(holds) + " of the " + grouped(gives) +
         " bytes of pulses its header gives";
}

std::string inflate_fault_words(inflate_fault fault) {
  switch (fault) {
    case inflate_fault::damaged:
      return "its compressed data is damaged, so it could not be inflated";
    case inflate_fault::cut_short:
      return "its compressed data is cut short, so it could not be inflated to its end";
    case inflate_fault::not_gzip:
      return "it is not a gzip file";
    case inflate_fault::unsupported:
      return "it is gzipped in a way brivane does not read (only deflate is read)";
    case inflate_fault::trailing:
      return "it holds other data after its gzipped tape";
    case inflate_fault::check_failed:
      return "it inflated to other data than it records (its CRC-32 or size differs): the data "
             "is damaged";
    case inflate_fault::none:
      break;
  }
  return "";
}
