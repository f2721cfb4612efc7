#include <algorithm>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "render/filename.h"

namespace {

// Renders a 16-byte name held in a string (shorter ones are padded with spaces).
std::string render(std::string name, int escape) {
  name.resize(16, ' ');
  std::uint8_t buf[17];
  std::memcpy(buf, name.data(), 16);
  buf[16] = 0;
  return render_filename(buf, escape);
}

struct byte_case {
  int value;
  const char* escaped;
  const char* plain;
};

// Each byte between two letters, so that trimming plays no part.
TEST(RenderByte, EachRangeInBothModes) {
  const byte_case cases[] = {
      {1, ".", ""},
      {5, "{WHITE}", ""},
      {8, "{DISABLE SHIFT+C=}", ""},
      {13, "{RETURN}", ""},
      {27, ".", ""},
      {31, "{BLU}", ""},
      {32, " ", " "},
      {34, "\"", "\""},
      {65, "A", "A"},
      {92, "\\", "\\"},  // PETSCII pound sign, passed through untranslated
      {93, "]", "]"},
      {94, ".", ""},
      {97, ".", ""},
      {127, ".", ""},
      {128, ".", ""},
      {129, ".", ""},
      {133, "{F1}", ""},
      {147, "{CLEAR & HOME}", ""},
      {159, "{CYAN}", ""},
      {160, "{SHIFT+SPACE}", ""},
      {161, ".", "."},
      {193, ".", "."},
      {255, ".", "."},
  };
  for (const auto& c : cases) {
    const std::string name = std::string("<") + static_cast<char>(c.value) + ">";
    EXPECT_EQ(render(name, 1), std::string("<") + c.escaped + ">") << c.value;
    EXPECT_EQ(render(name, 0), std::string("<") + c.plain + ">") << c.value;
    EXPECT_EQ(render(name, 42), render(name, 1)) << "any nonzero flag escapes";
  }
}

TEST(RenderByte, EveryValueStaysInTheAllowedSet) {
  for (int v = 1; v < 256; ++v) {
    const std::string out = render(std::string(1, static_cast<char>(v)) + "Z", 1);
    const bool named = out.size() > 2 && out.front() == '{' && out[out.size() - 2] == '}';
    if (v >= 32 && v <= 93)
      EXPECT_EQ(out, std::string(1, static_cast<char>(v)) + "Z");
    else
      EXPECT_TRUE(out == ".Z" || named) << v << " -> " << out;
  }
}

TEST(ControlNames, TablesHaveTheirNamedSlots) {
  const int low_named[] = {5, 8, 9, 13, 14, 17, 18, 19, 20, 28, 29, 30, 31};
  for (int v = 0; v < 32; ++v) {
    const bool named = std::find(std::begin(low_named), std::end(low_named), v) != std::end(low_named);
    ASSERT_NE(control_names_low[v], nullptr);
    EXPECT_EQ(control_names_low[v][0], named ? '{' : '.') << v;
    if (!named) {
      EXPECT_STREQ(control_names_low[v], ".");
    }
  }
  const int high_named[] = {133, 134, 135, 136, 137, 138, 139, 140, 141, 142,
                            144, 145, 146, 147, 148, 156, 157, 158, 159, 160};
  for (int v = 128; v <= 160; ++v) {
    const bool named = std::find(std::begin(high_named), std::end(high_named), v) != std::end(high_named);
    ASSERT_NE(control_names_high[v - 128], nullptr);
    EXPECT_EQ(control_names_high[v - 128][0], named ? '{' : '.') << v;
    if (!named) {
      EXPECT_STREQ(control_names_high[v - 128], ".");
    }
  }
  EXPECT_STREQ(control_names_low[31], "{BLU}");
  EXPECT_STREQ(control_names_high[140 - 128], "{F8}");
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
  for (const auto& c : cases) EXPECT_EQ(render(c.name, 1), c.shown) << c.name;
  EXPECT_EQ(render("AB\xa0", 0), "AB");
}

TEST(RenderTrim, TrailingSpacesBecomeZerosInPlace) {
  std::uint8_t buf[17] = {'A', ' ', 'B'};
  std::memset(buf + 3, ' ', 13);
  buf[16] = 0;
  render_filename(buf, 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 4), std::string("A B\0", 4));
  EXPECT_EQ(buf[15], 0);
}

}  // namespace
