// Playing a tape into a WAV recording: waves for pulses, then the deck's and the sound card's
// spoiling.
#include "recording_writer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr double PI = 3.14159265358979323846;  // not every C library defines M_PI

void put16(std::vector<std::uint8_t>& b, unsigned v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(std::vector<std::uint8_t>& b, std::uint32_t v) {
  put16(b, v & 0xFFFF);
  put16(b, v >> 16);
}
void tag(std::vector<std::uint8_t>& b, const char* t) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(t[i]));
}

// The ideal wave from its steps, each a time and the level after it, averaged
// over each sample's span, so that a step between samples falls where it
// should. A deck's line rests high before the tape and low after its last
// falling edge; a converter's wave rests at the middle, and each pause of a
// version 1 TAP (0 and three bytes) is silence there.
std::vector<double> square_wave(const bytes& pulses, const recording_knobs& k) {
  std::vector<std::pair<double, double>> steps;
  const double rest = k.silent_pauses ? 0 : 1;
  double t = k.silence;
  for (std::size_t i = 0; i < pulses.size(); ++i) {
    if (k.silent_pauses && pulses[i] == 0 && i + 3 < pulses.size()) {
      const std::uint32_t cycles = pulses[i + 1] | pulses[i + 2] << 8 | pulses[i + 3] << 16;
      steps.emplace_back(t, 0);
      t += cycles / k.clock / k.speed;
      i += 3;
      continue;
    }
    const double wobble = 1 + k.wander * std::sin(2 * PI * 2 * t);
    const double period = pulses[i] * 8 / k.clock / (k.speed * wobble);
    steps.emplace_back(t, -1);
    steps.emplace_back(t + period / 2, 1);
    t += period;
  }
  steps.emplace_back(t, k.silent_pauses ? 0 : -1);  // the last pulse's end
  const double end = t + k.silence;
  std::vector<double> wave(static_cast<std::size_t>(std::ceil(end * k.rate)), rest);
  std::size_t e = 0;
  double level = rest;
  for (std::size_t n = 0; n < wave.size(); ++n) {
    const double a = static_cast<double>(n) / k.rate, b = static_cast<double>(n + 1) / k.rate;
    if (k.edges_on_samples) {  // the level at the sample's middle: each edge on a sample
      while (e < steps.size() && steps[e].first < (a + b) / 2) level = steps[e++].second;
      wave[n] = level;
      continue;
    }
    double sum = 0, at = a;
    while (e < steps.size() && steps[e].first < b) {
      sum += level * (std::max(steps[e].first, a) - at);
      at = std::max(steps[e].first, a);
      level = steps[e++].second;
    }
    sum += level * (b - at);
    wave[n] = sum * k.rate;
  }
  return wave;
}

// A 16-bit sample as the telephone formats (G.711) code it in eight bits:
// its sign, the power of two below its magnitude and the four bits after
// that power. mu-law adds 132 to the magnitude first and inverts the code;
// A-law counts in steps of 16, sets the sign bit for the positive and
// inverts every other bit.
std::uint8_t to_mu_law(int sample) {
  const unsigned sign = sample < 0 ? 0x80 : 0;
  const int magnitude = std::min(std::abs(sample), 32635) + 0x84;
  unsigned exponent = 7;
  while (exponent > 0 && !(magnitude & (0x80 << exponent))) --exponent;
  const unsigned mantissa = static_cast<unsigned>(magnitude >> (exponent + 3)) & 0x0F;
  return static_cast<std::uint8_t>(~(sign | exponent << 4 | mantissa));
}
std::uint8_t to_a_law(int sample) {
  int steps = (sample < 0 ? ~sample : sample) >> 4;  // 0 to 2047
  unsigned code = static_cast<unsigned>(steps);
  if (steps > 15) {
    unsigned exponent = 1;
    while (steps > 31) steps >>= 1, ++exponent;
    code = exponent << 4 | static_cast<unsigned>(steps - 16);
  }
  if (sample >= 0) code |= 0x80;
  return static_cast<std::uint8_t>(code ^ 0x55);
}

}  // namespace

