// The whole catalogue, ROM blocks and every turbo loader, over arbitrary
// pulses: the same records, every field of them, and the same coverage
// whatever the pieces the tape comes in, and whether its pulses are crossed
// many at a time or stepped through one by one; a program given whole is as long
// as its addresses say; and what the catalogue holds stays flat however
// long the tape.
#include <algorithm>
#include <cstring>
#include <vector>

#include "catalogue/tape_catalogue.h"
#include "fuzz_input.h"

namespace {

struct read_out {
  std::vector<catalogue_entry> entries;
  double coverage;
};

read_out catalogue_of(const std::uint8_t* tape, std::size_t size, std::size_t piece,
                      class_path path = class_path::fastest) {
  tape_catalogue c(machine::c64_pal, path);
  read_out out;
  for (std::size_t at = 0; at < size; at += piece) {
    c.feed(tape + at, std::min(piece, size - at));
    for (auto& e : c.take_settled()) out.entries.push_back(std::move(e));
  }
  c.finish();
  for (auto& e : c.take_settled()) out.entries.push_back(std::move(e));
  out.coverage = c.coverage();
  return out;
}

bool same(const catalogue_entry& a, const catalogue_entry& b) {
  return a.kind == b.kind && a.loader == b.loader && a.number == b.number && a.type == b.type &&
         a.start == b.start && a.end == b.end && std::memcmp(a.name, b.name, NAME_LENGTH) == 0 &&
         a.offset == b.offset && a.seconds == b.seconds && a.header == b.header &&
         a.program == b.program && a.program_check == b.program_check && a.length == b.length &&
         a.duration == b.duration && a.pulse_values == b.pulse_values;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_input in{};
  if (!parse_fuzz_input(data, size, in)) return 0;
  const read_out whole = catalogue_of(in.tape, in.tape_size, in.tape_size + 1);
  const read_out cut = catalogue_of(in.tape, in.tape_size, in.read_size);
  const read_out stepped =
      catalogue_of(in.tape, in.tape_size, in.tape_size + 1, class_path::stepped);
  for (const read_out* other : {&cut, &stepped}) {
    FUZZ_CHECK(whole.entries.size() == other->entries.size());
    for (std::size_t i = 0; i < whole.entries.size(); ++i)
      FUZZ_CHECK(same(whole.entries[i], other->entries[i]));
    FUZZ_CHECK(whole.coverage == other->coverage);
  }
  FUZZ_CHECK(whole.coverage >= 0 && whole.coverage <= 1);
  std::uint64_t last = 0;
  for (const catalogue_entry& e : whole.entries) {
    FUZZ_CHECK(e.offset >= last);  // in tape order
    last = e.offset;
    if (e.kind == entry_kind::file && e.loader != "rom" && !e.program.empty())
      FUZZ_CHECK(((e.end - e.start) & 0xFFFF) == (e.program.size() & 0xFFFF));
    if (e.program_check == copy_check::ok) FUZZ_CHECK(!e.program.empty());
  }
  // The tape again and again: what the catalogue holds does not grow with it.
  if (in.tape_size > 0) {
    tape_catalogue c;
    for (int round = 0; round < 16; ++round) {
      c.feed(in.tape, in.tape_size);
      c.take_settled();
      FUZZ_CHECK(c.held_bytes() < (std::size_t{4} << 20));
    }
  }
  return 0;
}
