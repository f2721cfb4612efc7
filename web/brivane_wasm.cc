// The core as the page calls it from WebAssembly: scans that are fed a tape
// in pieces and keep what the program would write to standard output,
// banner first.
#include <cstdint>
#include <string>
#include <vector>

#include <emscripten/emscripten.h>

#include "brivane.h"

namespace {

class string_sink : public text_sink {
 public:
  void write(std::string_view bytes) override { text.append(bytes); }
  std::string text;
};

struct web_scan {
  web_scan(int all, int escape) : scan(all, escape) { out.write(BANNER); }
  tape_scan scan;
  string_sink out;
};

// Where the caller puts the next piece; shared by all scans, so that one
// copy of a piece can be fed to several of them.
std::vector<std::uint8_t> input;

}  // namespace

extern "C" {

/// A new scan whose output holds the banner.
EMSCRIPTEN_KEEPALIVE web_scan* bv_scan_new(int all, int escape) { return new web_scan(all, escape); }

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

EMSCRIPTEN_KEEPALIVE const char* bv_scan_output(web_scan* s) { return s->out.text.data(); }
EMSCRIPTEN_KEEPALIVE std::size_t bv_scan_output_size(web_scan* s) { return s->out.text.size(); }

}
