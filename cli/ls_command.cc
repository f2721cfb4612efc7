// brivane-ls's run. The paths given are walked, in order, into sources: a
// tape (a TAP file, a gzipped one, a recording), an archive, or a message
// for a path that cannot be read. Workers read the sources side by side,
// several of them sharing out the members of a zip file on disk; each tape
// read becomes its lines, its PRG files and its messages, kept until every
// tape before it has gone out, so that the output is in the order given
// however the reading went.
#include "ls_command.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <vector>

#ifndef _WIN32
#define BRIVANE_THREADS 1
#include <condition_variable>
#include <mutex>
#include <thread>
#endif

#include "archive/gzip.h"
#include "catalogue/tape_catalogue.h"
#include "ls_options.h"
#include "ls_report.h"
#include "ls_sources.h"
#include "recording/sound_format.h"
#include "sound_sources.h"
#include "sys_files.h"
#include "tap_options.h"
#include "words/fault_words.h"

namespace {

constexpr std::size_t PIECE = 1 << 20;  // bytes read at a time
// Tapes read but not yet written out, at the most: a worker waits for the
// output to catch up, so that memory stays flat however many tapes follow
// a slow one.
constexpr std::size_t WAITING_LIMIT = 256;
// Archives inside archives are read this deep, and no deeper: an archive
// that holds itself would go on for ever.
constexpr int NESTING_LIMIT = 4;

// One tape as read: its lines, its programs as PRG files, its messages.
struct unit_result {
  std::string text;
  std::vector<std::pair<std::string, std::vector<std::uint8_t>>> prgs;
  std::vector<std::string> messages;
  bool failed = false;
};

// What a path given, or found in a folder, is to be read as.
struct source {
  enum class kind { tape, archive, message };
  kind what = kind::tape;
  std::string path;   // where it is: a file's path, or "-"
  std::string shown;  // how the output names it
  name_kind hint = name_kind::other;
  std::string message;  // for a message: the line to say
  bool failed = false;

  // As it is read (under the lock where workers share it).
  std::map<std::size_t, unit_result> ready;  // tapes read, by their place in it
  std::size_t total = SIZE_MAX;              // how many places it has, once known
  std::vector<std::string> closing;          // said after its last tape
  unsigned readers = 0, finished = 0;        // workers that began it, and that are done with it
  bool decided = false;                      // whether it is shared is known
  bool shared = false;                       // more workers may join in
  std::size_t claimed = 0;                   // places taken by a worker so far
};

// A byte_input that gives the bytes already read from another first, then
// the rest of it; and counts what it hands over.
class replay_input : public byte_input {
 public:
  replay_input(byte_input& in, const std::vector<std::uint8_t>& head,
               std::atomic<std::uint64_t>& count)
      : in_(in), head_(head), count_(count) {}
  std::ptrdiff_t read(std::uint8_t* buf, std::size_t size) override {
    if (at_ < head_.size()) {
      const std::size_t n = std::min(size, head_.size() - at_);
      std::copy(head_.begin() + static_cast<std::ptrdiff_t>(at_),
                head_.begin() + static_cast<std::ptrdiff_t>(at_ + n), buf);
      at_ += n;
      return static_cast<std::ptrdiff_t>(n);
    }
    const std::ptrdiff_t n = in_.read(buf, size);
    if (n > 0) count_ += static_cast<std::uint64_t>(n);
    return n;
  }
  bool seekable() const override { return in_.seekable(); }
  bool seek(std::uint64_t to) override {
    if (!in_.seek(to)) return false;
    at_ = head_.size();  // what follows comes from the input itself
    return true;
  }
  std::uint64_t size() const override { return in_.size(); }
  std::string error() const override { return in_.error(); }

