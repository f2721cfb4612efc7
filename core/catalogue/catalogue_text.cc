// Cells, CSV and JSON of the catalogue's records.
#include "catalogue/catalogue_text.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "render/filename.h"

const std::array<std::string_view, COLUMNS + 1> COLUMN_HEADINGS = {
    "Tape", "No.",      "Name",   "Type",    "Start", "End",
    "Size", "Position", "Header", "Program", "Loader"};
const std::array<std::string_view, COLUMNS + 1> CSV_NAMES = {
    "tape", "number",   "name",   "type",    "start", "end",
    "size", "position", "header", "program", "loader"};

const std::array<std::size_t, COLUMNS + 1> TABLE_ORDER = {0, 1, 2, 10, 3, 4, 5, 6, 7, 8, 9};

namespace {

std::string hex(unsigned address) {
  char s[8];
  std::snprintf(s, sizeof s, "$%04X", address);
  return s;
}

std::string_view type_words(unsigned type) {
  switch (type) {
    case 1:
      return "program";
    case 3:
      return "program, fixed address";
    case 4:
      return "data file";
    case 5:
      return "end of tape";
  }
  return "";
}

// A time as minutes and seconds, "12:34", whole seconds.
std::string minutes(double seconds) {
  const auto s = static_cast<long long>(std::floor(std::isfinite(seconds) ? seconds : 0));
  char t[32];
  std::snprintf(t, sizeof t, "%lld:%02lld", s / 60, s % 60);
  return t;
}

// A stretch no reader recognises, in words: "30000 pulses, 0:41, mostly $28 $50".
std::string stretch_words(const catalogue_entry& e) {
  std::string words =
      std::to_string(e.length) + (e.length == 1 ? " pulse, " : " pulses, ") + minutes(e.duration);
  for (std::size_t i = 0; i < e.pulse_values.size(); ++i) {
    char v[8];
    std::snprintf(v, sizeof v, "$%02X", e.pulse_values[i]);
    words += (i ? " " : ", mostly ") + std::string(v);
  }
  return words;
}

// A block's cells: its name and addresses where it is a ROM header, which
// copy and how many bytes, its place, its own check, its loader.
std::string block_cell(const catalogue_entry& e, column c, bool escape);

// The shortest decimal that reads back as the same double. Digits that
// read back still do with one more (the finer rounding is as near), so the
// fewest can be found by trying. A time on a tape is a count of cycles over
// the clock and mostly needs 16 or 17 digits, so those are tried first, from
// 15 up; only one that reads back at 15 is halved down from there.
std::string number(double v) {
  if (!std::isfinite(v)) return "0";
  if (v == 0) return std::signbit(v) ? "-0" : "0";
  char s[32];
  int shown = 0;  // the digits s holds
  const auto reads_back = [&](int precision) {
    std::snprintf(s, sizeof s, "%.*g", std::clamp(precision, 1, 17), v);
    shown = precision;
    return std::strtod(s, nullptr) == v;
  };
  if (!reads_back(15)) {
    if (!reads_back(16)) std::snprintf(s, sizeof s, "%.17g", v);
    return s;
  }
  int fewest = 1, enough = 15;
  while (fewest < enough) {
    const int mid = (fewest + enough) / 2;
    if (reads_back(mid))
      enough = mid;
    else
      fewest = mid + 1;
  }
  if (shown != fewest) reads_back(fewest);
  return s;
}

}  // namespace

namespace {

// Each check's name in the module and its words in the table, in the order
// of copy_check.
constexpr std::string_view CHECKS[][2] = {{"ok", "ok"},
                                          {"repeat", "repeat only"},
                                          {"damaged", "damaged"},
                                          {"missing", "missing"},
                                          {"none", "no checksum"}};

}  // namespace

std::string_view kind_name(entry_kind k) {
  return k == entry_kind::unrecognised ? "unrecognised" : k == entry_kind::block ? "block" : "file";
}

std::string_view check_words(copy_check c) { return CHECKS[static_cast<int>(c)][1]; }

std::string_view check_name(copy_check c) { return CHECKS[static_cast<int>(c)][0]; }

std::string shown_name(const catalogue_entry& e, bool escape) {
  std::uint8_t buf[NAME_LENGTH + 1] = {};
  for (std::size_t i = 0; i < NAME_LENGTH; ++i) buf[i] = e.name[i];
  return render_filename(buf, escape);
}

