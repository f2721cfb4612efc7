// The catalogue: whole blocks from the block reader, paired with their
// repeats, each header given the program block that follows it, and
// numbered by the header decoder run alongside.
#include "catalogue/tape_catalogue.h"

#include <utility>

namespace {

// Header fields: type, start, end (low byte first), then the name.
constexpr std::size_t HEADER_FIELDS = 5 + NAME_LENGTH;
// The ROM's header block: 192 bytes and the checksum.
constexpr std::size_t HEADER_BLOCK = 193;

bool header_type(std::uint8_t t) { return t == 1 || t == 3 || t == 4 || t == 5; }

std::uint16_t word_at(const std::vector<std::uint8_t>& d, std::size_t i) {
  return static_cast<std::uint16_t>(d[i] | d[i + 1] << 8);
}

}  // namespace

tape_catalogue::tape_catalogue(machine m, class_path path) : hz_(timing_of(m).clock), rom_(path) {}

void tape_catalogue::feed(const std::uint8_t* bytes, std::size_t count) {
  clock_.start_piece(bytes, count);
  std::size_t at = 0;
  while (at < count) {
    std::size_t used = 0;
    const int found = scan_pulses(dec_, bytes + at, count - at, name_buf_, &used);
    read_blocks(bytes + at, used);  // up to and with the pulse that completed a name
    at += used;
    if (found) listed(clock_.offset_of(bytes + at - 1));
  }
  clock_.end_piece();
}

void tape_catalogue::read_blocks(const std::uint8_t* p, std::size_t n) {
  rom_.read(p, n, clock_, ended_);
  for (rom_block& b : ended_) add_block(std::move(b));
  ended_.clear();
}

// The header decoder has just listed a name: the block being read is that
// header's first copy, 21 bytes past its countdown, at the long pulse after them.
void tape_catalogue::listed(std::uint64_t offset) {
  ++listed_count_;
  if (rom_.mark_listed(listed_count_)) return;
  // Cannot happen while the two read the same pulses alike; were it ever
  // to, the name still gets its entry, with nothing of it vouched for.
  catalogue_entry e;
  e.number = listed_count_;
  for (std::size_t i = 0; i < NAME_LENGTH; ++i) e.name[i] = name_buf_[i];
  e.offset = offset;
  done_.insert(waiting_ ? done_.end() - 1 : done_.end(), std::move(e));
}

void tape_catalogue::add_block(rom_block b) {
  if (b.repeat && has_pending_) {
    has_pending_ = false;
    add_unit(&pending_, &b);
    return;
  }
  if (has_pending_) {
    has_pending_ = false;
    add_unit(&pending_, nullptr);
  }
  if (b.repeat) {
    add_unit(nullptr, &b);
    return;
  }
  pending_ = std::move(b);
  has_pending_ = true;
}

// A block and its repeat, either of which may be missing: the program of
// the header before it, when one waits and it is no header itself, or a
// header, or neither.
void tape_catalogue::add_unit(rom_block* first, rom_block* repeat) {
  rom_block* good = first && first->loads() ? first : repeat && repeat->loads() ? repeat : nullptr;
  const rom_block* any = good ? good : first ? first : repeat;
  const int number = first ? first->number : 0;
  const bool header_shaped =
      good && good->data.size() > HEADER_FIELDS && header_type(good->data[0]);
  bool was_program = false;
  if (waiting_) {
    catalogue_entry& w = done_.back();
    const long expected = w.end >= w.start ? long{w.end} - w.start : -1;
    waiting_ = false;
    // The ROM loads whatever block follows a header as its program; only a
    // whole, sound header block of another size is taken as the next header.
    const bool next_header = header_shaped && good->data.size() == HEADER_BLOCK && expected != 192;
    if (!next_header) {
      const auto fits = [&](const rom_block* b) {
        return b && b->loads() &&
               (expected < 0 || static_cast<long>(b->data.size()) - 1 == expected);
      };
      const rom_block* from = fits(first) ? first : fits(repeat) ? repeat : nullptr;
      w.program_check = from == first && from ? copy_check::ok
                        : from                ? copy_check::repeat
                                              : copy_check::damaged;
      if (from) w.program.assign(from->data.begin(), from->data.end() - 1);
      if (number == 0) return;  // the block was a program and nothing more
      was_program = true;
    }
  }
  if (number == 0 && !header_shaped) return;  // a data block, or none a machine would take
  catalogue_entry e;
  e.number = number;
  const std::vector<std::uint8_t>& d = any->data;
  if (d.size() >= HEADER_FIELDS) {
    e.type = d[0];
    e.start = word_at(d, 1);
    e.end = word_at(d, 3);
    for (std::size_t i = 0; i < NAME_LENGTH; ++i) e.name[i] = d[5 + i];
  }
  const rom_block& where = first ? *first : *repeat;
  e.offset = where.offset;
  e.seconds = static_cast<double>(where.cycles) / hz_;
  e.header = good == first && good ? copy_check::ok
             : good                ? copy_check::repeat
                                   : copy_check::damaged;
  // A listed block that was taken as the program before it has none of its own.
  waiting_ = (e.type == 1 || e.type == 3) && !was_program;
  done_.push_back(std::move(e));
}

void tape_catalogue::finish() {
  rom_.finish(ended_);
  for (rom_block& b : ended_) add_block(std::move(b));
  ended_.clear();
  if (has_pending_) {
    has_pending_ = false;
    add_unit(&pending_, nullptr);
  }
  waiting_ = false;  // no program followed: it is missing
}

std::vector<catalogue_entry> tape_catalogue::take_settled() {
  std::vector<catalogue_entry> out;
  const std::size_t ready = done_.size() - (waiting_ ? 1 : 0);
  for (std::size_t i = 0; i < ready; ++i) {
    out.push_back(std::move(done_.front()));
    done_.pop_front();
  }
  return out;
}
