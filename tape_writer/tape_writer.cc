// The tape writer: pilots, byte markers, bit pairs, parity and blocks, pulse by pulse.
#include "tape_writer.h"

tape_writer::tape_writer(pulse_values values, std::uint32_t seed)
    : values_(values), rng_(seed != 0 ? seed : 1) {}

std::uint8_t tape_writer::draw(pulse_range r) {
  if (r.lo >= r.hi) return r.lo;
  rng_ ^= rng_ << 13;  // xorshift32
  rng_ ^= rng_ >> 17;
  rng_ ^= rng_ << 5;
  return static_cast<std::uint8_t>(r.lo + rng_ % (r.hi - r.lo + 1u));
}

tape_writer& tape_writer::pilot(std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) pulses_.push_back(draw(values_.short_pulse));
  return *this;
}

tape_writer& tape_writer::marker() {
  return pair(draw(values_.long_pulse), draw(values_.medium_pulse));
}

tape_writer& tape_writer::pair(std::uint8_t first, std::uint8_t second) {
  pulses_.push_back(first);
  pulses_.push_back(second);
  return *this;
}

tape_writer& tape_writer::bit(int one) {
  const std::uint8_t s = draw(values_.short_pulse);
  std::uint8_t m = draw(values_.medium_pulse);
  // (57, 57) reads as a 1; a drawn 0 must not come out that way.
  const bool drawn = values_.short_pulse.lo < values_.short_pulse.hi ||
                     values_.medium_pulse.lo < values_.medium_pulse.hi;
  if (!one && drawn && s == 57 && m == 57) m = 58;
  return one ? pair(m, s) : pair(s, m);
}

tape_writer& tape_writer::byte(std::uint8_t value) {
  int parity = 1;
  for (int i = 0; i < 8; ++i) parity ^= (value >> i) & 1;
  marker();
  for (int i = 0; i < 8; ++i) bit((value >> i) & 1);
  return bit(parity);
}

tape_writer& tape_writer::byte(std::uint8_t value, std::uint8_t parity_first,
                               std::uint8_t parity_second) {
  marker();
  for (int i = 0; i < 8; ++i) bit((value >> i) & 1);
  return pair(parity_first, parity_second);
}

tape_writer& tape_writer::block(const bytes& payload, block_copy copy, int checksum) {
  byte_starts_.clear();
  const std::uint8_t top = copy == block_copy::first ? 0x89 : 0x09;
  for (std::uint8_t c = top; c > top - 9; --c) {
    byte_starts_.push_back(pulses_.size());
    byte(c);
  }
  std::uint8_t sum = 0;
  for (const std::uint8_t b : payload) {
    byte_starts_.push_back(pulses_.size());
    byte(b);
    sum ^= b;
  }
  byte_starts_.push_back(pulses_.size());
  byte(checksum < 0 ? sum : static_cast<std::uint8_t>(checksum));
  return pair(draw(values_.long_pulse), draw(values_.short_pulse));  // end of data
}

tape_writer& tape_writer::rom_file(std::uint8_t type, std::string_view name, const bytes& data,
                                   std::size_t header_pilot) {
  const bytes header =
      header_payload(type, name, 0x0801, static_cast<std::uint16_t>(0x0801 + data.size()));
  pilot(header_pilot)
      .block(header)
      .pilot(COPY_GAP)
      .block(header, block_copy::repeat)
      .pilot(TRAILER);
  return pilot(DATA_PILOT)
      .block(data)
      .pilot(COPY_GAP)
      .block(data, block_copy::repeat)
      .pilot(TRAILER);
}

tape_writer& tape_writer::raw(const bytes& pulses) {
  pulses_.insert(pulses_.end(), pulses.begin(), pulses.end());
  return *this;
}

bytes header_payload(std::uint8_t type, std::string_view name, std::uint16_t start,
                     std::uint16_t end) {
  bytes h(192, ' ');
  h[0] = type;
  h[1] = static_cast<std::uint8_t>(start & 0xFF);
  h[2] = static_cast<std::uint8_t>(start >> 8);
  h[3] = static_cast<std::uint8_t>(end & 0xFF);
  h[4] = static_cast<std::uint8_t>(end >> 8);
  for (std::size_t i = 0; i < name.size() && i < 16; ++i)
    h[5 + i] = static_cast<std::uint8_t>(name[i]);
  return h;
}

bytes tap_file(const bytes& pulses) {
  const std::string_view sig = "C64-TAPE-RAW";
  bytes f(sig.begin(), sig.end());
  f.push_back(1);  // version
  f.insert(f.end(), 3, 0);
  const std::size_t n = pulses.size();
  for (int i = 0; i < 4; ++i) f.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
  f.insert(f.end(), pulses.begin(), pulses.end());
  return f;
}

bytes example_tape() {
  // Names as a C64 user types them, with the colours, cursor keys and
  // shifted letters that tape names often hold.
  const struct {
    std::uint8_t type;
    const char* name;
  } files[] = {
      {1,
       "\x93\x1c"
       "FLIGHT\x9e"
       "DECK\x05"},                   // clear screen, red, yellow, white
      {3, "HI-SCORES \xc1\xc2\xc3"},  // shifted letters
      {1,
       "\x12"
       "PART 2\x92\x11\x85"},  // reverse on/off, cursor down, F1
      {1, "  LEAD AND TAIL  "},
  };
  tape_writer w(pulse_values::spread(), 1987);
  std::uint8_t n = 0;
  for (const auto& f : files) {
    bytes data(64);
    for (std::size_t i = 0; i < data.size(); ++i)
      data[i] = static_cast<std::uint8_t>(0x10 + i * 7 + n);
    w.rom_file(f.type, f.name, data);
    ++n;
  }
  return tap_file(w.pulses());
}

std::map<std::string, bytes> sample_tapes() {
  tape_writer one;
  one.rom_file(1, "ONLY ONE", bytes(64, 0x20));
  tape_writer two(pulse_values::spread(), 5);
  two.rom_file(1, "FIRST", bytes(64, 0x20))
      .rom_file(3,
                "\x93\x1c"
                "SECOND\xa0\x05",
                bytes(64, 0x20));
  return {{"one.tap", one.pulses()}, {"two.tap", tap_file(two.pulses())}, {"empty.tap", {}}};
}
