// The turbo formats that do not fit the generic reader's shape, each
// written from the loaders' format notes; why each needs code of its own is
// said above it.
#include "catalogue/turbo_formats.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace {

using bytes = std::vector<std::uint8_t>;

std::uint16_t word(const bytes& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

std::uint8_t xor_of(const std::uint8_t* p, std::size_t n) {
  std::uint8_t x = 0;
  for (std::size_t i = 0; i < n; ++i) x ^= p[i];
  return x;
}

// The most bytes any block holds, with its header: no reader reads on past it.
constexpr std::size_t MOST = 0x10000 + 256;

// The most pages a chain of them holds. A chain may load over memory more
// than once (Arkanoid's Ocean-Imagine chain is 275 pages), but not for long.
constexpr std::size_t MOST_PAGES = 1024;

// --- Turbotape 250 and Anirog ------------------------------------------------
// A Turbotape file is two blocks, a header and its data, each behind its own
// lead: the data block takes its length from the header before it, which
// the row's memory keeps, and goes on from it. Anirog writes the same lead
// but one block with no header of its own, told apart by its length.

struct turbotape_memory : loader_memory {
  bool header = false;  // a header was the last block read
  std::uint16_t start = 0, end = 0;
};

class turbotape : public block_reader {
 public:
  explicit turbotape(turbotape_memory& m) : m_(m) {}
  reading byte(std::uint8_t b) override {
    got_.push_back(b);
    const std::uint8_t type = got_[0];
    if (type > 2 || (type == 0 && !m_.header)) return reading::failed;
    if (type == 0) return got_.size() == 1 + data_size() + 1 ? reading::done : reading::more;
    if (got_.size() < 5) return reading::more;
    if (size() == 0) return reading::failed;
    // A header is 192 bytes and perhaps their XOR; a block of type 1 that
    // runs on to the end its addresses give is Anirog's.
    if (type == 1 && size() > 188 && got_.size() == 5 + size())
      return anirog_ = true, reading::done;
    if (got_.size() == 194 && (type == 2 || size() <= 188)) return reading::done;
    return got_.size() >= MOST ? reading::failed : reading::more;
  }
  reading end() override {
    if (got_.empty()) return reading::failed;
    if (got_[0] == 0) return got_.size() > 1 ? reading::done : reading::failed;
    // A short Anirog block ends where its data does.
    anirog_ = got_[0] == 1 && got_.size() >= 5 && got_.size() == 5 + size();
    return got_.size() >= 22 || anirog_ ? reading::done : reading::failed;
  }
  std::vector<turbo_file> files() override {
    if (got_[0] == 0) return data_file();
    const std::uint16_t start = word(got_, 1), end = word(got_, 3);
    m_.header = false;
    if (anirog_) {  // its data after the addresses, which no checksum follows
      turbo_file f =
          turbo::file("Anirog", start, bytes(got_.begin() + 5, got_.end()), copy_check::none);
      f.end = end;
      return {f};
    }
    turbo_file h = turbo::file("Turbotape 250", start, {}, copy_check::missing);
    h.end = end;
    h.has_name = true;
    std::memset(h.name, ' ', 16);
    std::memcpy(h.name, got_.data() + 6, std::min<std::size_t>(16, got_.size() - 6));
    // Some headers are followed by the XOR of their 192 bytes, some not.
    h.header = got_.size() >= 194 && xor_of(got_.data(), 192) == got_[192] ? copy_check::ok
                                                                           : copy_check::none;
    h.checks_held = h.header == copy_check::ok ? 1 : 0;
    h.may_continue = true;
    m_.header = true;
    m_.start = start;
    m_.end = end;
    return {h};
  }

 private:
  std::uint32_t size() const {
    const std::uint16_t start = word(got_, 1), end = word(got_, 3);
    return end > start ? end - start : 0;
  }
  std::size_t data_size() const { return static_cast<std::size_t>(m_.end - m_.start); }
  std::vector<turbo_file> data_file() {
    const std::size_t size = data_size(), have = std::min(size, got_.size() - 1);
    const bool holds = got_.size() >= size + 2 && xor_of(got_.data() + 1, size) == got_[1 + size];
    turbo_file f = turbo::file(
        "Turbotape 250", m_.start,
        holds ? bytes(got_.begin() + 1, got_.begin() + 1 + static_cast<long>(have)) : bytes{},
        holds ? copy_check::ok : copy_check::damaged);
    f.end = m_.end;
    f.checks_held = holds ? 1 : 0;
    f.continues = true;
    m_.header = false;
    return {f};
  }

  turbotape_memory& m_;
  bytes got_;
  bool anirog_ = false;
};

// --- Novaload and Novaload Special -------------------------------------------
// Its checks are running sums placed between 256-byte sub-blocks, and its
// Special form is a chain of sub-blocks, each with its own sum, ending at a
// tone, not at a length any header gives.

class novaload : public block_reader {
 public:
  reading byte(std::uint8_t b) override {
    if (got_ == 0 && b == 0x55) {
      special_ = true;
      ++got_;
      return reading::more;
    }
    ++got_;
    return special_ ? special_byte(b) : standard_byte(b);
  }
  reading end() override {
    // A Special chain ends at its tone: one cut before it lacks what came after.
    if (special_) return pieces_.empty() ? reading::failed : (damaged_ = true, reading::done);
    return header_done_ ? (cut_ = true, reading::done) : reading::failed;
  }
  std::vector<turbo_file> files() override {
    if (special_) {
      turbo_file f =
          pieces_.file("Novaload Special", damaged_ ? copy_check::damaged : copy_check::ok);
      f.checks_held = held_;
      return {f};
    }
    const bool whole = !cut_ && !damaged_ && data_.size() == size_;
    turbo_file f = turbo::file("Novaload", start_, whole ? data_ : bytes{},
                               whole ? copy_check::ok : copy_check::damaged);
    f.end = static_cast<std::uint16_t>(start_ + size_);
    f.checks_held = held_;
    if (!name_.empty()) {
      f.has_name = true;
      std::memset(f.name, ' ', 16);
      std::memcpy(f.name, name_.data(), std::min<std::size_t>(16, name_.size()));
    }
    return {f};
  }

 private:
  // The standard form: name length and name, three words, then a check
  // byte before each 256 bytes of data and one after the last; each check
  // the sum of every byte before it, itself then added in.
  reading standard_byte(std::uint8_t b) {
    if (!header_done_) {
      head_.push_back(b);
      sum_ = static_cast<std::uint8_t>(sum_ + b);
      const std::size_t len = head_[0];
      if (head_.size() == 1 + len) name_.assign(head_.begin() + 1, head_.end());
      if (head_.size() < 1 + len + 6) return reading::more;
      start_ = static_cast<std::uint16_t>(word(head_, 1 + len) + 256);
      size_ = static_cast<std::uint32_t>(word(head_, 1 + len + 4)) - 256;
      if (word(head_, 1 + len + 4) < 256 || !turbo::fits(start_, size_)) return reading::failed;
      header_done_ = true;
      check_next_ = true;
      return reading::more;
    }
    if (check_next_) {
      if (b != sum_) {
        damaged_ = true;
        return reading::done;
      }
      ++held_;
      sum_ = static_cast<std::uint8_t>(sum_ + b);
      check_next_ = false;
      return data_.size() == size_ ? reading::done : reading::more;
    }
    data_.push_back(b);
    sum_ = static_cast<std::uint8_t>(sum_ + b);
    if (data_.size() % 256 == 0 || data_.size() == size_) check_next_ = true;
    return reading::more;
  }

  // The Special form: address byte, 256 bytes and their sum, again and
  // again; the tone after the chain reads as sub-blocks of zeros.
  reading special_byte(std::uint8_t b) {
    block_.push_back(b);
    if (block_.size() == 1 && b == 0 && !pieces_.empty())
      return reading::done;  // the tone after the chain
    if (block_.size() < 258) return reading::more;
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < 257; ++i) sum = static_cast<std::uint8_t>(sum + block_[i]);
    // A sub-block whose sum fails is kept, and the chain read on: the sums
    // of the others still say whose chain it is.
    if (sum != block_[257]) {
      damaged_ = true;
    } else {
      ++held_;
    }
    pieces_.add(static_cast<std::uint16_t>(block_[0] << 8),
                bytes(block_.begin() + 1, block_.begin() + 257));
    block_.clear();
    return pieces_.pieces() > MOST_PAGES ? reading::failed : reading::more;
  }

  bool special_ = false, header_done_ = false, check_next_ = false, damaged_ = false, cut_ = false;
  std::size_t got_ = 0;
  std::uint32_t held_ = 0;  // checks that held
  std::uint8_t sum_ = 0;
  bytes head_, name_, data_, block_;
  std::uint16_t start_ = 0;
  std::uint32_t size_ = 0;
  turbo::chain pieces_;
};

