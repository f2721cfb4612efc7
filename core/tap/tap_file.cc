// The TAP file's header and the machines' clocks.
#include "tap/tap_file.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>

#if defined(__wasm_simd128__) && !defined(BRIVANE_NO_SIMD)
// WebAssembly has no sum of absolute differences, which SSE2's sums below
// are made of: widening pairwise adds take its place there.
#define BRIVANE_WASM_SUMS 1
#include <wasm_simd128.h>
#elif defined(__SSE2__) && !defined(BRIVANE_NO_SIMD)
#include <emmintrin.h>
#endif

machine_timing timing_of(machine m) {
  switch (m) {
    case machine::c64_pal:
      return {PAL_CLOCK, 0, 0};
    case machine::c64_ntsc:
      return {NTSC_CLOCK, 0, 1};
    case machine::vic20_pal:
      return {VIC20_PAL_CLOCK, 1, 0};
    case machine::vic20_ntsc:
      return {NTSC_CLOCK, 1, 1};
  }
  return {PAL_CLOCK, 0, 0};
}

const machine_choice MACHINES[4] = {{machine::c64_pal, "c64-pal", "C64, PAL"},
                                    {machine::c64_ntsc, "c64-ntsc", "C64, NTSC"},
                                    {machine::vic20_pal, "vic20-pal", "VIC-20, PAL"},
                                    {machine::vic20_ntsc, "vic20-ntsc", "VIC-20, NTSC"}};

std::string machine_names(std::string_view last_joiner) {
  std::string names;
  for (std::size_t i = 0; i < std::size(MACHINES); ++i) {
    if (i > 0) names += i + 1 == std::size(MACHINES) ? last_joiner : std::string_view(", ");
    names += MACHINES[i].name;
  }
  return names;
}

std::string tap_name_for(std::string_view recording) {
  const std::size_t slash = recording.find_last_of("/\\");
  const std::size_t last = slash == std::string_view::npos ? 0 : slash + 1;
  const std::size_t dot = recording.rfind('.');
  const bool has_extension = dot != std::string_view::npos && dot > last;
  return std::string(has_extension ? recording.substr(0, dot) : recording) + ".tap";
}

bool machine_named(std::string_view name, machine& m) {
  const struct {
    std::string_view name;
    machine m;
  } known[] = {{MACHINES[0].name, MACHINES[0].id}, {MACHINES[1].name, MACHINES[1].id},
               {MACHINES[2].name, MACHINES[2].id}, {MACHINES[3].name, MACHINES[3].id},
               {"pal", machine::c64_pal},          {"ntsc", machine::c64_ntsc}};
  for (const auto& k : known) {
    if (name.size() != k.name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < name.size() && same; ++i)
      same = std::tolower(static_cast<unsigned char>(name[i])) == k.name[i];
    if (same) {
      m = k.m;
      return true;
    }
  }
  return false;
}

std::vector<std::uint8_t> tap_header(std::size_t size, machine m) {
  const machine_timing t = timing_of(m);
  std::vector<std::uint8_t> h = {'C', '6', '4', '-', 'T', 'A',        'P',     'E',
                                 '-', 'R', 'A', 'W', 1,   t.platform, t.video, 0};
  for (int i = 0; i < 4; ++i) h.push_back(static_cast<std::uint8_t>(size >> (8 * i)));
  return h;
}

namespace {

constexpr std::uint64_t OVERFLOW_CYCLES = std::uint64_t{256} * 8;

// Adds up p[0..) to sum until a 0 or the end, n bytes on: returns how many
// bytes were added, which is where the 0 is when there is one. A tape's
// zeros are few, so sixteen bytes are looked at together.
#ifdef BRIVANE_WASM_SUMS
// Adds up sixteen bytes at a time from p[i] on, until fewer than sixteen are
// left or, with stop_at_zero, sixteen that hold a 0: returns where it stopped.
std::size_t sum16(const std::uint8_t* p, std::size_t i, std::size_t n, bool stop_at_zero,
                  std::uint64_t& sum) {
  // Each 32-bit lane gains at most 4 * 255 a step: its sum is taken out
  // long before it could overflow.
  constexpr std::size_t STEPS = std::size_t{1} << 20;
  const v128_t none = wasm_i8x16_splat(0);
  while (i + 16 <= n) {
    v128_t sums = none;
    const std::size_t end = i + std::min((n - i) / 16, STEPS) * 16;
    for (; i < end; i += 16) {
      const v128_t x = wasm_v128_load(p + i);
      if (stop_at_zero && wasm_v128_any_true(wasm_i8x16_eq(x, none))) break;
      sums = wasm_i32x4_add(sums,
                            wasm_u32x4_extadd_pairwise_u16x8(wasm_u16x8_extadd_pairwise_u8x16(x)));
    }
    sum += std::uint64_t{wasm_u32x4_extract_lane(sums, 0)} + wasm_u32x4_extract_lane(sums, 1) +
           wasm_u32x4_extract_lane(sums, 2) + wasm_u32x4_extract_lane(sums, 3);
    if (i < end) break;
  }
  return i;
}
#endif

std::size_t sum_to_zero(const std::uint8_t* p, std::size_t n, std::uint64_t& sum) {
  std::size_t i = 0;
#ifdef BRIVANE_WASM_SUMS
  i = sum16(p, i, n, true, sum);
#elif defined(__SSE2__) && !defined(BRIVANE_NO_SIMD)
  const __m128i none = _mm_setzero_si128();
  __m128i sums = none;  // two 64-bit sums
  for (; i + 16 <= n; i += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    // A 0 among them: those are added byte by byte below.
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(x, none)) != 0) break;
    sums = _mm_add_epi64(sums, _mm_sad_epu8(x, none));
  }
  std::uint64_t halves[2];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(halves), sums);
  sum += halves[0] + halves[1];