 private:
  byte_input& in_;
  const std::vector<std::uint8_t>& head_;
  std::atomic<std::uint64_t>& count_;
  std::size_t at_ = 0;
};

#ifdef BRIVANE_THREADS
// A file read ahead on a thread of its own while what came before is
// catalogued: from the disk, the reading and the cataloguing overlap.
class read_ahead : public byte_input {
 public:
  explicit read_ahead(byte_input& in) : in_(in), reader_([this] { fill(); }) {}
  read_ahead(const read_ahead&) = delete;
  read_ahead& operator=(const read_ahead&) = delete;
  ~read_ahead() override {
    {
      std::lock_guard<std::mutex> hold(lock_);
      stop_ = true;
    }
    changed_.notify_all();
    reader_.join();
  }
  std::ptrdiff_t read(std::uint8_t* buf, std::size_t size) override {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [&] { return !full_.empty() || ended_; });
    if (full_.empty()) return failed_ ? -1 : 0;
    std::vector<std::uint8_t>& front = full_.front();
    const std::size_t n = std::min(size, front.size() - taken_);
    std::copy(front.begin() + static_cast<std::ptrdiff_t>(taken_),
              front.begin() + static_cast<std::ptrdiff_t>(taken_ + n), buf);
    taken_ += n;
    if (taken_ == front.size()) {
      full_.erase(full_.begin());
      taken_ = 0;
      changed_.notify_all();
    }
    return static_cast<std::ptrdiff_t>(n);
  }
  bool seekable() const override { return false; }
  bool seek(std::uint64_t) override { return false; }
  std::uint64_t size() const override { return in_.size(); }
  std::string error() const override {
    std::lock_guard<std::mutex> hold(lock_);
    return error_;
  }

 private:
  static constexpr std::size_t AHEAD = 4;  // pieces read ahead, at the most
  void fill() {
    for (;;) {
      {
        std::unique_lock<std::mutex> hold(lock_);
        changed_.wait(hold, [&] { return full_.size() < AHEAD || stop_; });
        if (stop_) return;
      }
      std::vector<std::uint8_t> piece(PIECE);
      const std::ptrdiff_t n = in_.read(piece.data(), piece.size());
      std::lock_guard<std::mutex> hold(lock_);
      if (n <= 0) {
        ended_ = true;
        failed_ = n < 0;
        if (failed_) error_ = in_.error();
        changed_.notify_all();
        return;
      }
      piece.resize(static_cast<std::size_t>(n));
      full_.push_back(std::move(piece));
      changed_.notify_all();
    }
  }
  byte_input& in_;
  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::vector<std::vector<std::uint8_t>> full_;
  std::size_t taken_ = 0;
  bool stop_ = false, ended_ = false, failed_ = false;
  std::string error_;
  std::thread reader_;  // last: it starts once the rest is made
};
#endif

// The TAP made from a recording, fed to a catalogue as it is written.
class catalogue_tap : public tap_output {
 public:
  explicit catalogue_tap(std::function<void(const std::uint8_t*, std::size_t)> feed)
      : feed_(std::move(feed)) {}
  bool write(const std::uint8_t* bytes, std::size_t size) override {
    feed_(bytes, size);
    return true;
  }
  bool finish(const std::vector<std::uint8_t>&) override { return true; }
  void abandon() override {}
  std::string error() const override { return ""; }

 private:
  std::function<void(const std::uint8_t*, std::size_t)> feed_;
};

class lister {
 public:
  lister(ls_host& sys, const ls_options& o) : sys_(sys), o_(o) {}
  int run();

 private:
  void expand(const std::string& path);
  void walk(const std::string& path, const std::string& shown,
            std::vector<std::pair<std::uint64_t, std::uint64_t>>& within, const std::string& above);
  void add_message(const std::string& line) {
    auto s = std::make_unique<source>();
    s->what = source::kind::message;
    s->message = line;
    s->failed = true;
    sources_.push_back(std::move(s));
  }
  void add(source::kind what, const std::string& path, const std::string& shown, name_kind hint) {
    auto s = std::make_unique<source>();
    s->what = what;
    s->path = path;
    s->shown = shown;
    s->hint = hint;
    sources_.push_back(std::move(s));
  }

