// brivane-tap, the built program run as a process: its messages, statuses
// and files byte for byte; standard input and output; a recording played
// into it through a pipe, its names reaching brivane on a terminal as the
// tape plays; and its options read in-process.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "recording/recording.h"
#include "recording_writer.h"
#include "run_program.h"
#include "tap_options.h"
#include "terminal.h"

namespace {

void spill(const std::string& path, const std::vector<std::uint8_t>& data) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// The program under test: BRIVANE_TAP_BIN, or the one built beside the tests.
std::string tap_bin() {
  const char* given = std::getenv("BRIVANE_TAP_BIN");
  return given != nullptr && *given != '\0' ? given : BRIVANE_TAP_BUILT;
}

// What brivane-tap makes of a recording: the TAP, as the core makes it.
std::string tap_of(const std::vector<std::uint8_t>& wav, machine m = machine::c64_pal) {
  recording_converter c(timing_of(m).clock);
  std::vector<std::uint8_t> pulses;
  c.feed(wav.data(), wav.size(), pulses);
  c.finish(pulses);
  std::vector<std::uint8_t> tap = tap_header(pulses.size(), m);
  tap.insert(tap.end(), pulses.begin(), pulses.end());
  return {tap.begin(), tap.end()};
}

class TapCli : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    char tmpl[] = "/tmp/brivane-tap-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    tape_writer w;
    w.rom_file(1, "SIDE A", bytes(64, 0x20)).rom_file(1, "SIDE B", bytes(64, 0x20));
    recording_knobs k;
    k.noise = 0.02;
    wav_ = record_tape(w.pulses(), k);
    spill(dir_ + "/side.wav", wav_);
    recording_knobs quiet;
    quiet.gain = 0;
    quiet.noise = 0.01;
    spill(dir_ + "/quiet.wav", record_tape(w.pulses(), quiet));
    spill(dir_ + "/notes.txt", {'n', 'o', 't', 'e', 's', '\n'});
    ASSERT_EQ(mkdir((dir_ + "/folder").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir_ + "/locked").c_str(), 0555), 0);
  }
  static void TearDownTestSuite() {
    const std::string rm = "rm -rf '" + dir_ + "'";
    EXPECT_EQ(std::system(rm.c_str()), 0);
  }
  void TearDown() override {
    for (const char* f : {"side.tap", "out.tap", "quiet.tap"}) unlink((dir_ + "/" + f).c_str());
  }

  // Runs brivane-tap in the test folder, standard input from in_path
  // (/dev/null when empty); with file_limit, no file it writes may grow
  // past that many bytes.
  static outcome run(const std::vector<std::string>& args, const std::string& in_path = "",
                     rlim_t file_limit = RLIM_INFINITY) {
    return run_program(tap_bin(), "brivane-tap", args, dir_, in_path, file_limit);
  }

  static std::string dir_;
  static std::vector<std::uint8_t> wav_;
};
std::string TapCli::dir_;
std::vector<std::uint8_t> TapCli::wav_;

