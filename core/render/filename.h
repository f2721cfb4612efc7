// Turns a decoded tape filename into the bytes shown for it.
#ifndef BRIVANE_RENDER_FILENAME_H
#define BRIVANE_RENDER_FILENAME_H

#include <cstdint>
#include <string>

/// Display strings for PETSCII 0 to 31 and for 128 to 160 (index value - 128)
/// in escape mode; "." where a code has no name.
extern const char* const control_names_low[32];
extern const char* const control_names_high[33];

/// Trims trailing spaces of name_buf[0..15] in place (they become 0) and
/// returns the bytes of the name up to the first 0: 32 to 93 as themselves,
/// 161 to 255 as ".", and the rest named or dotted with escape,
/// dropped without it. name_buf[16] must be 0.
std::string render_filename(std::uint8_t* name_buf, bool escape);

#endif