std::string cell(const catalogue_entry& e, column c, bool escape) {
  if (e.kind == entry_kind::unrecognised) {
    if (c == column::loader) return "unrecognised";
    if (c == column::type) return stretch_words(e);
    if (c == column::position) return minutes(e.seconds);
    return "";
  }
  const bool rom = e.loader == "rom";
  if (e.kind == entry_kind::block) return block_cell(e, c, escape);
  switch (c) {
    case column::number: {
      if (e.number == 0) return "";
      char s[16];
      std::snprintf(s, sizeof s, "%03d", e.number);
      return s;
    }
    case column::name:
      return shown_name(e, escape);
    case column::type: {
      if (!rom) return "";
      const std::string_view words = type_words(e.type);
      return std::to_string(e.type) + (words.empty() ? "" : ": " + std::string(words));
    }
    case column::start:
      return hex(e.start);
    case column::end:
      return hex(e.end);
    case column::size: {
      // A turbo loader's chain of pages may hold more than its addresses
      // span: one that loads over memory more than once, or past its top.
      const std::size_t span = e.end >= e.start ? e.end - e.start : 0;
      const std::size_t held = std::max(e.program.size(), e.program_size);
      if (!rom && held > span) return std::to_string(held);
      return e.end >= e.start ? std::to_string(span) : "";
    }
    case column::position:
      return minutes(e.seconds);
    case column::header:
      return std::string(check_words(e.header));
    case column::program:
      return std::string(check_words(e.program_check));
    case column::loader:
      return rom ? "ROM" : e.loader;
  }
  return "";
}

namespace {

record_cells cells_of(const catalogue_entry& e, bool escape) {
  record_cells cells;
  for (std::size_t c = 0; c < COLUMNS; ++c) cells[c] = cell(e, static_cast<column>(c), escape);
  return cells;
}

}  // namespace

std::pair<record_cells, record_cells> cells_both_ways(const catalogue_entry& e) {
  std::pair<record_cells, record_cells> both;
  both.first = cells_of(e, false);
  // Only the name shows control codes differently.
  both.second = both.first;
  const auto name = static_cast<std::size_t>(column::name);
  both.second[name] = cell(e, column::name, true);
  return both;
}

namespace {

std::string block_cell(const catalogue_entry& e, column c, bool escape) {
  const bool rom = e.loader == "rom";
  switch (c) {
    case column::name:
      return e.type != 0 ? shown_name(e, escape) : "";
    case column::type: {
      std::string words = rom ? std::string(e.type != 0 ? "header block" : "data block") : "block";
      if (rom) words += e.header == copy_check::repeat ? ", repeat" : ", first copy";
      return words + ", " + std::to_string(e.block_bytes) +
             (e.block_bytes == 1 ? " byte" : " bytes");
    }
    case column::start:
      return e.type != 0 ? hex(e.start) : "";
    case column::end:
      return e.type != 0 ? hex(e.end) : "";
    case column::size:
      return std::to_string(e.block_bytes);
    case column::position:
      return minutes(e.seconds);
    case column::program:
      return std::string(check_words(e.program_check));
    case column::loader:
      return rom ? "ROM" : e.loader;
    case column::number:
    case column::header:
      break;
  }
  return "";
}

}  // namespace

std::string safe_file_name(std::string_view name) {
  const std::size_t first = name.find_first_not_of(' ');
  if (first == std::string_view::npos) return "program";
  name = name.substr(first, name.find_last_not_of(' ') - first + 1);
  std::string safe;
  for (const char ch : name) {
    const auto u = static_cast<unsigned char>(ch);
    const bool bad =
        u < 0x20 || u == 0x7F || std::string_view("\\/:*?\"<>|").find(ch) != std::string_view::npos;
    if (safe.empty() && ch == '.') continue;
    safe += bad ? '_' : ch;
  }
  if (safe.empty()) return "program";
  // Windows keeps these names for devices, whatever follows a dot.
  std::string stem = safe.substr(0, safe.find('.'));
  for (char& ch : stem) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  const bool device =
      stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" ||
      (stem.size() == 4 && (stem.rfind("COM", 0) == 0 || stem.rfind("LPT", 0) == 0) &&
       stem[3] >= '1' && stem[3] <= '9');
  return device ? "_" + safe : safe;
}