  void read_source(source& s, bool first);
  void read_archive(source& s, bool first);
  void read_members(source& s, archive_input& a, bool first);
  void read_inner(byte_input& in, const std::string& shown, int depth, unit_result& r);
  unit_result read_tape(byte_input& in, const std::string& shown, name_kind hint);
  bool claim(source& s, std::size_t place);
  void publish(source& s, std::size_t place, unit_result r);
  void close(source& s, std::size_t total, const std::string& closing);
  void write_out(const unit_result& r);
  void say(const std::string& line) {
    clear_progress();
    sys_.err().write("brivane-ls: " + line + "\n");
  }
  void show_progress(bool now);
  void clear_progress();

#ifdef BRIVANE_THREADS
  void work();
  source* take(bool& first);
  void print_in_order();
  std::mutex lock_;
  std::condition_variable changed_;
  std::size_t next_job_ = 0;
  std::size_t waiting_ = 0;  // tapes read and not yet written out
#endif

  ls_host& sys_;
  const ls_options& o_;
  std::vector<std::unique_ptr<source>> sources_;
  unsigned jobs_ = 1;
  bool failed_ = false;
  std::atomic<std::uint64_t> bytes_{0}, tapes_{0};
  bool progress_shown_ = false;
  std::chrono::steady_clock::time_point last_progress_{};
};

// The paths given, in order: each walked into sources.
void lister::expand(const std::string& path) {
  if (path == "-") {
    add(source::kind::tape, "-", "-", name_kind::other);
    return;
  }
  const path_facts f = look_at(path);
  if (f.kind == path_kind::missing) {
    add_message("cannot open " + path + ": " + f.why);
    return;
  }
  if (f.kind == path_kind::folder) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> within;
    walk(path, path.size() > 1 && path.back() == '/' ? path.substr(0, path.size() - 1) : path,
         within, "");
    return;
  }
  const name_kind k = kind_of_name(path);
  add(k == name_kind::archive ? source::kind::archive : source::kind::tape, path, path, k);
}

// A folder's tapes, recordings and archives, in name order, and its
// folders', depth first. A folder met again below itself (through a link)
// is a loop: said, and not read again.
void lister::walk(const std::string& path, const std::string& shown,
                  std::vector<std::pair<std::uint64_t, std::uint64_t>>& within,
                  const std::string& above) {
  const path_facts f = look_at(path);
  const std::pair<std::uint64_t, std::uint64_t> id{f.device, f.inode};
  if (f.inode != 0 && std::find(within.begin(), within.end(), id) != within.end()) {
    add_message(shown + ": a folder loop: it leads back to " + above + ", which is not read again");
    return;
  }
  std::vector<std::string> names;
  std::string why;
  if (!list_folder(path, names, why)) {
    add_message("cannot read " + shown + ": " + why);
    return;
  }
  within.push_back(id);
  for (const std::string& name : names) {
    std::string child = path;
    if (child.back() != '/') child += '/';
    child += name;
    std::string child_shown = shown;
    child_shown += '/';
    child_shown += name;
    const name_kind k = kind_of_name(name);
    const path_facts c = look_at(child);
    if (c.kind == path_kind::folder) {
      // Where it is a folder above (a loop), that folder as the output names
      // it: this one's name with as many of its last parts gone.
      std::string back = shown;
      const auto above = std::find(within.begin(), within.end(),
                                   std::pair<std::uint64_t, std::uint64_t>{c.device, c.inode});
      for (auto up = within.end() - 1; above != within.end() && up != above; --up) {
        const std::size_t cut = back.find_last_of('/');
        back.resize(cut == std::string::npos ? 0 : cut);
      }
      walk(child, child_shown, within, back);
    } else if (c.kind == path_kind::missing && (k != name_kind::other || !c.nothing)) {
      // A tape out of reach is said, and so is anything else out of reach (a
      // path too long for the system, in a folder it may not search): it may
      // be a folder of tapes. A link to nothing leads to no tape.
      add_message("cannot open " + child_shown + ": " + c.why);
    } else if (k == name_kind::other) {
      continue;  // not a tape, a recording nor an archive
    } else if (c.kind == path_kind::other) {
      // A pipe would wait for a writer for good, and a device may never end:
      // read only where named.
      add_message("cannot read " + child_shown +
                  ": it is a pipe, a socket or a device, which is read only where named");
    } else {
      add(k == name_kind::archive ? source::kind::archive : source::kind::tape, child, child_shown,
          k);
    }
  }
  within.pop_back();
}

