// brivane-tap's whole run in-process, with the recording and the TAP in
// memory: each kind of file and each way a run can end gives its message,
// its status and its TAP (or none), byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "recording/recording.h"
#include "recording_writer.h"
#include "tap_command.h"
#include "tap_options.h"
#include "words/fault_words.h"

namespace {

// A recording in memory: seekable like a file or not like a pipe, and
// failing to read once fail_at bytes are read.
class memory_input : public byte_input {
 public:
  memory_input(bytes data, bool seekable, std::size_t fail_at, std::size_t* read = nullptr)
      : data_(std::move(data)), seekable_(seekable), fail_at_(fail_at), read_(read) {}
  std::ptrdiff_t read(std::uint8_t* buf, std::size_t size) override {
    if (pos_ >= fail_at_) return -1;
    const std::size_t n = std::min({size, std::size_t{1000}, data_.size() - pos_, fail_at_ - pos_});
    std::copy_n(data_.begin() + static_cast<std::ptrdiff_t>(pos_), n, buf);
    pos_ += n;
    if (read_) *read_ += n;
    return static_cast<std::ptrdiff_t>(n);
  }
  bool seekable() const override { return seekable_; }
  bool seek(std::uint64_t at) override {
    if (!seekable_ || at > data_.size()) return false;
    pos_ = static_cast<std::size_t>(at);
    return true;
  }
  std::uint64_t size() const override { return data_.size(); }
  std::string error() const override { return "Input/output error"; }

 private:
  bytes data_;
  bool seekable_;
  std::size_t fail_at_, pos_ = 0;
  std::size_t* read_;
};

// The TAP in memory: what was written, whether it was kept, and a limit
// past which writing fails.
struct memory_tap {
  bytes written;
  bool kept = false, abandoned = false;
};

class memory_output : public tap_output {
 public:
  memory_output(memory_tap& tap, std::size_t limit) : tap_(tap), limit_(limit) {}
  bool write(const std::uint8_t* bytes, std::size_t size) override {
    if (tap_.written.size() + size > limit_) return false;
    tap_.written.insert(tap_.written.end(), bytes, bytes + size);
    return true;
  }
  bool finish(const std::vector<std::uint8_t>& header) override {
    std::copy(header.begin(), header.end(), tap_.written.begin());
    tap_.kept = true;
    return true;
  }
  void abandon() override {
    tap_.abandoned = true;
    tap_.written.clear();
  }
  std::string error() const override { return "No space left on device"; }

 private:
  memory_tap& tap_;
  std::size_t limit_;
};

struct tap_memory_host : tap_host {
  std::map<std::string, bytes> files;
  bool pipe = false;
  std::size_t fail_at = SIZE_MAX, tap_limit = SIZE_MAX;
  std::size_t read = 0, stop_at = SIZE_MAX;  // Ctrl-C once this much is read
  std::map<std::string, memory_tap> taps;
  string_sink out_, err_;

