// Writes the seed corpus for the fuzz targets:
//   make_fuzz_corpus DIR [RECORDINGS_DIR [DEFLATED_DIR [TURBO_DIR]]]
// Each seed is four knob bytes (see fuzz_input.h) and a tape from the tape
// writer, cut short where the tape is long, since pilots dominate. The
// recording seeds are a byte for the size of pieces and a short recording;
// the deflated ones a byte for the wrapping and pieces, and a tape deflated
// or gzipped by zlib in each of its ways; the turbo ones a tape of each
// turbo format the catalogue reads, with small files.
#include <zlib.h>

#include <cstdio>
#include <string>

#include "recording_writer.h"
#include "tape_writer.h"
#include "turbo_writer.h"
#include "zlib_deflate.h"

namespace {

bool put(const std::string& dir, const char* name, std::uint8_t knobs, std::size_t read_size,
         bytes tape) {
  if (tape.size() > 12000) tape.resize(12000);
  tape.insert(tape.begin(), {knobs, static_cast<std::uint8_t>(read_size - 1),
                             static_cast<std::uint8_t>((read_size - 1) >> 8), 0});
  std::FILE* f = std::fopen((dir + "/" + name).c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(tape.data(), 1, tape.size(), f) == tape.size();
  return std::fclose(f) == 0 && ok;
}

bytes header(std::string_view name, std::size_t pilot = 5001, std::uint8_t type = 1) {
  return tape_writer().pilot(pilot).block(header_payload(type, name)).pulses();
}

}  // namespace

namespace {

// A short recording of a few pulses, under 16 KiB.
bool put_recording(const std::string& dir, const char* name, recording_knobs k) {
  k.rate = 8000;
  k.silence = 0.01;
  std::vector<std::uint8_t> wav =
      record_tape(tape_writer().pilot(60).raw({86, 66, 48, 66, 66, 48}).pulses(), k);
  wav.insert(wav.begin(), 6);
  std::FILE* f = std::fopen((dir + "/" + name).c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(wav.data(), 1, wav.size(), f) == wav.size();
  return std::fclose(f) == 0 && ok;
}

bool put_recordings(const std::string& dir) {
  recording_knobs stereo, floats, stopped;
  stereo.channels = 2;
  stereo.format = sample_format::u8;
  stereo.extra_chunks = true;
  floats.format = sample_format::f32;
  floats.extensible = true;
  stopped.format = sample_format::s24;
  stopped.data_size = 0;
  return put_recording(dir, "mono-16", {}) && put_recording(dir, "stereo-8-chunks", stereo) &&
         put_recording(dir, "float-extensible", floats) && put_recording(dir, "24-size-0", stopped);
}

}  // namespace

namespace {

bool put_deflated(const std::string& dir) {
  const bytes tape = tape_writer(pulse_values::spread(), 6)
                         .pilot(3000)
                         .block(header_payload(1, "DEFLATED"))
                         .pulses();
  struct way {
    const char* name;
    int level, strategy, window_bits;
  } const ways[] = {{"stored", 0, Z_DEFAULT_STRATEGY, -15},   {"fast", 1, Z_DEFAULT_STRATEGY, -15},
                    {"best", 9, Z_DEFAULT_STRATEGY, -15},     {"fixed", 6, Z_FIXED, -15},
                    {"huffman-only", 6, Z_HUFFMAN_ONLY, -15}, {"gzip", 6, Z_DEFAULT_STRATEGY, 31}};
  for (const way& w : ways) {
    bytes out = zlib_deflate(tape.data(), tape.size(), w.level, w.strategy, w.window_bits);
    if (out.empty()) return false;
    // The first byte: gzip or raw, and the pieces' size.
    out.insert(out.begin(), static_cast<std::uint8_t>(w.window_bits > 0 ? 1 + 2 * 40 : 2 * 100));
    std::FILE* f = std::fopen((dir + "/" + w.name).c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    if (std::fclose(f) != 0 || !ok) return false;
  }
  return true;
}

// A tape of each turbo format, two small files on it, read in pieces of
// various sizes.
bool put_turbo(const std::string& dir) {
  std::size_t piece = 1;
  for (const turbo_format f : turbo_formats()) {
    std::vector<turbo_program> files = {{0x0800, bytes(256, 0x5A), "FIRST"},
                                        {0x1000, bytes(40, 0xA5), "TWO"}};
    if (f == turbo_format::seuck) continue;  // its one file is 63 KiB
    if (f == turbo_format::cyberload_f1)
      files = {{0x0002, bytes(40, 1), ""}, {0x0040, bytes(20, 2), ""}};
    if (f == turbo_format::bleepload) files = {{0x0800, bytes(64, 3), ""}};
    const std::string name = "turbo-" + std::to_string(static_cast<int>(f));
    if (!put(dir, name.c_str(), 0, piece, turbo_tape(f, files))) return false;
    piece = piece * 7 % 4093 + 1;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 5) {
    std::fputs("usage: make_fuzz_corpus DIR [RECORDINGS_DIR [DEFLATED_DIR [TURBO_DIR]]]\n", stderr);
    return 2;
  }
  if (argc >= 3 && !put_recordings(argv[2])) {
    std::perror(argv[2]);
    return 1;
  }
  if (argc == 5 && !put_turbo(argv[4])) {
    std::perror(argv[4]);
    return 1;
  }
  if (argc >= 4 && !put_deflated(argv[3])) {
    std::perror(argv[3]);
    return 1;
  }
  const std::string dir = argv[1];
  bytes two = tape_writer(pulse_values::spread(), 4)
                  .pilot(5001)
                  .block(header_payload(1, "ONE"))
                  .pilot(5001)
                  .block(header_payload(3, "TWO"))
                  .pulses();
  bytes repeat =
      tape_writer().pilot(5001).block(header_payload(1, "R"), block_copy::repeat).pulses();
  bytes junk_parity = tape_writer().pilot(5001).pulses();
  {
    tape_writer w;
    w.pilot(5001);
    for (std::uint8_t c = 0x89; c > 0x80; --c) w.byte(c, 0, 255);
    for (const std::uint8_t b : header_payload(1, "PARITY")) w.byte(b, 76, 76);
    junk_parity = w.pulses();
  }
  bytes data_like(40, 0x41);
  data_like[0] = 3;
  const bool ok = put(dir, "one-header", 0, 65536, header("NAME")) &&
                  put(dir, "one-header-all-escaped-short-reads", 3, 7,
                      header("\x93\x05"
                             "CTRL\xa0\x85\xc1")) &&
                  put(dir, "two-headers-all", 1, 4096, two) &&
                  put(dir, "two-headers-read-error", 5, 5001, two) &&
                  put(dir, "pilot-5000", 1, 65536, header("NAME", 5000)) &&
                  put(dir, "type-2", 1, 65536, header("NAME", 5001, 2)) &&
                  put(dir, "repeated-copy", 1, 65536, repeat) &&
                  put(dir, "junk-parity", 3, 300, junk_parity) &&
                  put(dir, "data-block-like-header", 1, 65536,
                      tape_writer().pilot(6000).block(data_like).pulses()) &&
                  put(dir, "spread-values", 3, 1,
                      tape_writer(pulse_values::spread(), 9)
                          .pilot(5001)
                          .block(header_payload(1, "SPREAD"))
                          .pulses());
  if (!ok) {
    std::perror(dir.c_str());
    return 1;
  }
  return 0;
}
