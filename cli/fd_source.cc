// Reading a tape with the system's read call, a piece at a time as it arrives.
#include "fd_source.h"

#include <cerrno>
#include <climits>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

fd_source::~fd_source() {
#ifdef _WIN32
  _close(fd_);
#else
  close(fd_);
#endif
}

std::ptrdiff_t fd_source::read(std::uint8_t* buf, std::size_t size) {
  if (size > INT_MAX) size = INT_MAX;
  for (;;) {
#ifdef _WIN32
    const std::ptrdiff_t got = _read(fd_, buf, static_cast<unsigned>(size));
#else
    const std::ptrdiff_t got = ::read(fd_, buf, size);
#endif
    if (got >= 0) return got;
    if (errno != EINTR) return -1;
  }
}
