// The renderer: a decoded name trimmed and turned into the bytes shown, with the control codes'
// names.
#include "render/filename.h"

// clang-format off
const char* const control_names_low[32] = {
    /*   0 */ ".", ".", ".", ".", ".", "{WHITE}", ".", ".",
    /*   8 */ "{DISABLE SHIFT+C=}", "{ENABLE SHIFT+C=}", ".", ".", ".", "{RETURN}", "{SMALL CHARS}", ".",
    /*  16 */ ".", "{CURS DOWN}", "{REVERSE ON}", "{HOME}", "{INST DEL}", ".", ".", ".",
    /*  24 */ ".", ".", ".", ".", "{RED}", "{CURS RIGHT}", "{GREEN}", "{BLU}",
};

const char* const control_names_high[33] = {
    /* 128 */ ".", ".", ".", ".", ".", "{F1}", "{F2}", "{F3}",
    /* 136 */ "{F4}", "{F5}", "{F6}", "{F7}", "{F8}", "{SHIFT+RETURN}", "{CAPITAL CHARS}", ".",
    /* 144 */ "{BLACK}", "{CURS UP}", "{REVERSE OFF}", "{CLEAR & HOME}", "{SHIFT+INST DEL}", ".", ".", ".",
    /* 152 */ ".", ".", ".", ".", "{PURPLE}", "{CURS LEFT}", "{YELLOW}", "{CYAN}",
    /* 160 */ "{SHIFT+SPACE}",
};
// clang-format on

std::string render_filename(std::uint8_t* name_buf, bool escape) {
  for (int i = 15; i >= 0 && name_buf[i] == ' '; --i) name_buf[i] = 0;

  std::string out;
  for (const std::uint8_t* p = name_buf; *p != 0; ++p) {
    const std::uint8_t c = *p;
    if (c >= 32 && c <= 93) {
      out += static_cast<char>(c);
    } else if (c >= 161) {
      out += '.';
    } else if (escape) {
      if (c < 32)
        out += control_names_low[c];
      else if (c >= 128)
        out += control_names_high[c - 128];
      else
        out += '.';  // 94 to 127
    }
  }
  return out;
}