#endif
  std::uint64_t rest = 0;
  for (; i < n && p[i] != 0; ++i) rest += p[i];
  sum += rest;
  return i;
}

// Cycles of pulses that hold no pause: 8 per unit, the longest for a 0.
std::uint64_t pulse_cycles(const std::uint8_t* p, std::size_t n) {
  std::uint64_t sum = 0, zeros = 0;
  while (n > 0) {
    const std::size_t k = sum_to_zero(p, n, sum);
    if (k == n) break;
    ++zeros;
    p += k + 1;
    n -= k + 1;
  }
  return 8 * sum + OVERFLOW_CYCLES * zeros;
}

}  // namespace

std::uint64_t pulse_units(const std::uint8_t* p, std::size_t n) {
  std::uint64_t sum = 0;
  std::size_t i = 0;
#ifdef BRIVANE_WASM_SUMS
  i = sum16(p, i, n, false, sum);
#elif defined(__SSE2__) && !defined(BRIVANE_NO_SIMD)
  const __m128i none = _mm_setzero_si128();
  __m128i sums = none;
  for (; i + 16 <= n; i += 16)
    sums = _mm_add_epi64(
        sums, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)), none));
  std::uint64_t halves[2];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(halves), sums);
  sum = halves[0] + halves[1];
#endif
  for (; i < n; ++i) sum += p[i];
  return sum;
}

tap_layout tap_layout_of(const std::uint8_t* first20) {
  const bool signature = std::memcmp(first20, "C64-TAPE-RAW", 12) == 0;
  return {signature, signature && first20[12] >= 1};
}

void tap_clock::decide() {
  const tap_layout layout = tap_layout_of(head_);
  signature_ = layout.signature;
  pauses_ = layout.pauses;
  if (!signature_) {
    const std::uint64_t taken = taken_;
    taken_ -= TAP_HEADER_SIZE;
    pulses(head_, TAP_HEADER_SIZE);  // no header: these were pulses
    taken_ = taken;
  }
}

// Pulses with no pause among them: a 0 is the longest pulse.
void tap_clock::pulses(const std::uint8_t* p, std::size_t n) {
  if (!marks_) {
    cycles_ += pulse_cycles(p, n);
    taken_ += n;
    return;
  }
  while (n > 0) {
    std::uint64_t sum = 0;
    const std::size_t k = sum_to_zero(p, n, sum);
    cycles_ += 8 * sum;
    taken_ += k;
    if (k == n) return;
    marks_->push_back({taken_, cycles_, OVERFLOW_CYCLES, 1});
    cycles_ += OVERFLOW_CYCLES;
    ++taken_;
    p += k + 1;
    n -= k + 1;
  }
}

void tap_clock::advance(const std::uint8_t* p, std::size_t n) {
  while (head_size_ < TAP_HEADER_SIZE && n > 0) {
    head_[head_size_++] = *p++;
    --n;
    ++taken_;
    if (head_size_ == TAP_HEADER_SIZE) decide();
  }
  if (!pauses_) {
    pulses(p, n);
    return;
  }
  while (n > 0) {
    if (pause_left_ > 0) {
      pause_ |= std::uint32_t{*p++} << (8 * (3 - pause_left_));
      --n;
      ++taken_;
      if (--pause_left_ == 0) {
        if (marks_) marks_->push_back({taken_ - 4, cycles_, pause_, 4});
        cycles_ += pause_;
      }
      continue;
    }
    std::uint64_t sum = 0;
    const std::size_t k = sum_to_zero(p, n, sum);
    cycles_ += 8 * sum;
    taken_ += k;
    p += k;
    n -= k;
    if (n > 0) {  // a pause opens
      ++p;
      --n;
      ++taken_;
      pause_left_ = 3;
      pause_ = 0;
    }
  }
}
