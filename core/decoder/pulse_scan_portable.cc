// The bulk scan as built where there is no SSE2 (the 32-bit Windows program),
// under its own name, so that it is held to decode_pulse as well.
#define BRIVANE_NO_SIMD
#define scan_pulses scan_pulses_portable
#define skip_short_pulses skip_short_pulses_portable
#include "decoder/pulse_scan.cc"  // NOLINT(bugprone-suspicious-include)
