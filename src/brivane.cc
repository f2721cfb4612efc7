#include "brivane.h"

#include <cstdio>
#include <vector>

#include "decoder/tape_decoder.h"
#include "render/filename.h"

options parse_options(int argc, const char* const* argv) {
  options opts;
  if (argc < 1 || argv == nullptr || argv[0] == nullptr) return opts;
  opts.program = argv[0];
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    if (argv[i][1] == 'a') opts.extract_all = 1;
    if (argv[i][1] == 'e') opts.escape_codes = 1;
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

void print_filename(std::uint8_t* name_buf, int escape, text_sink& out) {
  out.write(render_filename(name_buf, escape));
}

scan_end scan_tape(pulse_source& in, const options& opts, text_sink& out) {
  tape_decoder dec{};
  std::uint8_t name_buf[NAME_LENGTH + 1] = {};
  int found_count = 0;
  std::vector<std::uint8_t> block(READ_BLOCK_SIZE);

  for (;;) {
    const std::ptrdiff_t got = in.read(block.data(), block.size());
    if (got < 0) return scan_end::read_error;
    if (got == 0) return scan_end::finished;
    const std::uint8_t* pulses = block.data();
    std::size_t left = static_cast<std::size_t>(got);
    for (;;) {
      std::size_t used = 0;
      const int found = scan_pulses(dec, pulses, left, name_buf, &used);
      pulses += used;
      left -= used;
      if (!found) break;
      name_buf[NAME_LENGTH] = 0;
      if (opts.extract_all) {
        char head[32];
        std::snprintf(head, sizeof head, "FOUND (%03d): \"", ++found_count);
        out.write(head);
      } else {
        out.write("FOUND: \"");
      }
      print_filename(name_buf, opts.escape_codes, out);
      out.write("\"\n");
      if (!opts.extract_all) return scan_end::finished;
    }
  }
}

int run_brivane(int argc, const char* const* argv, host& sys) {
  sys.out().write("Brivane, rel 1.1\n");
  const options opts = parse_options(argc, argv);
  int status = 0;
  if (opts.path == nullptr) {
    print_usage(opts.program, sys.out());
    status = -1;
  } else if (std::unique_ptr<pulse_source> in = sys.open(opts.path)) {
    if (scan_tape(*in, opts, sys.out()) == scan_end::read_error) {
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
