// CRC-32 as zip and gzip compute it, from tables, sixteen bytes a step.
#include "archive/crc32.h"

namespace {

// Sixteen tables, so that sixteen bytes are taken a step: table n gives a
// byte's share of the CRC when n bytes follow it.
struct crc_tables {
  std::uint32_t t[16][256];
  crc_tables() : t() {
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[0][i] = c;
    }
    for (int n = 1; n < 16; ++n)
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
  for (; n >= 16; n -= 16, p += 16) {
    const std::uint32_t lo =
        crc ^ (p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24);
    crc = t[15][lo & 0xFF] ^ t[14][(lo >> 8) & 0xFF] ^ t[13][(lo >> 16) & 0xFF] ^ t[12][lo >> 24] ^
          t[11][p[4]] ^ t[10][p[5]] ^ t[9][p[6]] ^ t[8][p[7]] ^ t[7][p[8]] ^ t[6][p[9]] ^
          t[5][p[10]] ^ t[4][p[11]] ^ t[3][p[12]] ^ t[2][p[13]] ^ t[1][p[14]] ^ t[0][p[15]];
  }
  for (; n > 0; --n) crc = t[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
  return ~crc;
}
