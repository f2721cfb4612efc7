// zlib's deflate, for the streams the inflater is held to in the tests, the
// benchmark and the fuzz corpus; and the inflater fed a stream in pieces.
#ifndef BRIVANE_TESTS_ZLIB_DEFLATE_H
#define BRIVANE_TESTS_ZLIB_DEFLATE_H

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "archive/deflate.h"

/// data deflated by zlib: window_bits -8 to -15 give a raw stream, 24 to 31
/// a gzip member. Empty when zlib refuses (no stream is empty).
inline std::vector<std::uint8_t> zlib_deflate(const std::uint8_t* data, std::size_t size,
                                              int level = 6, int strategy = Z_DEFAULT_STRATEGY,
                                              int window_bits = -15) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, window_bits, 8, strategy) != Z_OK) return {};
  std::vector<std::uint8_t> out(deflateBound(&z, static_cast<uLong>(size)) + 64);
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = static_cast<uInt>(size);
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const bool done = deflate(&z, Z_FINISH) == Z_STREAM_END;
  out.resize(done ? z.total_out : 0);
  deflateEnd(&z);
  return out;
}

/// What an inflater made of a stream.
struct inflated {
  std::vector<std::uint8_t> out;
  inflate_fault fault;
  bool finished;
  std::size_t largest_step = 0;
};

/// Feeds data to a new reader (deflate_decoder or gzip_reader) in pieces of
/// the given size, taking every step's bytes.
template <class reader>
inflated inflate_in_pieces(const std::uint8_t* data, std::size_t size, std::size_t piece) {
  reader inf;
  inflated r;
  auto take = [&] {
    while (const std::size_t n = inf.step()) {
      r.largest_step = std::max(r.largest_step, n);
      r.out.insert(r.out.end(), inf.output(), inf.output() + n);
    }
  };
  for (std::size_t at = 0; at < size; at += piece) {
    inf.feed(data + at, std::min(piece, size - at));
    take();
  }
  inf.end();
  take();
  r.fault = inf.fault();
  r.finished = inf.finished();
  return r;
}

#endif
