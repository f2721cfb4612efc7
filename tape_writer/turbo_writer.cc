// The turbo formats, each written from its format notes: pulse values,
// bit order, lead, sync, header, data and check, file by file.
#include "turbo_writer.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace {

std::vector<std::size_t> data_starts;

// Pulses of one format's bits, scaled to the deck's speed and wobbled.
class bits {
 public:
  bits(bytes& out, int zero, int one, bool msb_first, const turbo_knobs& k)
      : out_(out), zero_(zero), one_(one), msb_(msb_first), k_(k), rng_(k.seed ? k.seed : 1) {}

  void pulse(int units) {
    double v = units * k_.speed;
    if (k_.wobble > 0) {
      rng_ ^= rng_ << 13;
      rng_ ^= rng_ >> 17;
      rng_ ^= rng_ << 5;
      v += static_cast<int>(rng_ % (2u * static_cast<unsigned>(k_.wobble) + 1)) - k_.wobble;
    }
    out_.push_back(static_cast<std::uint8_t>(std::clamp(std::lround(v), 1L, 255L)));
  }
  void bit(int b) { pulse(b ? one_ : zero_); }
  void byte(std::uint8_t v) {
    for (int i = 0; i < 8; ++i) bit(msb_ ? (v >> (7 - i)) & 1 : (v >> i) & 1);
  }
  void byte_n(std::uint8_t v, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) byte(v);
  }
  void word(std::uint16_t v) {
    byte(static_cast<std::uint8_t>(v));
    byte(static_cast<std::uint8_t>(v >> 8));
  }
  void all(const bytes& b) {
    for (const std::uint8_t v : b) byte(v);
  }
  // The file's data, where it begins noted.
  void data(const bytes& b) {
    data_starts.push_back(out_.size());
    all(b);
  }
  // Notes that a file's data begins here.
  void mark() { data_starts.push_back(out_.size()); }
  void pause(std::uint32_t cycles = 150000) {
    out_.insert(out_.end(),
                {0, static_cast<std::uint8_t>(cycles), static_cast<std::uint8_t>(cycles >> 8),
                 static_cast<std::uint8_t>(cycles >> 16)});
  }
  int zero() const { return zero_; }
  int one() const { return one_; }

 private:
  bytes& out_;
  int zero_, one_;
  bool msb_;
  const turbo_knobs& k_;
  std::uint32_t rng_;
};

std::uint8_t xor_of(const bytes& b) {
  std::uint8_t x = 0;
  for (const std::uint8_t v : b) x ^= v;
  return x;
}

std::uint8_t sum_of(const bytes& b, std::size_t from = 0) {
  std::uint8_t s = 0;
  for (std::size_t i = from; i < b.size(); ++i) s = static_cast<std::uint8_t>(s + b[i]);
  return s;
}

std::uint16_t end_of(const turbo_program& p) {
  return static_cast<std::uint16_t>(p.start + p.data.size());
}

// A name of 16 bytes, padded with spaces.
bytes name16(const std::string& n) {
  bytes b(16, ' ');
  std::copy_n(n.begin(), std::min<std::size_t>(16, n.size()), b.begin());
  return b;
}

// The check byte as written: wrong on the first file where asked.
std::uint8_t written(std::uint8_t check, const turbo_knobs& k, std::size_t file) {
  return k.bad_check && file == 0 ? static_cast<std::uint8_t>(check ^ 0x5A) : check;
}

// Freeload and its clones: $40 pilot, $5A, the header's fields, the data, its XOR.
void freeload(bits& w, const turbo_program& p, std::size_t i, turbo_format f,
              const turbo_knobs& k) {
  w.byte_n(0x40, 128);
  w.byte(0x5A);
  if (f == turbo_format::ocean_new_f1) w.byte(static_cast<std::uint8_t>(i + 1));  // the file's id
  w.word(p.start);
  w.word(end_of(p));
  if (f == turbo_format::ocean_new_f2) w.byte(static_cast<std::uint8_t>(i + 1));
  w.data(p.data);
  w.byte(written(xor_of(p.data), k, i));
  w.byte_n(0x00, 1);  // a trailer of a few pulses
}

