// The catalogue as text: each cell as the page and brivane-ls show it, CSV
// fields quoted where they must be, file names safe on any file system,
// and JSON valid whatever bytes a name or a path holds.
#include "catalogue/catalogue_text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

catalogue_entry entry(int number, std::uint8_t type, std::uint16_t start, std::uint16_t end,
                      const char* name, double seconds) {
  catalogue_entry e;
  e.number = number;
  e.type = type;
  e.start = start;
  e.end = end;
  std::memset(e.name, ' ', NAME_LENGTH);
  std::memcpy(e.name, name, std::min(std::strlen(name), NAME_LENGTH));
  e.seconds = seconds;
  e.header = copy_check::ok;
  e.program_check = copy_check::repeat;
  return e;
}

catalogue_entry turbo(const char* loader, const char* name, std::uint16_t start,
                      std::uint16_t end) {
  catalogue_entry e = entry(0, 0, start, end, name, 83.5);
  e.loader = loader;
  e.header = copy_check::none;
  e.program_check = copy_check::ok;
  return e;
}

// e holding a program of n bytes; or, taken out, only their count.
catalogue_entry holding(catalogue_entry e, std::size_t n, bool taken_out = false) {
  if (taken_out) {
    e.program_size = n;
  } else {
    e.program.assign(n, 0xEA);
  }
  return e;
}

catalogue_entry stretch(std::uint64_t pulses, double duration, std::vector<std::uint8_t> values) {
  catalogue_entry e = entry(0, 0, 0, 0, "", 125.9);
  e.kind = entry_kind::unrecognised;
  e.loader.clear();
  e.header = e.program_check = copy_check::none;
  e.length = pulses;
  e.duration = duration;
  e.pulse_values = std::move(values);
  return e;
}

