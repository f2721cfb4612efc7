// brivane-ls's options and paths.
#include "ls_options.h"

#include <cstdlib>

#include "option_values.h"
#include "sound_sources.h"

std::string ls_usage() {
  return "Usage: brivane-ls [--csv | --json] [--prg DIR] [--machine M] [--jobs N] [--all-blocks] "
         "PATH...\n"
         "Lists every file on Commodore tapes: its loader, name, type, addresses, place on the\n"
         "tape and whether it loads, for TAP files, recordings, folders and archives of them.\n"
         "\n"
         "  PATH          a TAP file, or a gzipped one (.tap.gz); a recording; a folder, read\n"
         "                in name order; an archive (zip, 7z, tar, .tar.gz, .tar.xz); - for\n"
         "                standard input. Recordings read: " +
         std::string(FORMATS_READ) +
         ".\n"
         "  --csv         CSV, as the page's \"Download CSV\" saves it\n"
         "  --json        JSON Lines: an object for each file, named as the module names them\n"
         "  --prg DIR     writes each program that loads into DIR as a PRG file\n"
         "  --machine M   the machine whose clock times the tape, and that recordings are\n"
         "                made TAPs for: " +
         machine_names(" or ") + " (default " + std::string(MACHINES[0].name) +
         ")\n"
         "  --jobs N      reads N tapes side by side (default: one for each core)\n"
         "  --all-blocks  lists every block read, under its file, as well\n"
         "  --help        this text\n"
         "  --version     brivane-ls's version\n"
         "Exit status: 0 when every path was read, 1 when some could not be, 2 for a wrong\n"
         "command line.\n";
}

ls_options parse_ls_options(int argc, const char* const* argv) {
  ls_options o;
  bool options_end = false;
  for (int i = 0; i < argc; ++i) {
    const std::string a = argv[i];
    std::string value;
    if (options_end || a == "-" || a.empty() || a[0] != '-') {
      o.paths.push_back(a);
    } else if (a == "--") {
      options_end = true;
    } else if (a == "--help") {
      o.help = true;
    } else if (a == "--version") {
      o.version = true;
    } else if (a == "--csv" || a == "--json") {
      const ls_format f = a == "--csv" ? ls_format::csv : ls_format::json;
      if (o.format != ls_format::text && o.format != f) {
        o.error = "--csv and --json cannot both be given";
        return o;
      }
      o.format = f;
    } else if (a == "--all-blocks") {
      o.all_blocks = true;
    } else if (option_value(argc, argv, i, "--prg", "a folder", value, o.error)) {
      if (!o.error.empty()) return o;
      if (value.empty()) {
        o.error = "--prg needs a folder";
        return o;
      }
      o.prg_dir = value;
    } else if (option_value(argc, argv, i, "--machine", "a machine: " + machine_names(), value,
                            o.error)) {
      if (!o.error.empty() || !machine_value(value, o.for_machine, o.error)) return o;
    } else if (option_value(argc, argv, i, "--jobs", "a number of tapes", value, o.error)) {
      if (!o.error.empty()) return o;
      char* end = nullptr;
      const unsigned long n = std::strtoul(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || value[0] == '-' || n == 0 || n > 1024) {
        o.error = "--jobs needs a number of tapes from 1 to 1024, not " + value;
        return o;
      }
      o.jobs = static_cast<unsigned>(n);
    } else {
      o.error = "no such option: " + a;
      return o;
    }
  }
  if (!o.help && !o.version && o.paths.empty()) o.error = "no path given";
  return o;
}