void novaload(bits& w, const turbo_program& p, std::size_t i, const turbo_knobs& k) {
  for (int n = 0; n < 2000; ++n) w.bit(0);
  w.bit(1);
  w.byte(0xAA);
  bytes head;
  head.push_back(static_cast<std::uint8_t>(p.name.size()));
  head.insert(head.end(), p.name.begin(), p.name.end());
  for (const int v : {p.start - 256, int{end_of(p)}, static_cast<int>(p.data.size()) + 256}) {
    head.push_back(static_cast<std::uint8_t>(v));
    head.push_back(static_cast<std::uint8_t>(v >> 8));
  }
  w.all(head);
  std::uint8_t sum = sum_of(head);
  w.mark();
  for (std::size_t at = 0; at <= p.data.size(); at += 256) {
    const std::uint8_t check = written(sum, k, i);
    w.byte(check);  // the sum of all before it, then counted in itself
    sum = static_cast<std::uint8_t>(sum + check);
    if (at == p.data.size()) break;
    const bytes part(p.data.begin() + static_cast<long>(at),
                     p.data.begin() + static_cast<long>(std::min(at + 256, p.data.size())));
    w.all(part);
    sum = static_cast<std::uint8_t>(sum + sum_of(part));
    if (at + 256 >= p.data.size()) {  // the final check after the last part
      w.byte(sum);
      break;
    }
  }
  for (int n = 0; n < 2000; ++n) w.bit(0);
}

// A chain of whole 256-byte pages: the program padded to them.
std::vector<bytes> pages(const turbo_program& p) {
  std::vector<bytes> out;
  for (std::size_t at = 0; at < p.data.size(); at += 256) {
    bytes page(p.data.begin() + static_cast<long>(at),
               p.data.begin() + static_cast<long>(std::min(at + 256, p.data.size())));
    page.resize(256, 0);
    out.push_back(page);
  }
  return out;
}

// The page after page_at in a chain of pages: past the top of memory, a
// chain longer than memory loads over it again from its first page.
std::uint8_t next_page(std::uint8_t page_at, const turbo_program& p) {
  return page_at == 0xFF ? static_cast<std::uint8_t>(p.start >> 8)
                         : static_cast<std::uint8_t>(page_at + 1);
}

void novaload_special(bits& w, const turbo_program& p, std::size_t i, const turbo_knobs& k) {
  for (int n = 0; n < 2000; ++n) w.bit(0);
  w.bit(1);
  w.byte(0xAA);
  w.byte(0x55);
  std::uint8_t page_at = static_cast<std::uint8_t>(p.start >> 8);
  bool first = true;
  for (const bytes& page : pages(p)) {
    w.byte(page_at);
    w.data(page);
    w.byte(written(static_cast<std::uint8_t>(page_at + sum_of(page)), k, first ? i : 1));
    page_at = next_page(page_at, p);
    first = false;
  }
  for (int n = 0; n < 2000; ++n) w.bit(0);
}

void ocean_imagine(bits& w, const turbo_program& p) {
  for (int n = 0; n < 3000; ++n) w.bit(0);
  w.bit(1);
  w.byte(0xAA);  // type 2
  std::uint8_t page_at = static_cast<std::uint8_t>(p.start >> 8);
  for (const bytes& page : pages(p)) {
    w.byte(0x00);  // the flag
    w.byte(page_at);
    w.data(page);
    page_at = next_page(page_at, p);
  }
  w.byte(0x00);
  w.byte(0x00);  // the end
  for (int n = 0; n < 2000; ++n) w.bit(0);
}

void accolade(bits& w, const turbo_program& p, std::size_t i, std::uint8_t sync,
              const turbo_knobs& k) {
  w.byte_n(0x0F, 8);
  w.byte(sync);
  bytes head = name16(p.name);
  head.push_back(static_cast<std::uint8_t>(p.start));
  head.push_back(static_cast<std::uint8_t>(p.start >> 8));
  head.push_back(static_cast<std::uint8_t>(p.data.size()));
  head.push_back(static_cast<std::uint8_t>(p.data.size() >> 8));
  w.all(head);
  w.byte(xor_of(head));
  w.mark();
  for (std::size_t at = 0; at < p.data.size(); at += 256) {
    const bytes part(p.data.begin() + static_cast<long>(at),
                     p.data.begin() + static_cast<long>(std::min(at + 256, p.data.size())));
    w.all(part);
    w.byte(written(xor_of(part), k, at == 0 ? i : 1));
  }
  for (int n = 0; n < 8; ++n) w.bit(0);
  w.pulse(w.one() * 2);
}

