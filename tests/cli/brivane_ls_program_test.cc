// brivane-ls, the built program run as a process: every message and exit
// status byte for byte; its lines, CSV and JSON against the core's own
// words for the same tapes; folders, archives, recordings and standard
// input; PRG files that never go over another file; tapes read side by side
// that come out in the order given.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "catalogue/catalogue_text.h"
#include "catalogue/tape_catalogue.h"
#include "ls_options.h"
#include "ls_report.h"
#include "recording_writer.h"
#include "run_program.h"
#include "tape_writer.h"
#include "turbo_writer.h"

namespace {

void spill(const std::string& path, const std::vector<std::uint8_t>& data) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

std::vector<std::uint8_t> bytes_of(const std::string& s) { return {s.begin(), s.end()}; }

// The tape writer's recording (16-bit mono, 44.1 kHz, its sound the last
// chunk) as an AIFF file, as a Mac keeps one: big-endian samples, the rate an
// 80-bit float.
std::vector<std::uint8_t> aiff_of(const std::vector<std::uint8_t>& wav) {
  const auto at = static_cast<std::size_t>(
      std::search(wav.begin(), wav.end(), std::begin("data"), std::end("data") - 1) - wav.begin());
  const std::size_t size = wav.size() - at - 8;
  std::vector<std::uint8_t> out;
  const auto be32 = [&](std::size_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<std::uint8_t>(v >> s));
  };
  const auto text = [&](const char* t) { out.insert(out.end(), t, t + 4); };
  text("FORM");
  be32(4 + 26 + 16 + size);
  text("AIFF");
  text("COMM");
  be32(18);
  out.insert(out.end(), {0, 1});                                             // one channel
  be32(size / 2);                                                            // its frames
  out.insert(out.end(), {0, 16, 0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0});  // 16 bits, 44100
  text("SSND");
  be32(8 + size);
  be32(0);
  be32(0);
  for (std::size_t i = at + 8; i + 1 < wav.size(); i += 2)
    out.insert(out.end(), {wav[i + 1], wav[i]});
  return out;
}

std::string ls_bin() {
  const char* given = std::getenv("BRIVANE_LS_BIN");
  return given != nullptr && *given != '\0' ? given : BRIVANE_LS_BUILT;
}

// A tape's report as the core gives it, read whole in-process.
tape_report report_of(const std::string& path, const std::vector<std::uint8_t>& tape) {
  tape_catalogue c;
  c.feed(tape.data(), tape.size());
  c.finish();
  tape_report t{path, c.take_settled(), c.coverage()};
  return t;
}

// A tape's lines as brivane-ls writes them for a person.
std::string lines_of(const std::string& path, const std::vector<std::uint8_t>& tape) {
  return report_tape(ls_format::text, report_of(path, tape));
}

class LsCli : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    char tmpl[] = "/tmp/brivane-ls-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    demo_ = example_tape();
    turbo_ = example_turbo_tape();
    spill(dir_ + "/demo.tap", demo_);
    spill(dir_ + "/turbo.tap", turbo_);
    spill(dir_ + "/notes.txt", bytes_of("notes\n"));
    // A TAP file cut short: its header gives twice the pulses it holds.
    std::vector<std::uint8_t> half = tap_header(1000);
    half.resize(half.size() + 500, 0x30);
    spill(dir_ + "/half.tap", half);
    // A folder of tapes: a recording, a gzipped tape, something else, and a
    // link back up that makes a loop.
    for (const char* d : {"/col", "/col/b", "/col/a", "/prg"})
      ASSERT_EQ(mkdir((dir_ + d).c_str(), 0755), 0);
    tape_writer w;
    w.rom_file(1, "HEARD", bytes(64, 0x20));
    recording_knobs k;
    k.noise = 0.02;
    spill(dir_ + "/col/a/heard.wav", record_tape(w.pulses(), k));
    spill(dir_ + "/col/b/demo.tap", demo_);
    spill(dir_ + "/col/readme.txt", bytes_of("hello\n"));
    spill(dir_ + "/col/turbo.tap", turbo_);
    ASSERT_EQ(symlink("..", (dir_ + "/col/b/up").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", (dir_ + "/col/b/gone").c_str()), 0);   // leads to no tape
    ASSERT_EQ(mkfifo((dir_ + "/col/b/waiting.tap").c_str(), 0644), 0);  // no one writes to it
    // Names with a line break and with bytes that are no UTF-8.
    odd_ = std::string("line\nbreak \xff\xfe.tap");
    spill(dir_ + "/" + odd_, demo_);
    // Archives, made by Python's zipfile and tar: whole, and cut short.
    ASSERT_EQ(std::system(("cd " + dir_ +
                           " && python3 -c \"import zipfile, tarfile\n"
                           "with zipfile.ZipFile('games.zip', 'w', zipfile.ZIP_DEFLATED) as z:\n"
                           "  [z.write(n) for n in ('demo.tap', 'turbo.tap', 'notes.txt')]\n"
                           "with tarfile.open('games.tar.xz', 'w:xz') as t:\n"
                           "  [t.add(n) for n in ('turbo.tap', 'demo.tap')]\n"
                           "d = open('games.zip', 'rb').read()\n"
                           "second = d.index(b'PK\\x03\\x04', 1)\n"
                           "open('cut.zip', 'wb').write(d[:second + 2000])\"")
                              .c_str()),
              0);
  }
  static void TearDownTestSuite() { EXPECT_EQ(std::system(("rm -rf " + dir_).c_str()), 0); }

  static outcome run(const std::vector<std::string>& args, const std::string& in_path = "") {
    return run_program(ls_bin(), "brivane-ls", args, dir_, in_path);
  }

  static std::string dir_, odd_;
  static std::vector<std::uint8_t> demo_, turbo_;
};
std::string LsCli::dir_, LsCli::odd_;
std::vector<std::uint8_t> LsCli::demo_, LsCli::turbo_;