std::string prg_file_name(const catalogue_entry& e) {
  return safe_file_name(shown_name(e, false)) + ".prg";
}

std::string coverage_words(double coverage) {
  if (!(coverage < 1)) return "all";
  if (coverage > 0.99) return "over 99%";
  return std::to_string(static_cast<int>(std::floor(std::max(coverage, 0.0) * 100))) + "%";
}

bool is_file(const catalogue_entry& e) {
  return e.kind == entry_kind::file && !(e.loader == "rom" && e.type == 5);
}

bool loads(const catalogue_entry& e) {
  return e.program_check == copy_check::ok || e.program_check == copy_check::repeat ||
         e.program_check == copy_check::none;
}

std::string csv_field(std::string_view value) {
  if (value.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(value);
  std::string quoted = "\"";
  for (const char ch : value) {
    if (ch == '"') quoted += '"';
    quoted += ch;
  }
  return quoted + "\"";
}

std::string csv_heading() {
  std::string line;
  for (const std::string_view name : CSV_NAMES)
    line += (line.empty() ? "" : ",") + std::string(name);
  return line + "\r\n";
}

std::string csv_row(std::string_view tape, const catalogue_entry& e, bool escape) {
  return csv_row(tape, cells_of(e, escape));
}

std::string csv_row(std::string_view tape, const record_cells& cells) {
  std::string line = csv_field(tape);
  for (const std::string& c : cells) {
    line += ',';
    line += csv_field(c);
  }
  return line + "\r\n";
}

bool valid_utf8(std::string_view b) {
  for (std::size_t i = 0; i < b.size();) {
    const auto c = static_cast<unsigned char>(b[i]);
    std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > b.size()) return false;
    unsigned cp = n == 1 ? c : c & (0x7F >> n);
    for (std::size_t k = 1; k < n; ++k) {
      const auto d = static_cast<unsigned char>(b[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = cp << 6 | (d & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are no UTF-8.
    const unsigned least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[n] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return false;
    i += n;
  }
  return true;
}

std::string json_string(std::string_view b) {
  std::string out = "\"";
  for (std::size_t i = 0; i < b.size();) {
    const auto c = static_cast<unsigned char>(b[i]);
    // The longest valid UTF-8 sequence from here, or one byte that is none.
    std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || !valid_utf8(b.substr(i, n)) || i + n > b.size()) {
      out += "\\ufffd";
      ++i;
      continue;
    }
    if (n > 1) {
      out.append(b.substr(i, n));
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char e[8];
      std::snprintf(e, sizeof e, "\\u%04x", c);
      out += e;
    } else {
      out += static_cast<char>(c);
    }
    i += n;
  }
  return out + "\"";
}

std::string record_json_fields(const catalogue_entry& e) {
  std::string name = "[";
  for (std::size_t i = 0; i < NAME_LENGTH; ++i) name += (i ? "," : "") + std::to_string(e.name[i]);
  name += "]";
  std::string values = "[";
  for (std::size_t i = 0; i < e.pulse_values.size(); ++i)
    values += (i ? "," : "") + std::to_string(e.pulse_values[i]);
  values += "]";
  return "\"kind\":" + json_string(kind_name(e.kind)) + ",\"loader\":" + json_string(e.loader) +
         ",\"number\":" + std::to_string(e.number) + ",\"type\":" + std::to_string(e.type) +
         ",\"name\":" + name + ",\"start\":" + std::to_string(e.start) +
         ",\"end\":" + std::to_string(e.end) + ",\"offset\":" + std::to_string(e.offset) +
         ",\"seconds\":" + number(e.seconds) + ",\"header\":" + json_string(check_name(e.header)) +
         ",\"programCheck\":" + json_string(check_name(e.program_check)) +
         ",\"programSize\":" + std::to_string(std::max(e.program.size(), e.program_size)) +
         ",\"length\":" + std::to_string(e.length) + ",\"duration\":" + number(e.duration) +
         ",\"pulseValues\":" + values +
         (e.kind == entry_kind::block ? ",\"blockBytes\":" + std::to_string(e.block_bytes) : "");
}
