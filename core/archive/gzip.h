// A gzipped tape read as it arrives: one gzip member after another, each a
// header, a deflate stream and the member's CRC-32 and size, which are
// checked. Each member's deflate stream starts afresh, as zlib reads them.
#ifndef BRIVANE_ARCHIVE_GZIP_H
#define BRIVANE_ARCHIVE_GZIP_H

#include <cstddef>
#include <cstdint>

#include "archive/deflate.h"

class gzip_reader {
 public:
  /// Bytes a step gives at the most.
  static constexpr std::size_t STEP = deflate_decoder::STEP;

  /// As deflate_decoder: feed, then step until it gives nothing.
  void feed(const std::uint8_t* bytes, std::size_t size) { body_.feed(bytes, size); }
  void end() { body_.end(); }
  std::size_t step();
  const std::uint8_t* output() const { return body_.output(); }

  /// Every member has ended as it should, and nothing but zeros follows.
  bool finished() const { return stage_ == stage::done; }
  inflate_fault fault() const { return fault_; }

 private:
  enum class stage {
    header,
    extra_length,
    extra,
    name,
    comment,
    header_crc,
    body,
    trailer,
    next,
    done
  };

  bool header_stage();
  bool fail(inflate_fault f);
  bool wait(std::size_t n);
  void take_header(std::size_t n);
  void next_optional();

  deflate_decoder body_;
  stage stage_ = stage::header;
  inflate_fault fault_ = inflate_fault::none;
  unsigned flags_ = 0;            // the member header's optional fields not yet read
  std::uint32_t skip_ = 0;        // bytes of an extra field still to skip
  std::uint32_t header_crc_ = 0;  // of the member's header so far
  std::uint32_t crc_ = 0;
  std::uint32_t size_ = 0;
  unsigned members_ = 0;  // members read whole
  bool padded_ = false;   // zeros seen after the last of them
};

#endif
