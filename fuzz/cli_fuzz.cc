// The whole run, as the program does it, over an arbitrary tape with each
// combination of options, short reads and read errors.
#include <cstring>
#include <string>

#include "command_line.h"
#include "expected_text.h"
#include "fuzz_input.h"
#include "memory_host.h"

namespace {

struct result {
  int status;
  std::string out, err;
};

result run(const fuzz_input& in, bool extract_all, bool escape_codes) {
  memory_host sys;
  sys.files["t.tap"] = bytes(in.tape, in.tape + in.tape_size);
  sys.chunk = in.read_size;
  if (in.read_fails) sys.fail_at = in.tape_size;
  const char* argv[4] = {"brivane"};
  int argc = 1;
  if (extract_all) argv[argc++] = "-a";
  if (escape_codes) argv[argc++] = "-e";
  argv[argc++] = "t.tap";
  const int status = run_brivane(argc, argv, sys);
  return {status, sys.out_.text, sys.err_.text};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_input in{};
  if (!parse_fuzz_input(data, size, in)) return 0;
  const result all = run(in, true, in.escape_codes);
  const result first = run(in, false, in.escape_codes);

  for (const result* r : {&all, &first}) {
    FUZZ_CHECK(r->out.compare(0, banner.size(), banner) == 0);
    FUZZ_CHECK(r->out.back() == '\n');
  }
  // Every name of -a is numbered in turn; a read failure comes after them.
  std::size_t count = 0, at = banner.size();
  std::string first_name;
  while (at < all.out.size()) {
    char head[32];
    std::snprintf(head, sizeof head, "FOUND (%03zu): \"", ++count);
    FUZZ_CHECK(all.out.compare(at, std::strlen(head), head) == 0);
    const std::size_t end = all.out.find("\"\n", at + std::strlen(head));
    FUZZ_CHECK(end != std::string::npos);
    if (count == 1)
      first_name = all.out.substr(at + std::strlen(head), end - at - std::strlen(head));
    at = end + 2;
  }
  const bool read_error = in.read_fails;
  FUZZ_CHECK(all.status == (read_error ? -1 : 0));
  FUZZ_CHECK(all.err == (read_error ? "Could not read input file.\n" : ""));

  // Default mode stops at the first name, which is -a's first name.
  if (count == 0) {
    FUZZ_CHECK(first.out == banner);
  } else {
    FUZZ_CHECK(first.out == banner + "FOUND: \"" + first_name + "\"\n");
    FUZZ_CHECK(first.status == 0 && first.err.empty());
  }
  return 0;
}
