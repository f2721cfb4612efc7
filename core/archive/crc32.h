// CRC-32 as zip archives and gzip files record it for their contents.
#ifndef BRIVANE_ARCHIVE_CRC32_H
#define BRIVANE_ARCHIVE_CRC32_H

#include <cstddef>
#include <cstdint>

/// The CRC-32 of the bytes so far, given crc for those before these n
/// (0 before the first).
std::uint32_t crc32_update(std::uint32_t crc, const std::uint8_t* bytes, std::size_t n);

#endif