std::vector<std::uint8_t> record_tape(const bytes& pulses, const recording_knobs& k) {
  std::vector<double> wave = square_wave(pulses, k);
  // The deck: a one-pole low-pass, hum, noise, offset, polarity, gain.
  const double pole = k.low_pass_hz > 0 ? std::exp(-2 * PI * k.low_pass_hz / k.rate) : 0;
  double lp = 1;
  std::uint32_t rng = 12345;
  const auto noise = [&] {  // about normal, from four uniform draws
    double s = 0;
    for (int i = 0; i < 4; ++i) {
      rng = rng * 1664525u + 1013904223u;
      s += (rng >> 8) / 16777216.0 - 0.5;
    }
    return s * std::sqrt(3.0);
  };
  const auto dropout = [&](double t) {  // the tape's wave's share left at t seconds
    if (k.dropout_every <= 0) return 1.0;
    constexpr double RAMP = 0.002;
    const double in = std::fmod(t, k.dropout_every), out = k.dropout_seconds - in;
    const double depth = std::clamp(std::min(in, out) / RAMP, 0.0, 1.0);
    return 1 - depth * (1 - k.dropout_gain);
  };
  for (std::size_t n = 0; n < wave.size(); ++n) {
    lp = pole * lp + (1 - pole) * wave[n];
    const double tape = lp * dropout(static_cast<double>(n) / k.rate);
    double v = (k.inverted ? -tape : tape) +
               k.hum * std::sin(2 * PI * 50 * static_cast<double>(n) / k.rate) + k.noise * noise() +
               k.offset;
    wave[n] = std::clamp(v * k.gain, -1.0, 1.0);
  }

  const bool telephone = k.format == sample_format::mu_law || k.format == sample_format::a_law;
  const int width = k.format == sample_format::u8 || telephone ? 1
                    : k.format == sample_format::s16           ? 2
                    : k.format == sample_format::s24           ? 3
                    : k.format == sample_format::f64           ? 8
                                                               : 4;
  std::vector<std::uint8_t> data;
  data.reserve(wave.size() * static_cast<std::size_t>(width * k.channels));
  std::uint32_t dither_rng = 777;
  int tape_channel = k.tape_channel;
  std::size_t next_move = 0;
  for (std::size_t n = 0; n < wave.size(); ++n) {
    const double s = wave[n], t = static_cast<double>(n) / k.rate;
    for (; next_move < k.moves.size() && k.moves[next_move].first <= t; ++next_move)
      tape_channel = k.moves[next_move].second;
    for (int c = 0; c < k.channels; ++c) {
      double v = s;
      if (c != tape_channel) {
        const double hum = k.gain * std::sin(2 * PI * 50 * t);
        switch (k.others) {
          case other_channel::noise:
            v = k.noise * k.gain * noise();
            break;
          case other_channel::hum:
            v = hum + k.noise * k.gain * noise();
            break;
          case other_channel::hum_stopping:
            v = (t < 1 ? hum : 0) + k.noise * k.gain * noise();
            break;
          case other_channel::hiss:
            v = k.gain * noise() / 3;
            break;
          case other_channel::tape:
            break;
          case other_channel::tape_inverted:
            v = -s;
            break;
        }
        v = std::clamp(v, -1.0, 1.0);
      }
      switch (k.format) {
        case sample_format::u8:
          data.push_back(static_cast<std::uint8_t>(std::lround(128 + v * 127)));
          break;
        case sample_format::mu_law:
          data.push_back(to_mu_law(static_cast<int>(std::lround(v * 32767))));
          break;
        case sample_format::a_law:
          data.push_back(to_a_law(static_cast<int>(std::lround(v * 32767))));
          break;
        case sample_format::s16: {
          long q = std::lround(v * 32767);
          if (k.dither > 0) {
            dither_rng = dither_rng * 1664525u + 1013904223u;
            q += static_cast<long>((dither_rng >> 16) % (2 * static_cast<unsigned>(k.dither) + 1)) -
                 k.dither;
          }
          put16(data, static_cast<std::uint16_t>(std::clamp(q, -32768L, 32767L)));
          break;
        }
        case sample_format::f64: {
          std::uint64_t u;
          std::memcpy(&u, &v, 8);
          put32(data, static_cast<std::uint32_t>(u));
          put32(data, static_cast<std::uint32_t>(u >> 32));
          break;
        }
        case sample_format::s24: {
          const auto i = static_cast<std::uint32_t>(std::lround(v * 8388607));
          data.insert(data.end(), {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8),
                                   static_cast<std::uint8_t>(i >> 16)});
          break;
        }
        case sample_format::s32:
          put32(data, static_cast<std::uint32_t>(std::llround(v * 2147483647.0)));
          break;
        case sample_format::f32: {
          const float f = static_cast<float>(v);
          std::uint32_t u;
          std::memcpy(&u, &f, 4);
          put32(data, u);
          break;
        }
      }
    }
  }

  std::vector<std::uint8_t> fmt;
  const int tag_value = k.format == sample_format::f32 || k.format == sample_format::f64 ? 3
                        : k.format == sample_format::a_law                               ? 6
                        : k.format == sample_format::mu_law                              ? 7
                                                                                         : 1;
  put16(fmt, k.extensible ? 0xFFFE : static_cast<unsigned>(tag_value));
  put16(fmt, static_cast<unsigned>(k.channels));
  put32(fmt, static_cast<std::uint32_t>(k.rate));
  put32(fmt, static_cast<std::uint32_t>(k.rate * width * k.channels));
  put16(fmt, static_cast<unsigned>(width * k.channels));
  put16(fmt, static_cast<unsigned>(width * 8));
  if (k.extensible) {
    put16(fmt, 22);
    put16(fmt, static_cast<unsigned>(width * 8));  // valid bits
    put32(fmt, k.channels == 1 ? 4 : 3);           // speaker positions
    put16(fmt, static_cast<unsigned>(tag_value));  // the subformat's GUID starts with the format
    const std::uint8_t rest[] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    fmt.insert(fmt.end(), rest, rest + sizeof rest);
  }

  std::vector<std::uint8_t> wav;
  tag(wav, "RIFF");
  put32(wav, 0);  // filled in below
  tag(wav, "WAVE");
  if (k.extra_chunks) {
    tag(wav, "LIST");
    put32(wav, 13);
    const char info[] = "INFOISFT\x01\0\0\0x";
    wav.insert(wav.end(), info, info + 13);
    wav.push_back(0);  // padded to even
  }
  tag(wav, "fmt ");
  put32(wav, static_cast<std::uint32_t>(fmt.size()));
  wav.insert(wav.end(), fmt.begin(), fmt.end());
  if (k.extra_chunks) {
    tag(wav, "fact");
    put32(wav, 4);
    put32(wav, static_cast<std::uint32_t>(wave.size()));
  }
  tag(wav, "data");
  put32(wav, k.data_size == 1 ? static_cast<std::uint32_t>(data.size()) : k.data_size);
  wav.insert(wav.end(), data.begin(), data.end());
  const auto riff = static_cast<std::uint32_t>(wav.size() - 8);
  for (int i = 0; i < 4; ++i) wav[4 + i] = static_cast<std::uint8_t>(riff >> (8 * i));
  return wav;
}