// --- Ocean-Imagine -------------------------------------------------------------
// A chain of 256-byte sub-blocks, each behind a flag and an address byte,
// that ends at an address byte of 0 (or 2, then a tone): no length and no
// checksum to read it by.

class ocean_imagine : public block_reader {
 public:
  reading byte(std::uint8_t b) override {
    if (first_) {
      first_ = false;
      if (b == 0xAA) return reading::more;  // the flag of types 2 and 3
    }
    block_.push_back(b);
    if (block_.size() == 2) {
      if (block_[1] == 0x00)
        return pieces_.empty() ? reading::failed : (ended_ = true, reading::done);
      if (block_[1] == 0x02) maybe_end_ = true;
    }
    if (maybe_end_ && block_.size() >= 2 + 16 && block_.size() <= 2 + 16 &&
        std::all_of(block_.begin() + 2, block_.end(), [](std::uint8_t v) { return v == 0; }))
      return pieces_.empty() ? reading::failed : (ended_ = true, reading::done);
    if (block_.size() < 258) return reading::more;
    pieces_.add(static_cast<std::uint16_t>(block_[1] << 8),
                bytes(block_.begin() + 2, block_.end()));
    block_.clear();
    maybe_end_ = false;
    return pieces_.pieces() > MOST_PAGES ? reading::failed : reading::more;
  }
  reading end() override { return pieces_.empty() ? reading::failed : reading::done; }
  std::vector<turbo_file> files() override {
    return {pieces_.file("Ocean-Imagine", ended_ ? copy_check::none : copy_check::damaged)};
  }