void cyberload_f1(bits& w, const std::vector<turbo_program>& files) {
  w.byte_n(0x0F, 128);
  w.byte(0xF0);
  std::uint32_t prev_end = 0xFFD5;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const turbo_program& p = files[i];
    w.byte(static_cast<std::uint8_t>(p.start - prev_end));  // the load offset
    w.mark();
    for (const std::uint8_t b : p.data) {
      w.byte(b);
      w.bit(1);  // another byte follows
    }
    w.byte(0x00);
    w.bit(0);  // the file ends; the byte before this bit is none of it
    w.bit(i + 1 < files.size() ? 1 : 0);
    prev_end = end_of(p);
  }
  w.byte(0x00);
}

void cyberload_f2(bits& w, const turbo_program& p) {
  const std::uint8_t key = 0xAE, data_key = 0xD2;
  w.byte_n(0x0F, 128);
  w.byte(0xF0);
  w.byte(static_cast<std::uint8_t>((p.start & 0xFF) ^ key));
  w.byte(static_cast<std::uint8_t>((p.start >> 8) ^ key));
  w.byte(static_cast<std::uint8_t>(p.data.size() ^ key));
  w.byte(static_cast<std::uint8_t>((p.data.size() >> 8) ^ key));
  bytes hidden = p.data;
  for (auto& b : hidden) b ^= data_key;
  w.data(hidden);
  w.byte(0x00);
}

void cyberload_f3(bits& w, const turbo_program& p, std::size_t i, const turbo_knobs& k) {
  w.byte_n(0x0F, 8);
  w.byte(0xCC);
  for (std::size_t at = 0; at < p.data.size(); at += 256) {
    const std::size_t n = std::min<std::size_t>(256, p.data.size() - at);
    const bytes part(p.data.begin() + static_cast<long>(at),
                     p.data.begin() + static_cast<long>(at + n));
    const auto load = static_cast<std::uint16_t>(p.start + at);
    bytes head = {static_cast<std::uint8_t>(load),
                  static_cast<std::uint8_t>(load >> 8),
                  static_cast<std::uint8_t>(n == 256 ? 0 : n),
                  0,
                  0x12,
                  0x34,
                  0x56,
                  0x78};
    head[3] = written(static_cast<std::uint8_t>(xor_of(head) ^ xor_of(part)), k, at == 0 ? i : 1);
    w.all(head);
    w.data(part);
  }
  w.byte_n(0x00, 2);
}

void bleepload(bits& w, const turbo_program& p, std::size_t i, bool special, const turbo_knobs& k) {
  for (int n = 0; n < 2000; ++n) w.bit(1);
  std::uint8_t pb = special ? 0x50 : 0x0F;
  // Plain: block 0 holds 64 bytes, the rest 256.
  std::vector<bytes> parts;
  if (special) {
    parts = pages(p);
  } else {
    parts.push_back(bytes(p.data.begin(), p.data.begin() + static_cast<long>(std::min<std::size_t>(
                                                               64, p.data.size()))));
    for (std::size_t at = 64; at < p.data.size(); at += 256) {
      bytes page(p.data.begin() + static_cast<long>(at),
                 p.data.begin() + static_cast<long>(std::min(at + 256, p.data.size())));
      page.resize(256, 0);
      parts.push_back(page);
    }
  }
  std::uint16_t load = p.start;
  for (std::size_t b = 0; b < parts.size(); ++b) {
    w.byte_n(pb, 10);
    w.byte(static_cast<std::uint8_t>(pb ^ 0xFF));
    w.byte(pb);
    const std::uint8_t next_pb = static_cast<std::uint8_t>(0x10 + b * 7);
    if (special) {
      const bool last = b + 1 == parts.size();
      w.byte(static_cast<std::uint8_t>(b));
      w.word(load);
      w.byte(0x00);
      w.byte(last ? static_cast<std::uint8_t>((load >> 8) + 1) : 0x00);
      w.word(0x0801);
      w.data(parts[b]);
      w.byte(written(xor_of(parts[b]), k, b == 0 ? i : 1));
    } else {
      w.byte(next_pb);
      w.byte(static_cast<std::uint8_t>(b));
      w.word(load);
      w.data(parts[b]);
      w.byte(2);  // two dummies
      w.byte_n(0xEE, 2);
      w.byte(written(xor_of(parts[b]), k, b == 0 ? i : 1));
      w.word(0x0801);
      w.byte(0x00);
      pb = next_pb;
    }
    load = static_cast<std::uint16_t>(load + parts[b].size());
    w.pause(30000);  // the short pause between blocks
  }
}