TEST_F(LsCli, MessagesAndStatuses) {
  const std::string usage = ls_usage();
  const std::string demo = report_tape(ls_format::text, report_of("demo.tap", demo_));
  const struct {
    std::vector<std::string> args;
    std::string out, err;
    int status;
  } cases[] = {
      {{"--help"}, usage, "", 0},
      {{"--version"}, "brivane-ls 1.1\n", "", 0},
      {{}, "", "brivane-ls: no path given\n" + usage, 2},
      {{"--csv", "--json", "demo.tap"},
       "",
       "brivane-ls: --csv and --json cannot both be given\n" + usage,
       2},
      {{"--jobs", "0", "demo.tap"},
       "",
       "brivane-ls: --jobs needs a number of tapes from 1 to 1024, not 0\n" + usage,
       2},
      {{"--jobs"}, "", "brivane-ls: --jobs needs a number of tapes\n" + usage, 2},
      {{"--machine=c128", "demo.tap"},
       "",
       "brivane-ls: no such machine: c128 (c64-pal, c64-ntsc, vic20-pal or vic20-ntsc)\n" + usage,
       2},
      {{"-x", "demo.tap"}, "", "brivane-ls: no such option: -x\n" + usage, 2},
      {{"missing.tap", "demo.tap"},
       demo,
       "brivane-ls: cannot open missing.tap: No such file or directory\n",
       1},
      {{"notes.txt"},
       "",
       "brivane-ls: notes.txt: not a TAP file: it does not start as one, and no file was found in "
       "it\n",
       1},
      {{"--prg", "notes.txt", "demo.tap"},
       "",
       "brivane-ls: cannot write programs into notes.txt: it is not a folder\n",
       1},
      {{"--", "demo.tap"}, demo, "", 0},
      {{"half.tap"},
       "half.tap: no file found; its blocks explain 0% of its time; the file is cut short: it "
       "holds 500 of the 1,000 bytes of pulses its header gives.\n",
       "",
       0},
  };
  for (const auto& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += " " + a;
    SCOPED_TRACE("brivane-ls" + line);
    const outcome r = run(c.args);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, c.status);
  }
}

