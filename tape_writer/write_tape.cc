// Writes tapes to standard output with the tape writer, for scripts;
// write_tape --help says how.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "recording_writer.h"
#include "tape_writer.h"
#include "turbo_writer.h"

namespace {

bool write_all(const bytes& b) { return std::fwrite(b.data(), 1, b.size(), stdout) == b.size(); }

constexpr const char* USAGE =
    "usage: write_tape [--repeat N] pilot COUNT    COUNT short pulses\n"
    "       write_tape [--repeat N] header NAME    a 5001-pulse pilot and a header block\n"
    "       write_tape [--repeat N] file NAME      a file as the ROM saves it\n"
    "       write_tape [--repeat N] [--clock HZ] [--speed S] recording NAME\n"
    "                                              a WAV recording (44.1 kHz, 16 bits, mono) of\n"
    "                                              N files as the ROM saves them, played on a\n"
    "                                              slightly noisy deck that inverts the signal:\n"
    "                                              of a machine of this clock (985248, the C64's\n"
    "                                              PAL one), on a deck this much fast (1.05)\n"
    "       write_tape samples DIR                 the command-line cases' tapes, into DIR\n"
    "       write_tape turbo N                     a TAP of turbo format N's sample files\n"
    "       write_tape turbo list                  each turbo format's number, name and\n"
    "                                              its sample files' start, end and name\n"
    "The tape goes to standard output; --repeat writes it N times over.\n";

int usage() {
  std::fputs(USAGE, stderr);
  return 2;
}

// write_tape turbo N|list: a turbo format's sample tape, or what each holds.
int turbo(const std::string& which) {
  const std::vector<turbo_format> formats = turbo_formats();
  if (which == "list") {
    for (std::size_t n = 0; n < formats.size(); ++n) {
      std::printf("%zu\t%s", n, turbo_format_name(formats[n]));
      for (const turbo_program& p : turbo_sample_files(formats[n]))
        std::printf("\t%u-%u:%s", p.start, static_cast<unsigned>(p.start + p.data.size()) & 0xFFFF,
                    p.name.c_str());
      std::printf("\n");
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  char* end = nullptr;
  const unsigned long n = std::strtoul(which.c_str(), &end, 10);
  if (which.empty() || *end != '\0' || n >= formats.size()) return usage();
  const turbo_format f = formats[n];
  return write_all(tap_file(turbo_tape(f, turbo_sample_files(f)))) && std::fflush(stdout) == 0 ? 0
                                                                                               : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(USAGE, stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (argc == 3 && std::strcmp(argv[1], "samples") == 0) {
    if (mkdir(argv[2], 0777) != 0 && errno != EEXIST) {
      std::perror(argv[2]);
      return 1;
    }
    for (const auto& [name, tape] : sample_tapes()) {
      const std::string path = std::string(argv[2]) + "/" + name;
      std::FILE* f = std::fopen(path.c_str(), "wb");
      if (f == nullptr || std::fwrite(tape.data(), 1, tape.size(), f) != tape.size() ||
          std::fclose(f) != 0) {
        std::perror(path.c_str());
        return 1;
      }
    }
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "turbo") == 0) return turbo(argv[2]);
  unsigned long long repeat = 1;
  recording_knobs k;
  k.noise = 0.02;
  k.low_pass_hz = 8000;
  k.inverted = true;
  int a = 1;
  for (; a + 1 < argc && std::strncmp(argv[a], "--", 2) == 0; a += 2) {
    if (std::strcmp(argv[a], "--repeat") == 0)
      repeat = std::strtoull(argv[a + 1], nullptr, 10);
    else if (std::strcmp(argv[a], "--clock") == 0)
      k.clock = std::strtod(argv[a + 1], nullptr);
    else if (std::strcmp(argv[a], "--speed") == 0)
      k.speed = std::strtod(argv[a + 1], nullptr);
    else
      return usage();
  }
  if (!(k.clock > 0) || !(k.speed > 0)) return usage();
  if (argc != a + 2) return usage();
  const std::string what = argv[a], arg = argv[a + 1];
  bytes once;
  if (what == "header") {
    once = tape_writer().pilot(5001).block(header_payload(1, arg)).pulses();
  } else if (what == "file") {
    once = tape_writer().rom_file(1, arg, bytes(64, 0x20)).pulses();
  } else if (what == "recording") {
    tape_writer w;
    for (unsigned long long r = 0; r < repeat; ++r) w.rom_file(1, arg, bytes(64, 0x20));
    return write_all(record_tape(w.pulses(), k)) && std::fflush(stdout) == 0 ? 0 : 1;
  } else if (what != "pilot") {
    return usage();
  }
  const bytes shorts(1u << 20, 48);
  for (unsigned long long r = 0; r < repeat; ++r) {
    bool ok = true;
    if (what == "pilot") {
      unsigned long long left = std::strtoull(arg.c_str(), nullptr, 10);
      for (; left >= shorts.size() && ok; left -= shorts.size()) ok = write_all(shorts);
      ok = ok && std::fwrite(shorts.data(), 1, static_cast<std::size_t>(left), stdout) == left;
    } else {
      ok = write_all(once);
    }
    if (!ok) {
      std::perror("write_tape");
      return 1;
    }
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