// The boot loader's ROM header that names Burner's lead: bit order, pilot
// and sync at 0x83, 0x88 and 0x93 of its 192 bytes, all XOR 0x59.
void burner_boot(bytes& out, std::uint8_t pilot, std::uint8_t sync, bool lsb_first) {
  bytes header = header_payload(3, "BURNER BOOT", 0x033C, 0x03FC);
  header[0x83] = (lsb_first ? 0x66 : 0x26) ^ 0x59;
  header[0x88] = pilot ^ 0x59;
  header[0x93] = sync ^ 0x59;
  tape_writer rom;
  rom.pilot(HEADER_PILOT)
      .block(header)
      .pilot(COPY_GAP)
      .block(header, block_copy::repeat)
      .pilot(TRAILER);
  out.insert(out.end(), rom.pulses().begin(), rom.pulses().end());
}

void turbotape(bits& w, const turbo_program& p, std::size_t i, const turbo_knobs& k) {
  // The header block: type 1, its addresses, a byte of the saving machine's,
  // the name, padded to 192 bytes with spaces.
  w.byte_n(0x02, 256);
  for (int c = 9; c >= 1; --c) w.byte(static_cast<std::uint8_t>(c));
  bytes head = {0x01,
                static_cast<std::uint8_t>(p.start),
                static_cast<std::uint8_t>(p.start >> 8),
                static_cast<std::uint8_t>(end_of(p)),
                static_cast<std::uint8_t>(end_of(p) >> 8),
                0x00};
  const bytes name = name16(p.name);
  head.insert(head.end(), name.begin(), name.end());
  head.resize(192, ' ');
  w.all(head);
  w.pause();
  // The data block: type 0, the data, their XOR.
  w.byte_n(0x02, 256);
  for (int c = 9; c >= 1; --c) w.byte(static_cast<std::uint8_t>(c));
  w.byte(0x00);
  w.data(p.data);
  w.byte(written(xor_of(p.data), k, i));
  w.byte_n(0x00, 2);
}

void wildload(bits& w, const turbo_program& p, std::size_t i, const turbo_knobs& k) {
  w.byte_n(0xA0, 256);
  for (int c = 10; c >= 1; --c) w.byte(static_cast<std::uint8_t>(c));
  // Sub-blocks of up to 256 bytes, each loaded downwards from its last
  // byte's address, each byte stored XOR the low byte of where it goes.
  const std::uint32_t end = end_of(p);
  for (std::uint32_t top = end; top > p.start;) {
    const std::uint32_t n = std::min<std::uint32_t>(256, top - p.start);
    const std::uint32_t last = top - 1;  // the first byte goes to the end address
    w.word(static_cast<std::uint16_t>(last));
    w.word(static_cast<std::uint16_t>(n));
    w.byte(0x00);
    std::uint8_t x = 0;
    w.mark();
    for (std::uint32_t kk = 0; kk < n; ++kk) {
      const std::uint32_t at = last - kk;
      const std::uint8_t v = p.data[at - p.start];
      x ^= v;
      w.byte(static_cast<std::uint8_t>(v ^ (at & 0xFF)));
    }
    w.byte(written(x, k, top == end ? i : 1));
    top -= n;
  }
  w.word(0);
  w.word(0);
  w.byte(0x00);  // the stop
}

