// The catalogue: whole ROM blocks paired with their repeats, each header
// given the program block that follows it and numbered by the header
// decoder run alongside; turbo loaders' files; and, between the stretches
// of tape these explain, what no reader recognises.
#include "catalogue/tape_catalogue.h"

#include <algorithm>
#include <utility>

namespace {

// Header fields: type, start, end (low byte first), then the name.
constexpr std::size_t HEADER_FIELDS = 5 + NAME_LENGTH;
// The ROM's header block: 192 bytes and the checksum.
constexpr std::size_t HEADER_BLOCK = 193;
// Pulses a stretch that no reader recognises needs to be a record of its
// own: fewer are a block's trailer, or stray pulses between blocks.
constexpr std::uint64_t MIN_STRETCH = 512;
// A stretch's pulse values are sampled one in this many bytes.
constexpr std::uint64_t SAMPLE_EVERY = 16;

bool header_type(std::uint8_t t) { return t == 1 || t == 3 || t == 4 || t == 5; }

std::uint16_t word_at(const std::vector<std::uint8_t>& d, std::size_t i) {
  return static_cast<std::uint16_t>(d[i] | d[i + 1] << 8);
}

// The most common pulse values among counts, the most common first: each
// at least a tenth of all, none within 3 of one before it.
std::vector<std::uint8_t> common_values(const std::array<std::uint32_t, 256>& counts) {
  std::uint64_t all = 0;
  for (const std::uint32_t c : counts) all += c;
  std::array<std::uint32_t, 256> left = counts;
  std::vector<std::uint8_t> out;
  while (out.size() < 3 && all > 0) {
    const auto top = std::max_element(left.begin(), left.end());
    if (std::uint64_t{*top} * 10 < all) break;
    const auto v = static_cast<int>(top - left.begin());
    out.push_back(static_cast<std::uint8_t>(v));
    for (int k = std::max(0, v - 3); k <= std::min(255, v + 3); ++k)
      left[static_cast<std::size_t>(k)] = 0;
  }
  return out;
}

}  // namespace

tape_catalogue::tape_catalogue(machine m, class_path path)
    : hz_(timing_of(m).clock), rom_(path), turbo_(path) {
  clock_.log_pauses(&pauses_);
  clock_.keep_checkpoints();
  turbo_.follow(&clock_);
}

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
  turbo_.read(bytes, count, found_, rom_.claims());
  add_turbo(found_);
  sample(bytes, count);
  rom_.forget_claims(fed_ + count);
  fed_ += count;
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
  if (keep_names_) listed_names_.append(reinterpret_cast<const char*>(name_buf_), NAME_LENGTH);
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
  spans_.push_back({b.lead_offset, b.end_offset, b.lead_cycles, b.end_cycles});
  if (blocks_) {
    catalogue_entry e;
    e.kind = entry_kind::block;
    std::fill(e.name, e.name + NAME_LENGTH, ' ');
    const std::vector<std::uint8_t>& d = b.data;
    if (d.size() == HEADER_BLOCK && header_type(d[0])) {
      e.type = d[0];
      e.start = word_at(d, 1);
      e.end = word_at(d, 3);
      std::copy(d.begin() + 5, d.begin() + 5 + NAME_LENGTH, e.name);
    }
    e.offset = b.offset;
    e.seconds = static_cast<double>(b.cycles) / hz_;
    e.length = b.end_offset - b.offset;
    e.duration = static_cast<double>(b.end_cycles - b.cycles) / hz_;
    e.header = b.repeat ? copy_check::repeat : copy_check::ok;
    e.program_check = b.loads() ? copy_check::ok : copy_check::damaged;
    e.block_bytes = static_cast<std::uint32_t>(d.empty() ? 0 : d.size() - 1);
    ready_.push_back(std::move(e));
  }
  // A boot loader's header may say where its turbo blocks' lead is.
  if (!b.repeat && b.loads() && b.data.size() == HEADER_BLOCK)
    turbo_.rom_header(b.data.data(), 192);
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
  // Neither copy loads alone, but the repeat may mend the bytes the first
  // read wrong, as the machine's second pass does: it loads from both.
  rom_block mended;
  const bool mends =
      first && repeat && !first->loads() && !repeat->loads() && repeat->mends(*first, mended.data);
  if (mends) mended.whole = true;
  rom_block* good = first && first->loads()     ? first
                    : repeat && repeat->loads() ? repeat
                    : mends                     ? &mended
                                                : nullptr;
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
      const rom_block* from = fits(first)              ? first
                              : fits(repeat)           ? repeat
                              : mends && fits(&mended) ? &mended
                                                       : nullptr;
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

