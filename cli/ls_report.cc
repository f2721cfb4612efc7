// brivane-ls's lines for each tape.
#include "ls_report.h"

#include <algorithm>
#include <cstdio>

#include "catalogue/catalogue_text.h"

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

std::string verdict(const tape_report& t) {
  std::size_t files = 0, failing = 0, stretches = 0;
  for (const catalogue_entry& e : t.records) {
    stretches += e.kind == entry_kind::unrecognised;
    if (!is_file(e)) continue;
    ++files;
    failing += !loads(e);
  }
  std::string v = files == 0   ? "no file found"
                  : files == 1 ? (failing ? "1 file, which would not load" : "1 file, which loads")
                               : std::to_string(files) + " files, " +
                                     (failing == 0 ? std::string("all load")
                                                   : std::to_string(failing) + " would not load");
  if (t.coverage < 1 || stretches > 0)
    v += "; its blocks explain " + coverage_words(t.coverage) + " of its time";
  return v + ".";
}

std::string report_tape(ls_format f, const tape_report& t) {
  std::string out;
  if (f == ls_format::csv) {
    for (const catalogue_entry& e : t.records) out += csv_row(t.path, e, false);
    return out;
  }
  if (f == ls_format::json) {
    const std::string tape = json_string(t.path);
    std::string coverage = std::to_string(t.coverage);
    for (const catalogue_entry& e : t.records)
      out += "{\"tape\":" + tape + "," + record_json_fields(e) +
             ",\"shownName\":" + json_string(shown_name(e, false)) +
             ",\"escapedName\":" + json_string(shown_name(e, true)) + "}\n";
    return out;
  }
  // One line a record, in the table's order of columns, each padded to the
  // widest of its kind on this tape; the last one not padded.
  const std::string path = one_line(t.path);
  std::vector<std::vector<std::string>> rows;
  std::vector<std::size_t> widths(COLUMNS + 1, 0);
  for (const catalogue_entry& e : t.records) {
    std::vector<std::string> row;
    for (const std::size_t place : TABLE_ORDER)
      row.push_back(place == 0 ? path : cell(e, static_cast<column>(place - 1), true));
    for (std::size_t k = 0; k < row.size(); ++k)
      widths[k] = std::max(widths[k], columns_of(row[k]));
    rows.push_back(std::move(row));
  }
  for (const std::vector<std::string>& row : rows) {
    std::string line;
    std::size_t pending = 0;  // spaces owed before the next cell
    for (std::size_t k = 0; k < row.size(); ++k) {
      if (k > 0) pending += 2;
      if (row[k].empty()) {
        pending += widths[k];
        continue;
      }
      line.append(pending, ' ');
      line += row[k];
      pending = widths[k] - columns_of(row[k]);
    }
    out += line + "\n";
  }
  return out + path + ": " + verdict(t) + "\n";
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