// Super Pavloda: bits of three lengths of pulse, one bit or two each. In
// the first state a short pulse is 1, a medium one 00 and a long one 01; in
// the second a short one 0, a medium one 1 and a long one 00; a medium
// pulse switches the state. Each sub-block has a lead of short pulses in the
// second state, ended by a medium one; a file is a primary sub-block (its
// header and its first bytes, as many as its length over whole pages) and
// then its pages, each behind a lead of 40 pulses.
void super_pavloda(bits& w, const turbo_program& p, std::size_t i, const int (&length)[3],
                   const turbo_knobs& k) {
  const auto sub_block = [&](std::size_t lead, const bytes& head, const bytes& data,
                             std::uint8_t check) {
    for (std::size_t n = 0; n < lead; ++n) w.pulse(length[0]);
    w.pulse(length[1]);
    std::vector<int> stream;
    const auto add = [&](const bytes& b) {
      for (const std::uint8_t v : b)
        for (int bit = 7; bit >= 0; --bit) stream.push_back(v >> bit & 1);
    };
    add({0x66, 0x1B});
    add(head);
    const std::size_t data_bit = stream.size();
    add(data);
    add({check});
    bool first = true, marked = false;
    for (std::size_t at = 0; at < stream.size();) {
      const std::size_t left = stream.size() - at;
      const int next = left > 1 ? stream[at + 1] : 1;  // a last lone 0 padded
      int pulse = 0, bits = 1;                         // of length[pulse], for this many bits
      if (first && stream[at] == 1) {
        pulse = 0;
      } else if (first) {
        pulse = next == 0 ? 1 : 2, bits = 2;
        first = next != 0;
      } else if (stream[at] == 1) {
        pulse = 1;
        first = true;
      } else if (next == 0 && left > 1 && !k.two_shorts) {
        pulse = 2, bits = 2;
      }
      if (!marked && data_bit < at + static_cast<std::size_t>(bits)) {
        w.mark();  // the pulse that holds the data's first bit
        marked = true;
      }
      w.pulse(length[pulse]);
      at += static_cast<std::size_t>(bits);
    }
  };
  const auto sum = [](const bytes& b) {
    auto s = static_cast<std::uint8_t>(b.size());
    for (const std::uint8_t v : b) s = static_cast<std::uint8_t>(s + v);
    return s;
  };
  const std::size_t first_part = p.data.size() % 256 == 0 ? 256 : p.data.size() % 256;
  const std::size_t pages = (p.data.size() - first_part) / 256;
  const auto offset = static_cast<std::uint8_t>(256 - first_part);
  const auto base = static_cast<std::uint16_t>(p.start - offset);
  const auto block = static_cast<std::uint8_t>(i + 1);
  bytes head = {block,
                0,
                static_cast<std::uint8_t>(base),
                static_cast<std::uint8_t>(base >> 8),
                static_cast<std::uint8_t>(pages),
                offset};
  head.push_back(sum(head));
  const bytes first_bytes(p.data.begin(), p.data.begin() + static_cast<long>(first_part));
  sub_block(2068, head, first_bytes, written(sum(first_bytes), k, i));
  for (std::size_t n = 1; n <= pages; ++n) {
    const auto from = p.data.begin() + static_cast<long>(first_part + 256 * (n - 1));
    const bytes numbered = {block, static_cast<std::uint8_t>(n)};
    bytes all = numbered;
    all.insert(all.end(), from, from + 256);
    sub_block(40, numbered, bytes(from, from + 256), sum(all));
  }
}

// A dropout in each file's data: a short glitch in the middle of a pulse,
// which a loader takes for two.
bytes dropouts(bytes out, const turbo_knobs& k) {
  if (k.dropout == 0) return out;
  for (auto at = data_starts.rbegin(); at != data_starts.rend(); ++at)
    if (*at + k.dropout < out.size())
      out.insert(out.begin() + static_cast<long>(*at + k.dropout), 2);
  return out;
}

}  // namespace

std::vector<turbo_format> turbo_formats() {
  std::vector<turbo_format> all;
  for (int f = 0; f <= static_cast<int>(turbo_format::super_pavloda_t2); ++f)
    all.push_back(static_cast<turbo_format>(f));
  return all;
}