// One tape from its bytes: catalogued, as a gzipped tape, a recording or
// TAP pulses, by its name or else by what its start says.
// Each thread's room for the pieces of a tape, made once: a collection of
// small tapes would otherwise clear a new MiB for each one.
std::vector<std::uint8_t>& piece_buffer() {
  thread_local std::vector<std::uint8_t> buf(PIECE);
  return buf;
}

unit_result lister::read_tape(byte_input& in, const std::string& shown, name_kind hint) {
  unit_result r;
  tape_catalogue cat(o_.for_machine);
  cat.list_blocks(o_.all_blocks);
  // Each record as it settles: its lines, and its program where one is
  // written; the record itself goes.
  tape_lines lines(o_.format, shown);
  std::size_t records = 0, files = 0;
  std::vector<std::pair<std::string, std::vector<std::uint8_t>>> prgs;
  const tape_report named{shown, {}, 1};
  const auto take = [&] {
    for (const catalogue_entry& e : cat.take_settled()) {
      lines.add(e);
      ++records;
      files += e.kind == entry_kind::file;
      if (!o_.prg_dir.empty())
        if (std::vector<std::uint8_t> b = prg_bytes(e); !b.empty())
          prgs.emplace_back(prg_name(named, e), std::move(b));
    }
  };
  const auto feed = [&](const std::uint8_t* b, std::size_t n) {
    cat.feed(b, n);
    take();
  };
  // The start, to tell what it is.
  std::vector<std::uint8_t> head(SNIFF_BYTES);
  std::size_t got = 0;
  bool whole = false, unread = false;
  while (got < head.size()) {
    const std::ptrdiff_t n = in.read(head.data() + got, head.size() - got);
    if (n < 0) {
      unread = true;
      break;
    }
    if (n == 0) {
      whole = true;
      break;
    }
    got += static_cast<std::size_t>(n);
  }
  head.resize(got);
  bytes_ += got;
  if (unread) {
    r.messages.push_back("cannot read " + shown + ": " + in.error());
    r.failed = true;
    return r;
  }
  const sniffed sound = sniff_sound(head.data(), head.size(), whole);
  const bool is_sound =
      sound.format != sound_format::other && sound.format != sound_format::unknown;
  const bool gzipped = head.size() >= 2 && head[0] == 0x1F && head[1] == 0x8B;
  std::string fault;
  bool cut = false;
  if (hint == name_kind::recording ||
      (hint != name_kind::tape && hint != name_kind::gzip_tape && is_sound)) {
    // A recording that libsndfile reads, which goes back and forth in it,
    // is held aside first where it comes out of an archive or down a pipe.
    std::unique_ptr<byte_input> aside;
    if (!in.seekable() && is_sound && !decoder_for(sound.format, false) &&
        decoder_for(sound.format, true)) {
      std::string why;
      aside = spool(in, head, why);
      if (!aside) {
        r.messages.push_back("cannot read " + shown + ": " + why);
        r.failed = true;
        return r;
      }
      bytes_ += aside->size() - head.size();
    }
    const std::vector<std::uint8_t> none;
    replay_input replay(aside ? *aside : in, aside ? none : head, bytes_);
    catalogue_tap tap(feed);
    const tap_outcome made = make_tap(replay, shown, o_.for_machine, tap, "its TAP");
    if (made.status != TAP_OK) {
      fault = made.message;
      cut = made.status == TAP_CUT_SHORT;
      if (!cut) records = 0;
    }
  } else if (hint == name_kind::gzip_tape || (hint != name_kind::tape && gzipped)) {
    gzip_reader gz;
    std::vector<std::uint8_t>& buf = piece_buffer();
    const auto inflate = [&](const std::uint8_t* b, std::size_t n) {
      gz.feed(b, n);
      for (std::size_t made; (made = gz.step()) > 0;) feed(gz.output(), made);
    };
    inflate(head.data(), head.size());
    for (std::ptrdiff_t n; !whole && gz.fault() == inflate_fault::none &&
                           (n = in.read(buf.data(), buf.size())) != 0;) {
      if (n < 0) {
        fault = "cannot read " + shown + ": " + in.error();
        break;
      }
      bytes_ += static_cast<std::uint64_t>(n);
      inflate(buf.data(), static_cast<std::size_t>(n));
      if (jobs_ == 1) show_progress(false);
    }
    if (fault.empty() && gz.fault() == inflate_fault::none) {
      gz.end();
      for (std::size_t made; (made = gz.step()) > 0;) feed(gz.output(), made);
    }
    if (gz.fault() != inflate_fault::none && fault.empty())
      fault = shown + ": " + inflate_fault_words(gz.fault());
    cut = true;  // what was inflated before the fault stays
  } else {
    feed(head.data(), head.size());
    std::vector<std::uint8_t>& buf = piece_buffer();
    for (std::ptrdiff_t n; !whole && (n = in.read(buf.data(), buf.size())) != 0;) {
      if (n < 0) {
        fault = "cannot read " + shown + ": " + in.error();
        break;
      }
      bytes_ += static_cast<std::uint64_t>(n);
      feed(buf.data(), static_cast<std::size_t>(n));
      if (jobs_ == 1) show_progress(false);
    }
    cut = true;
  }
  cat.finish();
  take();
  if (fault.empty() && hint == name_kind::other && !is_sound && !gzipped && !cat.tap_signature() &&
      files == 0 && !head.empty()) {
    r.messages.push_back(shown +
                         ": not a TAP file: it does not start as one, and no file was found in it");
    r.failed = true;
    return r;
  }
  if (!fault.empty()) {
    r.messages.push_back(fault);
    r.failed = true;
    if (!cut || records == 0) return r;  // the records found before the fault stay
  }
  r.text = lines.finish(cat.coverage(), cat.cut_short());
  r.prgs = std::move(prgs);
  return r;
}

