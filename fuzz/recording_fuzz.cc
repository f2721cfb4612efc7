// The recording converter over arbitrary files: it never reads or writes out
// of bounds (the sanitizers watch), and gives the same pulses and the same
// fault, or none, however the file is split.
#include <vector>

#include "fuzz_input.h"
#include "recording/recording.h"

namespace {

struct result {
  std::vector<std::uint8_t> pulses;
  recording_fault fault;
};

result convert(const std::uint8_t* data, std::size_t size, std::size_t piece) {
  recording_converter c;
  result r;
  for (std::size_t at = 0; at < size; at += piece)
    c.feed(data + at, std::min(piece, size - at), r.pulses);
  c.finish(r.pulses);
  r.fault = c.fault();
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t piece = 1 + data[0] % 61;  // the first byte sets the pieces' size
  const result whole = convert(data + 1, size - 1, size);
  const result split = convert(data + 1, size - 1, piece);
  FUZZ_CHECK(whole.pulses == split.pulses);
  FUZZ_CHECK(whole.fault == split.fault);
  return 0;
}
