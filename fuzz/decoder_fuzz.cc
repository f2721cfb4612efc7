// The decoder and the renderer over arbitrary pulses: the bulk scan (with and
// without SIMD) keeps step with decode_pulse, the decoder writes nothing but
// the 16 name positions, and every name, and any 16 bytes, render to the
// allowed bytes only. The catalogue lists exactly the decoder's names, in
// order, and gives the same entries however the tape is cut into pieces.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "catalogue/tape_catalogue.h"
#include "decoder/tape_decoder.h"
#include "fuzz_input.h"
#include "lockstep.h"
#include "render/filename.h"

namespace {

// Rendered bytes are 32 to 93 as themselves (the dot among them) or whole
// control-name strings.
bool allowed_rendering(const std::string& out) {
  for (std::size_t i = 0; i < out.size();) {
    const auto c = static_cast<unsigned char>(out[i]);
    if (c >= 32 && c <= 93) {
      ++i;
      continue;
    }
    bool named = false;
    for (const auto* table : {control_names_low, control_names_high}) {
      const std::size_t n = table == control_names_low ? 32 : 33;
      for (std::size_t k = 0; k < n && !named; ++k)
        if (out.compare(i, std::strlen(table[k]), table[k]) == 0 && table[k][0] == '{') {
          i += std::strlen(table[k]);
          named = true;
        }
    }
    if (!named) return false;
  }
  return true;
}

void check_rendering(const std::uint8_t* name16) {
  for (const bool escape : {false, true}) {
    std::uint8_t buf[17];
    std::memcpy(buf, name16, 16);
    buf[16] = 0;
    const std::string out = render_filename(buf, escape);
    FUZZ_CHECK(allowed_rendering(out));
    FUZZ_CHECK(out.size() <= std::size_t{16} * 18);
  }
}

std::vector<catalogue_entry> catalogue_of(const std::uint8_t* tape, std::size_t size,
                                          std::size_t piece) {
  tape_catalogue c;
  std::vector<catalogue_entry> all;
  for (std::size_t at = 0; at < size; at += piece) {
    c.feed(tape + at, std::min(piece, size - at));
    for (auto& e : c.take_settled()) all.push_back(std::move(e));
  }
  c.finish();
  for (auto& e : c.take_settled()) all.push_back(std::move(e));
  return all;
}

bool same(const catalogue_entry& a, const catalogue_entry& b) {
  return a.number == b.number && a.type == b.type && a.start == b.start && a.end == b.end &&
         std::memcmp(a.name, b.name, NAME_LENGTH) == 0 && a.offset == b.offset &&
         a.seconds == b.seconds && a.header == b.header && a.program == b.program &&
         a.program_check == b.program_check;
}

void check_catalogue(const std::uint8_t* tape, std::size_t size, std::size_t piece) {
  tape_decoder d{};
  std::uint8_t buf[17] = {};
  int names = 0;
  for (std::size_t i = 0; i < size; ++i) names += decode_pulse(d, tape[i], buf, 0);
  const auto whole = catalogue_of(tape, size, size + 1);
  const auto cut = catalogue_of(tape, size, piece);
  FUZZ_CHECK(whole.size() == cut.size());
  int listed = 0;
  for (std::size_t i = 0; i < whole.size(); ++i) {
    FUZZ_CHECK(same(whole[i], cut[i]));
    if (whole[i].number != 0) FUZZ_CHECK(whole[i].number == ++listed);
  }
  FUZZ_CHECK(listed == names);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_input in{};
  if (!parse_fuzz_input(data, size, in)) return 0;
  if (in.tape_size >= 16) check_rendering(in.tape);
  for (const scan_fn scan : {scan_pulses, scan_pulses_portable}) {
    const std::string difference =
        lockstep_difference(scan, in.tape, in.tape_size, {in.read_size}, check_rendering);
    if (!difference.empty()) std::fprintf(stderr, "bulk scan differs: %s\n", difference.c_str());
    FUZZ_CHECK(difference.empty());
  }
  check_catalogue(in.tape, in.tape_size, in.read_size);
  return 0;
}
