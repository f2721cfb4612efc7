// The command line's logic: options, usage, the read loop and the whole run, behind the host's
// seams.
#include "command_line.h"

#include <new>

namespace {

// Bytes asked of the source per read. A read hands over what has arrived,
// so a pipe or a terminal gives up its pulses at once whatever is asked. For
// a file the first reads are small, so that a small tape touches little
// memory and starts fast; once a tape proves long they grow, since each read
// call costs several microseconds of its own. The buffer sits on a page
// boundary, which the kernel copies into markedly faster. Sizes chosen by
// measurement: bench/read_sizes.sh and bench/startup.py.
#ifdef BRIVANE_READ_BLOCK_KIB
constexpr std::size_t READ_BLOCK_SIZE = std::size_t{BRIVANE_READ_BLOCK_KIB} * 1024;
#else
constexpr std::size_t READ_BLOCK_SIZE = std::size_t{512} * 1024;
#endif
constexpr std::size_t FIRST_READ_SIZE = std::size_t{64} * 1024;
constexpr std::size_t FIRST_READS_UP_TO = std::size_t{1024} * 1024;
constexpr std::size_t READ_BLOCK_ALIGN = 4096;

struct aligned_block {
  aligned_block()
      : data(static_cast<std::uint8_t*>(
            ::operator new (READ_BLOCK_SIZE, std::align_val_t{READ_BLOCK_ALIGN}))) {}
  aligned_block(const aligned_block&) = delete;
  aligned_block& operator=(const aligned_block&) = delete;
  ~aligned_block() { ::operator delete (data, std::align_val_t{READ_BLOCK_ALIGN}); }
  std::uint8_t* const data;
};

}  // namespace

options parse_options(int argc, const char* const* argv) {
  options opts;
  if (argc < 1 || argv == nullptr || argv[0] == nullptr) return opts;
  opts.program = argv[0];
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    if (argv[i][1] == 'a') opts.scan.extract_all = true;
    if (argv[i][1] == 'e') opts.scan.escape_codes = true;
  }
  if (i < argc) opts.path = argv[i];
  return opts;
}

void print_usage(const char* program, text_sink& out) {
  out.write("Usage: ");
  out.write(program);
  out.write(" [option(s)] <tap file>\n");
  out.write("\nOptions:\n");
  out.write("   -a: extract all filenames (by default only the first one is extracted)\n");
  out.write("   -e: escape control codes\n");
}

scan_end scan_tape(pulse_source& in, scan_options opts, text_sink& out) {
  tape_scan scan(opts);
  const aligned_block block;
  for (std::size_t total = 0;;) {
    const std::size_t want = total < FIRST_READS_UP_TO ? FIRST_READ_SIZE : READ_BLOCK_SIZE;
    const std::ptrdiff_t got = in.read(block.data, want);
    if (got < 0) return scan_end::read_error;
    if (got == 0) return scan_end::finished;
    total += static_cast<std::size_t>(got);
    if (!scan.feed(block.data, static_cast<std::size_t>(got), out)) return scan_end::finished;
  }
}

int run_brivane(int argc, const char* const* argv, host& sys) {
  sys.out().write(BANNER);
  const options opts = parse_options(argc, argv);
  int status = 0;
  if (opts.path == nullptr) {
    print_usage(opts.program, sys.out());
    status = -1;
  } else if (std::unique_ptr<pulse_source> in = sys.open(opts.path)) {
    if (scan_tape(*in, opts.scan, sys.out()) == scan_end::read_error) {
      sys.err().write("Could not read input file.\n");
      status = -1;
    }
  } else {
    sys.err().write("Could not open input file.\n");
    status = -1;
  }
  if (sys.output_failed()) {
    sys.err().write("Could not write output.\n");
    status = -1;
  }
  return status;
}
