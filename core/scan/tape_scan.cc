// The scan: pulses through the bulk decoder into result lines, from one piece of tape to the next.
#include "scan/tape_scan.h"

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

void tape_scan::write_result(text_sink& out) {
  name_buf_[NAME_LENGTH] = 0;
  ++found_count_;
  if (opts_.extract_all) {
    char head[32];
    std::snprintf(head, sizeof head, "FOUND (%03d): \"", found_count_);
    out.write(head);
  } else {
    out.write("FOUND: \"");
    done_ = true;  // nothing more is read after the first name
  }
  if (found_) {
    string_sink shown;
    print_filename(name_buf_, opts_.escape_codes, shown);
    out.write(shown.text);
    found_->push_back({found_count_, std::move(shown.text)});
  } else {
    print_filename(name_buf_, opts_.escape_codes, out);
  }
  out.write("\"\n");
}