 private:
  bool first_ = true, maybe_end_ = false, ended_ = false;
  bytes block_;
  turbo::chain pieces_;
};

// --- Accolade (and Cyberload F4) ----------------------------------------------
// Its header has a check of its own, and its data comes in 256-byte
// sub-blocks each followed by its XOR.

class accolade : public block_reader {
 public:
  explicit accolade(const char* loader) : loader_(loader) {}
  reading byte(std::uint8_t b) override {
    if (head_.size() < 21) {
      head_.push_back(b);
      if (head_.size() < 21) return reading::more;
      start_ = word(head_, 16);
      size_ = word(head_, 18);
      header_ok_ = xor_of(head_.data(), 20) == head_[20];
      held_ += header_ok_ ? 1 : 0;
      if (!turbo::fits(start_, size_)) return reading::failed;
      return reading::more;
    }
    block_.push_back(b);
    const std::size_t want = std::min<std::size_t>(256, size_ - data_.size());
    if (block_.size() < want + 1) return reading::more;
    if (xor_of(block_.data(), want) != block_[want]) {
      damaged_ = true;
    } else {
      ++held_;
    }
    data_.insert(data_.end(), block_.begin(), block_.begin() + static_cast<long>(want));
    block_.clear();
    return data_.size() == size_ || damaged_ ? reading::done : reading::more;
  }
  reading end() override {
    return head_.size() == 21 ? (damaged_ = damaged_ || data_.size() < size_, reading::done)
                              : reading::failed;
  }
  std::vector<turbo_file> files() override {
    const bool whole = !damaged_ && header_ok_ && data_.size() == size_;
    turbo_file f = turbo::file(loader_, start_, whole ? data_ : bytes{},
                               whole ? copy_check::ok : copy_check::damaged);
    f.end = static_cast<std::uint16_t>(start_ + size_);
    f.header = header_ok_ ? copy_check::ok : copy_check::damaged;
    f.checks_held = held_;
    f.has_name = true;
    std::memcpy(f.name, head_.data(), 16);
    return {f};
  }

