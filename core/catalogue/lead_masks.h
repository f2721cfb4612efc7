// Sixty-four pulses at a time as bit masks, for the turbo reader to cross
// stretches that hold no lead without stepping through each pulse: which
// pulses are like the one eight before (a lead repeats every eight), which
// are zeros (a pause breaks every stream), which are at or above a
// loader's threshold; and their sum, for the time they take.
#ifndef BRIVANE_CATALOGUE_LEAD_MASKS_H
#define BRIVANE_CATALOGUE_LEAD_MASKS_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "decoder/class_masks.h"

/// Bit k set when p[k] is within like of the pulse eight before it, for k
/// below 64: head[k] for the first sixteen (the eight before p, then p's
/// first eight), p[k - 8] for the rest.
inline std::uint64_t alike_mask64_portable(const std::uint8_t* p, const std::uint8_t* head,
                                           int like) {
  std::uint64_t m = 0;
  for (std::size_t k = 0; k < 64; ++k)
    m |= std::uint64_t{std::abs(p[k] - (k < 16 ? head[k] : p[k - 8])) <= like} << k;
  return m;
}

/// Bit k set when p[k] is 0.
inline std::uint64_t zero_mask64_portable(const std::uint8_t* p) {
  std::uint64_t m = 0;
  for (std::size_t k = 0; k < 64; ++k) m |= std::uint64_t{p[k] == 0} << k;
  return m;
}

/// Bit k set when p[k] >= threshold (1 to 255).
inline std::uint64_t at_least_mask64_portable(const std::uint8_t* p, int threshold) {
  std::uint64_t m = 0;
  for (std::size_t k = 0; k < 64; ++k) m |= std::uint64_t{p[k] >= threshold} << k;
  return m;
}

/// The sum of the first n of 64 pulses, of those at or above threshold
/// (0 for all of them).
inline unsigned sum_first_portable(const std::uint8_t* p, unsigned n, int threshold) {
  unsigned s = 0;
  for (std::size_t k = 0; k < n; ++k) s += p[k] >= threshold ? p[k] : 0;
  return s;
}

/// The least, the greatest and the sum of 64 pulses.
struct block_stats {
  unsigned least, most, sum;
};

inline block_stats stats_portable(const std::uint8_t* p, std::size_t n) {
  block_stats b{255, 0, 0};
  for (std::size_t k = 0; k < n; ++k) {
    b.least = p[k] < b.least ? p[k] : b.least;
    b.most = p[k] > b.most ? p[k] : b.most;
    b.sum += p[k];
  }
  return b;
}

#ifdef BRIVANE_SSE2
inline __m128i load16(const std::uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

inline std::uint64_t alike_mask64_sse2(const std::uint8_t* p, const std::uint8_t* head, int like) {
  const __m128i limit = _mm_set1_epi8(static_cast<char>(like));
  std::uint64_t m = 0;
  for (std::size_t g = 0; g < 4; ++g) {
    const __m128i a = load16(p + 16 * g), b = load16(g == 0 ? head : p + 16 * g - 8);
    const __m128i diff = _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a));
    const __m128i ok = _mm_cmpeq_epi8(_mm_min_epu8(diff, limit), diff);
    m |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(ok))} << (16 * g);
  }
  return m;
}

inline std::uint64_t zero_mask64_sse2(const std::uint8_t* p) {
  const __m128i zero = _mm_setzero_si128();
  std::uint64_t m = 0;
  for (std::size_t g = 0; g < 4; ++g)
    m |= std::uint64_t{static_cast<std::uint16_t>(
             _mm_movemask_epi8(_mm_cmpeq_epi8(load16(p + 16 * g), zero)))}
         << (16 * g);
  return m;
}

/// Bit k set when p[k] >= threshold (1 to 255), for 16 pulses.
inline unsigned at_least_mask16_sse2(const std::uint8_t* p, int threshold) {
  const __m128i t = _mm_set1_epi8(static_cast<char>(threshold));
  const __m128i x = load16(p);
  return static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(x, t), x)));
}

inline std::uint64_t at_least_mask64_sse2(const std::uint8_t* p, int threshold) {
  std::uint64_t m = 0;
  for (std::size_t g = 0; g < 4; ++g)
    m |= std::uint64_t{at_least_mask16_sse2(p + 16 * g, threshold)} << (16 * g);
  return m;
}

inline unsigned sum_first_sse2(const std::uint8_t* p, unsigned n, int threshold) {
  const __m128i lanes = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  const __m128i t = _mm_set1_epi8(static_cast<char>(threshold));
  __m128i s = _mm_setzero_si128();
  for (unsigned g = 0; g < 4 && 16 * g < n; ++g) {
    const __m128i x = load16(p + 16 * g);
    // The lanes below n - 16g (compared as signed bytes: at most 16).
    const unsigned left = n - 16 * g > 16 ? 16 : n - 16 * g;
    const __m128i in = _mm_cmplt_epi8(lanes, _mm_set1_epi8(static_cast<char>(left)));
    const __m128i keep = _mm_and_si128(in, _mm_cmpeq_epi8(_mm_max_epu8(x, t), x));
    s = _mm_add_epi64(s, _mm_sad_epu8(_mm_and_si128(x, keep), _mm_setzero_si128()));
  }
  return static_cast<unsigned>(_mm_cvtsi128_si32(s) + _mm_cvtsi128_si32(_mm_srli_si128(s, 8)));
}
#endif

