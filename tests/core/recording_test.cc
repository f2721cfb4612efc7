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
  // The other channel of a stereo recording, from its start, while the tape
  // starts late; and both channels carrying the tape.
  for (const auto& [what, others] :
       {std::pair{"hum", other_channel::hum},
        std::pair{"hum that stops", other_channel::hum_stopping},
        std::pair{"loud hiss", other_channel::hiss},
        std::pair{"the tape in phase", other_channel::tape},
        std::pair{"the tape in opposite phase", other_channel::tape_inverted}}) {
    for (const int tape_channel : {0, 1}) {
      recording_knobs k;
      k.channels = 2;
      k.tape_channel = tape_channel;
      k.others = others;
      k.silence = 3;  // the tape starts after three seconds of the other channel alone
      k.noise = 0.01;
      cases.push_back({what, k});
    }
  }
  cases.push_back(
      {"six channels, the tape on the third, hiss on the rest", with([](recording_knobs& k) {
         k.channels = 6;
         k.tape_channel = 2;
         k.others = other_channel::hiss;
       })});
  // Every machine whose ROM writes this encoding, read with the default clock.
  for (const auto& [what, clock] : {std::pair{"a VIC-20, PAL", VIC20_PAL_CLOCK},
                                    std::pair{"a VIC-20 or C64, NTSC", NTSC_CLOCK}}) {
    recording_knobs k;
    k.clock = clock;
    k.noise = 0.02;
    cases.push_back({what, k});
  }
  // A deck off speed, with wow; and on a VIC-20 too.
  for (const double speed : {0.90, 0.95, 1.05, 1.10}) {
    recording_knobs k;
    k.speed = speed;
    k.wander = 0.005;
    k.noise = 0.02;
    k.low_pass_hz = 6000;
    cases.push_back({"off speed, with wow", k});
    k.clock = VIC20_PAL_CLOCK;
    cases.push_back({"off speed, with wow, a VIC-20", k});
  }
  cases.push_back({"64-bit floats at 192 kHz", with([](recording_knobs& k) {
                     k.format = sample_format::f64;
                     k.rate = 192000;
                   })});
  for (const double noise : {0.0, 0.05}) {
    recording_knobs k;
    k.rate = MIN_RATE;
    k.noise = noise;
    k.low_pass_hz = 4000;
    cases.push_back({"the lowest rate read", k});
  }
  cases.push_back(
      {"size past the end", with([](recording_knobs& k) { k.data_size = 0x7FFFFFFF; })});
  for (const spoiled& c : cases) {
    SCOPED_TRACE(std::string(c.what) + " at " + std::to_string(static_cast<int>(c.knobs.rate)) +
                 " Hz, format " + std::to_string(static_cast<int>(c.knobs.format)) + ", speed " +
                 std::to_string(c.knobs.speed) + ", tape on channel " +
                 std::to_string(c.knobs.tape_channel));
    const converted got = convert(record_tape(two_files(), c.knobs));
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
// recording gives one pause, and nowhere a pulse shorter than a tape's.
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
    EXPECT_EQ(
        std::count_if(pulses.begin(), pulses.end(), [](std::uint8_t v) { return v > 0 && v < 36; }),
        0);
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
      {"at 400 kHz", record_tape(one_header("HIGH"), at_rate(400000)),
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
