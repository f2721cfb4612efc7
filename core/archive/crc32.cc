// CRC-32, a table-driven byte at a time, as zip and gzip compute it.
#include "archive/crc32.h"

namespace {

// Eight tables, so that eight bytes are taken a step.
struct crc_tables {
  std::uint32_t t[8][256];
  crc_tables() : t() {
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[0][i] = c;
    }
    for (int n = 1; n < 8; ++n)
      for (std::uint32_t i = 0; i < 256; ++i)
        t[n][i] = (t[n - 1][i] >> 8) ^ t[0][t[n - 1][i] & 0xFF];
  }
};

}  // namespace

std::uint32_t crc32_update(std::uint32_t crc, const std::uint8_t* bytes, std::size_t n) {
  static const crc_tables tables;
  const auto& t = tables.t;
  const std::uint8_t* p = bytes;
  crc = ~crc;
  for (; n >= 8; n -= 8, p += 8) {
    const std::uint32_t lo =
        crc ^ (p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24);
    crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
          t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
  }
  for (; n > 0; --n) crc = t[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
  return ~crc;
}