// The turbo reader's files become entries; the stretches its blocks
// explain are kept for the accounting.
void tape_catalogue::add_turbo(turbo_found& found) {
  for (turbo_file& f : found.files) {
    catalogue_entry e;
    e.loader = f.loader;
    std::fill(e.name, e.name + NAME_LENGTH, ' ');
    if (f.has_name) std::copy(f.name, f.name + NAME_LENGTH, e.name);
    e.start = f.start;
    e.end = f.end;
    e.offset = f.offset;
    e.seconds = static_cast<double>(f.cycles_at) / hz_;
    e.header = f.header;
    e.program = std::move(f.program);
    e.program_check = f.program_check;
    e.length = f.finish - f.begin;
    e.duration = static_cast<double>(f.cycles_finish - f.cycles_begin) / hz_;
    ready_.push_back(std::move(e));
  }
  spans_.insert(spans_.end(), found.spans.begin(), found.spans.end());
  tones_.insert(tones_.end(), found.tones.begin(), found.tones.end());
  if (blocks_) {
    for (const turbo_block& b : found.blocks) {
      catalogue_entry e;
      e.kind = entry_kind::block;
      e.loader = b.loader;
      std::fill(e.name, e.name + NAME_LENGTH, ' ');
      e.offset = b.offset;
      e.seconds = static_cast<double>(b.cycles_at) / hz_;
      e.length = b.finish - b.offset;
      e.duration = static_cast<double>(b.cycles_finish - b.cycles_at) / hz_;
      e.header = copy_check::none;
      e.program_check = b.check;
      e.block_bytes = b.bytes;
      ready_.push_back(std::move(e));
    }
  }
  found.blocks.clear();
  found.files.clear();
  found.spans.clear();
  found.tones.clear();
}

// The pulse value at every SAMPLE_EVERY'th byte of the file, kept until a
// stretch counts it or a block passes it: where a tape comes in pieces
// changes nothing of what is kept.
void tape_catalogue::sample(const std::uint8_t* bytes, std::size_t count) {
  std::uint64_t at = (fed_ + SAMPLE_EVERY - 1) / SAMPLE_EVERY * SAMPLE_EVERY;
  if (taken_ == samples_.size()) {
    samples_.clear();
    taken_ = 0;
    first_sample_ = at / SAMPLE_EVERY;
  } else if (taken_ > samples_.size() / 2) {  // the gone half makes room
    samples_.erase(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(taken_));
    first_sample_ += taken_;
    taken_ = 0;
  }
  const std::uint64_t end = fed_ + count;
  const std::vector<rom_claim>& claims = rom_.claims();
  std::size_t c = 0;
  while (at < end) {
    while (c < claims.size() && claims[c].end <= at) ++c;
    if (c < claims.size() && claims[c].begin <= at) {  // a ROM block's bytes
      const std::uint64_t to = std::min(end, claims[c].end);
      const std::uint64_t n = (to - at + SAMPLE_EVERY - 1) / SAMPLE_EVERY;
      samples_.insert(samples_.end(), n, 0);
      at += n * SAMPLE_EVERY;
      continue;
    }
    const std::uint64_t to = c < claims.size() ? std::min(end, claims[c].begin) : end;
    const std::size_t n = static_cast<std::size_t>((to - at + SAMPLE_EVERY - 1) / SAMPLE_EVERY);
    const std::size_t old = samples_.size();
    samples_.resize(old + n);
    const std::uint8_t* from = bytes + (at - fed_);
    for (std::size_t k = 0; k < n; ++k) samples_[old + k] = from[k * SAMPLE_EVERY];
    at += n * SAMPLE_EVERY;
  }
}

// Forgets the samples of bytes before the offset before.
void tape_catalogue::drop_samples(std::uint64_t before) {
  const std::uint64_t first = first_sample_ + taken_;
  if (first * SAMPLE_EVERY >= before) return;
  const std::uint64_t n = (before - first * SAMPLE_EVERY + SAMPLE_EVERY - 1) / SAMPLE_EVERY;
  taken_ += static_cast<std::size_t>(std::min<std::uint64_t>(n, samples_.size() - taken_));
}

