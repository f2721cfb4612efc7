// brivane-ls's lines for each tape.
#include "ls_report.h"

#include <algorithm>
#include <cstdio>

#include "catalogue/catalogue_text.h"
#include "words/fault_words.h"

namespace {

// Bytes of text as wide as a terminal shows them: a UTF-8 sequence is one
// column, as any other byte.
std::size_t columns_of(const std::string& s) {
  std::size_t n = 0;
  for (const char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

// A path on one line: control characters as C writes them ("\n", "\x1b").
std::string one_line(const std::string& path) {
  std::string out;
  for (const char c : path) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u != 0x7F) {
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      static const char digits[] = "0123456789abcdef";
      out += "\\x";
      out += digits[u >> 4];
      out += digits[u & 15];
    }
  }
  return out;
}

}  // namespace

std::string report_start(ls_format f) { return f == ls_format::csv ? csv_heading() : ""; }

tape_lines::tape_lines(ls_format f, std::string path)
    : format_(f), path_(std::move(path)), shown_path_(one_line(path_)), widths_(COLUMNS + 1, 0) {}

void tape_lines::add(const catalogue_entry& e) {
  stretches_ += e.kind == entry_kind::unrecognised;
  if (is_file(e)) {
    ++files_;
    failing_ += !loads(e);
  }
  if (format_ == ls_format::csv) {
    done_ += csv_row(path_, e, false);
  } else if (format_ == ls_format::json) {
    done_ += "{\"tape\":" + json_string(path_) + "," + record_json_fields(e) +
             ",\"shownName\":" + json_string(shown_name(e, false)) +
             ",\"escapedName\":" + json_string(shown_name(e, true)) + "}\n";
  } else {
    // One line a record, in the table's order of columns.
    std::string row;
    for (std::size_t k = 0; k < TABLE_ORDER.size(); ++k) {
      const std::size_t place = TABLE_ORDER[k];
      const std::string text =
          place == 0 ? shown_path_ : cell(e, static_cast<column>(place - 1), true);
      widths_[k] = std::max(widths_[k], columns_of(text));
      row += text;
      row += '\0';
    }
    rows_.push_back(std::move(row));
  }
}

std::string tape_lines::verdict(double coverage, tap_shortfall cut) const {
  std::string v = files_ == 0 ? "no file found"
                  : files_ == 1
                      ? (failing_ ? "1 file, which would not load" : "1 file, which loads")
                      : std::to_string(files_) + " files, " +
                            (failing_ == 0 ? std::string("all load")
                                           : std::to_string(failing_) + " would not load");
  if (coverage < 1 || stretches_ > 0)
    v += "; its blocks explain " + coverage_words(coverage) + " of its time";
  if (cut.gives > 0) v += "; " + tap_cut_short_words(cut.holds, cut.gives);
  return v + ".";
}

std::string tape_lines::finish(double coverage, tap_shortfall cut) {
  if (format_ != ls_format::text) return std::move(done_);
  // Each cell padded to the widest of its column on this tape; none after the last.
  std::string out;
  for (const std::string& row : rows_) {
    std::string line;
    std::size_t pending = 0, k = 0;  // spaces owed before the next cell
    for (std::size_t at = 0; at < row.size(); ++k) {
      const std::size_t end = row.find('\0', at);
      const std::string_view text(row.data() + at, end - at);
      if (k > 0) pending += 2;
      if (text.empty()) {
        pending += widths_[k];
      } else {
        line.append(pending, ' ');
        line += text;
        pending = widths_[k] - columns_of(std::string(text));
      }
      at = end + 1;
    }
    out += line + "\n";
  }
  rows_.clear();
  return out + shown_path_ + ": " + verdict(coverage, cut) + "\n";
}

std::string verdict(const tape_report& t) {
  tape_lines lines(ls_format::csv, t.path);
  for (const catalogue_entry& e : t.records) lines.add(e);
  return lines.verdict(t.coverage, t.cut);
}

std::string report_tape(ls_format f, const tape_report& t) {
  tape_lines lines(f, t.path);
  for (const catalogue_entry& e : t.records) lines.add(e);
  return lines.finish(t.coverage, t.cut);
}

std::string prg_name(const tape_report& t, const catalogue_entry& e) {
  const std::string tape = t.path.substr(t.path.find_last_of('/') + 1);
  char number[16];
  std::snprintf(number, sizeof number, "%03d", e.number);
  const std::string which = e.number > 0 ? number : e.loader == "rom" ? "ROM" : e.loader;
  const std::string name = shown_name(e, false);
  const bool blank = name.find_first_not_of(' ') == std::string::npos;  // a format that keeps none
  return safe_file_name(tape + "-" + which + (blank ? "" : "-" + name)) + ".prg";
}

std::vector<std::uint8_t> prg_bytes(const catalogue_entry& e) {
  // As the module keeps a program: where its check holds, or where it has
  // none and its bytes were read.
  const bool kept = e.program_check == copy_check::ok || e.program_check == copy_check::repeat ||
                    (e.program_check == copy_check::none && !e.program.empty());
  if (e.kind != entry_kind::file || !kept) return {};
  std::vector<std::uint8_t> b = {static_cast<std::uint8_t>(e.start & 0xFF),
                                 static_cast<std::uint8_t>(e.start >> 8)};
  b.insert(b.end(), e.program.begin(), e.program.end());
  return b;
}
