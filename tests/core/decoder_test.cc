// decode_pulse, pulse by pulse: the pulse classes, the pilot, markers, bit pairs, the countdown and
// the type.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>

#include "decode_helpers.h"

namespace {

TEST(PulseClasses, BoundsAreInclusiveAnd57IsBoth) {
  for (int v = 0; v < 256; ++v) {
    SCOPED_TRACE(v);
    EXPECT_EQ(v >= 39 && v <= 57, (pulse_classes.of[v] & PULSE_SHORT) != 0);
    EXPECT_EQ(v >= 57 && v <= 75, (pulse_classes.of[v] & PULSE_MEDIUM) != 0);
    EXPECT_EQ(v >= 77 && v <= 95, (pulse_classes.of[v] & PULSE_LONG) != 0);
  }
}

TEST(Pilot, NeedsMoreThan5000ShortPulses) {
  EXPECT_TRUE(names_in(one_header("NAME", 5000)).empty());
  EXPECT_EQ(names_in(one_header("NAME", 5001)), std::vector<std::string>{padded("NAME")});
}

// A pulse of no class, or a medium one, ends a run of short pulses whether the
// run has reached a pilot yet or not; a new pilot needs a run of its own.
TEST(Pilot, BrokenRunStartsOver) {
  const struct {
    std::size_t before, after;
    bool found;
  } runs[] = {
      {3000, 5000, false}, {3000, 5001, true},                       // seeking a pilot
      {6000, 1, false},    {6000, 5000, false}, {6000, 5001, true},  // in the pilot
  };
  for (const std::uint8_t breaker : {0, 38, 58, 66, 75, 76, 96, 255}) {
    for (const auto& r : runs) {
      tape_writer w;
      w.pilot(r.before).raw({breaker}).pilot(r.after).block(header_payload(1, "X"));
      EXPECT_EQ(names_in(w.pulses()).size(), r.found ? 1u : 0u)
          << "pulse " << int{breaker} << " after " << r.before << ", then " << r.after;
    }
  }
}

TEST(Pilot, CountedAfreshAfterAName) {
  for (const std::size_t second_pilot : {5000u, 5001u}) {
    tape_writer w;
    // The block ends in a short pulse; the 0 keeps it out of the next run.
    w.pilot(5001)
        .block(header_payload(1, "ONE"))
        .raw({0})
        .pilot(second_pilot)
        .block(header_payload(1, "TWO"));
    tape_decoder end{};
    const auto names = names_in(w.pulses(), &end);
    EXPECT_EQ(names.size(), second_pilot > 5000 ? 2u : 1u) << second_pilot;
  }
}

TEST(Pilot, LongRunStopsCountingPastTheThreshold) {
  std::uint8_t buf[17] = {};
  for (const std::int32_t state : {STATE_SEEK_PILOT, STATE_PILOT}) {
    tape_decoder d{};
    d.state = state;
    d.pilot_run = INT_MAX;  // as after more than 2^31 short pulses
    for (int i = 0; i < 3; ++i) EXPECT_EQ(decode_pulse(d, 48, buf, 0), 0);
    EXPECT_EQ(d.state, STATE_PILOT);
    EXPECT_GT(d.pilot_run, PILOT_THRESHOLD);
    EXPECT_EQ(decode_pulse(d, 86, buf, 0), 0);  // the pilot still ends on a long pulse
    EXPECT_EQ(d.state, STATE_MARKER);
    EXPECT_EQ(d.pilot_run, 0);
  }
}

TEST(Pilot, ResetClearsStateAndRunOnly) {
  std::uint8_t buf[17] = {};
  tape_decoder d{};
  d.state = STATE_BITS;
  d.pilot_run = 4000;
  d.byte_index = 7;
  d.shift_byte = 0x55;
  EXPECT_EQ(decode_pulse(d, 48, buf, 1), 0);  // handled in the seek state
  EXPECT_EQ(d.state, STATE_SEEK_PILOT);
  EXPECT_EQ(d.pilot_run, 1);
  EXPECT_EQ(d.byte_index, 7);
  EXPECT_EQ(d.shift_byte, 0x55);
}

// The same header written with edge values for each class of pulse.
struct class_edge_case {
  const char* why;
  pulse_values values;
  bool found;
  friend void PrintTo(const class_edge_case& c, std::ostream* os) { *os << c.why; }
};

class ClassEdges : public testing::TestWithParam<class_edge_case> {};

TEST_P(ClassEdges, DecideWhetherTheHeaderIsFound) {
  const auto& c = GetParam();
  EXPECT_EQ(names_in(one_header("EDGE", 5001, 1, c.values)).size(), c.found ? 1u : 0u) << c.why;
}

INSTANTIATE_TEST_SUITE_P(
    Decoder, ClassEdges,
    testing::Values(class_edge_case{"lowest short", {{39, 39}, {66, 66}, {86, 86}}, true},
                    class_edge_case{"57 as short", {{57, 57}, {66, 66}, {86, 86}}, true},
                    class_edge_case{"57 as medium", {{48, 48}, {57, 57}, {86, 86}}, true},
                    class_edge_case{"highest medium", {{48, 48}, {75, 75}, {86, 86}}, true},
                    class_edge_case{"lowest long", {{48, 48}, {66, 66}, {77, 77}}, true},
                    class_edge_case{"highest long", {{48, 48}, {66, 66}, {95, 95}}, true},
                    class_edge_case{"76 is not long", {{48, 48}, {66, 66}, {76, 76}}, false},
                    class_edge_case{"76 is not medium", {{48, 48}, {76, 76}, {86, 86}}, false},
                    class_edge_case{"38 is not short", {{38, 38}, {66, 66}, {86, 86}}, false},
                    class_edge_case{"96 is not long", {{48, 48}, {66, 66}, {96, 96}}, false},
                    // (57, 57) reads as a 1, so every 0 bit of the countdown turns into a 1.
                    class_edge_case{"57 pairs are ones", {{57, 57}, {57, 57}, {86, 86}}, false},
                    class_edge_case{"any values of each class", pulse_values::spread(), true}),
    [](const testing::TestParamInfo<class_edge_case>& info) {
      std::string name = info.param.why;
      for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      return name;
    });

TEST(Bits, PairOf57sIsAOne) {
  tape_writer w;
  w.pilot(5001).block(header_payload(1, "@"));  // '@' is 0x40: bit 0 is a 0 bit
  bytes& t = w.pulses();
  const std::size_t first_name_bit = w.byte_start(15) + 2;  // after the marker
  t[first_name_bit] = 57;
  t[first_name_bit + 1] = 57;
  EXPECT_EQ(names_in(t), std::vector<std::string>{padded("A")});  // 0x41
}

// Each pulse of a header that the decoder looks at, replaced by a pulse of
// every class and of none: only its own class (57 counting as short and as
// medium) lets the header through, and then the name is unchanged.
TEST(Header, EachPulseNeedsItsOwnClass) {
  const std::vector<std::uint8_t> longs{77, 86, 95}, mediums{57, 58, 66, 75}, shorts{39, 48, 57};
  const std::uint8_t every[] = {0, 38, 39, 48, 57, 58, 66, 75, 76, 77, 86, 95, 96, 255};
  enum where { MARKER_LONG, MARKER_MEDIUM, ZERO_FIRST, ZERO_SECOND, ONE_FIRST, ONE_SECOND };
  const struct {
    const char* what;
    where at;
    const std::vector<std::uint8_t>& accepted;
  } places[] = {
      {"long pulse that ends the pilot or confirms a byte", MARKER_LONG, longs},
      {"medium pulse of a byte marker", MARKER_MEDIUM, mediums},
      {"first half of a 0 bit", ZERO_FIRST, shorts},
      {"second half of a 0 bit", ZERO_SECOND, mediums},
      {"first half of a 1 bit", ONE_FIRST, mediums},
      {"second half of a 1 bit", ONE_SECOND, shorts},
  };
  const bytes payload = header_payload(3, "PLACES");
  tape_writer w;
  w.pilot(5001).block(payload);
  const bytes clean = w.pulses();
  // Byte 1 (its long pulse ends the pilot), countdown, type, first and last
  // name byte, and the byte after the name (its long pulse confirms the name).
  for (const std::size_t n : {1u, 5u, 9u, 10u, 15u, 30u, 31u}) {
    const std::uint8_t value = n <= 9 ? static_cast<std::uint8_t>(138 - n) : payload[n - 10];
    const auto bit_at = [&](int one) {
      int k = 0;
      while (((value >> k) & 1) != one) ++k;  // every byte here has both bit values
      return w.byte_start(n) + 2 + 2 * static_cast<std::size_t>(k);
    };
    for (const auto& place : places) {
      if (n == 31 && place.at != MARKER_LONG) continue;  // past the name: not read
      const std::size_t at = place.at == MARKER_LONG     ? w.byte_start(n)
                             : place.at == MARKER_MEDIUM ? w.byte_start(n) + 1
                             : place.at == ZERO_FIRST    ? bit_at(0)
                             : place.at == ZERO_SECOND   ? bit_at(0) + 1
                             : place.at == ONE_FIRST     ? bit_at(1)
                                                         : bit_at(1) + 1;
      for (const std::uint8_t v : every) {
        bytes t = clean;
        t[at] = v;
        const bool ok =
            std::find(place.accepted.begin(), place.accepted.end(), v) != place.accepted.end();
        const auto want =
            ok ? std::vector<std::string>{padded("PLACES")} : std::vector<std::string>{};
        const std::string where = std::string(place.what) + ", byte " + std::to_string(n) +
                                  ", pulse " + std::to_string(v);
        EXPECT_EQ(names_in(t), want) << where;
        EXPECT_EQ(names_in_bulk(t), want) << "bulk scan: " << where;
      }
    }
  }
}

TEST(Header, CountdownMustBeExact) {
  for (std::size_t n = 1; n <= 9; ++n) {
    SCOPED_TRACE(n);
    tape_writer w;
    w.pilot(5001).block(header_payload(1, "X"));
    const std::size_t bit0 = w.byte_start(n) + 2;  // flip the lowest bit
    std::swap(w.pulses()[bit0], w.pulses()[bit0 + 1]);
    EXPECT_TRUE(names_in(w.pulses()).empty());
  }
}

TEST(Header, RepeatedCopyNeverMatches) {
  tape_writer w;
  w.pilot(5001).block(header_payload(1, "X"), block_copy::repeat);
  EXPECT_TRUE(names_in(w.pulses()).empty());
}

TEST(Header, OnlyTypes1And3) {
  for (int type = 0; type < 256; ++type) {
    const bool found = names_in(one_header("T", 5001, static_cast<std::uint8_t>(type))).size() == 1;
    EXPECT_EQ(found, type == 1 || type == 3) << type;
  }
}

TEST(Header, ParityAndChecksumAreNeverChecked) {
  const std::uint8_t junk[][2] = {{0, 0}, {255, 76}, {76, 76}, {48, 48}, {1, 200}};
  for (const auto& p : junk) {
    tape_writer w;
    w.pilot(5001);
    for (std::uint8_t c = 0x89; c > 0x80; --c) w.byte(c, p[0], p[1]);
    for (const std::uint8_t b : header_payload(3, "JUNK PARITY")) w.byte(b, p[0], p[1]);
    EXPECT_EQ(names_in(w.pulses()), std::vector<std::string>{padded("JUNK PARITY")});
  }
  tape_writer bad_sum;
  bad_sum.pilot(5001).block(header_payload(1, "SUM"), block_copy::first, 0x5A);
  EXPECT_EQ(names_in(bad_sum.pulses()).size(), 1u);
}

TEST(Header, DataBlockShapedLikeAHeaderIsReported) {
  bytes data(100, 0xEA);
  data[0] = 3;
  for (int i = 0; i < 16; ++i) data[5 + i] = static_cast<std::uint8_t>('A' + i);
  tape_writer w;
  w.pilot(DATA_PILOT).block(data);
  EXPECT_EQ(names_in(w.pulses()), std::vector<std::string>{"ABCDEFGHIJKLMNOP"});
}

TEST(Header, NameArrivesWithTheLongPulseAfterByte30) {
  tape_writer w;
  w.pilot(5001).block(header_payload(1, "WHEN"));
  const bytes& t = w.pulses();
  const std::size_t arrives = w.byte_start(31);
  tape_decoder d{};
  std::uint8_t buf[17];
  std::memset(buf, 0xEE, sizeof buf);
  for (std::size_t i = 0; i < t.size(); ++i) {
    EXPECT_EQ(decode_pulse(d, t[i], buf, 0), i == arrives ? 1 : 0) << i;
    if (i == arrives) {
      EXPECT_EQ(d.state, STATE_SEEK_PILOT);
      EXPECT_EQ(d.pilot_run, 0);
    }
  }
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 16), padded("WHEN"));
  EXPECT_EQ(buf[16], 0xEE);  // the decoder never writes past the name
}

TEST(Header, RomSavedFileYieldsOnlyItsHeaderName) {
  tape_writer w(pulse_values::spread(), 7);
  w.rom_file(1, "GAME", bytes(500, 0x20)).rom_file(3, "LEVELS", bytes(500, 0x02));
  EXPECT_EQ(names_in(w.pulses()), (std::vector<std::string>{padded("GAME"), padded("LEVELS")}));
}

}  // namespace