// Whether the member at place is this worker's to read: the first to ask
// for each place gets it. Every worker meets the places in the same order.
bool lister::claim(source& s, std::size_t place) {
#ifdef BRIVANE_THREADS
  std::lock_guard<std::mutex> hold(lock_);
#endif
  if (place < s.claimed) return false;
  s.claimed = place + 1;
  return true;
}

void lister::read_archive(source& s, bool first) {
  std::string why;
  std::unique_ptr<archive_input> a = open_archive(s.path, why);
  if (!a) {
    close(s, 0, first ? "cannot read " + s.shown + ": " + why : "");
    return;
  }
  read_members(s, *a, first);
}

// An archive's members, each a tape where its name says it is one; where
// several workers share it, each reads the members it is first to claim.
void lister::read_members(source& s, archive_input& archive, bool first) {
  archive_input* a = &archive;
  std::size_t place = 0;
  std::string member;
  bool file = false;
  std::uint64_t size = 0;
  while (a->next(member, file, size)) {
    if (first && place == 0) {
#ifdef BRIVANE_THREADS
      std::lock_guard<std::mutex> hold(lock_);
      s.shared = a->passes_over() && jobs_ > 1;  // a zip file on disk: others may join in
      s.decided = true;
      changed_.notify_all();
#endif
    }
    if (claim(s, place)) {
      const name_kind k = kind_of_name(member);
      unit_result r;
      if (file && k == name_kind::archive) {
        read_inner(a->member(), s.shown + "/" + member, 1, r);
      } else if (file && k != name_kind::other) {
        r = read_tape(a->member(), s.shown + "/" + member, k);
        ++tapes_;
      }
      publish(s, place, std::move(r));
    }
    ++place;
  }
  const std::string fault = a->error();
  close(s, place,
        fault.empty()
            ? ""
            : s.shown + ": the archive is damaged, and what follows could not be read: " + fault);
}

