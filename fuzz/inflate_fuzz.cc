// The inflater over arbitrary bytes: it never reads or writes out of bounds
// (the sanitizers watch); it gives the same bytes and the same fault, or
// none, however the bytes are split; and where zlib inflates a raw stream
// to its end, it gives what zlib gives, and where zlib finds it damaged, so
// does it. The first byte picks the wrapping and the size of the pieces.
#include <zlib.h>

#include <vector>

#include "archive/inflate.h"
#include "fuzz_input.h"

namespace {

struct result {
  std::vector<std::uint8_t> out;
  inflate_fault fault;
  bool finished;
};

result inflate(const std::uint8_t* data, std::size_t size, std::size_t piece, inflater::wrapping w) {
  inflater inf(w);
  result r;
  auto take = [&] {
    while (const std::size_t n = inf.step()) {
      FUZZ_CHECK(n <= inflater::STEP);
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
  FUZZ_CHECK(r.finished != (r.fault != inflate_fault::none));
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const auto w = data[0] & 1 ? inflater::wrapping::gzip : inflater::wrapping::raw;
  const std::size_t piece = 1 + (data[0] >> 1);
  ++data;
  --size;
  const result whole = inflate(data, size, size + 1, w);
  const result split = inflate(data, size, piece, w);
  FUZZ_CHECK(whole.out == split.out);
  FUZZ_CHECK(whole.fault == split.fault);
  if (w == inflater::wrapping::gzip) return 0;

  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return 0;
  std::vector<std::uint8_t> out(whole.out.size() + 1024);
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = static_cast<uInt>(size);
  int rc;
  for (;;) {
    if (z.total_out == out.size()) out.resize(out.size() * 2);
    z.next_out = out.data() + z.total_out;
    z.avail_out = static_cast<uInt>(out.size() - z.total_out);
    rc = ::inflate(&z, Z_NO_FLUSH);
    if (rc != Z_OK && !(rc == Z_BUF_ERROR && z.avail_out == 0)) break;  // done, damaged, or the bytes ended
  }
  out.resize(z.total_out);
  inflateEnd(&z);
  if (rc == Z_STREAM_END) {
    FUZZ_CHECK(whole.finished);
    FUZZ_CHECK(whole.out == out);
  } else if (rc == Z_DATA_ERROR) {
    FUZZ_CHECK(whole.fault == inflate_fault::damaged);
  } else {
    FUZZ_CHECK(whole.fault != inflate_fault::none);
  }
  return 0;
}