 private:
  const char* loader_;
  bytes head_, block_, data_;
  std::uint16_t start_ = 0;
  std::uint32_t size_ = 0, held_ = 0;
  bool header_ok_ = false, damaged_ = false;
};

// --- Cyberload F1, F2 and F3 ---------------------------------------------------
// Its threshold, pilot and sync are each tape's own (the row measures the
// threshold from the pilot); its sync byte says which of its formats
// follows. F1 carries nine-bit bytes, an extra bit saying whether another
// byte follows; F2 is enciphered; F3 is a chain of sub-blocks, each with
// its XOR, which may be cut by pauses: the row's memory joins them.

struct cyberload_memory : loader_memory {
  std::uint32_t last_end = 0x10001;  // where the last F3 chain ended
};

class cyberload : public block_reader {
 public:
  cyberload(std::uint8_t sync, cyberload_memory& m) : sync_(sync), m_(m) {}

  bool bitwise() const override { return f1_; }

  reading byte(std::uint8_t b) override {
    got_.push_back(b);
    if (sync_ == 0xF0) {
      if (got_.size() == 1 && b == 0x2D) {
        f1_ = true;  // F1: the first file's load offset, always 0x2D
        prev_end_ = 0xFFD5;
        start_file(b);
        return reading::more;
      }
      return f2_byte();
    }
    return f3_byte();
  }

  // F1's bits: eight of a byte, then one: 1 another byte follows, 0 the
  // file ends (and the byte before it was none of its data); then one bit:
  // 1 another file follows.
  reading bit(int b) override {
    if (between_files_) {
      between_files_ = false;
      if (b == 0) return reading::done;
      bits_ = 0;
      reading_offset_ = true;
      return reading::more;
    }
    if (bits_ < 8) {
      reg_ = static_cast<std::uint8_t>(reg_ << 1 | b);
      if (++bits_ < 8) return reading::more;
      if (reading_offset_) {
        reading_offset_ = false;
        bits_ = 0;
        start_file(reg_);
      }
      return reading::more;
    }
    bits_ = 0;
    if (b == 1) {
      data_.push_back(reg_);
      return data_.size() > 0xFFFF ? reading::failed : reading::more;
    }
    files_.push_back(turbo::file("Cyberload F1", start_, data_, copy_check::none));
    prev_end_ = start_ + static_cast<std::uint32_t>(data_.size());
    data_.clear();
    between_files_ = true;
    return reading::more;
  }

  reading end() override {
    if (f1_) return files_.empty() ? reading::failed : reading::done;
    if (sync_ == 0xF0) return got_.size() >= 4 ? reading::done : reading::failed;
    return open_.empty() ? reading::failed : reading::done;
  }

  std::vector<turbo_file> files() override {
    if (f1_) return files_;
    if (sync_ == 0xF0) {
      // F2: the load address is page-aligned, so its low byte deciphers to
      // 0 and the key is the first byte as read. The data's key is the
      // loader's own: its bytes are not given, only where they load.
      const std::uint8_t key = got_[0];
      const auto start = static_cast<std::uint16_t>((got_[1] ^ key) << 8);
      const auto size = static_cast<std::uint16_t>((got_[2] ^ key) | (got_[3] ^ key) << 8);
      turbo_file f = turbo::file("Cyberload F2", start, {}, copy_check::none);
      f.end = static_cast<std::uint16_t>(start + size);
      return {f};
    }
    // A chain whose sub-blocks go on behind another lead, after a pause.
    turbo_file f = open_.file("Cyberload F3", copy_check::ok);
    f.checks_held = static_cast<std::uint32_t>(open_.pieces());
    f.continues = m_.last_end == first_start_;
    f.may_continue = true;
    m_.last_end = open_.last_end();
    return {f};
  }

