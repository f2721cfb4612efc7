// Plays a tape into a WAV recording, as a datasette and a sound card would
// give it: a square wave for each pulse (low half, then high), then spoiled
// the way real recordings are, with knobs for each kind of spoiling.
#ifndef BRIVANE_RECORDING_WRITER_H
#define BRIVANE_RECORDING_WRITER_H

#include <cstdint>
#include <utility>
#include <vector>

#include "tape_writer.h"

/// How samples are stored.
enum class sample_format { u8, s16, s24, s32, f32, f64, mu_law, a_law };

/// What the channels without the tape hold.
enum class other_channel {
  noise,         ///< the noise knob's noise alone
  hum,           ///< 50 Hz hum as strong as the tape, and the noise
  hum_stopping,  ///< the same for the first second only
  hiss,          ///< loud hiss, a third of the tape's strength
  tape,          ///< the tape too, as a mono deck into a stereo input gives it
  tape_inverted  ///< the tape, upside down
};

struct recording_knobs {
  double rate = 44100;
  sample_format format = sample_format::s16;
  int channels = 1;
  int tape_channel = 0;  ///< where the tape is
  /// Where the tape moves to later: to channel second from first seconds
  /// into the recording on, in time order.
  std::vector<std::pair<double, int>> moves;
  other_channel others = other_channel::noise;  ///< what the other channels hold
  bool extensible = false;                      ///< the 0xFFFE format header
  bool extra_chunks = false;                    ///< LIST and fact chunks before the sound
  std::uint32_t data_size =
      1;                   ///< 1: the true size; 0 or 0xFFFFFFFF as a stopped recorder leaves it
  double clock = 985248;   ///< the machine clock the pulse values count in
  double speed = 1;        ///< the tape runs this much too fast (1.03) or slow
  double wander = 0;       ///< and wanders around it by this much (wow), twice a second
  double low_pass_hz = 0;  ///< a deck's rounded edges (0: none)
  double hum = 0;          ///< 50 Hz mains hum, against the wave's amplitude of 1
  double noise = 0;        ///< white noise, likewise
  double offset = 0;       ///< a DC offset, likewise
  bool inverted = false;   ///< high half first
  double gain = 0.5;       ///< the wave's amplitude in full scale; above 1, it clips
  double silence = 0.2;    ///< seconds of quiet before and after
  int dither = 0;          ///< with s16: every sample off by up to this many steps, at random
  /// As TAP-to-WAV converters write it: the wave rests at the middle, and
  /// each pause (0 and three bytes) is silence, not pulses.
  bool silent_pauses = false;
  /// Each sample the wave's level at its middle, as a converter writes a
  /// square wave: every edge moved to a sample, none between two.
  bool edges_on_samples = false;
  /// Dropouts, where the tape's coating is thin: every dropout_every seconds
  /// (0: none) the tape's wave, not the deck's hiss and hum, falls to
  /// dropout_gain of itself for dropout_seconds, in and out over 2 ms.
  double dropout_every = 0, dropout_seconds = 0.05, dropout_gain = 0.1;
};

/// The WAV file's bytes for the pulses.
std::vector<std::uint8_t> record_tape(const bytes& pulses, const recording_knobs& knobs = {});

#endif