// An archive that is a member of another, as the stream in, at depth
// archives down: its tapes one after another into r, and its own archives
// in turn.
void lister::read_inner(byte_input& in, const std::string& shown, int depth, unit_result& r) {
  if (depth > NESTING_LIMIT) {
    r.messages.push_back(shown + ": not read: an archive inside " + std::to_string(depth) +
                         " others; brivane-ls opens archives inside archives " +
                         std::to_string(NESTING_LIMIT) + " deep at most");
    r.failed = true;
    return;
  }
  std::string why;
  std::unique_ptr<archive_input> a = open_archive(in, {}, why);
  if (!a) {
    r.messages.push_back("cannot read " + shown + ": " + why);
    r.failed = true;
    return;
  }
  std::string member;
  bool file = false;
  std::uint64_t size = 0;
  while (a->next(member, file, size)) {
    if (!file) continue;
    const name_kind k = kind_of_name(member);
    std::string path = shown;
    path.append("/").append(member);
    if (k == name_kind::archive) {
      read_inner(a->member(), path, depth + 1, r);
    } else if (k != name_kind::other) {
      unit_result t = read_tape(a->member(), path, k);
      ++tapes_;
      r.text += t.text;
      std::move(t.prgs.begin(), t.prgs.end(), std::back_inserter(r.prgs));
      std::move(t.messages.begin(), t.messages.end(), std::back_inserter(r.messages));
      r.failed = r.failed || t.failed;
    }
  }
  if (const std::string fault = a->error(); !fault.empty()) {
    r.messages.push_back(shown +
                         ": the archive is damaged, and what follows could not be read: " + fault);
    r.failed = true;
  }
}

void lister::read_source(source& s, bool first) {
  if (s.what == source::kind::archive) {
    read_archive(s, first);
    return;
  }
  // The source is one tape, or one message.
  const auto one = [&](unit_result r) {
    publish(s, 0, std::move(r));
    close(s, 1, "");
  };
  std::string why;
  std::unique_ptr<byte_input> in = open_input(s.path, why);
  if (!in) {
    unit_result r;
    r.messages.push_back("cannot open " + s.shown + ": " + why);
    r.failed = true;
    one(std::move(r));
    return;
  }
  const bool piped = s.path == "-" || !in->seekable();
  if (s.path == "-" || s.hint == name_kind::other) {
    // Standard input, or a file whose name does not say what it is: a tape,
    // or an archive, as its first bytes say (enough of them for a gzip
    // file's to inflate to a tar file's start).
    std::vector<std::uint8_t> head(1 << 16);
    std::size_t got = 0;
    for (std::ptrdiff_t n;
         got < head.size() && (n = in->read(head.data() + got, head.size() - got)) > 0;)
      got += static_cast<std::size_t>(n);
    head.resize(got);
    if (archive_stream(head)) {
      if (!piped) {  // read again from its name, which lets a zip be shared out
        in.reset();
        read_archive(s, first);
        return;
      }
      std::unique_ptr<archive_input> a = open_archive(*in, head, why);
      if (a) {
        read_members(s, *a, first);
      } else {
        close(s, 0,
              (s.path == "-" ? "cannot read standard input: " : "cannot read " + s.shown + ": ") +
                  why);
      }
      return;
    }
    if (piped || !in->seek(0)) {
      std::atomic<std::uint64_t> unused{0};  // the tape's reading counts what it reads
      replay_input again(*in, head, unused);
      ++tapes_;
      one(read_tape(again, s.shown, s.hint));
      return;
    }
  }
  ++tapes_;
#ifdef BRIVANE_THREADS
  // A large file on a disk is read ahead; a recording, which may be gone
  // back in, is not.
  if (in->seekable() && in->size() >= 8 * PIECE && s.hint != name_kind::recording) {
    read_ahead ahead(*in);
    one(read_tape(ahead, s.shown, s.hint));
    return;
  }
#endif
  one(read_tape(*in, s.shown, s.hint));
}