const char* turbo_format_name(turbo_format f) {
  switch (f) {
    case turbo_format::freeload:
      return "Freeload";
    case turbo_format::hitload:
      return "Hitload";
    case turbo_format::ocean_new_f1:
      return "Ocean New F1";
    case turbo_format::ocean_new_f2:
      return "Ocean New F2";
    case turbo_format::novaload:
      return "Novaload";
    case turbo_format::novaload_special:
      return "Novaload Special";
    case turbo_format::ocean_imagine:
      return "Ocean-Imagine";
    case turbo_format::cyberload_f1:
      return "Cyberload F1";
    case turbo_format::cyberload_f2:
      return "Cyberload F2";
    case turbo_format::cyberload_f3:
      return "Cyberload F3";
    case turbo_format::cyberload_f4:
      return "Cyberload F4";
    case turbo_format::bleepload:
      return "Bleepload";
    case turbo_format::bleepload_special:
      return "Bleepload Special";
    case turbo_format::burner:
      return "Burner";
    case turbo_format::us_gold:
      return "U.S. Gold";
    case turbo_format::mega_save_t1:
    case turbo_format::mega_save_t2:
    case turbo_format::mega_save_t3:
      return "Mega-Save";
    case turbo_format::turbotape:
      return "Turbotape 250";
    case turbo_format::anirog:
      return "Anirog";
    case turbo_format::pavloda:
      return "Pavloda";
    case turbo_format::virgin:
      return "Virgin";
    case turbo_format::hi_tec:
      return "Hi-Tec";
    case turbo_format::wildload:
      return "Wildload";
    case turbo_format::flashload:
      return "Flashload";
    case turbo_format::jetload:
      return "Jetload";
    case turbo_format::firebird_t1:
    case turbo_format::firebird_t2:
      return "Firebird";
    case turbo_format::accolade:
    case turbo_format::accolade_ea:
      return "Accolade";
    case turbo_format::seuck:
      return "SEUCK";
    case turbo_format::super_pavloda_t1:
    case turbo_format::super_pavloda_t2:
      return "Super Pavloda";
  }
  return "";
}

const std::vector<std::size_t>& turbo_data_starts() { return data_starts; }

