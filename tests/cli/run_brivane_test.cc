// The command-line logic run in-process, with tapes and streams in memory.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "command_line.h"
#include "decode_helpers.h"
#include "expected_text.h"
#include "memory_host.h"

namespace {

struct result {
  int status;
  std::string out, err;
};

result run(memory_host& sys, std::vector<const char*> args) {
  args.insert(args.begin(), "brivane");
  const int status = run_brivane(static_cast<int>(args.size()), args.data(), sys);
  return {status, sys.out_.text, sys.err_.text};
}

bytes two_names() {
  tape_writer w(pulse_values::spread(), 3);
  return w.rom_file(1, "FIRST", bytes(40, 0x20))
      .rom_file(3, "\x93SECOND", bytes(40, 0x20))
      .pulses();
}

TEST(Options, JudgedBySecondCharacterUpToThePath) {
  const struct {
    std::vector<const char*> args;
    bool all, escape;
    const char* path;
  } cases[] = {
      {{}, 0, 0, nullptr},
      {{"-a"}, 1, 0, nullptr},
      {{"-a", "-e", "t.tap"}, 1, 1, "t.tap"},
      {{"-ae", "t.tap"}, 1, 0, "t.tap"},
      {{"-ea", "t.tap"}, 0, 1, "t.tap"},
      {{"-x", "-", "t.tap"}, 0, 0, "t.tap"},
      {{"t.tap", "-a", "u.tap"}, 0, 0, "t.tap"},
      {{"-a.tap"}, 1, 0, nullptr},
      {{""}, 0, 0, ""},
  };
  for (const auto& c : cases) {
    std::vector<const char*> argv{"prog"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const options o = parse_options(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(o.scan.extract_all, c.all);
    EXPECT_EQ(o.scan.escape_codes, c.escape);
    EXPECT_STREQ(o.path, c.path);
    EXPECT_STREQ(o.program, "prog");
  }
}

TEST(Run, NoProgramNameGivesUsageWithAnEmptyName) {
  memory_host sys;
  const char* none[] = {nullptr};
  EXPECT_EQ(run_brivane(0, none, sys), -1);
  EXPECT_EQ(sys.out_.text, banner + usage(""));
}

TEST(Run, SameResultWhateverTheReadSizes) {
  memory_host whole;
  whole.files["t"] = two_names();
  const result want = run(whole, {"-a", "-e", "t"});
  EXPECT_EQ(want.out, banner + "FOUND (001): \"FIRST\"\nFOUND (002): \"{CLEAR & HOME}SECOND\"\n");
  for (const std::size_t chunk : {1u, 2u, 3u, 31u, 4999u, 5001u, 65536u}) {
    memory_host sys;
    sys.files["t"] = two_names();
    sys.chunk = chunk;
    const result got = run(sys, {"-a", "-e", "t"});
    EXPECT_EQ(got.out, want.out) << chunk;
    EXPECT_EQ(got.status, 0);
  }
}

TEST(Run, ReadErrorEndsTheRunAsAFailureAndKeepsNamesPrinted) {
  memory_host sys;
  sys.files["t"] = two_names();
  sys.chunk = 1000;
  sys.fail_at = sys.files["t"].size() / 2;  // between the two headers
  const result r = run(sys, {"-a", "t"});
  EXPECT_EQ(r.status, -1);
  EXPECT_EQ(r.out, banner + "FOUND (001): \"FIRST\"\n");
  EXPECT_EQ(r.err, "Could not read input file.\n");
}

TEST(Run, LostOutputIsAFailure) {
  for (const std::vector<const char*>& args :
       {std::vector<const char*>{"t"}, {"-a", "t"}, {}, {"missing"}}) {
    memory_host sys;
    sys.files["t"] = two_names();
    sys.output_lost = true;
    const result r = run(sys, args);
    EXPECT_EQ(r.status, -1);
    EXPECT_NE(r.err.find("Could not write output.\n"), std::string::npos);
  }
}

TEST(Run, NumbersGrowPastThreeDigits) {
  tape_writer w;
  for (int i = 0; i < 1000; ++i) w.pilot(5001).block(header_payload(1, "N"));
  memory_host sys;
  sys.files["t"] = w.pulses();
  const result r = run(sys, {"-a", "t"});
  EXPECT_NE(r.out.find("FOUND (999): \"N\"\nFOUND (1000): \"N\"\n"), std::string::npos);
}

TEST(Run, TapeCutAtEveryLength) {
  tape_writer w(pulse_values::spread(), 11);
  w.pilot(5001).block(header_payload(1, "CUT"));
  const std::size_t arrives = w.byte_start(31);
  const bytes full(w.pulses().begin(),
                   w.pulses().begin() + static_cast<std::ptrdiff_t>(w.byte_start(33)));
  for (std::size_t len = 0; len <= full.size(); ++len) {
    memory_host sys;
    sys.files["t"] = bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(len));
    const result r = run(sys, {"t"});
    ASSERT_EQ(r.out, len > arrives ? banner + "FOUND: \"CUT\"\n" : banner) << len;
    ASSERT_EQ(r.status, 0);
  }
}

}  // namespace

namespace {

TEST(ExampleTape, CommittedFileIsWhatTheWriterMakes) {
  const std::string path = std::string(BRIVANE_SOURCE_DIR) + "/examples/demo.tap";
  std::FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr) << path
                        << " is missing; remake it with: cmake --build build --target example_tape";
  bytes committed;
  for (int c; (c = std::fgetc(f)) != EOF;) committed.push_back(static_cast<std::uint8_t>(c));
  std::fclose(f);
  EXPECT_TRUE(committed == example_tape())
      << "remake it with: cmake --build build --target example_tape";
}

}  // namespace