// A tape read: out at once where one worker reads in order, else kept for
// the printer.
void lister::publish(source& s, std::size_t place, unit_result r) {
#ifdef BRIVANE_THREADS
  if (jobs_ > 1) {
    std::unique_lock<std::mutex> hold(lock_);
    s.ready.emplace(place, std::move(r));
    ++waiting_;
    changed_.notify_all();
    changed_.wait(hold, [&] { return waiting_ < WAITING_LIMIT; });
    return;
  }
#endif
  (void)s;
  (void)place;
  write_out(r);
}

// A worker is done with a source, which has total places.
void lister::close(source& s, std::size_t total, const std::string& closing) {
#ifdef BRIVANE_THREADS
  std::lock_guard<std::mutex> hold(lock_);
#endif
  s.total = std::min(s.total, total);
  if (!closing.empty() && s.closing.empty()) s.closing.push_back(closing);
  ++s.finished;
  s.decided = true;
  if (jobs_ == 1) {
    for (const std::string& line : s.closing) say(line);
    failed_ = failed_ || !s.closing.empty();
  }
#ifdef BRIVANE_THREADS
  changed_.notify_all();
#endif
}

// A tape's lines, PRG files and messages, in that order.
void lister::write_out(const unit_result& r) {
  if (!r.text.empty()) {
    clear_progress();
    sys_.out().write(r.text);
  }
  for (const auto& [name, bytes] : r.prgs) {
    std::string why;
    if (write_new_file(o_.prg_dir, name, bytes, why).empty()) {
      std::string line = "cannot write ";
      line.append(o_.prg_dir).append("/").append(name).append(": ").append(why);
      say(line);
      failed_ = true;
    }
  }
  for (const std::string& line : r.messages) say(line);
  failed_ = failed_ || r.failed;
  show_progress(false);
}

// How far reading has come, on standard error where it is a terminal: from
// the one thread that writes, at most ten times a second.
void lister::show_progress(bool now) {
  if (!sys_.terminal()) return;
  const auto t = std::chrono::steady_clock::now();
  if (!now && t - last_progress_ < std::chrono::milliseconds(100)) return;
  last_progress_ = t;
  const std::uint64_t tapes = tapes_, mib = bytes_ >> 20;
  sys_.err().write("\rbrivane-ls: " + std::to_string(tapes) +
                   (tapes == 1 ? " tape, " : " tapes, ") + std::to_string(mib) + " MiB read\x1b[K");
  progress_shown_ = true;
}

void lister::clear_progress() {
  if (!progress_shown_) return;
  sys_.err().write("\r\x1b[K");
  progress_shown_ = false;
}

#ifdef BRIVANE_THREADS
// The next source a worker may read, or join in reading, and whether it is
// the first to; null when none is left.
source* lister::take(bool& first) {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    changed_.wait(hold, [&] { return waiting_ < WAITING_LIMIT; });
    bool undecided = false;  // an archive not yet known to be shared or not
    for (std::size_t i = next_job_; i < sources_.size(); ++i) {
      source& s = *sources_[i];
      const bool done_with = s.what == source::kind::message ||
                             (s.readers > 0 && (s.what == source::kind::tape || s.finished > 0 ||
                                                (s.decided && !s.shared)));
      if (done_with) {
        if (i == next_job_) ++next_job_;
        continue;
      }
      if (s.readers == 0 || (s.shared && s.readers < jobs_)) {
        first = s.readers == 0;
        ++s.readers;
        return &s;
      }
      undecided = undecided || !s.decided;
    }
    if (!undecided) return nullptr;
    changed_.wait_for(hold, std::chrono::milliseconds(20));
  }
}