// Every kind of path, in the order given, each tape's lines the core's: a
// folder walked in name order (its recording made a TAP, the file that is
// none passed over, the loop said and not followed, a pipe said and not
// waited on), archives, a gzipped tape from standard input.
TEST_F(LsCli, FoldersArchivesAndStandardInput) {
  const outcome r = run({"col", "games.tar.xz"});
  EXPECT_EQ(r.out.find("col/a/heard.wav  001  HEARD"), 0u);
  const std::size_t demo =
      r.out.find(report_tape(ls_format::text, report_of("col/b/demo.tap", demo_)));
  const std::size_t turbo =
      r.out.find(report_tape(ls_format::text, report_of("col/turbo.tap", turbo_)));
  EXPECT_NE(demo, std::string::npos);
  EXPECT_NE(turbo, std::string::npos);
  EXPECT_LT(demo, turbo);
  EXPECT_NE(r.out.find(report_tape(ls_format::text, report_of("games.tar.xz/turbo.tap", turbo_)) +
                       report_tape(ls_format::text, report_of("games.tar.xz/demo.tap", demo_))),
            std::string::npos);
  EXPECT_EQ(r.out.find("readme"), std::string::npos);
  EXPECT_EQ(r.err,
            "brivane-ls: col/b/up: a folder loop: it leads back to col, which is not read again\n"
            "brivane-ls: cannot read col/b/waiting.tap: it is a pipe, a socket or a device, which "
            "is read only where named\n");
  EXPECT_EQ(r.status, 1);

  // A folder too deep for the system to reach its bottom: said, not passed over.
  ASSERT_EQ(std::system(("cd " + dir_ +
                         " && python3 -c \"import os\nfor _ in range(2100): os.mkdir('a'); "
                         "os.chdir('a')\nopen('deep.tap', 'wb').write(b'')\"")
                            .c_str()),
            0);
  const outcome deep = run({"a"});
  EXPECT_EQ(deep.out, "");
  EXPECT_EQ(deep.err.rfind("brivane-ls: cannot open a/a/a/", 0), 0u) << deep.err.substr(0, 80);
  EXPECT_EQ(deep.err.find(": File name too long\n"), deep.err.size() - 21);
  EXPECT_EQ(deep.status, 1);

  // A zip through standard input, and a gzipped tape.
  const outcome piped = run({"-"}, dir_ + "/games.zip");
  EXPECT_EQ(piped.out, report_tape(ls_format::text, report_of("-/demo.tap", demo_)) +
                           report_tape(ls_format::text, report_of("-/turbo.tap", turbo_)));
  EXPECT_EQ(piped.status, 0);
  ASSERT_EQ(std::system(("gzip -c " + dir_ + "/demo.tap > " + dir_ + "/demo.tap.gz").c_str()), 0);
  EXPECT_EQ(run({"-"}, dir_ + "/demo.tap.gz").out,
            report_tape(ls_format::text, report_of("-", demo_)));
  EXPECT_EQ(run({"demo.tap.gz"}).out,
            report_tape(ls_format::text, report_of("demo.tap.gz", demo_)));

  // Files whose names say nothing, told by their first bytes, on the command
  // line and through standard input: archives (a gzipped tar small enough to
  // be all in the first look, and a bzip2 one), and tapes that begin as a
  // bzip2 file would ("BZh" are pulses too).
  tape_writer w;
  w.rom_file(1, "SMALL", bytes(64, 0x20));
  const std::vector<std::uint8_t> small = tap_file(w.pulses());
  spill(dir_ + "/small.tap", small);
  std::vector<std::uint8_t> bz = {'B', 'Z', 'h', '9'};
  bz.insert(bz.end(), demo_.begin(), demo_.end());
  spill(dir_ + "/bz.raw", bz);
  ASSERT_EQ(std::system(("cd " + dir_ +
                         " && python3 -c \"import tarfile\n"
                         "with tarfile.open('small.bin', 'w:gz') as t: t.add('small.tap')\n"
                         "with tarfile.open('games.bz', 'w:bz2') as t: t.add('small.tap')\n"
                         "open('games.bin', 'wb').write(open('games.zip', 'rb').read())\"")
                            .c_str()),
            0);
  const outcome named = run({"small.bin", "games.bin", "games.bz", "bz.raw"});
  EXPECT_EQ(named.out, lines_of("small.bin/small.tap", small) +
                           lines_of("games.bin/demo.tap", demo_) +
                           lines_of("games.bin/turbo.tap", turbo_) +
                           lines_of("games.bz/small.tap", small) + lines_of("bz.raw", bz));
  EXPECT_EQ(named.err, "");
  EXPECT_EQ(named.status, 0);
  for (const char* file : {"small.bin", "games.bz"})
    EXPECT_EQ(run({"-"}, dir_ + "/" + file).out, lines_of("-/small.tap", small)) << file;
  EXPECT_EQ(run({"-"}, dir_ + "/bz.raw").out, lines_of("-", bz));
}

// An archive cut short: the tapes before the damage listed, then what is
// wrong, naming the member and the archive; and the status says so.
TEST_F(LsCli, DamagedArchive) {
  const outcome r = run({"cut.zip", "demo.tap"});
  EXPECT_EQ(r.out.rfind(report_tape(ls_format::text, report_of("cut.zip/demo.tap", demo_)), 0), 0u);
  EXPECT_NE(
      r.err.find(
          "brivane-ls: cut.zip: the archive is damaged, and what follows could not be read: "),
      std::string::npos);
  EXPECT_EQ(r.out.substr(r.out.size() - 29), "demo.tap: 4 files, all load.\n");
  EXPECT_EQ(r.status, 1);
}

