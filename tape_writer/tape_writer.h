// Lays down tapes pulse by pulse, the way the ROM tape routines record them,
// with knobs for the pulse values used and room for damage.
#ifndef BRIVANE_TAPE_WRITER_H
#define BRIVANE_TAPE_WRITER_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

using bytes = std::vector<std::uint8_t>;

/// The values a class of pulse is written with: lo when lo == hi, otherwise
/// drawn evenly from lo to hi.
struct pulse_range {
  std::uint8_t lo, hi;
};

struct pulse_values {
  pulse_range short_pulse{48, 48};
  pulse_range medium_pulse{66, 66};
  pulse_range long_pulse{86, 86};
  /// Every value of each class: 39-57, 57-75, 77-95.
  static pulse_values spread() { return {{39, 57}, {57, 75}, {77, 95}}; }
};

/// Which copy of a block: the first opens with the countdown 0x89..0x81,
/// the repeated one with 0x09..0x01.
enum class block_copy { first, repeat };

/// Standard lengths, in short pulses, of what the ROM writes between blocks.
constexpr std::size_t HEADER_PILOT = 0x6A00;
constexpr std::size_t DATA_PILOT = 0x1A00;
constexpr std::size_t COPY_GAP = 0x4F;
constexpr std::size_t TRAILER = 0x4E;

class tape_writer {
 public:
  explicit tape_writer(pulse_values values = {}, std::uint32_t seed = 1);

  tape_writer& pilot(std::size_t count);
  /// A long pulse, then a medium one.
  tape_writer& marker();
  tape_writer& pair(std::uint8_t first, std::uint8_t second);
  /// (short, medium) for 0, (medium, short) for 1.
  tape_writer& bit(int one);
  /// Marker, eight bits least significant first, odd parity pair.
  tape_writer& byte(std::uint8_t value);
  /// The same with the parity pair given as two pulse values.
  tape_writer& byte(std::uint8_t value, std::uint8_t parity_first, std::uint8_t parity_second);
  /// Countdown, payload, checksum (the XOR of the payload unless given) and
  /// the end-of-data mark. Records where each byte's marker starts.
  tape_writer& block(const bytes& payload, block_copy copy = block_copy::first, int checksum = -1);
  /// A whole file as the ROM saves it: pilot, header block, its repeat, then
  /// the same for the data block.
  tape_writer& rom_file(std::uint8_t type, std::string_view name, const bytes& data,
                        std::size_t header_pilot = HEADER_PILOT);
  tape_writer& raw(const bytes& pulses);

  bytes& pulses() { return pulses_; }
  const bytes& pulses() const { return pulses_; }
  std::size_t size() const { return pulses_.size(); }
  /// Offset of the marker of byte n of the last block (n from 1, the first
  /// countdown byte); n may be one past the payload, the checksum byte.
  std::size_t byte_start(std::size_t n) const { return byte_starts_.at(n - 1); }

 private:
  std::uint8_t draw(pulse_range r);

  pulse_values values_;
  std::uint32_t rng_;
  bytes pulses_;
  std::vector<std::size_t> byte_starts_;
};

/// The 192 bytes of a header: type, start and end address (low byte first),
/// 16 name bytes padded with spaces, and spaces for the rest.
bytes header_payload(std::uint8_t type, std::string_view name, std::uint16_t start = 0x0801,
                     std::uint16_t end = 0x0A00);

/// pulses behind the 20-byte header of a version 1 TAP file.
bytes tap_file(const bytes& pulses);

/// The example tape shipped in examples/.
bytes example_tape();

/// The tapes the command-line cases run on, by file name: one.tap (one
/// name), two.tap (two names, one with control codes, behind a TAP file
/// header) and empty.tap.
std::map<std::string, bytes> sample_tapes();

#endif
