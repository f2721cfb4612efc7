// The TAP file's own parts: the 20 bytes in front of its pulses, and the
// machine clocks its pulse values count in.
#ifndef BRIVANE_TAP_TAP_FILE_H
#define BRIVANE_TAP_TAP_FILE_H

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

/// Machine clocks a TAP's pulse values count in, in Hz.
constexpr double PAL_CLOCK = 985248.0;
constexpr double NTSC_CLOCK = 1022727.0;

/// The clock of a video standard by its name ("pal", "ntsc", any case); 0
/// for a name it does not know.
double clock_named(std::string_view name);

/// Bytes in front of a TAP file's pulses.
constexpr std::size_t TAP_HEADER_SIZE = 20;

/// The header of a version 1 TAP file holding size pulse bytes: the
/// signature "C64-TAPE-RAW", the version, and the size, low byte first.
std::vector<std::uint8_t> tap_header(std::size_t size);

#endif