 private:
  void start_file(std::uint8_t offset) { start_ = static_cast<std::uint16_t>(prev_end_ + offset); }

  reading f2_byte() {
    if (got_.size() < 4) return reading::more;
    const std::uint8_t key = got_[0];
    const std::uint32_t size = (got_[2] ^ key) | (got_[3] ^ key) << 8;
    const std::uint32_t start = (got_[1] ^ key) << 8;
    if (!turbo::fits(start, size)) return reading::failed;
    return got_.size() >= 4 + size + 1 ? reading::done : reading::more;
  }

  // F3: load address, size (0 for 256), check, four bytes of the loader's,
  // then the data; the check is the XOR of every other byte of it.
  reading f3_byte() {
    if (got_.size() < 8) return reading::more;
    const std::size_t size = got_[2] == 0 ? 256 : got_[2];
    if (got_.size() < 8 + size) return reading::more;
    const std::uint8_t x = static_cast<std::uint8_t>(xor_of(got_.data(), got_.size()) ^ got_[3]);
    const std::uint16_t start = word(got_, 0);
    const bool holds = x == got_[3] && turbo::fits(start, static_cast<std::uint32_t>(size));
    // What follows a chain reads as a sub-block that does not hold, or one
    // that loads elsewhere.
    if (!holds || (!open_.empty() && open_.last_end() != start))
      return open_.empty() ? reading::failed : reading::done;
    if (open_.empty()) first_start_ = start;
    open_.add(start, bytes(got_.begin() + 8, got_.end()));
    got_.clear();
    return reading::more;
  }

  std::uint8_t sync_;
  cyberload_memory& m_;
  bytes got_, data_;
  bool f1_ = false, between_files_ = false, reading_offset_ = false;
  int bits_ = 0;
  std::uint8_t reg_ = 0;
  std::uint16_t start_ = 0;
  std::uint32_t prev_end_ = 0, first_start_ = 0;
  std::vector<turbo_file> files_;
  turbo::chain open_;
};

// --- Bleepload and Bleepload Special ----------------------------------------------
// Each block's lead is a byte the block before named; a chain's blocks,
// behind leads of their own, load one file, which the row's memory joins.

struct bleepload_memory : loader_memory {
  int next_block = -1;  // the block a chain's next one is numbered, -1 with no chain
  bool special = false;
};

class bleepload : public block_reader {
 public:
  explicit bleepload(bleepload_memory& m) : m_(m) {}
  reading byte(std::uint8_t b) override {
    got_.push_back(b);
    // Special: block number, load, a byte, the last-block flag, exec, 256
    // bytes, their XOR. Plain: the next lead's byte, block number, load,
    // 64 bytes (block 0) or 256, a count of dummies and they, the XOR,
    // exec and a byte. The one whose check holds is taken; where neither's
    // does, the plain one, damaged.
    if (got_.size() == SPECIAL && special_holds()) return taken(true, true);
    if (plain_whole()) {
      if (plain_holds()) return taken(false, true);
      plain_failed_ = true;
    }
    // Neither check holds: a block numbered as a Special chain's next one
    // is taken for Special's, any other for a plain one.
    if (plain_failed_ && got_.size() >= SPECIAL) return taken(special_numbered(), false);
    return got_.size() > 600 ? reading::failed : reading::more;
  }
  // A plain block read whole, whose check failed, that no pause left room
  // to be taken for a Special one.
  reading end() override { return plain_failed_ ? taken(false, false) : reading::failed; }
  std::vector<turbo_file> files() override { return {file_}; }