TEST(CatalogueText, EachCellAsShown) {
  const catalogue_entry e = entry(7, 1, 0x0801, 0x0841, "\x93GAME", 754.2);
  const struct {
    column c;
    bool escape;
    std::string want;
  } rows[] = {
      {column::number, false, "007"},
      {column::name, false, "GAME"},
      {column::name, true, "{CLEAR & HOME}GAME"},
      {column::type, false, "1: program"},
      {column::start, false, "$0801"},
      {column::end, false, "$0841"},
      {column::size, false, "64"},
      {column::position, false, "12:34"},
      {column::header, false, "ok"},
      {column::program, false, "repeat only"},
      {column::loader, false, "ROM"},
  };
  for (const auto& r : rows) EXPECT_EQ(cell(e, r.c, r.escape), r.want) << static_cast<int>(r.c);
  const struct {
    catalogue_entry e;
    column c;
    std::string want;
  } edges[] = {
      {entry(0, 4, 0, 0, "", 0), column::number, ""},
      {entry(1234, 1, 0, 0, "", 0), column::number, "1234"},
      {entry(1, 3, 0xC000, 0xFFFF, "", 59.99), column::type, "3: program, fixed address"},
      {entry(1, 4, 0, 0, "", 0), column::type, "4: data file"},
      {entry(1, 5, 0, 0, "", 0), column::type, "5: end of tape"},
      {entry(1, 9, 0, 0, "", 0), column::type, "9"},
      {entry(1, 3, 0xC000, 0xFFFF, "", 59.99), column::position, "0:59"},
      {entry(1, 1, 0, 0, "", 3600), column::position, "60:00"},
      {entry(1, 1, 5, 5, "", 0), column::size, "0"},
      {entry(1, 1, 9, 8, "", 0), column::size, ""},
      // A turbo file: its loader's name, no ROM type, no listing number.
      {turbo("Freeload", "GAME", 0x1000, 0x9000), column::loader, "Freeload"},
      {turbo("Freeload", "GAME", 0x1000, 0x9000), column::type, ""},
      {turbo("Freeload", "GAME", 0x1000, 0x9000), column::number, ""},
      {turbo("Freeload", "GAME", 0x1000, 0x9000), column::name, "GAME"},
      {turbo("Freeload", "GAME", 0x1000, 0x9000), column::size, "32768"},
      {turbo("Freeload", "GAME", 0x1000, 0x9000), column::header, "no checksum"},
      {turbo("Freeload", "GAME", 0x1000, 0x9000), column::program, "ok"},
      {turbo("Freeload", "GAME", 0x1000, 0x9000), column::position, "1:23"},
      // A stretch: where it lies and what it is made of, nothing it lacks.
      {stretch(30000, 41.7, {0x28, 0x50}), column::loader, "unrecognised"},
      {stretch(30000, 41.7, {0x28, 0x50}), column::type, "30000 pulses, 0:41, mostly $28 $50"},
      {stretch(1, 0.2, {}), column::type, "1 pulse, 0:00"},
      {stretch(30000, 41.7, {0x28}), column::position, "2:05"},
      {stretch(30000, 41.7, {0x28}), column::start, ""},
      {stretch(30000, 41.7, {0x28}), column::size, ""},
      {stretch(30000, 41.7, {0x28}), column::header, ""},
      {stretch(30000, 41.7, {0x28}), column::program, ""},
      {stretch(30000, 41.7, {0x28}), column::number, ""},
      // What a file holds, where its addresses cannot span it: a turbo chain
      // loading over memory more than once, or up to its very top; a ROM
      // file's size is its header's, whatever its data block holds.
      {holding(turbo("Ocean-Imagine", "", 0x0800, 0x1B00), 70400), column::size, "70400"},
      {holding(turbo("Ocean-Imagine", "", 0x0800, 0x1B00), 70400, true), column::size, "70400"},
      {holding(turbo("Freeload", "", 0xC000, 0x0000), 16384), column::size, "16384"},
      {turbo("Freeload", "", 0xC000, 0x0000), column::size, ""},
      {holding(turbo("Freeload", "", 0x1000, 0x9000), 32768), column::size, "32768"},
      {holding(entry(1, 1, 0x0801, 0x0841, "", 0), 100), column::size, "64"},
  };
  for (const auto& r : edges) EXPECT_EQ(cell(r.e, r.c, false), r.want);
  // Both ways at once, as the page takes them, are each cell as asked alone.
  catalogue_entry block = entry(1, 1, 0x1000, 0x9000, "\x05GAME", 3);
  block.kind = entry_kind::block;
  block.block_bytes = 192;
  for (const catalogue_entry& any : {e, edges[10].e, edges[17].e, block}) {
    const auto [plain, escaped] = cells_both_ways(any);
    for (std::size_t c = 0; c < COLUMNS; ++c) {
      EXPECT_EQ(plain[c], cell(any, static_cast<column>(c), false));
      EXPECT_EQ(escaped[c], cell(any, static_cast<column>(c), true));
    }
  }
}

TEST(CatalogueText, CsvQuotedWhereItMustBe) {
  for (const auto& [field, want] : {std::pair<std::string, std::string>{"a", "a"},
                                    {"a b", "a b"},
                                    {"a\nb", "\"a\nb\""},
                                    {"a\rb", "\"a\rb\""},
                                    {"\"", "\"\"\"\""},
                                    {"x,y", "\"x,y\""},
                                    {"", ""}})
    EXPECT_EQ(csv_field(field), want);
  EXPECT_EQ(csv_heading(),
            "tape,number,name,type,start,end,size,position,header,program,loader\r\n");
  const catalogue_entry e = entry(1, 3, 0x1000, 0x1010, "A,\"B\"", 61);
  EXPECT_EQ(csv_row("comma, \"quote\".tap", e, false),
            "\"comma, \"\"quote\"\".tap\",001,\"A,\"\"B\"\"\",\"3: program, fixed address\","
            "$1000,$1010,16,1:01,ok,repeat only,ROM\r\n");
}