TEST_F(TapCli, MessagesAndStatuses) {
  const std::string usage = tap_usage();
  const struct {
    std::vector<std::string> args;
    std::string out, err;
    int status;
  } cases[] = {
      {{"--help"}, usage, "", 0},
      {{"--version"}, "brivane-tap 1.1\n", "", 0},
      {{}, "", "brivane-tap: no recording given\n" + usage, 2},
      {{"--machine", "c128", "side.wav"},
       "",
       "brivane-tap: no such machine: c128 (c64-pal, c64-ntsc, vic20-pal or vic20-ntsc)\n" + usage,
       2},
      {{"-x", "side.wav"}, "", "brivane-tap: no such option: -x\n" + usage, 2},
      {{"a.wav", "b.tap", "c"}, "", "brivane-tap: too many arguments: c\n" + usage, 2},
      {{"missing.wav"}, "", "brivane-tap: cannot open missing.wav: No such file or directory\n", 3},
      {{"folder"}, "", "brivane-tap: cannot open folder: it is a folder\n", 3},
      {{"notes.txt"}, "", "brivane-tap: notes.txt: it is not a recording brivane reads\n", 4},
      {{"quiet.wav"}, "", "brivane-tap: quiet.wav: there is no tape signal in it\n", 5},
      {{"side.wav", "locked/side.tap"},
       "",
       "brivane-tap: cannot write locked/side.tap: Permission denied\n",
       6},
  };
  for (const auto& c : cases) {
    std::string what;
    for (const std::string& a : c.args) what += a + " ";
    if (geteuid() == 0 && c.args.size() == 2 && c.args[1] == "locked/side.tap") {
      std::fprintf(stderr, "NOT RUN: %s: root may write into a folder of mode 0555\n",
                   what.c_str());
      continue;
    }
    const outcome r = run(c.args);
    EXPECT_EQ(r.out, c.out) << what;
    EXPECT_EQ(r.err, c.err) << what;
    EXPECT_EQ(r.status, c.status) << what;
  }
  EXPECT_FALSE(exists(dir_ + "/quiet.tap")) << "a TAP of no tape was left";
}

TEST_F(TapCli, TheTapByNameOrThroughStandardInputAndOutput) {
  const std::string want = tap_of(wav_);
  // By name: the recording's name with .tap, or the name given.
  EXPECT_EQ(run({"side.wav"}).status, 0);
  EXPECT_EQ(slurp(dir_ + "/side.tap"), want);
  const outcome named = run({"--machine", "vic20-ntsc", "side.wav", "out.tap"});
  EXPECT_EQ(named.out + named.err, "");
  EXPECT_EQ(slurp(dir_ + "/out.tap"), tap_of(wav_, machine::vic20_ntsc));
  // Standard input and output: the core's own reader, the TAP as it is made.
  const outcome piped = run({"-", "-"}, dir_ + "/side.wav");
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.err, "");
  EXPECT_EQ(piped.out, want) << "standard output is a file here: its size goes into the header";
  const outcome defaulted = run({"-"}, dir_ + "/side.wav");
  EXPECT_EQ(defaulted.out, want) << "a recording from standard input goes to standard output";
}

// A TAP that cannot be written whole is not left under its name, nor is any
// part of it beside.
TEST_F(TapCli, NeverHalfWrittenUnderItsName) {
  spill(dir_ + "/out.tap", {'o', 'l', 'd'});
  const outcome r = run({"side.wav", "out.tap"}, "", 4096);
  EXPECT_EQ(r.status, 6);
  EXPECT_EQ(r.err, "brivane-tap: cannot write out.tap: File too large\n");
  EXPECT_EQ(slurp(dir_ + "/out.tap"), "old") << "the file of that name was touched";
  DIR* d = opendir(dir_.c_str());
  ASSERT_NE(d, nullptr);
  for (const dirent* e; (e = readdir(d)) != nullptr;)
    EXPECT_NE(std::string(e->d_name).rfind("out.tap.", 0), 0u) << "left beside it: " << e->d_name;
  closedir(d);
}

// The TAP never takes the recording's place, however its name is spelled:
// the same name, another way to it, a hard link, or a recording whose own
// name ends in .tap, which is the TAP's name when none is given.
TEST_F(TapCli, NeverWrittenOverItsRecording) {
  spill(dir_ + "/rec.tap", wav_);
  ASSERT_EQ(link((dir_ + "/side.wav").c_str(), (dir_ + "/linked.wav").c_str()), 0);
  const struct {
    std::vector<std::string> args;
    std::string tape;
  } cases[] = {
      {{"side.wav", "side.wav"}, "side.wav"},
      {{"side.wav", "./folder/../side.wav"}, "./folder/../side.wav"},
      {{"linked.wav", "side.wav"}, "side.wav"},
      {{"rec.tap"}, "rec.tap"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.tape);
    const outcome r = run(c.args);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "brivane-tap: cannot write " + c.tape +
                         ": it is the recording itself; name another file for the TAP\n");
    EXPECT_EQ(r.status, 6);
  }
  const std::string wav(wav_.begin(), wav_.end());
  EXPECT_EQ(slurp(dir_ + "/side.wav"), wav);
  EXPECT_EQ(slurp(dir_ + "/rec.tap"), wav);
  EXPECT_EQ(run({"linked.wav", "out.tap"}).status, 0) << "a link read is no link written";
  // A TAP given as a recording is still said to be none, and left alone.
  const outcome tap = run({"out.tap"});
  EXPECT_EQ(tap.err,
            "brivane-tap: out.tap: it is not a recording brivane reads: it is a TAP file, not a "
            "recording\n");
  EXPECT_EQ(tap.status, 4);
  EXPECT_EQ(slurp(dir_ + "/out.tap"), tap_of(wav_));
  unlink((dir_ + "/linked.wav").c_str());
  unlink((dir_ + "/rec.tap").c_str());
}

