// The table of turbo loaders, from the loaders' published format notes, and
// the generic reader of the shape most of them share: header fields in a
// row's layout, data, a checksum.
#include "catalogue/turbo_loaders.h"

#include <algorithm>
#include <cstring>

#include "catalogue/turbo_formats.h"

namespace {

// Sync bytes counting from first down (step -1) or up (step 1) to last.
std::vector<std::uint8_t> train(int first, int last, int step) {
  std::vector<std::uint8_t> out;
  for (int b = first; b != last + step; b += step) out.push_back(static_cast<std::uint8_t>(b));
  return out;
}

constexpr auto MSB = bit_order::msb_first;
constexpr auto LSB = bit_order::lsb_first;
constexpr auto BYTE = lead_kind::byte_pilot;
constexpr auto BIT = lead_kind::bit_pilot;
constexpr auto PULSE = bit_rule::threshold;

// Super Pavloda's row for one set of its three lengths of pulse, its
// thresholds midway between them.
loader_row super_pavloda(int short_pulse, int medium, int long_pulse) {
  loader_row row{"Super Pavloda",
                 (short_pulse + medium + 1) / 2,
                 short_pulse,
                 medium,
                 MSB,
                 bit_rule::super_pavloda,
                 BIT,
                 0,
                 32,
                 {0x66, 0x1B},
                 false,
                 {},
                 super_pavloda_reader};
  row.long_threshold = (medium + long_pulse + 1) / 2;
  return row;
}

// Thresholds in TAP units: a pulse of ceil(cycles / 8) or more is long.
std::vector<loader_row> make_rows() {
  const std::vector<block_layout> freeload = {
      {"Freeload", "LE", 'x'}, {"Ocean New F1", "iLE", 'x'}, {"Ocean New F2", "LEi", 'x'}};
  std::vector<block_layout> hitload = freeload;
  hitload[0].loader = "Hitload";
  std::vector<loader_row> rows = {
      {"Freeload", 45, 0x24, 0x41, MSB, PULSE, BYTE, 0x40, 32, {0x5A}, false, freeload},
      {"Hitload", 80, 0x34, 0x66, MSB, PULSE, BYTE, 0x40, 32, {0x5A}, false, hitload},
      {"U.S. Gold",
       45,
       0x25,
       0x3F,
       MSB,
       PULSE,
       BYTE,
       0x20,
       32,
       {0xFF},
       false,
       {{"U.S. Gold", "NLE", 'x'}}},
      // Virgin and Hi-Tec differ only in timing: one threshold reads both.
      {"Virgin",
       46,
       0x21,
       0x3B,
       MSB,
       PULSE,
       BYTE,
       0xAA,
       64,
       {0xA0},
       false,
       {{"Virgin", "iiLEX", 'x'}}},
      {"Mega-Save",
       33,
       0x19,
       0x28,
       MSB,
       PULSE,
       BYTE,
       0x63,
       64,
       train(0x64, 0xFF, 1),
       false,
       {{"Mega-Save", "fLEXiiii", 'x'}}},
      {"Mega-Save",
       46,
       0x26,
       0x36,
       MSB,
       PULSE,
       BYTE,
       0x63,
       64,
       train(0x64, 0xFF, 1),
       false,
       {{"Mega-Save", "fLEXiiii", 'x'}}},
      {"Mega-Save",
       64,
       0x36,
       0x47,
       MSB,
       PULSE,
       BYTE,
       0x63,
       64,
       train(0x64, 0xFF, 1),
       false,
       {{"Mega-Save", "fLEXiiii", 'x'}}},
      {"Turbotape 250",
       33,
       0x19,
       0x28,
       MSB,
       PULSE,
       BYTE,
       0x02,
       32,
       train(0x09, 0x01, -1),
       false,
       {},
       turbotape_reader},
      {"Novaload", 63, 0x24, 0x56, LSB, PULSE, BIT, 0, 256, {0xAA}, false, {}, novaload_reader},
      {"Ocean-Imagine",
       60,
       0x24,
       0x56,
       LSB,
       PULSE,
       BIT,
       0,
       256,
       {},
       false,
       {},
       ocean_imagine_reader},
      // Accolade's blocks are Cyberload F4's, at timings of its own: it is
      // tried first.
      {"Accolade", 62, 0x29, 0x4A, MSB, PULSE, BYTE, 0x0F, 4, {0xAA}, false, {}, accolade_reader},
      {"Accolade", 54, 0x24, 0x40, MSB, PULSE, BYTE, 0x0F, 4, {0xAA}, false, {}, accolade_reader},
      {"Cyberload",
       0,
       0x31,
       0x5B,
       MSB,
       PULSE,
       BYTE,
       0x0F,
       4,
       {0xF0, 0xCC, 0xAA, 0x96, 0x99},
       true,
       {},
       cyberload_reader},
      {"Bleepload",
       71,
       0x2F,
       0x5A,
       MSB,
       PULSE,
       lead_kind::named_byte_pilot,
       0,
       6,
       {},
       false,
       {},
       bleepload_reader},
      {"Pavloda",
       42,
       0x3F,
       0x1F,
       MSB,
       bit_rule::pavloda,
       BIT,
       0,
       256,
       {},
       false,
       {{"Pavloda", "LE", 'p'}}},
      // Three lengths of pulse, in two sets, one a tape's: short, medium and
      // long $2E, $45, $5C, or $3E, $5D, $7C.
      super_pavloda(0x2E, 0x45, 0x5C),
      super_pavloda(0x3E, 0x5D, 0x7C),
      {"Wildload",
       60,
       0x30,
       0x47,
       LSB,
       PULSE,
       BYTE,
       0xA0,
       64,
       train(0x0A, 0x01, -1),
       false,
       {},
       wildload_reader},
      {"Flashload",
       35,
       0x1F,
       0x31,
       MSB,
       PULSE,
       BIT,
       1,
       256,
       {0x33},
       false,
       {{"Flashload", "LE", 'x'}}},
      {"Jetload",
       60,
       0x33,
       0x58,
       LSB,
       PULSE,
       BYTE,
       0x00,
       2,
       {0xD1, 0x2E},
       false,
       {{"Jetload", "LE", '-'}}},
      {"Firebird",
       100,
       0x44,
       0x7E,
       LSB,
       PULSE,
       BYTE,
       0x02,
       64,
       {0x52, 0x42},
       false,
       {{"Firebird", "LE", 'x'}}},
      {"Firebird",
       84,
       0x45,
       0x65,
       LSB,
       PULSE,
       BYTE,
       0x02,
       64,
       {0x52, 0x42},
       false,
       {{"Firebird", "LE", 'x'}}},
      {"SEUCK", 46, 0x20, 0x41, LSB, PULSE, BYTE, 0xE3, 64, {0xAC}, false, {{"SEUCK", "", '-'}}},
      // Its bit order, pilot and sync are the tape's own, read from its boot
      // loader's ROM header: this row is a pattern the catalogue fills in.
      {"Burner", 48, 0x22, 0x42, MSB, PULSE, BYTE, 0, 32, {0}, false, {{"Burner", "LE", '-'}}},
  };
  for (loader_row& r : rows) {
    if (std::strcmp(r.name, "Virgin") == 0) r.long_variant = "Hi-Tec", r.long_split = 0x40;
    if (std::strcmp(r.name, "Jetload") == 0) r.timed = r.quiet_end = true;
    if (std::strcmp(r.name, "Ocean-Imagine") == 0) r.timed = true;
    if (std::strcmp(r.name, "SEUCK") == 0) r.fixed_start = 0x0900, r.fixed_size = 63226;
  }
  return rows;
}

std::uint16_t word(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

std::size_t field_bytes(const char* fields) {
  std::size_t n = 0;
  for (const char* f = fields; *f; ++f) n += *f == 'N' ? 16 : (*f == 'i' || *f == 'f') ? 1 : 2;
  return n;
}

// The generic reader: each of the row's layouts read side by side from the
// same bytes, the first whose check holds naming the file.
class fields_reader : public block_reader {
 public:
  explicit fields_reader(const loader_row& row) : row_(row) {
    for (const block_layout& l : row.layouts) tries_.push_back({&l, field_bytes(l.fields)});
  }

  reading byte(std::uint8_t b) override {
    bytes_.push_back(b);
    bool any_live = false;
    for (attempt& a : tries_) {
      if (a.state == attempt::live) step(a);
      if (a.state == attempt::holds) {
        chosen_ = &a;
        return reading::done;
      }
      any_live = any_live || a.state == attempt::live;
    }
    return any_live ? reading::more : settle();
  }

  reading end() override { return settle(); }

  std::vector<turbo_file> files() override {
    if (!chosen_) return {};
    const attempt& a = *chosen_;
    const auto data = bytes_.begin() + static_cast<std::ptrdiff_t>(a.header);
    const std::size_t have = std::min<std::size_t>(a.size, bytes_.size() - a.header);
    const bool loads =
        a.state == attempt::holds || (a.state == attempt::read && a.layout->check == '-');
    turbo_file f = turbo::file(
        a.layout->loader, a.start,
        loads ? std::vector<std::uint8_t>(data, data + static_cast<std::ptrdiff_t>(have))
              : std::vector<std::uint8_t>{},
        a.layout->check == '-'      ? copy_check::none
        : a.state == attempt::holds ? copy_check::ok
                                    : copy_check::damaged);
    f.end = static_cast<std::uint16_t>(a.start + a.size);
    f.checks_held = a.state == attempt::holds ? 1 : 0;
    if (a.name >= 0) {
      f.has_name = true;
      std::memcpy(f.name, bytes_.data() + a.name, 16);
    }
    return {f};
  }

 private:
  struct attempt {
    const block_layout* layout;
    std::size_t header;  // bytes of header fields
    enum { live, bad, read, holds } state = live;
    std::uint16_t start = 0;
    std::uint32_t size = 0;
    long name = -1;  // where its name is among the bytes
  };

  // The attempt's header once it is whole; its data and check once they are.
  void step(attempt& a) {
    const std::size_t n = bytes_.size();
    if (n == a.header || (a.header == 0 && n == 1)) {
      if (!read_header(a)) {
        a.state = attempt::bad;
        return;
      }
    }
    const std::size_t whole = a.header + a.size + (a.layout->check == '-' ? 0 : 1);
    if (n < whole) return;
    a.state = check_holds(a) ? attempt::holds : attempt::read;
    if (a.layout->check == '-') a.state = attempt::read;
  }

  bool read_header(attempt& a) {
    if (row_.fixed_size) {
      a.start = row_.fixed_start;
      a.size = row_.fixed_size;
      return true;
    }
    std::size_t at = 0;
    long end = -1;
    for (const char* f = a.layout->fields; *f; ++f) {
      switch (*f) {
        case 'L':
          a.start = word(bytes_, at);
          break;
        case 'E':
          end = word(bytes_, at);
          break;
        case 'S':
          a.size = word(bytes_, at);
          break;
        case 'N':
          a.name = static_cast<long>(at);
          break;
        case 'f':
          if (bytes_[at] == 0) return false;
          break;
      }
      at += *f == 'N' ? 16 : (*f == 'i' || *f == 'f') ? 1 : 2;
    }
    if (end >= 0) {
      // An end of 0 is one past $FFFF.
      const long past = end == 0 ? 0x10000 : end;
      if (past <= a.start) return false;
      a.size = static_cast<std::uint32_t>(past - a.start);
    }
    return turbo::fits(a.start, a.size);
  }

  bool check_holds(const attempt& a) const {
    const auto* data = bytes_.data() + a.header;
    std::uint8_t sum = 0;
    if (a.layout->check == 'x') {
      for (std::uint32_t i = 0; i < a.size; ++i) sum ^= data[i];
    } else if (a.layout->check == 'p') {
      for (std::uint32_t i = 0; i < a.size; ++i) sum = static_cast<std::uint8_t>(sum + data[i] + 1);
    }
    return a.layout->check != '-' && sum == data[a.size];
  }

  // No attempt's check held: the first whose header and data were read
  // whole names a file (damaged, or one with no checksum), else the first
  // whose sound header was read before the block broke off.
  reading settle() {
    for (const int wanted : {int{attempt::read}, int{attempt::live}}) {
      for (const attempt& a : tries_) {
        const bool header_read = a.header == 0 ? !bytes_.empty() : bytes_.size() >= a.header;
        if (a.state != wanted || (wanted == attempt::live && !header_read)) continue;
        chosen_ = &a;
        return reading::done;
      }
    }
    return reading::failed;
  }

  const loader_row& row_;
  std::vector<attempt> tries_;
  std::vector<std::uint8_t> bytes_;
  const attempt* chosen_ = nullptr;
};

}  // namespace

namespace turbo {

turbo_file file(const std::string& loader, std::uint16_t start, std::vector<std::uint8_t> program,
                copy_check check) {
  turbo_file f;
  f.loader = loader;
  f.start = start;
  f.end = static_cast<std::uint16_t>(start + program.size());
  f.program = std::move(program);
  f.program_check = check;
  return f;
}

}  // namespace turbo

const std::vector<loader_row>& loader_rows() {
  static const std::vector<loader_row> rows = make_rows();
  return rows;
}

std::unique_ptr<block_reader> reader_for(const loader_row& row, const lead_info& lead,
                                         std::unique_ptr<loader_memory>& memory) {
  if (row.own_reader) return row.own_reader(row, lead, memory);
  return std::make_unique<fields_reader>(row);
}

bool burner_lead(const std::uint8_t* header, std::size_t size, bit_order& order,
                 std::uint8_t& pilot, std::uint8_t& sync) {
  // The boot loader's header holds its lead enciphered at 0x83, 0x88 and
  // 0x93 of its 192 bytes; the Mastertronic variant's at one or two bytes
  // either side. The bit order byte is the 6510's ROL (0x26) or ROR (0x66).
  for (const int shift : {0, 1, -1, 2, -2}) {
    const int at = 0x83 + shift;
    const auto o = static_cast<std::size_t>(at), p = o + 5, s = o + 0x10;
    if (s >= size) continue;
    const std::uint8_t op = header[o] ^ 0x59;
    if (op != 0x26 && op != 0x66) continue;
    order = op == 0x26 ? bit_order::msb_first : bit_order::lsb_first;
    pilot = header[p] ^ 0x59;
    sync = header[s] ^ 0x59;
    return pilot != sync;
  }
  return false;
}