TEST(CatalogueText, FileNamesSafeAnywhere) {
  const struct {
    const char* name;
    const char* want;
  } rows[] = {
      {"GAME", "GAME"},
      {"  SPACED  ", "SPACED"},
      {"A/B:C*?", "A_B_C__"},
      {"", "program"},
      {"..", "program"},
      {".HIDDEN", "HIDDEN"},
      {"\x01"
       "CTRL",
       "_CTRL"},
      {"A\\B|C<D>\"", "A_B_C_D__"},
      {"CON", "_CON"},
      {"nul.txt", "_nul.txt"},
      {"COM7", "_COM7"},
      {"COM", "COM"},
      {"LPT0", "LPT0"},
      {"CONSOLE", "CONSOLE"},
  };
  for (const auto& r : rows) EXPECT_EQ(safe_file_name(r.name), r.want) << r.name;
  EXPECT_EQ(prg_file_name(entry(1, 1, 0, 0, "\x93MY/GAME", 0)), "MY_GAME.prg");
}

TEST(CatalogueText, JsonValidWhateverTheBytes) {
  const struct {
    std::string bytes;
    const char* want;
    bool utf8;
  } rows[] = {
      {"plain.tap", "\"plain.tap\"", true},
      {"quote\" and \\", "\"quote\\\" and \\\\\"", true},
      {"new\nline\x01", "\"new\\u000aline\\u0001\"", true},
      {"caf\xC3\xA9", "\"caf\xC3\xA9\"", true},
      {"\xF0\x9F\x93\xBC", "\"\xF0\x9F\x93\xBC\"", true},
      {"bad\xFF", "\"bad\\ufffd\"", false},
      {"cut\xC3", "\"cut\\ufffd\"", false},
      {"overlong\xC0\xAF", "\"overlong\\ufffd\\ufffd\"", false},
      {"surrogate\xED\xA0\x80", "\"surrogate\\ufffd\\ufffd\\ufffd\"", false},
      {std::string("zero\0byte", 9), "\"zero\\u0000byte\"", true},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(json_string(r.bytes), r.want);
    EXPECT_EQ(valid_utf8(r.bytes), r.utf8);
  }
  catalogue_entry e = entry(2, 1, 0x0801, 0x0803, "HI", 1.5);
  e.offset = 12345678901;
  e.program = {1, 2};
  EXPECT_EQ("{" + record_json_fields(e) + "}",
            "{\"kind\":\"file\",\"loader\":\"rom\",\"number\":2,\"type\":1,"
            "\"name\":[72,73,32,32,32,32,32,32,32,32,32,32,32,32,32,32],"
            "\"start\":2049,\"end\":2051,\"offset\":12345678901,\"seconds\":1.5,\"header\":\"ok\","
            "\"programCheck\":\"repeat\",\"programSize\":2,\"length\":0,\"duration\":0,"
            "\"pulseValues\":[]}");
  catalogue_entry gap = stretch(30000, 41.25, {0x28, 0x50});
  EXPECT_EQ(record_json_fields(gap).substr(0, 34), "\"kind\":\"unrecognised\",\"loader\":\"\",");
  EXPECT_NE(
      record_json_fields(gap).find(",\"length\":30000,\"duration\":41.25,\"pulseValues\":[40,80]"),
      std::string::npos);
  e.seconds = 0.1 + 0.2;  // the shortest text that reads back as the same number
  EXPECT_NE(record_json_fields(e).find("\"seconds\":0.30000000000000004,"), std::string::npos);

  // Every time is the fewest digits that read back, as counting up from one
  // finds them: times as cycles over each clock, whole and round numbers,
  // the smallest and largest, and zero either way.
  std::vector<double> times = {
      0.0, -0.0,   1, 100, 1e21, 0.1, 1e-7, 5e-324, 1.7976931348623157e308, 123456789012345678.0,
      0.5, 2.0 / 3};
  for (const double clock : {985248.0, 1022727.0, 1108405.0, 1000000.0})
    for (std::uint64_t cycles = 1; cycles < (std::uint64_t{1} << 40); cycles += cycles / 64 + 1)
      times.push_back(static_cast<double>(cycles) / clock);
  for (const double t : times) {
    char want[40];
    for (int digits = 1; digits <= 17; ++digits) {
      std::snprintf(want, sizeof want, "%.*g", digits, t);
      if (std::strtod(want, nullptr) == t) break;
    }
    e.seconds = t;
    EXPECT_NE(record_json_fields(e).find("\"seconds\":" + std::string(want) + ","),
              std::string::npos)
        << want;
  }
}

}  // namespace
