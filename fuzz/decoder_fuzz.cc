// The decoder and the renderer over arbitrary pulses: the bulk scan (with and
// without SIMD) keeps step with decode_pulse, the decoder writes nothing but
// the 16 name positions, and every name renders to the allowed bytes only.
#include <cstring>
#include <string>

#include "decoder/tape_decoder.h"
#include "fuzz_input.h"
#include "render/filename.h"

int scan_pulses_portable(tape_decoder& dec, const std::uint8_t* pulses, std::size_t count,
                         std::uint8_t* name_buf, std::size_t* used);

namespace {

constexpr std::uint8_t GUARD = 0xA5;

// Name buffers with guard bytes around the 16 positions the decoder may write.
struct guarded_name {
  std::uint8_t bytes[48];
  guarded_name() { std::memset(bytes, GUARD, sizeof bytes); }
  std::uint8_t* name() { return bytes + 16; }
  bool guards_intact() const {
    for (std::size_t i = 0; i < sizeof bytes; ++i)
      if ((i < 16 || i >= 32) && bytes[i] != GUARD) return false;
    return true;
  }
};

bool same_state(const tape_decoder& a, const tape_decoder& b) {
  return a.state == b.state && a.pilot_run == b.pilot_run && a.byte_index == b.byte_index &&
         a.pair_phase == b.pair_phase && a.bit_count == b.bit_count &&
         a.first_pulse == b.first_pulse && a.second_pulse == b.second_pulse &&
         a.shift_byte == b.shift_byte;
}

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
  for (const int escape : {0, 1}) {
    std::uint8_t buf[17];
    std::memcpy(buf, name16, 16);
    buf[16] = 0;
    const std::string out = render_filename(buf, escape);
    FUZZ_CHECK(allowed_rendering(out));
    FUZZ_CHECK(out.size() <= std::size_t{16} * 18);
  }
}

using scan_fn = int (*)(tape_decoder&, const std::uint8_t*, std::size_t, std::uint8_t*, std::size_t*);

void check_bulk_scan(scan_fn scan, const fuzz_input& in) {
  tape_decoder ref{}, fast{};
  guarded_name ref_name, fast_name;
  std::size_t pos = 0, ref_pos = 0;
  while (pos < in.tape_size) {
    const std::size_t end = pos + std::min(in.read_size, in.tape_size - pos);
    while (pos < end) {
      std::size_t used = 0;
      const int found = scan(fast, in.tape + pos, end - pos, fast_name.name(), &used);
      FUZZ_CHECK(used > 0 && used <= end - pos);
      pos += used;
      int ref_found = 0;
      while (ref_pos < pos) {
        FUZZ_CHECK(ref_found == 0);
        ref_found = decode_pulse(ref, in.tape[ref_pos++], ref_name.name(), 0);
      }
      FUZZ_CHECK(found == ref_found);
      FUZZ_CHECK(same_state(fast, ref));
      if (found) {
        FUZZ_CHECK(std::memcmp(fast_name.name(), ref_name.name(), 16) == 0);
        check_rendering(fast_name.name());
      }
    }
  }
  FUZZ_CHECK(ref_name.guards_intact() && fast_name.guards_intact());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_input in{};
  if (!parse_fuzz_input(data, size, in)) return 0;
  if (in.tape_size >= 16) check_rendering(in.tape);
  check_bulk_scan(scan_pulses, in);
  check_bulk_scan(scan_pulses_portable, in);
  return 0;
}
