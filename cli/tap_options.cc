// brivane-tap's options and arguments.
#include "tap_options.h"

#include <cstring>

#include "option_values.h"
#include "sound_sources.h"

std::string tap_usage() {
  std::string machines;
  for (const machine_choice& m : MACHINES)
    machines += (machines.empty() ? "" : "|") + std::string(m.name);
  return "Usage: brivane-tap [--machine " + machines +
         "] RECORDING [TAPE]\n"
         "Makes a TAP file from a sound recording of a Commodore cassette.\n"
         "\n"
         "  RECORDING  the recording: " +
         std::string(FORMATS_READ) +
         ";\n"
         "             - for standard input\n"
         "  TAPE       the TAP file to write: by default RECORDING's name with .tap;\n"
         "             - for standard output\n"
         "  --machine  the machine the TAP is timed for and names in its header\n"
         "             (default " +
         std::string(MACHINES[0].name) +
         ")\n"
         "  --help     this text\n"
         "  --version  brivane-tap's version\n";
}

tap_options parse_tap_options(int argc, const char* const* argv) {
  tap_options o;
  std::string given[2];
  int count = 0;
  bool options_end = false;
  for (int i = 0; i < argc; ++i) {
    const std::string a = argv[i];
    if (!options_end && a == "--") {
      options_end = true;
    } else if (!options_end && a == "--help") {
      o.help = true;
    } else if (!options_end && a == "--version") {
      o.version = true;
    } else if (std::string name;
               !options_end && option_value(argc, argv, i, "--machine",
                                            "a machine: " + machine_names(), name, o.error)) {
      if (!o.error.empty() || !machine_value(name, o.for_machine, o.error)) return o;
    } else if (!options_end && a.size() > 1 && a[0] == '-') {
      o.error = "no such option: " + a;
      return o;
    } else if (count < 2) {
      given[count++] = a;
    } else {
      o.error = "too many arguments: " + a;
      return o;
    }
  }
  if (o.help || o.version) return o;
  if (count == 0) {
    o.error = "no recording given";
    return o;
  }
  o.recording = given[0];
  o.tape = count == 2 ? given[1] : o.recording == "-" ? "-" : tap_name_for(o.recording);
  if (o.recording.empty() || o.tape.empty()) o.error = "an empty name";
  return o;
}