// Archives inside an archive, as collections are passed around: each read
// where it lies, its tapes named by the whole path down to them, a damaged
// one said as at the top, and no deeper than four archives inside others,
// so that an archive holding itself cannot go on for ever.
TEST_F(LsCli, ArchivesInsideArchives) {
  ASSERT_EQ(
      std::system(("cd " + dir_ +
                   " && python3 -c \"import zipfile\n"
                   "with zipfile.ZipFile('nested.zip', 'w', zipfile.ZIP_DEFLATED) as z:\n"
                   "  [z.write(n) for n in ('games.tar.xz', 'notes.txt', 'cut.zip', 'games.zip')]\n"
                   "inner = 'demo.tap'\n"
                   "for n in range(1, 7):\n"
                   "  with zipfile.ZipFile('deep%d.zip' % n, 'w') as z: z.write(inner)\n"
                   "  inner = 'deep%d.zip' % n\"")
                      .c_str()),
      0);
  const outcome r = run({"--jobs", "1", "nested.zip", "demo.tap"});
  const std::string cut_part = "nested.zip/cut.zip/demo.tap";
  EXPECT_EQ(r.out.rfind(lines_of("nested.zip/games.tar.xz/turbo.tap", turbo_) +
                            lines_of("nested.zip/games.tar.xz/demo.tap", demo_) +
                            lines_of(cut_part, demo_).substr(0, cut_part.size()),
                        0),
            0u);
  EXPECT_NE(
      r.out.find(lines_of("nested.zip/games.zip/demo.tap", demo_) +
                 lines_of("nested.zip/games.zip/turbo.tap", turbo_) + lines_of("demo.tap", demo_)),
      std::string::npos);
  EXPECT_NE(r.err.find("brivane-ls: nested.zip/cut.zip: the archive is damaged, and what "
                       "follows could not be read: "),
            std::string::npos);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(run({"--jobs", "3", "nested.zip", "demo.tap"}).out, r.out);

  const outcome four = run({"deep5.zip"});
  EXPECT_EQ(four.out,
            lines_of("deep5.zip/deep4.zip/deep3.zip/deep2.zip/deep1.zip/demo.tap", demo_));
  EXPECT_EQ(four.err, "");
  EXPECT_EQ(four.status, 0);
  const outcome five = run({"deep6.zip"});
  EXPECT_EQ(five.out, "");
  EXPECT_EQ(five.err,
            "brivane-ls: deep6.zip/deep5.zip/deep4.zip/deep3.zip/deep2.zip/deep1.zip: not read: an "
            "archive inside 5 others; brivane-ls opens archives inside archives 4 deep at most\n");
  EXPECT_EQ(five.status, 1);
}

// A recording that libsndfile reads (Ogg Vorbis and AIFF here) goes back
// and forth in its bytes: out of an archive and down a pipe it is listed as
// from a file on the disk, and in a folder or an archive it is found by the
// same names as on the command line.
TEST_F(LsCli, RecordingsOutOfArchivesAndPipes) {
  if (std::system("command -v oggenc >/dev/null 2>&1") != 0) {
    std::fprintf(stderr, "NOT RUN: no oggenc (Debian's vorbis-tools) to make an Ogg recording\n");
    GTEST_SKIP();
  }
  ASSERT_EQ(mkdir((dir_ + "/heard").c_str(), 0755), 0);
  spill(dir_ + "/heard/heard.aiff", aiff_of(bytes_of(slurp(dir_ + "/col/a/heard.wav"))));
  ASSERT_EQ(std::system(("cd " + dir_ +
                         " && oggenc -Q col/a/heard.wav -o heard/heard.ogg && python3 -c \"import "
                         "zipfile\nwith zipfile.ZipFile('heard.zip', 'w') as z:\n"
                         "  [z.write('heard/' + n, n) for n in ('heard.aiff', 'heard.ogg')]\"")
                            .c_str()),
            0);
  const outcome file = run({"heard/heard.ogg"});
  ASSERT_EQ(file.out.find("heard/heard.ogg  001  HEARD"), 0u) << file.err;
  const auto moved = [&](const std::string& to) {
    std::string text = file.out;
    for (std::size_t at = 0; (at = text.find("heard/heard.ogg", at)) != std::string::npos;
         at += to.size())
      text.replace(at, 15, to);
    return text;
  };
  EXPECT_EQ(run({"heard/heard.aiff"}).out, moved("heard/heard.aiff"));
  for (const char* where : {"heard", "heard.zip"}) {
    const outcome found = run({where});
    EXPECT_EQ(found.out,
              moved(where + std::string("/heard.aiff")) + moved(where + std::string("/heard.ogg")));
    EXPECT_EQ(found.err, "");
    EXPECT_EQ(found.status, 0);
  }
  const std::string piped_out = dir_ + "/piped.txt";
  ASSERT_EQ(
      std::system(("cat " + dir_ + "/heard/heard.ogg | " + ls_bin() + " - > " + piped_out).c_str()),
      0);
  EXPECT_EQ(slurp(piped_out), moved("-"));
}