  std::unique_ptr<byte_input> open_recording(const std::string& path, std::string& why) override {
    const auto f = files.find(path);
    if (f == files.end()) {
      why = "No such file or directory";
      return nullptr;
    }
    return std::make_unique<memory_input>(f->second, !pipe, fail_at, &read);
  }
  std::unique_ptr<tap_output> tap_file(const std::string& path) override {
    return std::make_unique<memory_output>(taps[path], tap_limit);
  }
  bool same_file(const std::string& a, const std::string& b) override { return a == b; }
  text_sink& out() override { return out_; }
  text_sink& err() override { return err_; }
  bool flush_out() override { return true; }
  bool interrupted() override { return read >= stop_at; }
};

bytes tape_of_two() {
  tape_writer w;
  w.rom_file(1, "SIDE A", bytes(64, 0x20)).rom_file(1, "SIDE B", bytes(64, 0x20));
  return w.pulses();
}

// The TAP the core makes of a whole WAV recording.
bytes tap_of(const bytes& wav) {
  recording_converter c;
  bytes pulses;
  c.feed(wav.data(), wav.size(), pulses);
  c.finish(pulses);
  bytes tap = tap_header(pulses.size());
  tap.insert(tap.end(), pulses.begin(), pulses.end());
  return tap;
}

int run_tap(tap_memory_host& sys, std::vector<const char*> args) {
  return run_brivane_tap(static_cast<int>(args.size()), args.data(), sys);
}

TEST(RunBrivaneTap, EachKindOfFileSaysWhatItIs) {
  recording_knobs slow;
  slow.rate = 8000;
  const bytes wav = record_tape(tape_of_two());
  const struct {
    const char* what;
    bytes file;
    std::string err;
    int status;
  } rows[] = {
      {"a JPEG",
       {0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 'J', 'F', 'I', 'F'},
       "it is not a recording brivane reads: it is a JPEG image",
       TAP_NOT_READ},
      {"an MP4",
       {0, 0, 0, 0x20, 'f', 't', 'y', 'p', 'M', '4', 'A', ' '},
       "it is not a recording brivane reads: it is an MP4 or M4A file (AAC)",
       TAP_NOT_READ},
      {"a TAP", tap_of(wav),
       "it is not a recording brivane reads: it is a TAP file, not a recording", TAP_NOT_READ},
      {"an empty file", {}, "it is not a recording brivane reads", TAP_NOT_READ},
      {"a WAV cut in its header", bytes(wav.begin(), wav.begin() + 30),
       "the file is cut short: it ends inside its header", TAP_NOT_READ},
      {"a WAV of a rate not read", record_tape(tape_of_two(), slow),
       recording_fault_words(recording_fault::rate_out_of_range, 8000), TAP_NOT_READ},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    tap_memory_host sys;
    sys.files["in.rec"] = r.file;
    EXPECT_EQ(run_tap(sys, {"in.rec"}), r.status);
    EXPECT_EQ(sys.err_.text, "brivane-tap: in.rec: " + r.err + "\n");
    EXPECT_TRUE(sys.taps["in.tap"].written.empty()) << "a TAP was left";
  }
}

TEST(RunBrivaneTap, EachWayARunEnds) {
  const bytes wav = record_tape(tape_of_two());
  const bytes whole = tap_of(wav);
  recording_knobs quiet;
  quiet.gain = 0;
  quiet.noise = 0.01;
  bytes cut = wav;  // its data chunk says more than there is
  cut.resize(wav.size() * 2 / 3);
  // As recorders write to a pipe: a length that says only "to the end".
  const auto streamed = [&wav](std::uint32_t length) {
    bytes b = wav;
    const auto at = std::search(b.begin(), b.end(), std::begin("data"), std::end("data") - 1);
    for (int i = 0; i < 4; ++i) at[4 + i] = static_cast<std::uint8_t>(length >> 8 * i);
    return b;
  };
  const struct {  // NOLINT(clang-analyzer-optin.performance.Padding): in the order the rows read
    const char* what;
    bytes file;
    bool pipe;
    std::size_t fail_at, tap_limit;
    std::string err;
    int status;
    bool kept;
  } rows[] = {
      {"whole", wav, false, SIZE_MAX, SIZE_MAX, "", TAP_OK, true},
      {"whole, through a pipe", wav, true, SIZE_MAX, SIZE_MAX, "", TAP_OK, true},
      {"from arecord on a pipe", streamed(0x80000000), true, SIZE_MAX, SIZE_MAX, "", TAP_OK, true},
      {"from sox on a pipe", streamed(0x7FFFF000), false, SIZE_MAX, SIZE_MAX, "", TAP_OK, true},
      {"a length past the end by one", streamed(0x80000001), false, SIZE_MAX, SIZE_MAX,
       std::string("brivane-tap: in.wav: ") + CUT_SHORT_WORDS + "\n", TAP_CUT_SHORT, true},
      {"quiet", record_tape(tape_of_two(), quiet), false, SIZE_MAX, SIZE_MAX,
       "brivane-tap: in.wav: there is no tape signal in it\n", TAP_NO_SIGNAL, false},
      {"cut part-way", cut, false, SIZE_MAX, SIZE_MAX,
       std::string("brivane-tap: in.wav: ") + CUT_SHORT_WORDS + "\n", TAP_CUT_SHORT, true},
      {"a read error part-way", wav, false, wav.size() / 2, SIZE_MAX,
       "brivane-tap: in.wav: it could not be read to its end (Input/output error); the TAP file "
       "holds what came before\n",
       TAP_CUT_SHORT, true},
      {"a read error at its start", wav, false, 10, SIZE_MAX,
       "brivane-tap: cannot read in.wav: Input/output error\n", TAP_CANNOT_OPEN, false},
      {"the TAP cannot be written", wav, false, SIZE_MAX, 4096,
       "brivane-tap: cannot write in.tap: No space left on device\n", TAP_CANNOT_WRITE, false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    tap_memory_host sys;
    sys.files["in.wav"] = r.file;
    sys.pipe = r.pipe;
    sys.fail_at = r.fail_at;
    sys.tap_limit = r.tap_limit;
    EXPECT_EQ(run_tap(sys, {"in.wav"}), r.status);
    EXPECT_EQ(sys.err_.text, r.err);
    const memory_tap& tap = sys.taps["in.tap"];
    EXPECT_EQ(tap.kept, r.kept);
    if (r.status == TAP_OK) {
      EXPECT_EQ(tap.written, whole);
    }
    if (!r.kept) {
      EXPECT_TRUE(tap.written.empty());
    }
    if (r.kept && r.status == TAP_CUT_SHORT) {
      // What came before the cut, behind a header that counts it.
      ASSERT_GT(tap.written.size(), TAP_HEADER_SIZE);
      string_sink listing;
      tape_scan({true, false}).feed(tap.written.data(), tap.written.size(), listing);
      EXPECT_EQ(listing.text.substr(0, 22), "FOUND (001): \"SIDE A\"\n");
      EXPECT_EQ(tap_header(tap.written.size() - TAP_HEADER_SIZE),
                bytes(tap.written.begin(), tap.written.begin() + TAP_HEADER_SIZE));
    }
  }
}

// Ctrl-C is how a recording still being made is stopped: from a pipe, its
// TAP is finished with what came before; a file's is given up.
TEST(RunBrivaneTap, InterruptedLiveOrFromAFile) {
  const bytes wav = record_tape(tape_of_two());
  for (const bool pipe : {true, false}) {
    SCOPED_TRACE(pipe ? "through a pipe" : "a file");
    tap_memory_host sys;
    sys.files["in.wav"] = wav;
    sys.pipe = pipe;
    sys.stop_at = wav.size() * 2 / 3;
    EXPECT_EQ(run_tap(sys, {"in.wav"}), TAP_INTERRUPTED);
    const memory_tap& tap = sys.taps["in.tap"];
    EXPECT_EQ(tap.kept, pipe);
    if (!pipe) {
      EXPECT_EQ(sys.err_.text, "brivane-tap: in.wav: interrupted\n");
      EXPECT_TRUE(tap.written.empty());
      continue;
    }
    EXPECT_EQ(sys.err_.text,
              "brivane-tap: in.wav: interrupted; the TAP file holds what came before\n");
    EXPECT_LT(sys.read, wav.size()) << "read on past the interrupt";
    ASSERT_GT(tap.written.size(), TAP_HEADER_SIZE);
    string_sink listing;
    tape_scan({true, false}).feed(tap.written.data(), tap.written.size(), listing);
    EXPECT_EQ(listing.text, "FOUND (001): \"SIDE A\"\n");
    EXPECT_EQ(tap_header(tap.written.size() - TAP_HEADER_SIZE),
              bytes(tap.written.begin(), tap.written.begin() + TAP_HEADER_SIZE));
  }
}

TEST(RunBrivaneTap, OptionsAndMessagesOfTheCommandLine) {
  tap_memory_host sys;
  EXPECT_EQ(run_tap(sys, {"--help"}), TAP_OK);
  EXPECT_EQ(sys.out_.text, tap_usage());
  tap_memory_host missing;
  EXPECT_EQ(run_tap(missing, {"gone.wav"}), TAP_CANNOT_OPEN);
  EXPECT_EQ(missing.err_.text, "brivane-tap: cannot open gone.wav: No such file or directory\n");
  tap_memory_host wrong;
  EXPECT_EQ(run_tap(wrong, {"--machine", "c128", "x.wav"}), TAP_USAGE);
  EXPECT_EQ(wrong.err_.text,
            "brivane-tap: no such machine: c128 (c64-pal, c64-ntsc, vic20-pal or "
            "vic20-ntsc)\n" +
                tap_usage());
  // The usage text offers the core's machines, the default first.
  EXPECT_NE(tap_usage().find("[--machine c64-pal|c64-ntsc|vic20-pal|vic20-ntsc]"),
            std::string::npos);
}

}  // namespace