void lister::work() {
  bool first = false;
  while (source* s = take(first)) read_source(*s, first);
}

// The tapes read, written out in the order given as each one's turn comes.
void lister::print_in_order() {
  for (const std::unique_ptr<source>& owned : sources_) {
    source& s = *owned;
    if (s.what == source::kind::message) {
      say(s.message);
      failed_ = true;
      continue;
    }
    for (std::size_t place = 0;; ++place) {
      unit_result r;
      {
        std::unique_lock<std::mutex> hold(lock_);
        const auto turn = [&] {
          return s.ready.count(place) != 0 ||
                 (s.finished > 0 && s.finished == s.readers && place >= s.total);
        };
        while (!changed_.wait_for(hold, std::chrono::milliseconds(100), turn)) {
          hold.unlock();
          show_progress(true);
          hold.lock();
        }
        const auto it = s.ready.find(place);
        if (it == s.ready.end()) break;  // no more of this source
        r = std::move(it->second);
        s.ready.erase(it);
        --waiting_;
        changed_.notify_all();
      }
      write_out(r);
    }
    std::vector<std::string> closing;
    {
      std::lock_guard<std::mutex> hold(lock_);
      closing = s.closing;
    }
    for (const std::string& line : closing) say(line);
    failed_ = failed_ || !closing.empty();
  }
}
#endif

int lister::run() {
  for (const std::string& p : o_.paths) expand(p);
  jobs_ = o_.jobs ? o_.jobs : std::max(1u, sys_.cores());
#ifndef BRIVANE_THREADS
  jobs_ = 1;  // this build reads one tape at a time
#endif
  if (!o_.prg_dir.empty()) {
    const path_facts d = look_at(o_.prg_dir);
    if (d.kind != path_kind::folder) {
      say("cannot write programs into " + o_.prg_dir + ": " +
          (d.kind == path_kind::missing ? d.why : std::string("it is not a folder")));
      return LS_FAILED;
    }
  }
  sys_.out().write(report_start(o_.format));
#ifdef BRIVANE_THREADS
  if (jobs_ > 1) {
    std::vector<std::thread> workers;
    for (unsigned k = 0; k < jobs_; ++k) workers.emplace_back([this] { work(); });
    print_in_order();
    for (std::thread& w : workers) w.join();
  }
#endif
  if (jobs_ == 1) {
    for (const std::unique_ptr<source>& s : sources_) {
      if (s->what == source::kind::message) {
        say(s->message);
        failed_ = true;
        continue;
      }
      read_source(*s, true);
    }
  }
  clear_progress();
  if (!sys_.out_ok()) {
    say("cannot write standard output");
    return LS_FAILED;
  }
  return failed_ ? LS_FAILED : LS_OK;
}

}  // namespace

int run_brivane_ls(int argc, const char* const* argv, ls_host& sys) {
  const ls_options o = parse_ls_options(argc, argv);
  if (o.help) {
    sys.out().write(ls_usage());
    return sys.out_ok() ? LS_OK : LS_FAILED;
  }
  if (o.version) {
    sys.out().write("brivane-ls " BRIVANE_VERSION "\n");
    return sys.out_ok() ? LS_OK : LS_FAILED;
  }
  if (!o.error.empty()) {
    sys.err().write("brivane-ls: " + o.error + "\n");
    sys.err().write(ls_usage());
    return LS_USAGE;
  }
  return lister(sys, o).run();
}
