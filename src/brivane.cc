#include "brivane.h"

#include <cstdio>
#include <new>

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

bool tape_scan::feed(const std::uint8_t* pulses, std::size_t count, text_sink& out) {
  while (!done_ && count > 0) {
    std::size_t used = 0;
    const int found = scan_pulses(dec_, pulses, count, name_buf_, &used);
    pulses += used;
    count -= used;
    if (found) write_result(out);
  }
  return !done_;
}

void tape_scan::write_result(text_sink& out) {
  name_buf_[NAME_LENGTH] = 0;
  if (extract_all_) {
    char head[32];
    std::snprintf(head, sizeof head, "FOUND (%03d): \"", ++found_count_);
    out.write(head);
  } else {
    out.write("FOUND: \"");
    done_ = true;  // nothing more is read after the first name
  }
  print_filename(name_buf_, escape_codes_, out);
  out.write("\"\n");
}

namespace {

// A read buffer on a page boundary: the kernel copies into it markedly faster
// than into one that is not.
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

scan_end scan_tape(pulse_source& in, const options& opts, text_sink& out) {
  tape_scan scan(opts.extract_all, opts.escape_codes);
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
