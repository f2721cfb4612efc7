// The gzip reader: member headers and trailers around the raw deflate decoder, one member after
// another.
#include "archive/gzip.h"

#include <algorithm>
#include <cstring>

#include "archive/crc32.h"

namespace {
// The member header's flags for its optional fields.
enum : unsigned { HEADER_CRC = 2, EXTRA = 4, NAME = 8, COMMENT = 16 };

std::uint32_t le32(const std::uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
}  // namespace

bool gzip_reader::fail(inflate_fault f) {
  fault_ = f;
  return false;
}

// Whether n bytes are at hand; when they never will be, the file was cut short.
bool gzip_reader::wait(std::size_t n) {
  if (body_.bytes_left() >= n) return true;
  if (body_.ending()) fail(inflate_fault::cut_short);
  return false;
}

// Uses n bytes of the member's header, which its header CRC covers.
void gzip_reader::take_header(std::size_t n) {
  header_crc_ = crc32_update(header_crc_, body_.bytes(), n);
  body_.skip(n);
}

void gzip_reader::next_optional() {
  if (flags_ & EXTRA) {
    flags_ &= ~EXTRA;
    stage_ = stage::extra_length;
  } else if (flags_ & NAME) {
    flags_ &= ~NAME;
    stage_ = stage::name;
  } else if (flags_ & COMMENT) {
    flags_ &= ~COMMENT;
    stage_ = stage::comment;
  } else if (flags_ & HEADER_CRC) {
    flags_ &= ~HEADER_CRC;
    stage_ = stage::header_crc;
  } else {
    stage_ = stage::body;
  }
}

std::size_t gzip_reader::step() {
  while (fault_ == inflate_fault::none && stage_ != stage::done) {
    if (stage_ != stage::body) {
      if (!header_stage()) return 0;
      continue;
    }
    const std::size_t n = body_.step();
    if (n > 0) {
      crc_ = crc32_update(crc_, body_.output(), n);
      size_ += static_cast<std::uint32_t>(n);
      return n;
    }
    if (body_.fault() != inflate_fault::none) {
      fail(body_.fault());
      return 0;
    }
    if (!body_.finished()) return 0;  // it needs more bytes
    stage_ = stage::trailer;
  }
  return 0;
}

// The parts of a member read bytewise: a header (with its optional extra
// field, name and comment, all skipped, and its own CRC, checked), and after the deflate
// stream, the member's CRC-32 and size. Another member may follow, or zeros
// that pad the file.
bool gzip_reader::header_stage() {
  const std::uint8_t* p = body_.bytes();
  const std::size_t left = body_.bytes_left();
  switch (stage_) {
    case stage::header:
      if ((left > 0 && p[0] != 0x1F) || (left > 1 && p[1] != 0x8B))
        return fail(members_ ? inflate_fault::trailing : inflate_fault::not_gzip);
      if (!wait(10)) return false;
      if (p[2] != 8 || (p[3] & 0xE0) != 0) return fail(inflate_fault::unsupported);
      flags_ = p[3];
      header_crc_ = 0;
      take_header(10);
      crc_ = 0;
      size_ = 0;
      next_optional();
      return true;
    case stage::extra_length:
      if (!wait(2)) return false;
      skip_ = p[0] | p[1] << 8;
      take_header(2);
      stage_ = stage::extra;
      return true;
    case stage::extra: {
      const std::size_t n = std::min<std::size_t>(skip_, left);
      take_header(n);
      skip_ -= static_cast<std::uint32_t>(n);
      if (skip_ > 0) return wait(skip_);
      next_optional();
      return true;
    }
    case stage::name:
    case stage::comment: {
      const auto* zero = static_cast<const std::uint8_t*>(std::memchr(p, 0, left));
      if (!zero) {
        take_header(left);
        return wait(1);
      }
      take_header(static_cast<std::size_t>(zero - p) + 1);
      next_optional();
      return true;
    }
    case stage::header_crc:
      if (!wait(2)) return false;
      // The low half of the CRC-32 of the header before it.
      if (static_cast<std::uint32_t>(p[0] | p[1] << 8) != (header_crc_ & 0xFFFFu))
        return fail(inflate_fault::check_failed);
      body_.skip(2);
      next_optional();
      return true;
    case stage::trailer:
      if (!wait(8)) return false;
      if (le32(p) != crc_ || le32(p + 4) != size_) return fail(inflate_fault::check_failed);
      body_.skip(8);
      ++members_;
      stage_ = stage::next;
      return true;
    case stage::next:
      if (left == 0) {
        if (body_.ending()) stage_ = stage::done;
        return body_.ending();
      }
      if (*p == 0) {
        body_.skip(static_cast<std::size_t>(
            std::find_if(p, p + left, [](std::uint8_t b) { return b != 0; }) - p));
        padded_ = true;
        return true;
      }
      if (padded_) return fail(inflate_fault::trailing);
      body_.restart();  // the next member's stream reaches back into nothing of this one's
      stage_ = stage::header;
      return true;
    case stage::body:
    case stage::done:
      break;
  }
  return false;
}
