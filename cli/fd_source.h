// Pulses read from an open file with the platform's own read call, which
// hands over whatever has arrived: a tape still coming down a pipe or from a
// capture device is scanned as it comes, not once a block has filled.
#ifndef BRIVANE_FD_SOURCE_H
#define BRIVANE_FD_SOURCE_H

#include "command_line.h"

class fd_source : public pulse_source {
 public:
  /// Takes over fd and closes it when done.
  explicit fd_source(int fd) : fd_(fd) {}
  fd_source(const fd_source&) = delete;
  fd_source& operator=(const fd_source&) = delete;
  ~fd_source() override;

  /// A read interrupted by a signal is tried again, not taken for the end.
  std::ptrdiff_t read(std::uint8_t* buf, std::size_t size) override;

 private:
  int fd_;
};

#endif
