// The renderer: trimming, and every byte value with and without -e.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "render/filename.h"

namespace {

// Renders a 16-byte name held in a string (shorter ones are padded with spaces).
std::string render(std::string name, bool escape) {
  name.resize(16, ' ');
  std::uint8_t buf[17];
  std::memcpy(buf, name.data(), 16);
  buf[16] = 0;
  return render_filename(buf, escape);
}

// What a person sees for every byte value in both modes, each between two
// letters so that trimming plays no part. Every name is listed by its value:
// a name moved to another slot fails here, not only a slot left empty.
TEST(RenderByte, EveryValueInBothModes) {
  const std::map<int, std::string> names = {
      {5, "{WHITE}"},
      {8, "{DISABLE SHIFT+C=}"},
      {9, "{ENABLE SHIFT+C=}"},
      {13, "{RETURN}"},
      {14, "{SMALL CHARS}"},
      {17, "{CURS DOWN}"},
      {18, "{REVERSE ON}"},
      {19, "{HOME}"},
      {20, "{INST DEL}"},
      {28, "{RED}"},
      {29, "{CURS RIGHT}"},
      {30, "{GREEN}"},
      {31, "{BLU}"},
      {133, "{F1}"},
      {134, "{F2}"},
      {135, "{F3}"},
      {136, "{F4}"},
      {137, "{F5}"},
      {138, "{F6}"},
      {139, "{F7}"},
      {140, "{F8}"},
      {141, "{SHIFT+RETURN}"},
      {142, "{CAPITAL CHARS}"},
      {144, "{BLACK}"},
      {145, "{CURS UP}"},
      {146, "{REVERSE OFF}"},
      {147, "{CLEAR & HOME}"},
      {148, "{SHIFT+INST DEL}"},
      {156, "{PURPLE}"},
      {157, "{CURS LEFT}"},
      {158, "{YELLOW}"},
      {159, "{CYAN}"},
      {160, "{SHIFT+SPACE}"},
  };
  for (int v = 1; v < 256; ++v) {
    const std::string raw(1, static_cast<char>(v));
    const bool printable = v >= 32 && v <= 93;  // raw bytes, no translation (92 is the pound sign)
    const auto named = names.find(v);
    const std::string escaped = printable ? raw : named != names.end() ? named->second : ".";
    const std::string plain = printable ? raw : v >= 161 ? "." : "";
    const std::string name = "<" + raw + ">";
    EXPECT_EQ(render(name, true), "<" + escaped + ">") << v;
    EXPECT_EQ(render(name, false), "<" + plain + ">") << v;
  }
}

TEST(RenderTrim, OnlyTrailingSpacesGo) {
  const struct {
    std::string name;
    const char* shown;
  } cases[] = {
      {std::string(16, ' '), ""},
      {"HELLO", "HELLO"},
      {" A B  C", " A B  C"},
      {std::string("A") + std::string(14, ' ') + '\0', "A              "},
      {std::string("\0ABC", 4), ""},
      {std::string("AB\0CD", 5), "AB"},
      {"AB\xa0", "AB{SHIFT+SPACE}"},
  };
  for (const auto& c : cases) EXPECT_EQ(render(c.name, true), c.shown) << c.name;
  EXPECT_EQ(render("AB\xa0", false), "AB");
}

TEST(RenderTrim, TrailingSpacesBecomeZerosInPlace) {
  std::uint8_t buf[17] = {'A', ' ', 'B'};
  std::memset(buf + 3, ' ', 13);
  buf[16] = 0;
  render_filename(buf, false);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 4), std::string("A B\0", 4));
  EXPECT_EQ(buf[15], 0);
}

}  // namespace