 private:
  static constexpr std::size_t SPECIAL = 7 + 256 + 1;
  bool special_numbered() const {
    return m_.next_block < 0 ? got_[0] == 0 : m_.special && got_[0] == m_.next_block;
  }
  bool special_holds() const { return xor_of(got_.data() + 7, 256) == got_[7 + 256]; }
  std::size_t plain_size() const { return got_.size() > 1 && got_[1] == 0 ? 64 : 256; }
  bool plain_whole() const {
    const std::size_t size = plain_size();
    return got_.size() > 4 + size && got_.size() == 4 + size + 1 + got_[4 + size] + 1 + 3;
  }
  bool plain_holds() const {
    const std::size_t size = plain_size();
    return xor_of(got_.data() + 4, size) == got_[4 + size + 1 + got_[4 + size]];
  }
  reading taken(bool special, bool holds) {
    const std::size_t data_at = special ? 7 : 4, size = special ? 256 : plain_size();
    const std::uint16_t start = word(got_, special ? 1 : 2);
    const int number = special ? got_[0] : got_[1];
    file_ = turbo::file(special ? "Bleepload Special" : "Bleepload", start,
                        holds ? bytes(got_.begin() + static_cast<long>(data_at),
                                      got_.begin() + static_cast<long>(data_at + size))
                              : bytes{},
                        holds ? copy_check::ok : copy_check::damaged);
    file_.end = static_cast<std::uint16_t>(start + size);
    file_.checks_held = holds ? 1 : 0;
    // Blocks numbered on from the chain before go on from its file; a
    // Special chain's last block says it is the last.
    file_.continues = number > 0 && number == m_.next_block && special == m_.special;
    file_.may_continue = !(special && got_[4] == static_cast<std::uint8_t>((start >> 8) + 1));
    // A Special chain says which block is its last: without it, it does not load.
    file_.wants_more = special && file_.may_continue;
    m_.next_block = file_.may_continue ? number + 1 : -1;
    m_.special = special;
    return reading::done;
  }

  bleepload_memory& m_;
  bytes got_;
  bool plain_failed_ = false;
  turbo_file file_;
};

// --- Wildload ---------------------------------------------------------------------
// Its sub-blocks load downwards from their end address, each byte stored
// XOR the low byte of where it goes, and the notes leave open whether the
// first byte goes to the end address or the one below: both are tried, and
// the one whose check holds is kept.

class wildload : public block_reader {
 public:
  reading byte(std::uint8_t b) override {
    got_.push_back(b);
    if (got_.size() < 5) return reading::more;
    const std::uint16_t end = word(got_, 0);
    const std::uint32_t size = word(got_, 2);
    if (end == 0 && size == 0) return pieces_.empty() ? reading::failed : reading::done;
    if (size == 0 || size > end + 1u)
      return pieces_.empty() ? reading::failed : (damaged_ = true, reading::done);
    if (got_.size() < 5 + size + 1) return reading::more;
    for (const int below : {0, 1}) {
      bytes memory(size);
      std::uint8_t x = 0;
      for (std::uint32_t k = 0; k < size; ++k) {
        const std::uint32_t at = end - below - k;
        const auto v = static_cast<std::uint8_t>(got_[5 + k] ^ (at & 0xFF));
        x ^= v;
        memory[size - 1 - k] = v;
      }
      if (x == got_[5 + size]) {
        ++held_;
        pieces_.add(static_cast<std::uint16_t>(end - below - (size - 1)), std::move(memory));
        got_.clear();
        return reading::more;
      }
    }
    damaged_ = true;
    return pieces_.empty() ? reading::failed : reading::done;
  }
  reading end() override {
    return pieces_.empty() ? reading::failed : (damaged_ = true, reading::done);
  }
  std::vector<turbo_file> files() override {
    turbo_file f = pieces_.file("Wildload", damaged_ ? copy_check::damaged : copy_check::ok);
    f.checks_held = held_;
    return {f};
  }

 private:
  bytes got_;
  turbo::chain pieces_;
  bool damaged_ = false;
  std::uint32_t held_ = 0;
};