// Pulses no block explains, from from to to: they join the stretch of
// them being gathered, which pauses do not end and a block does.
void tape_catalogue::stretch(std::uint64_t from, std::uint64_t from_cycles, std::uint64_t to,
                             std::uint64_t to_cycles) {
  if (to <= from) return;
  if (!unknown_.open) {
    unknown_ = {};
    unknown_.open = true;
    unknown_.from = from;
    unknown_.from_cycles = from_cycles;
  }
  drop_samples(from);
  for (; taken_ < samples_.size() && (first_sample_ + taken_) * SAMPLE_EVERY < to; ++taken_) {
    const std::uint8_t v = samples_[taken_];
    if (v != 0) ++unknown_.counts[v];  // an overflow's mark, or a ROM block's, is no value
  }
  unknown_.pulses += to - from;
  unknown_.cycles += to_cycles - from_cycles;
}

// A block ends the stretch being gathered: a record of its own when it is
// more than a block's trailer or stray pulses.
void tape_catalogue::end_stretch() {
  if (!unknown_.open) return;
  unknown_.open = false;
  if (unknown_.pulses < MIN_STRETCH) return;
  catalogue_entry e;
  e.kind = entry_kind::unrecognised;
  e.loader.clear();
  std::fill(e.name, e.name + NAME_LENGTH, ' ');
  e.offset = unknown_.from;
  e.seconds = static_cast<double>(unknown_.from_cycles) / hz_;
  e.length = unknown_.pulses;
  e.duration = static_cast<double>(unknown_.cycles) / hz_;
  e.header = e.program_check = copy_check::none;
  e.pulse_values = common_values(unknown_.counts);
  ready_.push_back(std::move(e));
}

// What lies between covered_ and to that no block explains, up to a pause or
// a block: its tones beside a block are that block's lead or trailer; the
// rest is what no reader recognises.
void tape_catalogue::gap(std::uint64_t to, std::uint64_t to_cycles, bool block_after) {
  constexpr std::uint64_t BESIDE = 64;  // pulses between a block and its tone, at the most
  std::uint64_t from = covered_, from_cycles = covered_cycles_;
  for (const turbo_span& t : tones_) {
    if (t.finish <= from || t.begin >= to) continue;
    const bool after_block = block_before_ && t.begin <= covered_ + BESIDE;
    const bool before_block = block_after && t.finish + BESIDE >= to;
    if (!after_block && !before_block) continue;
    // A tone found from its first repeat may reach a little into the block
    // beside it: only its part in the gap counts.
    const std::uint64_t begin = std::max(t.begin, from), finish = std::min(t.finish, to);
    const std::uint64_t begin_cycles = t.begin < from ? from_cycles : t.cycles_begin;
    const std::uint64_t finish_cycles = t.finish > to ? to_cycles : t.cycles_finish;
    stretch(from, from_cycles, begin, begin_cycles);
    end_stretch();
    explained_ += finish_cycles - std::min(finish_cycles, begin_cycles);
    from = finish;
    from_cycles = finish_cycles;
  }
  // A few pulses after a block, up to a pause or the tape's end, are its
  // trailer, however unsteady: the ROM writes one after every block.
  if (block_before_ && !block_after && !unknown_.open && to > from && to - from < MIN_STRETCH) {
    explained_ += to_cycles - from_cycles;
    return;
  }
  stretch(from, from_cycles, to, to_cycles);
}

// Everything before limit is final: the stretches the blocks explain, and
// the pauses, in tape order, and between them what nothing explains.
void tape_catalogue::account(std::uint64_t limit, bool all) {
  if (covered_ == 0 && (fed_ >= TAP_HEADER_SIZE || all) && clock_.signature())
    covered_ = TAP_HEADER_SIZE;  // a TAP file's header holds no pulses
  const auto by_begin = [](const turbo_span& a, const turbo_span& b) { return a.begin < b.begin; };
  std::sort(spans_.begin(), spans_.end(), by_begin);
  std::sort(tones_.begin(), tones_.end(), by_begin);
  std::size_t s = 0, p = 0;
  for (;;) {
    const bool span = s < spans_.size() && spans_[s].begin < limit;
    const bool pause = p < pauses_.size() && pauses_[p].offset < limit;
    if (!span && !pause) break;
    if (pause && (!span || pauses_[p].offset < spans_[s].begin)) {
      const pause_mark& m = pauses_[p++];
      paused_ += m.length;
      if (m.offset < covered_) continue;  // within a block's stretch
      gap(m.offset, m.cycles, false);
      covered_ = m.offset + m.pulse_bytes;
      covered_cycles_ = m.cycles + m.length;
      block_before_ = false;
      continue;
    }
    const turbo_span& t = spans_[s++];
    if (t.finish <= covered_) continue;
    if (t.begin > covered_) gap(t.begin, t.cycles_begin, true);
    end_stretch();
    if (t.begin > covered_) {
      explained_ += t.cycles_finish - t.cycles_begin;
    } else {
      explained_ += t.cycles_finish - std::min(t.cycles_finish, covered_cycles_);
    }
    covered_ = t.finish;
    covered_cycles_ = t.cycles_finish;
    block_before_ = true;
    drop_samples(covered_);
  }
  spans_.erase(spans_.begin(), spans_.begin() + static_cast<std::ptrdiff_t>(s));
  pauses_.erase(pauses_.begin(), pauses_.begin() + static_cast<std::ptrdiff_t>(p));
  tones_.erase(std::remove_if(tones_.begin(), tones_.end(),
                              [&](const turbo_span& t) { return t.finish <= covered_; }),
               tones_.end());
  if (all) {
    gap(fed_, clock_.cycles(), false);
    end_stretch();
    covered_ = fed_;
    covered_cycles_ = clock_.cycles();
  }
}

