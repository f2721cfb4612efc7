// Recordings of tapes, made from the tape writer's tapes and spoiled as real
// ones are, turned back into pulses: each must give the names of the tape it
// was made from; and the faults a file can have, each said.
#include "recording/recording.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "block_reader.h"
#include "catalogue/tape_catalogue.h"
#include "decode_helpers.h"
#include "recording/wav_reader.h"
#include "recording_writer.h"
#include "turbo_writer.h"

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

// Three files, each after a long pilot of its own, for a tape that moves
// from channel to channel between them.
const bytes& three_files() {
  static const bytes tape = [] {
    tape_writer w({{44, 52}, {61, 70}, {81, 90}}, 22);
    for (const char* name : {"ONE", "TWO", "THREE"}) w.pilot(12000).block(header_payload(1, name));
    return w.pulses();
  }();
  return tape;
}

// Seconds into a recording at which the pulse at index i of tape starts,
// played clean at the C64's PAL clock after the knobs' quiet.
double seconds_at(const bytes& tape, std::size_t i, double silence) {
  double t = silence;
  for (std::size_t k = 0; k < i; ++k) t += tape[k] * 8 / PAL_CLOCK;
  return t;
}

// One way a recording is spoiled: what it is, and the knobs that make it.
struct spoil {
  std::string what;
  recording_knobs knobs;
};

recording_knobs knobs(void (*change)(recording_knobs&)) {
  recording_knobs k;
  change(k);
  return k;
}

// Every way of spoiling a recording of two_files() that must still give its names.
std::vector<spoil> spoilings() {
  std::vector<spoil> rows = {
      {"stereo, tape on the left",
       knobs([](recording_knobs& k) { k.channels = 2, k.noise = 0.02; })},
      {"stereo, tape on the right",
       knobs([](recording_knobs& k) { k.channels = 2, k.tape_channel = 1, k.noise = 0.02; })},
      {"3% fast", knobs([](recording_knobs& k) { k.speed = 1.03; })},
      {"3% slow and wandering", knobs([](recording_knobs& k) { k.speed = 0.97, k.wander = 0.01; })},
      {"a deck's low-pass", knobs([](recording_knobs& k) { k.low_pass_hz = 5000; })},
      {"hum", knobs([](recording_knobs& k) { k.hum = 0.5; })},
      {"noise", knobs([](recording_knobs& k) { k.noise = 0.1; })},
      {"DC offset", knobs([](recording_knobs& k) { k.offset = 0.4; })},
      {"inverted", knobs([](recording_knobs& k) { k.inverted = true; })},
      {"inverted, low-passed, at 22.05 kHz",
       knobs([](recording_knobs& k) { k.inverted = true, k.low_pass_hz = 4000, k.rate = 22050; })},
      {"clipped", knobs([](recording_knobs& k) { k.gain = 3, k.hum = 0.3; })},
      {"all at once", knobs([](recording_knobs& k) {
         k.speed = 1.02, k.wander = 0.01, k.low_pass_hz = 6000, k.hum = 0.2, k.noise = 0.05;
         k.offset = 0.1, k.inverted = true, k.channels = 2, k.tape_channel = 1;
       })},
      {"chunks before the sound, size 0",
       knobs([](recording_knobs& k) { k.extra_chunks = true, k.data_size = 0; })},
      {"size 0xFFFFFFFF", knobs([](recording_knobs& k) { k.data_size = 0xFFFFFFFF; })},
      {"size past the end", knobs([](recording_knobs& k) { k.data_size = 0x7FFFFFFF; })},
      {"six channels, the tape on the third, hiss on the rest", knobs([](recording_knobs& k) {
         k.channels = 6, k.tape_channel = 2, k.others = other_channel::hiss;
       })},
      {"a VIC-20, PAL, read at the default clock",
       knobs([](recording_knobs& k) { k.clock = VIC20_PAL_CLOCK, k.noise = 0.02; })},
      {"a VIC-20 or C64, NTSC, read at the default clock",
       knobs([](recording_knobs& k) { k.clock = NTSC_CLOCK, k.noise = 0.02; })},
      {"64-bit floats at 192 kHz",
       knobs([](recording_knobs& k) { k.format = sample_format::f64, k.rate = 192000; })},
      {"the highest rate read",
       knobs([](recording_knobs& k) { k.rate = MAX_RATE, k.noise = 0.02; })},
      {"the lowest rate read, clean",
       knobs([](recording_knobs& k) { k.rate = MIN_RATE, k.low_pass_hz = 4000; })},
      {"the lowest rate read, with noise",
       knobs([](recording_knobs& k) { k.rate = MIN_RATE, k.low_pass_hz = 4000, k.noise = 0.05; })},
      {"the lowest rate read, a VIC-20's", knobs([](recording_knobs& k) {
         k.rate = MIN_RATE, k.low_pass_hz = 5000, k.clock = VIC20_PAL_CLOCK;
       })},
  };
  // Every sample format at every common rate.
  const std::pair<sample_format, const char*> formats[] = {
      {sample_format::u8, "8-bit"},
      {sample_format::s16, "16-bit"},
      {sample_format::s24, "24-bit, extensible"},
      {sample_format::s32, "32-bit"},
      {sample_format::f32, "float"},
      {sample_format::mu_law, "mu-law"},
      {sample_format::a_law, "A-law, extensible"}};
  for (const double rate : {22050.0, 44100.0, 48000.0, 96000.0}) {
    for (const auto& [format, words] : formats) {
      recording_knobs k;
      k.rate = rate, k.format = format;
      k.extensible = format == sample_format::s24 || format == sample_format::a_law;
      rows.push_back(
          {std::string(words) + " at " + std::to_string(static_cast<int>(rate)) + " Hz", k});
    }
  }
  // The other channel of a stereo recording from its start, while the tape
  // starts after three seconds of it alone; and both carrying the tape.
  const std::pair<other_channel, const char*> others[] = {
      {other_channel::hum, "hum"},
      {other_channel::hum_stopping, "hum that stops"},
      {other_channel::hiss, "loud hiss"},
      {other_channel::tape, "the tape in phase"},
      {other_channel::tape_inverted, "the tape in opposite phase"}};
  for (const auto& [other, words] : others) {
    for (const int channel : {0, 1}) {
      recording_knobs k;
      k.channels = 2, k.tape_channel = channel, k.others = other, k.silence = 3, k.noise = 0.01;
      rows.push_back(
          {std::string(words) + " beside the tape on channel " + std::to_string(channel), k});
    }
  }
  // A deck off speed, with wow; and on a VIC-20 too.
  for (const double speed : {0.90, 0.95, 1.05, 1.10}) {
    for (const double clock : {PAL_CLOCK, VIC20_PAL_CLOCK}) {
      recording_knobs k;
      k.speed = speed, k.wander = 0.005, k.noise = 0.02, k.low_pass_hz = 6000, k.clock = clock;
      rows.push_back({"a deck at " + std::to_string(speed) + " times, with wow" +
                          (clock == PAL_CLOCK ? "" : ", a VIC-20"),
                      k});
    }
  }
  return rows;
}

