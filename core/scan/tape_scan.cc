// The scan: pulses through the bulk decoder into result lines, from one piece of tape to the next.
#include "scan/tape_scan.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "render/filename.h"

void print_filename(std::uint8_t* name_buf, bool escape, text_sink& out) {
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

std::string result_line(int number, std::uint8_t* name_buf, scan_options opts) {
  std::string line;
  if (opts.extract_all) {
    char head[32];
    std::snprintf(head, sizeof head, "FOUND (%03d): \"", number);
    line = head;
  } else {
    line = "FOUND: \"";
  }
  name_buf[NAME_LENGTH] = 0;
  return line + render_filename(name_buf, opts.escape_codes) + "\"\n";
}

std::string listing(const std::string& names, scan_options opts) {
  std::string out(BANNER);
  for (std::size_t at = 0, n = 1; at + NAME_LENGTH <= names.size(); at += NAME_LENGTH, ++n) {
    std::uint8_t buf[NAME_LENGTH + 1] = {};
    std::copy(names.begin() + static_cast<std::ptrdiff_t>(at),
              names.begin() + static_cast<std::ptrdiff_t>(at + NAME_LENGTH), buf);
    out += result_line(static_cast<int>(n), buf, opts);
    if (!opts.extract_all) break;  // the first name alone
  }
  return out;
}

void tape_scan::write_result(text_sink& out) {
  ++found_count_;
  if (!opts_.extract_all) done_ = true;  // nothing more is read after the first name
  const std::string line = result_line(found_count_, name_buf_, opts_);
  out.write(line);
  if (found_) {
    // The bytes between the quotes.
    const std::size_t open = line.find('"') + 1;
    found_->push_back({found_count_, line.substr(open, line.size() - open - 2)});
  }
}