void tape_catalogue::finish() {
  if (finished_) return;
  rom_.finish(fed_, clock_.cycles(), ended_);
  for (rom_block& b : ended_) add_block(std::move(b));
  ended_.clear();
  if (has_pending_) {
    has_pending_ = false;
    add_unit(&pending_, nullptr);
  }
  waiting_ = false;  // no program followed: it is missing
  turbo_.finish(found_);
  add_turbo(found_);
  finished_ = true;
}

std::vector<catalogue_entry> tape_catalogue::take_settled() {
  const std::size_t rom_ready = done_.size() - (waiting_ ? 1 : 0);
  for (std::size_t i = 0; i < rom_ready; ++i) {
    ready_.push_back(std::move(done_.front()));
    done_.pop_front();
  }
  std::uint64_t spans_final = UINT64_MAX, entries_final = UINT64_MAX;
  if (!finished_) {
    spans_final = std::min({fed_, rom_.horizon(fed_), turbo_.span_horizon()});
    entries_final = std::min(spans_final, turbo_.horizon());
    if (has_pending_) entries_final = std::min(entries_final, pending_.offset);
    if (waiting_) entries_final = std::min(entries_final, done_.back().offset);
  }
  account(spans_final, finished_);
  if (unknown_.open) entries_final = std::min(entries_final, unknown_.from);
  // In tape order; a file before its first block, which starts where it does.
  std::stable_sort(ready_.begin(), ready_.end(),
                   [](const catalogue_entry& a, const catalogue_entry& b) {
                     if (a.offset != b.offset) return a.offset < b.offset;
                     return a.kind != entry_kind::block && b.kind == entry_kind::block;
                   });
  const auto split = std::find_if(ready_.begin(), ready_.end(), [&](const catalogue_entry& e) {
    return e.offset >= entries_final;
  });
  std::vector<catalogue_entry> out(std::make_move_iterator(ready_.begin()),
                                   std::make_move_iterator(split));
  for (catalogue_entry& e : out) e.program_size = e.program.size();
  ready_.erase(ready_.begin(), split);
  return out;
}

tap_shortfall tape_catalogue::cut_short() const {
  if (!clock_.signature() || fed_ < TAP_HEADER_SIZE) return {};
  const std::uint64_t holds = fed_ - TAP_HEADER_SIZE, gives = clock_.pulses_given();
  // Some headers count their own 20 bytes in as well: so few missing bytes
  // say nothing.
  if (gives <= holds + TAP_HEADER_SIZE) return {};
  return {holds, gives};
}

double tape_catalogue::coverage() const {
  const double time = static_cast<double>(clock_.cycles()) - static_cast<double>(paused_);
  if (time <= 0) return 1;
  return std::clamp(static_cast<double>(explained_) / time, 0.0, 1.0);
}

std::size_t tape_catalogue::held_bytes() const {
  std::size_t n = spans_.capacity() * sizeof(turbo_span) + tones_.capacity() * sizeof(turbo_span) +
                  pauses_.capacity() * sizeof(pause_mark) + samples_.capacity() +
                  pending_.data.capacity() + pending_.bad.capacity() * sizeof(std::uint32_t) +
                  turbo_.held_bytes();
  for (const catalogue_entry& e : ready_) n += sizeof e + e.program.capacity();
  for (const catalogue_entry& e : done_) n += sizeof e + e.program.capacity();
  return n;
}
