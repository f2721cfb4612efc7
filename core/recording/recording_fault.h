// What can be wrong with a recording of a cassette, as the core names it.
#ifndef BRIVANE_RECORDING_RECORDING_FAULT_H
#define BRIVANE_RECORDING_RECORDING_FAULT_H

/// What went wrong with a recording, if anything.
enum class recording_fault {
  none,
  not_wav,            ///< not a RIFF/WAVE file
  cut_short,          ///< the file ends inside its header
  unsupported,        ///< not PCM, float, mu-law or A-law, or an odd layout
  rate_out_of_range,  ///< plain samples, at a rate outside MIN_RATE to MAX_RATE
  no_tape_signal,     ///< read to its end, nothing on it looks like a tape
};

/// The fault's name as written here ("not_wav").
const char* fault_name(recording_fault fault);

/// The sample rates read, in Hz. Below the lowest, a short pulse is less
/// than three samples long and its edges blur into the next.
constexpr double MIN_RATE = 11025;
constexpr double MAX_RATE = 384000;

#endif