// --- Super Pavloda ----------------------------------------------------------------
// Its bits come from three lengths of pulse (the row's rule), and a file is
// a chain of sub-blocks, each behind a lead of its own: a primary with the
// file's header and its first bytes, then whole pages, numbered, which say
// nothing of where they load. The row's memory keeps the primary's header
// for them, and a file given out before its last page arrives does not load.

struct super_pavloda_memory : loader_memory {
  int block = -1;          // the block whose pages are awaited; -1: none
  unsigned pages = 0;      // how many follow its primary
  std::uint32_t base = 0;  // page k of it loads at base + 256 k, the primary being page 0
};

class super_pavloda : public block_reader {
 public:
  explicit super_pavloda(super_pavloda_memory& m) : m_(m) {}
  // A primary: block, 0, base, pages, offset, the header's check, then 256
  // less offset bytes (0: 256) and their check. A page: block, its number,
  // 256 bytes, the check of all before it. Each check is the sum of the
  // bytes it covers and their count.
  reading byte(std::uint8_t b) override {
    got_.push_back(b);
    if (got_.size() < 2) return reading::more;
    if (got_[1] == 0) {
      if (got_.size() < 7) return reading::more;
      if (got_.size() == 7 && checked(0, 6) != got_[6]) return reading::failed;
      const std::size_t n = size();
      if (got_.size() < 7 + n + 1) return reading::more;
      return primary(n);
    }
    if (got_.size() < 2 + 256 + 1) return reading::more;
    return page();
  }
  // A block cut short: not a file of this loader's, as far as can be told.
  reading end() override { return reading::failed; }
  std::vector<turbo_file> files() override { return {file_}; }

 private:
  std::uint8_t checked(std::size_t from, std::size_t n) const {
    unsigned sum = static_cast<unsigned>(n);
    for (std::size_t k = from; k < from + n; ++k) sum += got_[k];
    return static_cast<std::uint8_t>(sum);
  }
  std::size_t size() const { return got_[5] == 0 ? 256 : 256 - std::size_t{got_[5]}; }

  reading primary(std::size_t n) {
    const std::uint32_t base = word(got_, 2), pages = got_[4];
    const std::uint32_t start = base + 256 - static_cast<std::uint32_t>(n);
    if (!turbo::fits(start, static_cast<std::uint32_t>(n) + 256 * pages)) return reading::failed;
    const bool holds = checked(7, n) == got_[7 + n];
    file_ = turbo::file(
        "Super Pavloda", static_cast<std::uint16_t>(start),
        holds ? bytes(got_.begin() + 7, got_.begin() + 7 + static_cast<long>(n)) : bytes{},
        holds ? copy_check::ok : copy_check::damaged);
    file_.end = static_cast<std::uint16_t>(start + n);
    file_.header = copy_check::ok;
    file_.checks_held = holds ? 2 : 1;
    file_.may_continue = file_.wants_more = pages > 0;
    m_.block = pages > 0 ? got_[0] : -1;
    m_.pages = pages;
    m_.base = base;
    return reading::done;
  }

  reading page() {
    const unsigned number = got_[1];
    const bool holds = checked(0, 258) == got_[258];
    // Only a page of the block whose primary was read can be placed.
    if (m_.block != got_[0] || number > m_.pages) return reading::failed;
    const std::uint32_t start = m_.base + 256 * number;
    file_ = turbo::file("Super Pavloda", static_cast<std::uint16_t>(start),
                        holds ? bytes(got_.begin() + 2, got_.begin() + 258) : bytes{},
                        holds ? copy_check::ok : copy_check::damaged);
    file_.end = static_cast<std::uint16_t>(start + 256);
    file_.checks_held = holds ? 1 : 0;
    file_.continues = true;
    file_.may_continue = file_.wants_more = number < m_.pages;
    if (number == m_.pages) m_.block = -1;
    return reading::done;
  }

  super_pavloda_memory& m_;
  bytes got_;
  turbo_file file_;
};

template <class memory_type>
memory_type& memory_of(std::unique_ptr<loader_memory>& m) {  // the row's, made when first wanted
  if (!m) m = std::make_unique<memory_type>();
  return static_cast<memory_type&>(*m);
}

}  // namespace

