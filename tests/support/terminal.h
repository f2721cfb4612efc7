// A terminal for a program under test: a pseudo-terminal in raw mode whose
// screen the test reads, to see a line as soon as the program writes it.
#ifndef BRIVANE_TESTS_TERMINAL_H
#define BRIVANE_TESTS_TERMINAL_H

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

class terminal {
 public:
  terminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) slave_ = ptsname(master_);
  }
  ~terminal() {
    if (master_ >= 0) close(master_);
  }
  terminal(const terminal&) = delete;
  terminal& operator=(const terminal&) = delete;

  bool ready() const { return !slave_.empty(); }

  /// In the child, before exec: standard output becomes the terminal, raw.
  void attach_output() const {
    const int slave = open(slave_.c_str(), O_RDWR);
    termios raw{};
    if (slave < 0 || tcgetattr(slave, &raw) != 0) _exit(127);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    dup2(slave, 1);
  }

  /// Reads the screen until it shows want, for up to five seconds.
  bool shows(const std::string& want) {
    for (int waited = 0; shown_.find(want) == std::string::npos && waited < 50; ++waited) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 100) > 0) {
        char buf[256];
        const ssize_t n = read(master_, buf, sizeof buf);
        if (n > 0) shown_.append(buf, static_cast<std::size_t>(n));
      }
    }
    return shown_.find(want) != std::string::npos;
  }
  /// All it has shown so far.
  const std::string& shown() const { return shown_; }

 private:
  int master_ = -1;
  std::string slave_, shown_;
};

#endif