// A recording played into brivane-tap through a pipe, a piece at a time
// with pauses, as a sound card gives it: each name reaches brivane -a on a
// terminal before the next piece is played.
TEST_F(TapCli, NamesShowWhileTheRecordingPlays) {
  tape_writer w;
  std::vector<std::size_t> cuts;  // the pulse past each header's name
  for (const char* name : {"FIRST", "SECOND", "THIRD"}) {
    w.pilot(HEADER_PILOT).block(header_payload(1, name));
    cuts.push_back(w.size());
    w.pilot(COPY_GAP).block(header_payload(1, name), block_copy::repeat).pilot(DATA_PILOT);
    w.block(bytes(40, 0x20)).pilot(TRAILER);
  }
  recording_knobs k;
  k.noise = 0.02;
  k.channels = 2;  // as a sound card records by default
  const std::vector<std::uint8_t> wav = record_tape(w.pulses(), k);
  // Where each cut falls in the recording: the time of its pulse, plus a
  // second of the tape that follows it.
  std::vector<std::size_t> at_bytes;
  double seconds = k.silence;
  std::size_t pulse = 0;
  for (const std::size_t cut : cuts) {
    for (; pulse < cut; ++pulse) seconds += w.pulses()[pulse] * 8 / k.clock;
    at_bytes.push_back(44 + static_cast<std::size_t>((seconds + 1.0) * k.rate) * 4);
  }

  terminal screen;
  ASSERT_TRUE(screen.ready());
  int into_tap[2], between[2];
  ASSERT_EQ(pipe(into_tap), 0);
  ASSERT_EQ(pipe(between), 0);
  const std::string tap_path = tap_bin();
  const std::string bin = std::getenv("BRIVANE_BIN") ? std::getenv("BRIVANE_BIN") : "brivane";
  const pid_t tap = fork();
  if (tap == 0) {
    dup2(into_tap[0], 0);
    dup2(between[1], 1);
    close(into_tap[1]);
    close(between[0]);
    execl(tap_path.c_str(), "brivane-tap", "-", "-", static_cast<char*>(nullptr));
    _exit(127);
  }
  const pid_t lister = fork();
  if (lister == 0) {
    screen.attach_output();
    dup2(between[0], 0);
    close(between[1]);
    close(into_tap[1]);
    execl(bin.c_str(), "brivane", "-a", "/dev/stdin", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(into_tap[0]);
  close(between[0]);
  close(between[1]);
  signal(SIGPIPE, SIG_IGN);
  const char* lines[] = {"FOUND (001): \"FIRST\"", "FOUND (002): \"SECOND\"",
                         "FOUND (003): \"THIRD\""};
  std::size_t at = 0;
  for (std::size_t i = 0; i < 3; ++i) {
    const std::size_t n = at_bytes[i] - at;
    ASSERT_EQ(write(into_tap[1], wav.data() + at, n), static_cast<ssize_t>(n));
    at = at_bytes[i];
    EXPECT_TRUE(screen.shows(lines[i]))
        << "not shown before the next piece: " << lines[i] << "\nshown: " << screen.shown();
  }
  ASSERT_EQ(write(into_tap[1], wav.data() + at, wav.size() - at),
            static_cast<ssize_t>(wav.size() - at));
  close(into_tap[1]);
  int status = 0;
  waitpid(tap, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  waitpid(lister, &status, 0);
}

// A recording played in through a pipe and stopped with Ctrl-C, the pipe
// still open: the TAP holds what came before, whole, and brivane-tap ends
// as the interrupt ends a program, with nothing left beside the TAP.
TEST_F(TapCli, CtrlCEndsARecordingBeingMade) {
  const std::size_t played = wav_.size() * 2 / 3;
  int into_tap[2];
  ASSERT_EQ(pipe(into_tap), 0);
  const std::string tap_path = tap_bin();
  const std::string err_path = dir_ + "/err.txt";
  const pid_t tap = fork();
  if (tap == 0) {
    if (chdir(dir_.c_str()) != 0) _exit(126);
    dup2(into_tap[0], 0);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(err, 2);
    close(into_tap[1]);
    execl(tap_path.c_str(), "brivane-tap", "-", "out.tap", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(into_tap[0]);
  signal(SIGPIPE, SIG_IGN);
  ASSERT_EQ(write(into_tap[1], wav_.data(), played), static_cast<ssize_t>(played));
  // Until it has read all it was given: waiting on the pipe, asleep.
  for (int i = 0; i < 100; ++i) {
    usleep(50000);
    std::ifstream stat("/proc/" + std::to_string(tap) + "/stat");
    std::string pid, comm, state;
    stat >> pid >> comm >> state;
    if (state == "S") break;
  }
  usleep(100000);
  kill(tap, SIGINT);
  int status = 0;
  waitpid(tap, &status, 0);
  close(into_tap[1]);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << "status " << status;
  EXPECT_EQ(slurp(err_path),
            "brivane-tap: standard input: interrupted; the TAP file holds what came before\n");
  EXPECT_TRUE(slurp(dir_ + "/out.tap") ==
              tap_of(std::vector<std::uint8_t>(wav_.begin(), wav_.begin() + played)))
      << "the TAP is not that of what was played";
  DIR* d = opendir(dir_.c_str());
  ASSERT_NE(d, nullptr);
  for (const dirent* e; (e = readdir(d)) != nullptr;)
    EXPECT_NE(std::string(e->d_name).rfind("out.tap.", 0), 0u) << "left beside it: " << e->d_name;
  closedir(d);
  unlink(err_path.c_str());
}

TEST(TapOptions, ArgumentsAndTheirDefaults) {
  const struct {
    std::vector<const char*> args;
    std::string recording, tape, error;
    machine m;
  } cases[] = {
      {{"side.wav"}, "side.wav", "side.tap", "", machine::c64_pal},
      {{"dir.v2/side"}, "dir.v2/side", "dir.v2/side.tap", "", machine::c64_pal},
      {{"a.b.flac", "x"}, "a.b.flac", "x", "", machine::c64_pal},
      {{"-"}, "-", "-", "", machine::c64_pal},
      {{"-", "out.tap"}, "-", "out.tap", "", machine::c64_pal},
      {{"--machine=VIC20-PAL", "r.wav"}, "r.wav", "r.tap", "", machine::vic20_pal},
      {{"--machine", "c64-ntsc", "--", "-odd.wav"}, "-odd.wav", "-odd.tap", "", machine::c64_ntsc},
      {{"--machine"},
       "",
       "",
       "--machine needs a machine: c64-pal, c64-ntsc, vic20-pal or vic20-ntsc",
       machine::c64_pal},
      {{""}, "", "", "an empty name", machine::c64_pal},
  };
  for (const auto& c : cases) {
    const tap_options o = parse_tap_options(static_cast<int>(c.args.size()), c.args.data());
    EXPECT_EQ(o.error, c.error) << c.args[0];
    if (!c.error.empty()) continue;
    EXPECT_EQ(o.recording, c.recording);
    EXPECT_EQ(o.tape, c.tape);
    EXPECT_EQ(o.for_machine, c.m);
  }
}

}  // namespace
