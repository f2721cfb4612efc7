// How the fuzz targets read their input: four knob bytes, then the tape.
#ifndef BRIVANE_FUZZ_FUZZ_INPUT_H
#define BRIVANE_FUZZ_FUZZ_INPUT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

/// Stops the run, so that the fuzzer keeps the input, when an invariant fails.
#define FUZZ_CHECK(cond)                                                            \
  do {                                                                              \
    if (!(cond)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)

struct fuzz_input {
  bool extract_all, escape_codes;
  std::size_t read_size;  // most bytes one read hands over, 1 to 65536
  bool read_fails;        // reading fails at the end of the tape instead of ending
  const std::uint8_t* tape;
  std::size_t tape_size;
};

inline bool parse_fuzz_input(const std::uint8_t* data, std::size_t size, fuzz_input& in) {
  if (size < 4) return false;
  in.extract_all = (data[0] & 1) != 0;
  in.escape_codes = ((data[0] >> 1) & 1) != 0;
  in.read_fails = (data[0] >> 2) & 1;
  in.read_size = 1 + (data[1] | static_cast<std::size_t>(data[2]) << 8);
  in.tape = data + 4;
  in.tape_size = size - 4;
  return true;
}

#endif
