// The TAP file's own parts: the 20 bytes in front of its pulses, and the
// machines whose clocks its pulse values count in.
#ifndef BRIVANE_TAP_TAP_FILE_H
#define BRIVANE_TAP_TAP_FILE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

/// Machine clocks a TAP's pulse values count in, in Hz.
constexpr double PAL_CLOCK = 985248.0;         // C64, PAL
constexpr double NTSC_CLOCK = 1022727.0;       // C64 and VIC-20, NTSC
constexpr double VIC20_PAL_CLOCK = 1108405.0;  // VIC-20, PAL

/// The Commodore machines whose ROMs write this encoding.
enum class machine { c64_pal, c64_ntsc, vic20_pal, vic20_ntsc };

/// What a TAP file records of a machine: its clock, and the bytes of a
/// version 1 header that name it (platform 0 for the C64, 1 for the VIC-20;
/// video 0 for PAL, 1 for NTSC), as emulators read them.
struct machine_timing {
  double clock;
  std::uint8_t platform, video;
};
machine_timing timing_of(machine m);

/// A machine as people choose it: its name on command lines and in the
/// module ("c64-pal"), and in words ("C64, PAL").
struct machine_choice {
  machine id;
  std::string_view name, label;
};

/// Every machine, in the order they are offered, the default first.
extern const machine_choice MACHINES[4];

/// The machines' names for a message: "c64-pal, c64-ntsc, vic20-pal or vic20-ntsc".
std::string machine_names(std::string_view last_joiner = " or ");

/// A machine by its name: "c64-pal", "c64-ntsc", "vic20-pal", "vic20-ntsc",
/// and "pal" and "ntsc" for the C64's (any case). False for a name it does
/// not know.
bool machine_named(std::string_view name, machine& m);

/// The name of the TAP file made from a recording: its path with .tap in
/// place of the extension of its last part, if that has one ("side-a.wav"
/// gives "side-a.tap", ".wav" gives ".wav.tap").
std::string tap_name_for(std::string_view recording);

/// Bytes in front of a TAP file's pulses.
constexpr std::size_t TAP_HEADER_SIZE = 20;

/// What a file's first 20 bytes say of it: whether it starts with the
/// signature "C64-TAPE-RAW", and whether, from version 1 on, a 0 and the
/// three bytes after it are a pause.
struct tap_layout {
  bool signature, pauses;
};
tap_layout tap_layout_of(const std::uint8_t* first20);

/// The header of a version 1 TAP file holding size pulse bytes, made on m:
/// the signature "C64-TAPE-RAW", the version, the platform and video
/// standard, and the size, low byte first.
std::vector<std::uint8_t> tap_header(std::size_t size, machine m = machine::c64_pal);

/// Time along a TAP file as its pulses count it, in machine cycles, taken
/// as the file arrives in pieces. A file that starts with the signature
/// "C64-TAPE-RAW" has 20 bytes of header before its pulses, and from
/// version 1 on a 0 and the three bytes after it (low byte first) are a
/// pause of that many cycles. A file without the signature is pulses from
/// its first byte. A pulse byte v lasts 8 v cycles; a 0 that is no version 1
/// pause stands for the longest pulse a byte cannot hold, 256 x 8 cycles.
/// The sum of n pulse bytes, sixteen at a time.
std::uint64_t pulse_units(const std::uint8_t* p, std::size_t n);

/// A 0 in a tape's pulses: a pause, or the longest pulse; every bit stream
/// breaks at it.
struct pause_mark {
  std::uint64_t offset;       ///< file offset of the 0
  std::uint64_t cycles;       ///< time to the start of it
  std::uint64_t length;       ///< its own length, in cycles
  std::uint64_t pulse_bytes;  ///< bytes of the file it takes: 4 for a version 1 pause, else 1
};

class tap_clock {
 public:
  /// Takes the next n bytes of the file, p[0..n).
  void advance(const std::uint8_t* p, std::size_t n);
  /// Cycles from the start of the pulses to the end of the bytes taken.
  std::uint64_t cycles() const { return cycles_; }
  /// Whether the file starts with the signature, once 20 bytes are taken.
  bool signature() const { return signature_; }
  /// Whether its version 1 header makes a 0 and three bytes a pause.
  bool pauses() const { return pauses_; }
  /// With the signature, the bytes of pulses its header says follow it
  /// (bytes 16 to 19, low byte first); 0 without.
  std::uint32_t pulses_given() const {
    if (!signature_) return 0;
    return std::uint32_t{head_[16]} | std::uint32_t{head_[17]} << 8 |
           std::uint32_t{head_[18]} << 16 | std::uint32_t{head_[19]} << 24;
  }
  /// From now on, each 0 taken is told to marks as it is taken.
  void log_pauses(std::vector<pause_mark>* marks) { marks_ = marks; }
  /// A copy of the clock as it stands that tells no one of its pauses.
  tap_clock quiet() const {
    tap_clock c = *this;
    c.marks_ = nullptr;
    return c;
  }

 private:
  void decide();
  void pulses(const std::uint8_t* p, std::size_t n);

  std::uint8_t head_[TAP_HEADER_SIZE] = {};
  std::size_t head_size_ = 0;  // header bytes taken, until TAP_HEADER_SIZE
  bool signature_ = false;
  bool pauses_ = false;  // a 0 opens a three-byte pause
  int pause_left_ = 0;   // bytes of a pause still to come
  std::uint32_t pause_ = 0;
  std::uint64_t cycles_ = 0;
  std::uint64_t taken_ = 0;  // bytes of the file taken
  std::vector<pause_mark>* marks_ = nullptr;
};

#endif
