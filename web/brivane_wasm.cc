// The core as the page calls it from WebAssembly: scans that are fed a tape
// in pieces and keep what the program would write to standard output,
// banner first.
#include <cstdint>
#include <string>
#include <vector>

#include <emscripten/emscripten.h>

#include "recording/recording.h"
#include "tape_scan.h"

namespace {

class string_sink : public text_sink {
 public:
  void write(std::string_view bytes) override { text.append(bytes); }
  std::string text;
};

struct web_scan {
  web_scan(bool all, bool escape) : scan({all, escape}) { out.write(BANNER); }
  tape_scan scan;
  string_sink out;
};

// CRC-32 (as zip and gzip use it), eight bytes a step.
struct crc_tables {
  std::uint32_t t[8][256];
  crc_tables() : t() {
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[0][i] = c;
    }
    for (int n = 1; n < 8; ++n)
      for (std::uint32_t i = 0; i < 256; ++i) t[n][i] = (t[n - 1][i] >> 8) ^ t[0][t[n - 1][i] & 0xFF];
  }
};

std::uint32_t crc32(std::uint32_t crc, const std::uint8_t* p, std::size_t n) {
  static const crc_tables tables;
  const auto& t = tables.t;
  crc = ~crc;
  for (; n >= 8; n -= 8, p += 8) {
    const std::uint32_t lo = crc ^ (p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24);
    crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
          t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
  }
  for (; n > 0; --n) crc = t[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

// A recording being turned into pulses, and the pulses not yet taken.
struct web_recording {
  explicit web_recording(double clock) : converter(clock) {}
  recording_converter converter;
  std::vector<std::uint8_t> pulses;
};

// Where the caller puts the next piece; shared by all scans, so that one
// copy of a piece can be fed to several of them.
std::vector<std::uint8_t> input;

}  // namespace

extern "C" {

/// A new scan whose output holds the banner.
EMSCRIPTEN_KEEPALIVE web_scan* bv_scan_new(int all, int escape) { return new web_scan(all != 0, escape != 0); }

EMSCRIPTEN_KEEPALIVE void bv_scan_free(web_scan* s) { delete s; }

/// Room for the next piece of size bytes; valid until the next call here.
EMSCRIPTEN_KEEPALIVE std::uint8_t* bv_input(std::size_t size) {
  if (input.size() < size) input.resize(size);
  return input.data();
}

/// Feeds the first size bytes of the input to the scan. Returns 1 while the
/// scan wants more of the tape, 0 once it is over.
EMSCRIPTEN_KEEPALIVE int bv_scan_feed(web_scan* s, std::size_t size) {
  return s->scan.feed(input.data(), size, s->out) ? 1 : 0;
}

/// The CRC-32 of the bytes fed so far, given crc for those before the input's
/// first size bytes.
EMSCRIPTEN_KEEPALIVE std::uint32_t bv_input_crc32(std::uint32_t crc, std::size_t size) {
  return crc32(crc, input.data(), size);
}

/// Names found so far.
EMSCRIPTEN_KEEPALIVE int bv_scan_found_count(web_scan* s) { return s->scan.found_count(); }

EMSCRIPTEN_KEEPALIVE const char* bv_scan_output(web_scan* s) { return s->out.text.data(); }
EMSCRIPTEN_KEEPALIVE std::size_t bv_scan_output_size(web_scan* s) { return s->out.text.size(); }

/// A recording to be turned into pulses, timed against the given clock (Hz).
EMSCRIPTEN_KEEPALIVE web_recording* bv_recording_new(double clock) { return new web_recording(clock); }

EMSCRIPTEN_KEEPALIVE void bv_recording_free(web_recording* r) { delete r; }

/// Feeds the first size bytes of the input; 0 once the recording is found faulty.
EMSCRIPTEN_KEEPALIVE int bv_recording_feed(web_recording* r, std::size_t size) {
  return r->converter.feed(input.data(), size, r->pulses) ? 1 : 0;
}

/// The recording has ended; 0 when it is faulty.
EMSCRIPTEN_KEEPALIVE int bv_recording_finish(web_recording* r) { return r->converter.finish(r->pulses) ? 1 : 0; }

/// What is wrong with the recording, in words; empty when nothing is.
EMSCRIPTEN_KEEPALIVE const char* bv_recording_fault(web_recording* r) { return describe(r->converter.fault()); }

/// The pulses made since the last bv_recording_taken.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* bv_recording_pulses(web_recording* r) { return r->pulses.data(); }
EMSCRIPTEN_KEEPALIVE std::size_t bv_recording_pulses_size(web_recording* r) { return r->pulses.size(); }
EMSCRIPTEN_KEEPALIVE void bv_recording_taken(web_recording* r) { r->pulses.clear(); }

}
