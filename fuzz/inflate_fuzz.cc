// The inflater over arbitrary bytes: it never reads or writes out of bounds
// (the sanitizers watch); it gives the same bytes and the same fault, or
// none, however the bytes are split; and it agrees with zlib. Where zlib
// inflates a raw stream, or every gzip member of a file, to its end, it
// gives what zlib gives; where zlib finds one damaged, it finds a fault too.
// The first byte picks the wrapping and the size of the pieces.
#include <zlib.h>

#include <vector>

#include "archive/deflate.h"
#include "archive/gzip.h"
#include "fuzz_input.h"
#include "zlib_deflate.h"

namespace {

using byte_vector = std::vector<std::uint8_t>;

template <class reader>
void same_however_split(const std::uint8_t* data, std::size_t size, std::size_t piece,
                        inflated& whole) {
  whole = inflate_in_pieces<reader>(data, size, size + 1);
  const inflated split = inflate_in_pieces<reader>(data, size, piece);
  FUZZ_CHECK(whole.largest_step <= deflate_decoder::STEP &&
             split.largest_step <= deflate_decoder::STEP);
  FUZZ_CHECK(whole.finished != (whole.fault != inflate_fault::none));
  FUZZ_CHECK(whole.out == split.out);
  FUZZ_CHECK(whole.fault == split.fault);
}

// What zlib makes of the bytes: raw deflate, or gzip members one after
// another. Zeros after a member end the file for us (they pad it), so zlib
// is stopped there.
struct zlib_result {
  byte_vector out;
  int rc = Z_OK;
  bool zeros_after = false;  // it stopped at zeros after a member
};

zlib_result zlib_inflate(const std::uint8_t* data, std::size_t size, bool gzip) {
  zlib_result r;
  z_stream z{};
  if (inflateInit2(&z, gzip ? 16 + 15 : -15) != Z_OK) return r;
  r.out.resize(1024);
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = static_cast<uInt>(size);
  for (;;) {
    if (z.total_out == r.out.size()) r.out.resize(r.out.size() * 2);
    z.next_out = r.out.data() + z.total_out;
    z.avail_out = static_cast<uInt>(r.out.size() - z.total_out);
    r.rc = ::inflate(&z, Z_NO_FLUSH);
    r.zeros_after = r.rc == Z_STREAM_END && gzip && z.avail_in > 0 && *z.next_in == 0;
    if (r.rc == Z_STREAM_END && gzip && z.avail_in > 0 && *z.next_in != 0) {
      // Another member: a stream of its own, with a window of its own.
      const uLong made = z.total_out;
      inflateReset(&z);
      z.total_out = made;
      continue;
    }
    if (r.rc != Z_OK && !(r.rc == Z_BUF_ERROR && z.avail_out == 0))
      break;  // done, damaged, or the bytes ended
  }
  r.out.resize(z.total_out);
  inflateEnd(&z);
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const bool gzip = data[0] & 1;
  const std::size_t piece = 1 + (data[0] >> 1);
  ++data;
  --size;
  inflated whole;
  if (gzip)
    same_however_split<gzip_reader>(data, size, piece, whole);
  else
    same_however_split<deflate_decoder>(data, size, piece, whole);

  const zlib_result z = zlib_inflate(data, size, gzip);
  if (z.zeros_after) {
    FUZZ_CHECK(whole.out == z.out);  // what follows the zeros is ours to judge
  } else if (z.rc == Z_STREAM_END) {
    FUZZ_CHECK(whole.finished);
    FUZZ_CHECK(whole.out == z.out);
  } else if (z.rc == Z_DATA_ERROR) {
    FUZZ_CHECK(whole.fault != inflate_fault::none);
    if (!gzip) FUZZ_CHECK(whole.fault == inflate_fault::damaged);
  } else {
    FUZZ_CHECK(whole.fault != inflate_fault::none);
  }
  return 0;
}