bytes turbo_tape(turbo_format f, const std::vector<turbo_program>& files, const turbo_knobs& k) {
  data_starts.clear();
  bytes out;
  using tf = turbo_format;
  // Each format's pulses for 0 and 1, and its bit order.
  struct timing {
    int zero, one;
    bool msb;
  };
  const auto timing_of = [](tf t) -> timing {
    switch (t) {
      case tf::freeload:
        return {0x24, 0x41, true};
      case tf::hitload:
        return {0x34, 0x66, true};
      case tf::ocean_new_f1:
      case tf::ocean_new_f2:
        return {0x22, 0x42, true};
      case tf::novaload:
      case tf::novaload_special:
      case tf::ocean_imagine:
        return {0x24, 0x56, false};
      case tf::cyberload_f1:
      case tf::cyberload_f2:
      case tf::cyberload_f3:
      case tf::cyberload_f4:
        return {0x31, 0x5B, true};
      case tf::bleepload:
      case tf::bleepload_special:
        return {0x2F, 0x5A, true};
      case tf::burner:
        return {0x22, 0x42, false};
      case tf::us_gold:
        return {0x25, 0x3F, true};
      case tf::mega_save_t1:
        return {0x19, 0x28, true};
      case tf::mega_save_t2:
        return {0x26, 0x36, true};
      case tf::mega_save_t3:
        return {0x36, 0x47, true};
      case tf::turbotape:
      case tf::anirog:
        return {0x19, 0x28, true};
      case tf::pavloda:
        return {0x3F, 0x1F, true};
      case tf::virgin:
        return {0x21, 0x3B, true};
      case tf::hi_tec:
        return {0x25, 0x45, true};
      case tf::wildload:
        return {0x30, 0x47, false};
      case tf::flashload:
        return {0x1F, 0x31, true};
      case tf::jetload:
        return {0x33, 0x58, false};
      case tf::firebird_t1:
        return {0x44, 0x7E, false};
      case tf::firebird_t2:
        return {0x45, 0x65, false};
      case tf::accolade:
        return {0x29, 0x4A, true};
      case tf::accolade_ea:
        return {0x24, 0x40, true};
      case tf::seuck:
        return {0x20, 0x41, false};
      case tf::super_pavloda_t1:
        return {0x2E, 0x45, true};
      case tf::super_pavloda_t2:
        return {0x3E, 0x5D, true};
    }
    return {0, 0, true};
  };
  const timing t = timing_of(f);
  if (f == tf::burner) burner_boot(out, 0x96, 0xAD, true);
  bits w(out, t.zero, t.one, t.msb, k);
  w.pause();
  if (f == tf::cyberload_f1) {
    cyberload_f1(w, files);
    w.pause();
    return dropouts(out, k);
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    const turbo_program& p = files[i];
    switch (f) {
      case tf::freeload:
      case tf::hitload:
      case tf::ocean_new_f1:
      case tf::ocean_new_f2:
        freeload(w, p, i, f, k);
        break;
      case tf::novaload:
        novaload(w, p, i, k);
        break;
      case tf::novaload_special:
        novaload_special(w, p, i, k);
        break;
      case tf::ocean_imagine:
        ocean_imagine(w, p);
        break;
      case tf::cyberload_f2:
        cyberload_f2(w, p);
        break;
      case tf::cyberload_f3:
        cyberload_f3(w, p, i, k);
        break;
      case tf::cyberload_f4:
        accolade(w, p, i, 0x96, k);
        break;
      case tf::accolade:
      case tf::accolade_ea:
        accolade(w, p, i, 0xAA, k);
        break;
      case tf::bleepload:
      case tf::bleepload_special:
        bleepload(w, p, i, f == tf::bleepload_special, k);
        break;
      case tf::burner:
        w.byte_n(0x96, 95);
        w.byte(0xAD);
        w.word(p.start);
        w.word(end_of(p));
        w.data(p.data);
        break;
      case tf::us_gold:
        w.byte_n(0x20, 64);
        w.byte(0xFF);
        w.all(name16(p.name));
        w.word(p.start);
        w.word(end_of(p));
        w.data(p.data);
        w.byte(written(xor_of(p.data), k, i));
        break;
      case tf::mega_save_t1:
      case tf::mega_save_t2:
      case tf::mega_save_t3:
        w.byte_n(0x20, 256);
        w.byte_n(0x63, 159);
        for (int s = 0x64; s <= 0xFF; ++s) w.byte(static_cast<std::uint8_t>(s));
        w.byte(0x01);  // the flag
        w.word(p.start);
        w.word(end_of(p));
        w.word(0x0801);
        w.byte(0);
        w.byte(1);
        w.word(0);
        w.data(p.data);
        w.byte(written(xor_of(p.data), k, i));
        break;
      case tf::turbotape:
        turbotape(w, p, i, k);
        break;
      case tf::anirog:
        w.byte_n(0x02, 247);
        for (int c = 9; c >= 1; --c) w.byte(static_cast<std::uint8_t>(c));
        w.byte(0x01);
        w.word(p.start);
        w.word(end_of(p));
        w.data(p.data);
        break;
      case tf::pavloda: {
        // A 0 is one long pulse, a 1 two short ones.
        for (int n = 0; n < 2063; ++n) w.pulse(0x3F);
        w.pulse(0x1F);
        w.pulse(0x1F);
        bytes all;
        for (const std::uint16_t v : {p.start, end_of(p)}) {
          all.push_back(static_cast<std::uint8_t>(v));
          all.push_back(static_cast<std::uint8_t>(v >> 8));
        }
        all.insert(all.end(), p.data.begin(), p.data.end());
        std::uint8_t check = 0;
        for (const std::uint8_t b : p.data) check = static_cast<std::uint8_t>(check + b + 1);
        all.push_back(written(check, k, i));
        w.mark();
        for (const std::uint8_t b : all) {
          for (int bit = 7; bit >= 0; --bit) {
            if ((b >> bit) & 1) {
              w.pulse(0x1F);
              w.pulse(0x1F);
            } else {
              w.pulse(0x3F);
            }
          }
        }
        break;
      }
      case tf::virgin:
      case tf::hi_tec:
        w.byte_n(0xAA, 256);
        w.byte(0xA0);
        w.byte(static_cast<std::uint8_t>(i));
        w.byte(0x10);
        w.word(p.start);
        w.word(end_of(p));
        w.word(0x0000);
        w.data(p.data);
        w.byte(written(xor_of(p.data), k, i));
        break;
      case tf::wildload:
        wildload(w, p, i, k);
        break;
      case tf::flashload:
        for (int n = 0; n < 2048; ++n) w.bit(1);
        w.bit(0);
        w.byte(0x33);
        w.word(p.start);
        w.word(end_of(p));
        w.data(p.data);
        w.byte(written(xor_of(p.data), k, i));
        break;
      case tf::jetload:
        w.byte_n(0x00, 2);
        w.byte(0xD1);
        w.byte(0x2E);
        w.word(p.start);
        w.word(end_of(p));
        w.data(p.data);
        break;
      case tf::firebird_t1:
      case tf::firebird_t2:
        w.byte_n(0x02, 254);
        w.byte(0x52);
        w.byte(0x42);
        w.word(p.start);
        w.word(end_of(p));
        w.data(p.data);
        w.byte(written(xor_of(p.data), k, i));
        break;
      case tf::seuck:
        w.byte_n(0xE3, 256);
        w.byte(0xAC);
        w.data(p.data);
        break;
      case tf::super_pavloda_t1:
        super_pavloda(w, p, i, {0x2E, 0x45, 0x5C}, k);
        break;
      case tf::super_pavloda_t2:
        super_pavloda(w, p, i, {0x3E, 0x5D, 0x7C}, k);
        break;
      case tf::cyberload_f1:
        break;
    }
    // A few stray pulses after the block, as mastering leaves them, then a
    // pause; Pavloda's blocks end at their last pulse.
    if (f != tf::pavloda && f != tf::super_pavloda_t1 && f != tf::super_pavloda_t2)
      w.byte_n(0x00, 1);
    w.pause();
  }
  return dropouts(out, k);
}

