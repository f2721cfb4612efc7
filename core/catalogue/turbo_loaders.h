// The turbo loaders read, one row of a table each, and the readers of what
// follows each loader's lead. Most formats share one shape: a pilot of one
// byte or one bit repeated, a sync, bits by a threshold, a header with
// addresses, data and a checksum; a row gives that shape's parameters and
// the generic reader reads it. The formats that do not fit have readers of
// their own (turbo_formats.cc), each saying why.
#ifndef BRIVANE_CATALOGUE_TURBO_LOADERS_H
#define BRIVANE_CATALOGUE_TURBO_LOADERS_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/copy_check.h"

/// One file a turbo loader's blocks hold.
struct turbo_file {
  std::string loader;                    ///< the format's name
  bool has_name = false;                 ///< the format stores a name
  std::uint8_t name[16] = {};            ///< padded with spaces
  std::uint16_t start = 0, end = 0;      ///< load addresses; end is one past the last byte
  std::vector<std::uint8_t> program;     ///< what loads, where its check holds or it has none
  copy_check header = copy_check::none;  ///< the header's own check, where it has one
  copy_check program_check = copy_check::none;
  /// How many of its checks held: where one failed, those that held say the
  /// file is still its loader's.
  std::uint32_t checks_held = 0;
  /// It may go on in a block behind a lead of its own: a header waiting for
  /// its data, a chain whose next piece may follow a pause.
  bool may_continue = false;
  /// It goes on from the file before it, which was left open.
  bool continues = false;
  /// It is not whole without a later block: given out without one, it does not load.
  bool wants_more = false;
  std::uint64_t offset = 0;  ///< file offset of its first byte's first pulse, after the sync
  std::uint64_t begin = 0;   ///< file offset where its lead begins
  std::uint64_t finish = 0;  ///< file offset one past its last pulse
  std::uint64_t cycles_begin = 0, cycles_at = 0, cycles_finish = 0;  ///< times of those three
};

/// What a block reader makes of the next byte (or bit).
enum class reading { more, done, failed };

/// Reads the bytes after a loader's sync into files.
class block_reader {
 public:
  virtual ~block_reader() = default;
  /// The next byte.
  virtual reading byte(std::uint8_t b) = 0;
  /// Whether it takes bits, not bytes (a format of bytes with extra bits).
  virtual bool bitwise() const { return false; }
  virtual reading bit(int) { return reading::failed; }
  /// The stream broke (a pause, or the tape's end): done with what was
  /// read, or failed where nothing of a file was.
  virtual reading end() = 0;
  /// The files read, once done: loader, name, addresses, program and checks.
  virtual std::vector<turbo_file> files() = 0;
};

enum class bit_order { msb_first, lsb_first };

/// How pulses make bits: one pulse a bit, long for 1; Pavloda's long
/// pulse for 0 and two short ones for 1; or Super Pavloda's three lengths,
/// each one bit or two.
enum class bit_rule { threshold, pavloda, super_pavloda };

/// What leads into a block: a run of one byte, of one bit (then one bit of
/// the other value as its end), or of a byte only the tape names (Bleepload:
/// that byte, its complement, the byte again).
enum class lead_kind { byte_pilot, bit_pilot, named_byte_pilot };

/// A header field: 'L' load address, 'E' end address (one past), 'S' size,
/// each two bytes low first; 'N' a 16-byte name; 'i' a byte of no use here;
/// 'X' two such bytes (an execution address); 'f' a flag that must not be 0.
/// Checks: 'x' the XOR of the data in the byte after it, 'p' the sum of the
/// data and their count, '-' none.
struct block_layout {
  const char* loader;  ///< the name of what this layout reads
  const char* fields;
  char check;
};

struct loader_row;
struct loader_memory;

/// What the lead of a block was: how long its pilot, which sync byte ended
/// it (where a row takes one of several), and the pulses' timing.
struct lead_info {
  unsigned pilot = 0;     ///< pilot bytes, or bits
  std::uint8_t sync = 0;  ///< the sync byte, for a row that takes one of several
  int threshold = 0;      ///< the threshold the block is read at
};

/// Makes the reader of what follows a row's lead; memory is the row's own,
/// kept from one block to the next.
using make_reader = std::unique_ptr<block_reader> (*)(const loader_row& row, const lead_info& lead,
                                                      std::unique_ptr<loader_memory>& memory);

/// One turbo loader's lead and timing, and how what follows is read.
struct loader_row {
  const char* name;
  int threshold;   ///< a pulse this long or longer is long; 0: measured from the pilot
  int bit0, bit1;  ///< the nominal values of its two pulses
  bit_order order;
  bit_rule rule;
  lead_kind lead;
  std::uint8_t pilot;              ///< the pilot byte, or bit
  unsigned min_pilot;              ///< pilot bytes, or bits, at least
  std::vector<std::uint8_t> sync;  ///< the bytes after the pilot (and its end bit)
  bool sync_one_of = false;  ///< the sync is one byte of these, which tells the reader the variant
  /// The generic reader's layouts, tried side by side: the first whose
  /// check holds names the file.
  std::vector<block_layout> layouts;
  /// A reader of the row's own, for a format the generic one cannot read; null: the generic one.
  make_reader own_reader = nullptr;
  bool timed = false;  ///< no checksum to hold: its pulses must be near the nominal values
  /// Two formats read alike, told apart by the long pulse's length: at or
  /// above long_split, this name.
  const char* long_variant = nullptr;
  int long_split = 0;
  bool quiet_end = false;         ///< its data must end at a pause or a steady tone
  std::uint16_t fixed_start = 0;  ///< a layout with no header: where it loads,
  std::uint32_t fixed_size = 0;   ///< and how much
  int long_threshold = 0;         ///< of three lengths of pulse: this long or longer is the longest
};

/// Every row, in the order they are preferred when two read the same block.
const std::vector<loader_row>& loader_rows();

/// What a row's reader keeps between its blocks: the addresses of a header
/// for the data block after it, where a chain got to.
struct loader_memory {
  virtual ~loader_memory() = default;
};

/// A reader of what follows the row's lead.
std::unique_ptr<block_reader> reader_for(const loader_row& row, const lead_info& lead,
                                         std::unique_ptr<loader_memory>& memory);

/// Where a tape's boot loader, a ROM header (the 192 bytes after its
/// type), says its Burner blocks' lead is: bit order, pilot and sync, its
/// bytes stored XOR 0x59. False where it holds none.
bool burner_lead(const std::uint8_t* header, std::size_t size, bit_order& order,
                 std::uint8_t& pilot, std::uint8_t& sync);

#endif