TEST(Recording, EverySpoiledRecordingGivesTheTapesNames) {
  const std::vector<std::string> want = names(two_files());
  ASSERT_EQ(want.size(), 2u);
  for (const spoil& row : spoilings()) {
    SCOPED_TRACE(row.what);
    const converted got = convert(record_tape(two_files(), row.knobs));
    EXPECT_EQ(got.fault, recording_fault::none);
    EXPECT_EQ(names(got.tap), want);
  }
}

// A tape that moves between the channels of a recording, as one put
// together from several takes does: back to channel 0, and from channel to
// channel of three. Each file's name comes out from wherever it is.
TEST(Recording, TheTapeMovingBetweenChannelsGivesEveryName) {
  const bytes& tape = three_files();
  const std::vector<std::string> want = names(tape);
  ASSERT_EQ(want.size(), 3u);
  // Halfway into the second and into the third file's pilot.
  const std::size_t second = 12000 + 193 * 20 + 5000, third = 2 * (12000 + 193 * 20) + 5000;
  const struct {
    const char* what;
    int channels;
    std::vector<int> path;  // the channel the tape is on for each file
  } rows[] = {
      {"stereo, to the right and back to the left", 2, {0, 1, 0}},
      {"stereo, from the right to the left", 2, {1, 0, 0}},
      {"three channels, through each", 3, {1, 2, 0}},
      {"four channels, back to where it began", 4, {3, 0, 3}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    recording_knobs k;
    k.channels = r.channels, k.noise = 0.02, k.others = other_channel::noise;
    k.tape_channel = r.path[0];
    k.moves = {{seconds_at(tape, second, k.silence), r.path[1]},
               {seconds_at(tape, third, k.silence), r.path[2]}};
    const converted got = convert(record_tape(tape, k));
    EXPECT_EQ(got.fault, recording_fault::none);
    EXPECT_EQ(names(got.tap), want);
  }
}

// The pulses of a TAP, a version 1 pause (0 and three bytes) as a 0.
bytes pulses_of(const bytes& tap) {
  bytes out;
  for (std::size_t i = 20; i < tap.size(); ++i) {
    out.push_back(tap[i]);
    if (tap[i] == 0) i += 3;
  }
  return out;
}

// Two files of random data, with every value of each class, or with values
// spread as a worn tape's are but clear of the edges between the classes.
bytes random_files(pulse_values values) {
  tape_writer w(values, 5);
  std::mt19937 rng(9);
  for (int f = 0; f < 2; ++f) {
    bytes data(300);
    for (auto& b : data) b = static_cast<std::uint8_t>(rng());
    w.rom_file(f == 0 ? 1 : 3, "FILE " + std::to_string(f), data, 6000);
  }
  return w.pulses();
}

const bytes& spread_files() {
  static const bytes tape = random_files(pulse_values::spread());
  return tape;
}

// A clean recording at a high rate gives back each pulse's own value, at
// the machine's clock: within a unit each, and a fifth of one on average.
TEST(Recording, ACleanRecordingGivesBackItsPulses) {
  const bytes& tape = spread_files();
  for (const auto& [clock, rate] : {std::pair{PAL_CLOCK, 96000.0}, std::pair{NTSC_CLOCK, 192000.0},
                                    std::pair{VIC20_PAL_CLOCK, 96000.0}}) {
    SCOPED_TRACE(std::to_string(clock) + " Hz at " + std::to_string(rate));
    recording_knobs k;
    k.rate = rate;
    k.clock = clock;
    k.format = sample_format::f32;
    const converted got = convert(record_tape(tape, k), 0, clock);
    ASSERT_EQ(got.fault, recording_fault::none);
    // The pulses between the pauses at either end; the polarity may cost
    // the first half wave of pilot.
    bytes pulses = pulses_of(got.tap);
    while (!pulses.empty() && pulses.back() == 0) pulses.pop_back();
    while (!pulses.empty() && pulses.front() == 0) pulses.erase(pulses.begin());
    ASSERT_GE(pulses.size() + 2, tape.size());
    ASSERT_LE(pulses.size(), tape.size());
    const std::size_t off = tape.size() - pulses.size();
    double error = 0;
    for (std::size_t i = 0; i < pulses.size(); ++i) {
      ASSERT_NEAR(pulses[i], tape[i + off], 1) << i;
      error += std::abs(pulses[i] - tape[i + off]);
    }
    EXPECT_LT(error / static_cast<double>(pulses.size()), 0.2);
  }
}

// The TAP kept from a recording loads: every block of the tape it was
// played from, header and program, first copy and repeat, comes back whole
// with a good checksum, from a deck as it is and one off speed.
TEST(Recording, TheTapKeptLoads) {
  const bytes tape = random_files({{43, 53}, {61, 71}, {81, 91}});
  const std::vector<tape_block> want = read_blocks(tape);
  ASSERT_EQ(want.size(), 8u);
  for (const tape_block& b : want) ASSERT_TRUE(b.checksum_ok() && b.parity_ok && b.ends_well);
  for (const double speed : {1.0, 0.92, 1.08}) {
    for (const double clock : {PAL_CLOCK, VIC20_PAL_CLOCK}) {
      SCOPED_TRACE("speed " + std::to_string(speed) + ", clock " + std::to_string(clock));
      recording_knobs k;
      k.speed = speed;
      k.clock = clock;
      k.noise = 0.03;
      k.low_pass_hz = 8000;
      k.wander = 0.003;
      const converted got = convert(record_tape(tape, k));
      const std::vector<tape_block> blocks = read_blocks(pulses_of(got.tap));
      EXPECT_EQ(blocks.size(), want.size());
      for (std::size_t i = 0; i < std::min(blocks.size(), want.size()); ++i)
        EXPECT_TRUE(blocks[i] == want[i])
            << "block " << i << ": " << blocks[i].data.size() << " bytes of " << want[i].data.size()
            << (blocks[i].ends_well ? "" : ", broken off")
            << (blocks[i].parity_ok ? "" : ", bad parity");
    }
  }
}

// Quiet, dithered or hissing stretches are no pulses: before the tape, a
// recording gives one pause, and no more than a few stray pulses where the
// tape's signal rises out of the hiss.
TEST(Recording, QuietIsOnePause) {
  recording_knobs dithered;
  dithered.silence = 2;
  dithered.dither = 7;
  recording_knobs hissing = dithered;
  hissing.dither = 0;
  hissing.noise = 0.02;
  recording_knobs hiss_at_the_floor = hissing;
  hiss_at_the_floor.gain = 0.05;  // a quiet recording: the hiss is near the floor
  for (const auto& [what, k] : {std::pair{"dithered", dithered}, std::pair{"hissing", hissing},
                                std::pair{"quiet and hissing", hiss_at_the_floor}}) {
    SCOPED_TRACE(what);
    const converted got = convert(record_tape(two_files(), k));
    EXPECT_EQ(names(got.tap), names(two_files()));
    const bytes pulses = pulses_of(got.tap);
    const auto first_tape =
        std::find_if(pulses.begin(), pulses.end(), [](std::uint8_t v) { return v > 0; });
    EXPECT_LE(first_tape - pulses.begin(), 1) << "pauses before the tape";
    // The pilot: the first hundred of its pulses in a row.
    std::size_t run = 0, at = 0;
    for (; at < pulses.size() && run < 100; ++at)
      run = pulses[at] >= 39 && pulses[at] <= 57 ? run + 1 : 0;
    const auto stray = std::count_if(pulses.begin(), pulses.begin() + static_cast<long>(at - run),
                                     [](std::uint8_t v) { return v > 0; });
    EXPECT_LE(stray, 8) << "pulses before the pilot";
  }
  // The quiet between two blocks is one pause of its length in cycles.
  tape_writer w;
  w.pilot(5600).block(header_payload(1, "ONE"));
  const bytes first = w.pulses();
  w.pilot(5600).block(header_payload(1, "TWO"));
  recording_knobs k;
  k.noise = 0.02;
  const bytes rest(w.pulses().begin() + static_cast<std::ptrdiff_t>(first.size()),
                   w.pulses().end());
  std::vector<std::uint8_t> wav_one = record_tape(first, k), wav_two = record_tape(rest, k);
  // The two recordings, one after the other: 0.4 s of quiet between them.
  std::vector<std::uint8_t> wav = wav_one;
  wav.insert(wav.end(), wav_two.begin() + 44, wav_two.end());
  const std::uint32_t size = static_cast<std::uint32_t>(wav.size() - 44);
  for (int i = 0; i < 4; ++i) wav[40 + i] = static_cast<std::uint8_t>(size >> (8 * i));
  const converted got = convert(wav);
  EXPECT_EQ(names(got.tap), (std::vector<std::string>{padded("ONE"), padded("TWO")}));
  std::size_t pauses = 0;
  for (std::size_t i = 20; i + 3 < got.tap.size(); ++i) {
    if (got.tap[i] != 0) continue;
    const unsigned cycles = got.tap[i + 1] | got.tap[i + 2] << 8 | got.tap[i + 3] << 16;
    if (i > 40 && i + 10 < got.tap.size()) {
      EXPECT_NEAR(cycles, 0.4 * PAL_CLOCK, 0.02 * PAL_CLOCK) << "the pause between the blocks";
      ++pauses;
    }
    i += 3;
  }
  EXPECT_EQ(pauses, 1u);
}

// Samples another reader decoded give what the same samples give in a WAV
// file, interleaved or a channel at a time, in any pieces.
TEST(Recording, DecodedSamplesGiveWhatTheFileGives) {
  recording_knobs k;
  k.channels = 3;
  k.tape_channel = 1;
  k.format = sample_format::f32;
  k.noise = 0.03;
  const std::vector<std::uint8_t> wav = record_tape(two_files(), k);
  const converted want = convert(wav);
  ASSERT_EQ(names(want.tap), names(two_files()));
  std::vector<float> interleaved((wav.size() - 44) / 4);
  std::memcpy(interleaved.data(), wav.data() + 44, interleaved.size() * 4);
  const std::size_t frames = interleaved.size() / 3;
  std::vector<float> planar(interleaved.size());
  for (std::size_t f = 0; f < frames; ++f)
    for (std::size_t c = 0; c < 3; ++c) planar[c * frames + f] = interleaved[f * 3 + c];
  for (const bool is_planar : {false, true}) {
    for (const std::size_t piece : {std::size_t{1000}, frames}) {
      recording_converter c;
      ASSERT_TRUE(c.start_samples(44100, 3));
      bytes pulses;
      for (std::size_t at = 0; at < frames; at += piece) {
        const std::size_t n = std::min(piece, frames - at);
        if (is_planar)
          c.feed_samples(planar.data() + at, n, frames, 1, pulses);
        else
          c.feed_samples(interleaved.data() + at * 3, n, 1, 3, pulses);
      }
      EXPECT_TRUE(c.finish(pulses));
      EXPECT_TRUE(bytes(want.tap.begin() + 20, want.tap.end()) == pulses)
          << (is_planar ? "a channel at a time" : "interleaved") << ", pieces of " << piece;
    }
  }
  recording_converter slow, many;
  EXPECT_FALSE(slow.start_samples(8000, 1));
  EXPECT_EQ(slow.fault(), recording_fault::rate_out_of_range);
  EXPECT_FALSE(many.start_samples(44100, 9));
  EXPECT_EQ(many.fault(), recording_fault::unsupported);
}

TEST(Recording, AnySplitGivesWhatTheWholeGives) {
  recording_knobs k;
  k.channels = 2;
  k.format = sample_format::s24;
  k.extra_chunks = true;
  k.noise = 0.05;
  k.silence = 1.5;  // past the quiet after which the tape's last pulses come out
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

// Every code of the telephone formats read as the 16-bit sample G.711
// gives it (as sox decodes them): the sign, the steps and both ends.
TEST(Recording, TelephoneCodesAreTheirSamples) {
  struct keep : frame_sink {
    bytes got;
    bool format(double, int) override { return true; }
    void frames(const std::uint8_t* p, std::size_t n) override { got.insert(got.end(), p, p + n); }
  };
  const struct {
    int tag;
    std::vector<std::pair<std::uint8_t, int>> samples;
  } rows[] = {
      {7,
       {{0x00, -32124},
        {0x0F, -16764},
        {0x33, -3516},
        {0x55, -716},
        {0x7F, 0},
        {0x80, 32124},
        {0x8F, 16764},
        {0xAA, 5372},
        {0xC4, 1628},
        {0xD5, 716},
        {0xFF, 0}}},
      {6,
       {{0x00, -5504},
        {0x0F, -6784},
        {0x2A, -32256},
        {0x33, -11520},
        {0x55, -8},
        {0x7F, -848},
        {0x80, 5504},
        {0xAA, 32256},
        {0xC4, 280},
        {0xD5, 8},
        {0xFF, 848}}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.tag == 7 ? "mu-law" : "A-law");
    bytes wav = {'R',  'I',  'F', 'F',  0,    0,   0,
                 0,    'W',  'A', 'V',  'E',  'f', 'm',
                 't',  ' ',  18,  0,    0,    0,   static_cast<std::uint8_t>(r.tag),
                 0,    1,    0,   0x44, 0xAC, 0,   0,
                 0x44, 0xAC, 0,   0,    1,    0,   8,
                 0,    0,    0,   'd',  'a',  't', 'a',
                 0,    1,    0,   0};
    for (int c = 0; c < 256; ++c) wav.push_back(static_cast<std::uint8_t>(c));
    wav_reader reader;
    keep sink;
    ASSERT_TRUE(reader.feed(wav.data(), wav.size(), sink));
    ASSERT_EQ(sink.got.size(), 256u);
    std::vector<float> samples(256);
    reader.decode(sink.got.data(), 256, 0, samples.data());
    for (const auto& [code, sample] : r.samples)
      EXPECT_EQ(samples[code], sample / 32768.0f) << "code " << int{code};
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
  const auto at_rate = [](double rate) {
    recording_knobs k;
    k.rate = rate;
    return k;
  };
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
      {"at 8 kHz", record_tape(one_header("LOW"), at_rate(8000)),
       recording_fault::rate_out_of_range},
      {"a step under the lowest rate read", record_tape(one_header("LOW"), at_rate(MIN_RATE - 1)),
       recording_fault::rate_out_of_range},
      {"a step over the highest rate read", record_tape(one_header("HIGH"), at_rate(MAX_RATE + 1)),
       recording_fault::rate_out_of_range},
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

namespace {

// The files of every turbo format, two of them (the program of a chain of
// pages fills whole pages).
std::vector<turbo_program> turbo_files_of(turbo_format f) {
  std::mt19937 rng(static_cast<std::uint32_t>(f) + 1);
  const auto random = [&](std::size_t n) {
    bytes b(n);
    for (auto& v : b) v = static_cast<std::uint8_t>(rng());
    return b;
  };
  switch (f) {
    case turbo_format::seuck:
      return {{0x0900, random(63226), ""}};
    case turbo_format::cyberload_f1:
      return {{0x0002, random(300), ""}, {0x014E, random(200), ""}};
    case turbo_format::cyberload_f2:
      return {{0x0800, random(700), ""}};
    case turbo_format::bleepload:
      return {{0x0801, random(64 + 2 * 256), ""}, {0x4000, random(64 + 256), ""}};
    default:
      return {{0x0800, random(512), "FIRST"}, {0x4000, random(256), "SECOND"}};
  }
}

// A recording of a turbo tape, at the common rates, clean and with noise,
// of a C64 and of a VIC-20, gives back a TAP in which every turbo block
// loads: the converter keeps every pulse a loader uses, timed as it is;
// up to the last, where quiet follows the tape, or hiss on another channel
// goes on after it; on a deck a little fast, where a tape of Turbotape
// files alone has no pulse as long as the ROM's; through dropouts, after
// which the edges must be taken again at once; and as converters write
// TAPs, where the last pulse before a pause ends in silence, not an edge.
TEST(Recording, TurboTapesKeepEveryBlock) {
  const struct {
    const char* what;
    machine m;
    recording_knobs k;
  } rows[] = {
      {"44.1 kHz, clean, C64", machine::c64_pal, {}},
      {"48 kHz, with noise, C64", machine::c64_pal,
       knobs([](recording_knobs& k) { k.rate = 48000, k.noise = 0.05, k.low_pass_hz = 8000; })},
      {"44.1 kHz, with noise, VIC-20", machine::vic20_pal, knobs([](recording_knobs& k) {
         k.noise = 0.05, k.low_pass_hz = 8000, k.clock = VIC20_PAL_CLOCK;
       })},
      {"48 kHz, clean, VIC-20", machine::vic20_pal,
       knobs([](recording_knobs& k) { k.rate = 48000, k.clock = VIC20_PAL_CLOCK; })},
      {"1.5 s of quiet around it", machine::c64_pal,
       knobs([](recording_knobs& k) { k.silence = 1.5; })},
      {"stereo, hiss on both channels, 3 s of it around the tape", machine::c64_pal,
       knobs([](recording_knobs& k) {
         k.channels = 2, k.tape_channel = 1, k.noise = 0.02, k.low_pass_hz = 8000, k.silence = 3;
       })},
      {"a deck 5% fast", machine::c64_pal, knobs([](recording_knobs& k) { k.speed = 1.05; })},
      {"a worn tape: 50 ms dropouts to 15%, every half second", machine::c64_pal,
       knobs([](recording_knobs& k) {
         k.dropout_every = 0.5, k.dropout_gain = 0.15, k.noise = 0.02;
       })},
      {"a converter's, each pulse one wave, each pause silence", machine::c64_pal,
       knobs([](recording_knobs& k) { k.silent_pauses = true; })},
      {"a converter's, upside down, each edge on a sample", machine::c64_pal,
       knobs([](recording_knobs& k) { k.silent_pauses = k.inverted = k.edges_on_samples = true; })},
      {"a converter's at 22,050 Hz, each edge on a sample", machine::c64_pal,
       knobs([](recording_knobs& k) {
         k.rate = 22050, k.silent_pauses = k.edges_on_samples = true;
       })},
  };
  for (const turbo_format f : turbo_formats()) {
    const std::vector<turbo_program> files = turbo_files_of(f);
    const bytes tape = turbo_tape(f, files);
    for (const auto& r : rows) {
      SCOPED_TRACE(std::string(turbo_format_name(f)) + " (format " +
                   std::to_string(static_cast<int>(f)) + "), " + r.what);
      const converted got = convert(record_tape(tape, r.k), 0, timing_of(r.m).clock);
      ASSERT_EQ(got.fault, recording_fault::none);
      tape_catalogue c(r.m);
      c.feed(got.tap.data(), got.tap.size());
      c.finish();
      std::vector<catalogue_entry> turbo;
      for (catalogue_entry& e : c.take_settled())
        if (e.kind == entry_kind::file && e.loader != "rom") turbo.push_back(std::move(e));
      ASSERT_EQ(turbo.size(), files.size());
      for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_NE(turbo[i].program_check, copy_check::damaged) << "file " << i;
        if (f != turbo_format::cyberload_f2) {
          EXPECT_TRUE(turbo[i].program == files[i].data) << "file " << i;
        }
      }
    }
  }
}

}  // namespace