namespace turbo {

turbo_file chain::file(const std::string& loader, copy_check check) const {
  std::uint32_t lo = 0x10000, hi = 0;
  for (const auto& [at, b] : pieces_) {
    lo = std::min<std::uint32_t>(lo, at);
    hi = std::max<std::uint32_t>(hi, at + static_cast<std::uint32_t>(b.size()));
  }
  // One stretch of memory when the pieces fill it exactly, none twice: as
  // their bytes add up to its length, when no two of them overlap.
  bool stretch = hi - lo == size_ && hi <= 0x10000;
  bytes image;
  if (stretch) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> spans;  // where each loads, and its end
    spans.reserve(pieces_.size());
    for (const auto& [at, b] : pieces_)
      if (!b.empty()) spans.emplace_back(at, at + static_cast<std::uint32_t>(b.size()));
    std::sort(spans.begin(), spans.end());
    for (std::size_t k = 1; k < spans.size() && stretch; ++k)
      stretch = spans[k].first >= spans[k - 1].second;
  }
  if (stretch) {
    image.assign(hi - lo, 0);
    for (const auto& [at, b] : pieces_)
      if (!b.empty()) std::memcpy(image.data() + (at - lo), b.data(), b.size());
  }
  if (!stretch) {
    image.clear();
    for (const auto& piece : pieces_)
      image.insert(image.end(), piece.second.begin(), piece.second.end());
    lo = pieces_.empty() ? 0 : pieces_.front().first;
  }
  const std::size_t size = image.size();
  turbo_file f = turbo::file(loader, static_cast<std::uint16_t>(lo),
                             check == copy_check::damaged ? bytes{} : std::move(image), check);
  f.end = static_cast<std::uint16_t>(lo + size);
  return f;
}

}  // namespace turbo

std::unique_ptr<block_reader> turbotape_reader(const loader_row&, const lead_info&,
                                               std::unique_ptr<loader_memory>& m) {
  return std::make_unique<turbotape>(memory_of<turbotape_memory>(m));
}
std::unique_ptr<block_reader> novaload_reader(const loader_row&, const lead_info&,
                                              std::unique_ptr<loader_memory>&) {
  return std::make_unique<novaload>();
}
std::unique_ptr<block_reader> ocean_imagine_reader(const loader_row&, const lead_info&,
                                                   std::unique_ptr<loader_memory>&) {
  return std::make_unique<ocean_imagine>();
}
std::unique_ptr<block_reader> cyberload_reader(const loader_row&, const lead_info& lead,
                                               std::unique_ptr<loader_memory>& m) {
  // F4's blocks are Accolade's, behind another sync.
  if (lead.sync == 0xAA || lead.sync == 0x96 || lead.sync == 0x99)
    return std::make_unique<accolade>("Cyberload F4");
  // F1 and F2 come after long pilots; F3's are short.
  if (lead.sync == 0xF0 && lead.pilot < 64) return nullptr;
  return std::make_unique<cyberload>(lead.sync, memory_of<cyberload_memory>(m));
}
std::unique_ptr<block_reader> accolade_reader(const loader_row&, const lead_info&,
                                              std::unique_ptr<loader_memory>&) {
  return std::make_unique<accolade>("Accolade");
}
std::unique_ptr<block_reader> bleepload_reader(const loader_row&, const lead_info&,
                                               std::unique_ptr<loader_memory>& m) {
  return std::make_unique<bleepload>(memory_of<bleepload_memory>(m));
}
std::unique_ptr<block_reader> wildload_reader(const loader_row&, const lead_info&,
                                              std::unique_ptr<loader_memory>&) {
  return std::make_unique<wildload>();
}
std::unique_ptr<block_reader> super_pavloda_reader(const loader_row&, const lead_info&,
                                                   std::unique_ptr<loader_memory>& m) {
  return std::make_unique<super_pavloda>(memory_of<super_pavloda_memory>(m));
}