// CSV and JSON: the core's CSV lines under the page's heading, and one JSON
// object a record, valid UTF-8 whatever bytes the tape's name holds.
TEST_F(LsCli, CsvAndJson) {
  const outcome csv = run({"--csv", "demo.tap", "games.zip", odd_});
  std::string want = csv_heading();
  for (const auto& [path, tape] :
       {std::pair<std::string, std::vector<std::uint8_t>>{"demo.tap", demo_},
        {"games.zip/demo.tap", demo_},
        {"games.zip/turbo.tap", turbo_},
        {odd_, demo_}})
    for (const catalogue_entry& e : report_of(path, tape).records) want += csv_row(path, e, false);
  EXPECT_EQ(csv.out, want);
  EXPECT_EQ(csv.status, 0);

  const outcome json = run({"--json", odd_, "turbo.tap"});
  std::size_t lines = 0;
  for (std::size_t at = 0; at < json.out.size(); at = json.out.find('\n', at) + 1) ++lines;
  EXPECT_EQ(lines, report_of("", demo_).records.size() + report_of("", turbo_).records.size());
  EXPECT_TRUE(valid_utf8(json.out));
  EXPECT_EQ(
      json.out.rfind("{\"tape\":\"line\\u000abreak "
                     "\\ufffd\\ufffd.tap\",\"kind\":\"file\",\"loader\":\"rom\",\"number\":1,",
                     0),
      0u);
  EXPECT_NE(json.out.find("\"loader\":\"Novaload\""), std::string::npos);
  EXPECT_NE(json.out.find("\"escapedName\":\"{CLEAR & HOME}{RED}FLIGHT{YELLOW}DECK{WHITE}\""),
            std::string::npos);
  // In lines for a person, the name's line break is written as \n.
  EXPECT_NE(run({odd_}).out.find("line\\nbreak \xff\xfe.tap: 4 files, all load.\n"),
            std::string::npos);
}

