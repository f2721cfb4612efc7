// Recordings of tapes, made from the tape writer's tapes and spoiled as real
// ones are, turned back into pulses: each must give the names of the tape it
// was made from; and the faults a file can have, each said.
#include "recording/recording.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "decode_helpers.h"
#include "recording_writer.h"

namespace {

// Two files, each header after a pilot of its own, the second with control codes.
const bytes& two_files() {
  static const bytes tape = [] {
    tape_writer w({{44, 52}, {61, 70}, {81, 90}}, 21);  // spread, but clear of the class edges
    w.pilot(5600)
        .block(header_payload(1, "FIRST"))
        .pilot(79)
        .block(header_payload(1, "FIRST"), block_copy::repeat);
    w.pilot(5600).block(header_payload(3, "\x1cSECOND\x05")).pilot(2000);
    return w.pulses();
  }();
  return tape;
}

struct converted {
  bytes tap;  // the TAP file: header, then pulses
  recording_fault fault;
};

// Converts the file fed in pieces of the given size (0: whole).
converted convert(const std::vector<std::uint8_t>& wav, std::size_t piece = 0,
                  double clock = PAL_CLOCK) {
  recording_converter c(clock);
  bytes pulses;
  if (piece == 0) piece = wav.size() + 1;
  for (std::size_t at = 0; at < wav.size(); at += piece)
    c.feed(wav.data() + at, std::min(piece, wav.size() - at), pulses);
  c.finish(pulses);
  bytes tap = tap_header(pulses.size());
  tap.insert(tap.end(), pulses.begin(), pulses.end());
  return {tap, c.fault()};
}

std::vector<std::string> names(const bytes& tap) { return names_in_bulk(tap); }

struct spoiled {
  const char* what;
  recording_knobs knobs;
};

TEST(Recording, EverySpoiledRecordingGivesTheTapesNames) {
  const std::vector<std::string> want = names(two_files());
  ASSERT_EQ(want.size(), 2u);
  std::vector<spoiled> cases;
  for (const double rate : {22050.0, 44100.0, 48000.0, 96000.0})
    for (const sample_format f : {sample_format::u8, sample_format::s16, sample_format::s24,
                                  sample_format::s32, sample_format::f32}) {
      recording_knobs k;
      k.rate = rate;
      k.format = f;
      k.extensible = f == sample_format::s24;
      cases.push_back({"rate and format", k});
    }
  const auto with = [](auto change) {
    recording_knobs k;
    change(k);
    return k;
  };
  cases.push_back({"stereo, tape on the left", with([](recording_knobs& k) {
                     k.channels = 2;
                     k.noise = 0.02;
                   })});
  cases.push_back({"stereo, tape on the right", with([](recording_knobs& k) {
                     k.channels = 2;
                     k.tape_channel = 1;
                     k.noise = 0.02;
                   })});
  cases.push_back({"3% fast", with([](recording_knobs& k) { k.speed = 1.03; })});
  cases.push_back({"3% slow and wandering", with([](recording_knobs& k) {
                     k.speed = 0.97;
                     k.wander = 0.01;
                   })});
  cases.push_back({"a deck's low-pass", with([](recording_knobs& k) { k.low_pass_hz = 5000; })});
  cases.push_back({"hum", with([](recording_knobs& k) { k.hum = 0.5; })});
  cases.push_back({"noise", with([](recording_knobs& k) { k.noise = 0.1; })});
  cases.push_back({"DC offset", with([](recording_knobs& k) { k.offset = 0.4; })});
  cases.push_back({"inverted", with([](recording_knobs& k) { k.inverted = true; })});
  cases.push_back({"inverted, low-passed, at 22.05 kHz", with([](recording_knobs& k) {
                     k.inverted = true;
                     k.low_pass_hz = 4000;
                     k.rate = 22050;
                   })});
  cases.push_back({"clipped", with([](recording_knobs& k) {
                     k.gain = 3;
                     k.hum = 0.3;
                   })});
  cases.push_back({"all at once", with([](recording_knobs& k) {
                     k.speed = 1.02;
                     k.wander = 0.01;
                     k.low_pass_hz = 6000;
                     k.hum = 0.2;
                     k.noise = 0.05;
                     k.offset = 0.1;
                     k.inverted = true;
                     k.channels = 2;
                     k.tape_channel = 1;
                   })});
  cases.push_back({"chunks before the sound, size 0", with([](recording_knobs& k) {
                     k.extra_chunks = true;
                     k.data_size = 0;
                   })});
  cases.push_back({"size 0xFFFFFFFF", with([](recording_knobs& k) { k.data_size = 0xFFFFFFFF; })});
  cases.push_back(
      {"size past the end", with([](recording_knobs& k) { k.data_size = 0x7FFFFFFF; })});
  for (const spoiled& c : cases) {
    SCOPED_TRACE(std::string(c.what) + " at " + std::to_string(static_cast<int>(c.knobs.rate)) +
                 " Hz, format " + std::to_string(static_cast<int>(c.knobs.format)));
    const converted got = convert(record_tape(two_files(), c.knobs));
    EXPECT_EQ(got.fault, recording_fault::none);
    EXPECT_EQ(names(got.tap), want);
  }
}

TEST(Recording, PulsesAreThePeriodsInMachineCycles) {
  // Each class's pulse value comes back within a unit, on either clock; a
  // period past a byte is written as 0 and its 24-bit cycle count.
  tape_writer w;
  w.pilot(400).raw({39, 57, 66, 75, 86, 95, 48, 48});
  bytes tape = w.pulses();
  for (const double clock : {PAL_CLOCK, NTSC_CLOCK}) {
    recording_knobs k;
    k.rate = 96000;
    k.clock = clock;
    const converted got = convert(record_tape(tape, k), 0, clock);
    const bytes pulses(got.tap.begin() + 20, got.tap.end());
    ASSERT_GE(pulses.size(), tape.size() - 2);
    // The polarity may cost the first half wave: line the ends up.
    const std::size_t off = pulses.size() - tape.size();
    for (std::size_t i = 16; i < tape.size(); ++i) EXPECT_NEAR(pulses[i + off], tape[i], 1) << i;
  }
  // A wave of 400 units, 3,200 cycles, past a byte.
  recording_knobs slow;
  slow.clock = PAL_CLOCK / 2;  // each unit now lasts twice as long
  const converted got = convert(record_tape({48, 48, 48, 200, 48, 48, 48}, slow));
  // Three short waves, the long one, three short ones: the quiet before and
  // after the tape gives waves of its own around them.
  const auto near = [&](std::size_t i, int v) {
    return i < got.tap.size() && std::abs(got.tap[i] - v) <= 1;
  };
  int found = 0;
  for (std::size_t i = 20; i + 10 <= got.tap.size(); ++i) {
    if (!(near(i, 96) && near(i + 1, 96) && near(i + 2, 96) && got.tap[i + 3] == 0 &&
          near(i + 7, 96) && near(i + 8, 96) && near(i + 9, 96)))
      continue;
    const unsigned cycles = got.tap[i + 4] | got.tap[i + 5] << 8 | got.tap[i + 6] << 16;
    EXPECT_NEAR(cycles, 3200, 32);
    ++found;
  }
  EXPECT_EQ(found, 1);
  EXPECT_EQ(std::string(got.tap.begin(), got.tap.begin() + 12), "C64-TAPE-RAW");
  EXPECT_EQ(got.tap[12], 1);
}

TEST(Recording, AnySplitGivesWhatTheWholeGives) {
  recording_knobs k;
  k.channels = 2;
  k.format = sample_format::s24;
  k.extra_chunks = true;
  k.noise = 0.05;
  const std::vector<std::uint8_t> wav = record_tape(one_header("SPLIT", 5600), k);
  const converted whole = convert(wav);
  ASSERT_EQ(names(whole.tap).size(), 1u);
  for (const std::size_t piece : {1u, 2u, 3u, 5u, 7u, 13u, 4096u})
    EXPECT_EQ(convert(wav, piece).tap, whole.tap) << piece;
  // Every cut through the file's header and first frames, then the rest of
  // its first 16 KiB: what that start gives whole.
  const std::size_t start = 16 << 10;
  bytes want;
  recording_converter at_once;
  at_once.feed(wav.data(), start, want);
  at_once.finish(want);
  for (std::size_t cut = 1; cut < 120; ++cut) {
    recording_converter c;
    bytes pulses;
    c.feed(wav.data(), cut, pulses);
    c.feed(wav.data() + cut, start - cut, pulses);
    c.finish(pulses);
    ASSERT_TRUE(want == pulses) << cut;
  }
}

TEST(Recording, EachFaultIsSaid) {
  const std::vector<std::uint8_t> good = record_tape(one_header("OK"));
  std::vector<std::uint8_t> adpcm = good, mulaw = good, mono_silence;
  adpcm[20] = 2;  // the format tag
  mulaw[20] = 7;
  recording_knobs quiet;
  quiet.gain = 0;
  quiet.noise = 0.01;
  const struct {
    const char* what;
    std::vector<std::uint8_t> file;
    recording_fault fault;
  } cases[] = {
      {"a text file", std::vector<std::uint8_t>(500, 'x'), recording_fault::not_wav},
      {"a RIFF of another kind",
       [&] {
         auto f = good;
         f[8] = 'A';
         f[9] = 'V';
         f[10] = 'I';
         f[11] = ' ';
         return f;
       }(),
       recording_fault::not_wav},
      {"empty", {}, recording_fault::cut_short},
      {"cut inside its header", std::vector<std::uint8_t>(good.begin(), good.begin() + 30),
       recording_fault::cut_short},
      {"cut before its format ends", std::vector<std::uint8_t>(good.begin(), good.begin() + 14),
       recording_fault::cut_short},
      {"ADPCM", adpcm, recording_fault::unsupported},
      {"mu-law", mulaw, recording_fault::unsupported},
      {"hiss alone", record_tape(one_header("X"), quiet), recording_fault::no_tape_signal},
      {"a tone",
       [] {
         tape_writer w({{200, 200}, {200, 200}, {200, 200}});
         return record_tape(w.pilot(2000).pulses());
       }(),
       recording_fault::no_tape_signal},
  };
  for (const auto& c : cases) {
    for (const std::size_t piece : {std::size_t{0}, std::size_t{1}}) {
      const converted got = convert(c.file, piece);
      EXPECT_EQ(got.fault, c.fault) << c.what << " in pieces of " << piece;
    }
  }
}

}  // namespace