bytes random_bytes(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  bytes b(n);
  for (auto& v : b) v = static_cast<std::uint8_t>(rng());
  return b;
}

std::vector<turbo_program> turbo_sample_files(turbo_format f) {
  if (f == turbo_format::seuck) return {{0x0900, random_bytes(63226, 1), ""}};
  // Cyberload F1's files each start within 255 bytes of the last one's end,
  // the first always at $0002; F2 loads at a page's start.
  if (f == turbo_format::cyberload_f1)
    return {{0x0002, random_bytes(300, 2), ""}, {0x014E, random_bytes(200, 3), ""}};
  if (f == turbo_format::cyberload_f2) return {{0x0800, random_bytes(700, 2), ""}};
  // Chains of whole pages: Bleepload's first block holds 64 bytes, the rest 256.
  const bool pages = f == turbo_format::novaload_special || f == turbo_format::ocean_imagine ||
                     f == turbo_format::bleepload_special;
  const bool bleep = f == turbo_format::bleepload;
  const std::size_t a = pages ? 768 : bleep ? 64 + 3 * 256 : 700;
  const std::size_t b = pages ? 512 : bleep ? 64 + 256 : 333;
  return {{pages ? std::uint16_t{0x0800} : std::uint16_t{0x0801}, random_bytes(a, 2), "FIRST FILE"},
          {0x4000, random_bytes(b, 3), "SECOND"}};
}

bytes example_turbo_tape() {
  tape_writer rom(pulse_values::spread(), 1984);
  rom.rom_file(1, "STARFALL", random_bytes(600, 1));
  bytes pulses = rom.pulses();
  const auto add = [&](const bytes& more) {
    pulses.insert(pulses.end(), more.begin(), more.end());
  };
  add(turbo_tape(turbo_format::freeload, {{0x0801, random_bytes(3000, 2), ""}}));
  add(turbo_tape(turbo_format::novaload, {{0x2000, random_bytes(1800, 3), "LEVEL 2"}}));
  // A loader of its own: a byte pilot, then bytes of three lengths of pulse.
  bytes own;
  for (int k = 0; k < 800; ++k) own.push_back(k % 8 == 7 ? 0x50 : 0x28);
  std::uint32_t x = 77;
  for (int k = 0; k < 6000; ++k) {
    x = x * 1103515245 + 12345;
    own.push_back(static_cast<std::uint8_t>(0x20 + 0x18 * (x >> 16 & 3 ? (x >> 18 & 1) : 2)));
  }
  add(own);
  add({0, 0x40, 0x0D, 0x03});  // a pause of a fifth of a second
  add(turbo_tape(turbo_format::us_gold, {{0xC000, random_bytes(400, 4), "HIGH SCORES"}}));
  return tap_file(pulses);
}
