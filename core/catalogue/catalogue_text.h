// The catalogue as people and programs read it: each record's cells as the
// page's table and brivane-ls show them, a CSV row, and a JSON object whose
// fields are named as the module names a record's. Written once here for
// every front end.
#ifndef BRIVANE_CATALOGUE_CATALOGUE_TEXT_H
#define BRIVANE_CATALOGUE_CATALOGUE_TEXT_H

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "catalogue/tape_catalogue.h"

/// The columns of a record after its tape's path, in order. The loader's
/// comes last, so that a CSV read by position before it came reads the same.
enum class column { number, name, type, start, end, size, position, header, program, loader };
constexpr std::size_t COLUMNS = 10;

/// Each column's heading in the table, and its name in the CSV: the tape's
/// first, then the columns'.
extern const std::array<std::string_view, COLUMNS + 1> COLUMN_HEADINGS;
extern const std::array<std::string_view, COLUMNS + 1> CSV_NAMES;
/// The order a table shows them in, as places in those two: the loader
/// beside the name.
extern const std::array<std::size_t, COLUMNS + 1> TABLE_ORDER;

/// A record's kind as the module names it: "file" or "unrecognised".
std::string_view kind_name(entry_kind k);

/// A check in words: "ok", "repeat only", "damaged", "missing", "no checksum".
std::string_view check_words(copy_check c);
/// A check as the module names it: "ok", "repeat", "damaged", "missing", "none".
std::string_view check_name(copy_check c);

/// The name as the listing shows it, with or without -e.
std::string shown_name(const catalogue_entry& e, bool escape);

/// The text of one cell. A turbo file has no ROM type; a stretch no reader
/// recognises has its loader "unrecognised", its pulses, time and most
/// common values in its type's place, and no name, addresses or checks.
std::string cell(const catalogue_entry& e, column c, bool escape);
/// A record's cells, column by column.
using record_cells = std::array<std::string, COLUMNS>;
/// Its cells without -e (first) and with it (second).
std::pair<record_cells, record_cells> cells_both_ways(const catalogue_entry& e);

/// A name made safe as a file's name on any file system: trimmed of
/// spaces, no leading dot, none of \ / : * ? " < > | nor a control
/// character (each becomes _), and no name Windows keeps for a device;
/// "program" where nothing is left.
std::string safe_file_name(std::string_view name);

/// The file name of a record's program: its name as shown without -e, made
/// safe, with .prg ("GAME.prg").
std::string prg_file_name(const catalogue_entry& e);

/// The share of a tape's time its blocks explain, in words: "all", "over
/// 99%" (short of all, never rounded up to it), or "94%" (rounded down).
std::string coverage_words(double coverage);

/// Whether a record is a file a machine would load: not a stretch no
/// loader explains, nor the ROM's end-of-tape marker.
bool is_file(const catalogue_entry& e);
/// Whether a file's program would load: its check holds, or it has none.
bool loads(const catalogue_entry& e);

/// One CSV field, quoted where it holds a comma, a quote or a line break.
std::string csv_field(std::string_view value);
/// The CSV's first line: the columns' names, CR LF.
std::string csv_heading();
/// A record's CSV line, its tape's path first, CR LF.
std::string csv_row(std::string_view tape, const catalogue_entry& e, bool escape);
/// The same line from the record's cells.
std::string csv_row(std::string_view tape, const record_cells& cells);

/// A JSON string of bytes taken as UTF-8: what is no UTF-8 becomes U+FFFD,
/// so that the JSON is valid whatever the bytes.
std::string json_string(std::string_view bytes);
/// Whether bytes are valid UTF-8.
bool valid_utf8(std::string_view bytes);

/// The record's own fields as a JSON object's members, without the braces:
/// "kind":"file","loader":"rom","number":1,"type":1,... as the module's record
/// has them (its program's bytes aside: "programSize" counts them).
std::string record_json_fields(const catalogue_entry& e);

#endif
