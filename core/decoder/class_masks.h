// The pulse classes of many pulses at once, as bit masks: what the bulk scan
// and the catalogue's block reader look at to cross whole stretches of
// pulses without stepping through each one.
#ifndef BRIVANE_DECODER_CLASS_MASKS_H
#define BRIVANE_DECODER_CLASS_MASKS_H

#include <cstddef>
#include <cstdint>

#include "decoder/tape_decoder.h"

#if defined(__SSE2__) && !defined(BRIVANE_NO_SIMD)
#define BRIVANE_SSE2 1
#include <emmintrin.h>
#endif

/// Which of 64 pulses are short and which medium: bit k for p[k].
struct class_masks {
  std::uint64_t shorts, mediums;
};

/// The two masks, one pulse at a time: what a machine without SSE2 runs.
inline class_masks classes_of64_portable(const std::uint8_t* p) {
  class_masks c{0, 0};
  for (std::size_t k = 0; k < 64; ++k) {
    c.shorts |= std::uint64_t{is_short(p[k])} << k;
    c.mediums |= std::uint64_t{is_medium(p[k])} << k;
  }
  return c;
}

#ifdef BRIVANE_SSE2
/// Bit k set when lo <= p[k] <= lo + 18, for 16 pulses: the short class is
/// 39 to 57 and the medium one 57 to 75, each 18 wide.
inline std::uint32_t in_class16(const std::uint8_t* p, int lo) {
  const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i above = _mm_sub_epi8(x, _mm_set1_epi8(static_cast<char>(lo)));
  return static_cast<std::uint16_t>(
      _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(above, _mm_set1_epi8(18)), above)));
}

/// Bit k set when p[k] is short, for 16 pulses.
inline std::uint32_t short_mask16(const std::uint8_t* p) { return in_class16(p, 39); }

/// The two masks, sixteen pulses at a time.
inline class_masks classes_of64_sse2(const std::uint8_t* p) {
  class_masks c{0, 0};
  for (std::size_t k = 0; k < 4; ++k) {
    c.shorts |= std::uint64_t{in_class16(p + 16 * k, 39)} << (16 * k);
    c.mediums |= std::uint64_t{in_class16(p + 16 * k, 57)} << (16 * k);
  }
  return c;
}
#endif

/// How a reader finds the classes of many pulses: the fastest way this
/// build has, or one at a time, as a build without SSE2 does; or with no
/// stretch crossed at once but every pulse stepped through (for tests that
/// hold each way to the others).
enum class class_path { fastest, portable, stepped };

#endif