#ifdef BRIVANE_SSE2
/// n a multiple of 64.
inline block_stats stats_sse2(const std::uint8_t* p, std::size_t n) {
  const __m128i zero = _mm_setzero_si128();
  __m128i lo = _mm_set1_epi8(-1), hi = zero, s = zero;
  for (std::size_t at = 0; at < n; at += 64) {
    const __m128i a = load16(p + at), b = load16(p + at + 16), c = load16(p + at + 32),
                  d = load16(p + at + 48);
    lo = _mm_min_epu8(lo, _mm_min_epu8(_mm_min_epu8(a, b), _mm_min_epu8(c, d)));
    hi = _mm_max_epu8(hi, _mm_max_epu8(_mm_max_epu8(a, b), _mm_max_epu8(c, d)));
    s = _mm_add_epi64(s,
                      _mm_add_epi64(_mm_add_epi64(_mm_sad_epu8(a, zero), _mm_sad_epu8(b, zero)),
                                    _mm_add_epi64(_mm_sad_epu8(c, zero), _mm_sad_epu8(d, zero))));
  }
  // Halves folded onto each other, down to one byte (the shifts must be constants).
  lo = _mm_min_epu8(lo, _mm_srli_si128(lo, 8));
  hi = _mm_max_epu8(hi, _mm_srli_si128(hi, 8));
  lo = _mm_min_epu8(lo, _mm_srli_si128(lo, 4));
  hi = _mm_max_epu8(hi, _mm_srli_si128(hi, 4));
  lo = _mm_min_epu8(lo, _mm_srli_si128(lo, 2));
  hi = _mm_max_epu8(hi, _mm_srli_si128(hi, 2));
  lo = _mm_min_epu8(lo, _mm_srli_si128(lo, 1));
  hi = _mm_max_epu8(hi, _mm_srli_si128(hi, 1));
  return {static_cast<unsigned>(_mm_cvtsi128_si32(lo) & 0xFF),
          static_cast<unsigned>(_mm_cvtsi128_si32(hi) & 0xFF),
          static_cast<unsigned>(_mm_cvtsi128_si32(s) + _mm_cvtsi128_si32(_mm_srli_si128(s, 8)))};
}
#endif

/// The masks and sums the turbo reader takes, the fastest way this build has
/// or one pulse at a time.
struct lead_masks {
  bool fast;
  std::uint64_t alike(const std::uint8_t* p, const std::uint8_t* head, int like) const {
#ifdef BRIVANE_SSE2
    if (fast) return alike_mask64_sse2(p, head, like);
#endif
    return alike_mask64_portable(p, head, like);
  }
  std::uint64_t zeros(const std::uint8_t* p) const {
#ifdef BRIVANE_SSE2
    if (fast) return zero_mask64_sse2(p);
#endif
    return zero_mask64_portable(p);
  }
  std::uint64_t at_least(const std::uint8_t* p, int threshold) const {
#ifdef BRIVANE_SSE2
    if (fast) return at_least_mask64_sse2(p, threshold);
#endif
    return at_least_mask64_portable(p, threshold);
  }
  /// The same for 16 pulses: bit k set when p[k] >= threshold (1 to 255).
  unsigned at_least16(const std::uint8_t* p, int threshold) const {
#ifdef BRIVANE_SSE2
    if (fast) return at_least_mask16_sse2(p, threshold);
#endif
    unsigned m = 0;
    for (unsigned k = 0; k < 16; ++k) m |= unsigned{p[k] >= threshold} << k;
    return m;
  }
  /// Of n pulses, n a multiple of 64.
  block_stats stats(const std::uint8_t* p, std::size_t n = 64) const {
#ifdef BRIVANE_SSE2
    if (fast) return stats_sse2(p, n);
#endif
    return stats_portable(p, n);
  }
  /// The sum of the first n of 64 pulses.
  unsigned sum_first(const std::uint8_t* p, unsigned n) const { return sum_at_least(p, 0, n); }
  /// The sum of those of the first n of 64 pulses at or above threshold.
  unsigned sum_at_least(const std::uint8_t* p, int threshold, unsigned n) const {
#ifdef BRIVANE_SSE2
    if (fast) return sum_first_sse2(p, n, threshold);
#endif
    return sum_first_portable(p, n, threshold);
  }
};

/// Bit k set where bits k to k + 7 of m are all set: a run of eight.
inline std::uint64_t runs_of8(std::uint64_t m) {
  m &= m >> 1;
  m &= m >> 2;
  return m & m >> 4;
}

#endif