// PRG files: the programs that load, each under a name of its own, never
// over a file there already, and nothing left half written.
TEST_F(LsCli, ProgramFiles) {
  spill(dir_ + "/prg/demo.tap-002-HI-SCORES ....prg", bytes_of("kept"));
  const outcome r = run({"--prg", "prg", "demo.tap", "turbo.tap", "demo.tap"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  const tape_report demo = report_of("demo.tap", demo_), turbo = report_of("turbo.tap", turbo_);
  EXPECT_EQ(slurp(dir_ + "/prg/demo.tap-002-HI-SCORES ....prg"), "kept");
  const std::vector<std::uint8_t> second = prg_bytes(demo.records[1]);
  EXPECT_EQ(slurp(dir_ + "/prg/demo.tap-002-HI-SCORES ... (2).prg"),
            std::string(second.begin(), second.end()));
  EXPECT_EQ(slurp(dir_ + "/prg/demo.tap-002-HI-SCORES ... (3).prg"),
            std::string(second.begin(), second.end()));
  const std::vector<std::uint8_t> first = prg_bytes(demo.records[0]);
  EXPECT_EQ(slurp(dir_ + "/prg/demo.tap-001-FLIGHTDECK (2).prg"),
            std::string(first.begin(), first.end()));
  for (const catalogue_entry& e : turbo.records) {
    const std::vector<std::uint8_t> b = prg_bytes(e);
    if (b.empty()) continue;
    SCOPED_TRACE(prg_name(turbo, e));
    EXPECT_EQ(slurp(dir_ + "/prg/" + prg_name(turbo, e)), std::string(b.begin(), b.end()));
  }
  EXPECT_EQ(prg_name(turbo, turbo.records[1]), "turbo.tap-Freeload.prg");
  EXPECT_EQ(std::system(("ls -a " + dir_ + "/prg | grep -q brivane").c_str()) != 0, true)
      << "a file half written";
}

// Tapes read side by side come out as one read after another does: a
// folder of many tapes and a zip of them, at 1, 2 and 5 at once.
TEST_F(LsCli, SideBySideInOrder) {
  ASSERT_EQ(mkdir((dir_ + "/many").c_str(), 0755), 0);
  for (int n = 0; n < 40; ++n) {
    tape_writer w(pulse_values::spread(), static_cast<std::uint32_t>(n));
    for (int f = 0; f <= n % 3; ++f)
      w.rom_file(1, "FILE " + std::to_string(n), bytes(100 + 37 * n, 0x20));
    spill(dir_ + "/many/t" + std::to_string(100 + n) + ".tap", tap_file(w.pulses()));
  }
  ASSERT_EQ(std::system(("cd " + dir_ +
                         " && python3 -c \"import zipfile, os\n"
                         "with zipfile.ZipFile('many.zip', 'w') as z:\n"
                         "  [z.write('many/' + n) for n in sorted(os.listdir('many'))]\"")
                            .c_str()),
            0);
  const outcome one = run({"--jobs", "1", "--csv", "many", "many.zip", "demo.tap"});
  EXPECT_EQ(one.status, 0);
  EXPECT_NE(one.out.find("many.zip/many/t139.tap,"), std::string::npos);
  for (const char* jobs : {"2", "5"})
    EXPECT_EQ(run({"--jobs", jobs, "--csv", "many", "many.zip", "demo.tap"}).out, one.out);
}

TEST(LsOptions, ReadAsGiven) {
  const auto parse = [](std::vector<const char*> args) {
    return parse_ls_options(static_cast<int>(args.size()), args.data());
  };
  const ls_options o = parse({"--json", "--prg=out", "--machine", "vic20-ntsc", "--jobs=3",
                              "--all-blocks", "a", "-", "--", "--csv"});
  EXPECT_EQ(o.error, "");
  EXPECT_EQ(o.format, ls_format::json);
  EXPECT_EQ(o.prg_dir, "out");
  EXPECT_EQ(o.for_machine, machine::vic20_ntsc);
  EXPECT_EQ(o.jobs, 3u);
  EXPECT_TRUE(o.all_blocks);
  EXPECT_EQ(o.paths, (std::vector<std::string>{"a", "-", "--csv"}));
  EXPECT_EQ(parse({"--prg="}).error, "--prg needs a folder");
  EXPECT_EQ(parse({"--jobs", "2x", "a"}).error,
            "--jobs needs a number of tapes from 1 to 1024, not 2x");
  EXPECT_EQ(parse({"--csv", "--csv", "a"}).error, "");
}

// The verdict under a tape's lines, for each way a tape can be.
TEST(LsReport, Verdicts) {
  const auto record = [](copy_check program, std::uint8_t type,
                         entry_kind kind = entry_kind::file) {
    catalogue_entry e;
    e.kind = kind;
    e.type = type;
    e.program_check = program;
    return e;
  };
  const struct {
    std::vector<catalogue_entry> records;
    double coverage;
    std::string want;
    tap_shortfall cut{};
  } rows[] = {
      {{}, 1, "no file found."},
      {{record(copy_check::ok, 1)}, 1, "1 file, which loads."},
      {{record(copy_check::missing, 1)}, 1, "1 file, which would not load."},
      {{record(copy_check::ok, 1), record(copy_check::repeat, 3), record(copy_check::ok, 5)},
       1,
       "2 files, all load."},
      {{record(copy_check::damaged, 1), record(copy_check::none, 0)},
       0.9412,
       "2 files, 1 would not load; its blocks explain 94% of its time."},
      {{record(copy_check::ok, 1), record(copy_check::none, 0, entry_kind::unrecognised)},
       0.9991,
       "1 file, which loads; its blocks explain over 99% of its time."},
      {{},
       1,
       "no file found; the file is cut short: it holds 0 of the 1,000 bytes of pulses its header "
       "gives.",
       {0, 1000}},
      {{record(copy_check::damaged, 1)},
       0.5,
       "1 file, which would not load; its blocks explain 50% of its time; the file is cut short: "
       "it holds 61,728 of the 1,234,567 bytes of pulses its header gives.",
       {61728, 1234567}},
  };
  for (const auto& r : rows) EXPECT_EQ(verdict({"t", r.records, r.coverage, r.cut}), r.want);
}

}  // namespace
