// The brivane-tap program: the file system and the standard streams behind
// the seams of run_brivane_tap. The TAP goes to a file of its own beside the
// final one and takes the final name only once it is whole. Standard error
// carries brivane-tap's own messages and nothing else: what the decoding
// libraries would print there goes nowhere.
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "tap_command.h"
#include "utf16.h"

namespace {

#ifdef _WIN32
using ssize_type = int;
int sys_read(int fd, void* buf, std::size_t n) { return _read(fd, buf, static_cast<unsigned>(n)); }
int sys_write(int fd, const void* buf, std::size_t n) {
  return _write(fd, buf, static_cast<unsigned>(n));
}
long long sys_seek(int fd, long long at) { return _lseeki64(fd, at, SEEK_SET); }
int sys_close(int fd) { return _close(fd); }
#else
using ssize_type = ssize_t;
ssize_type sys_read(int fd, void* buf, std::size_t n) { return ::read(fd, buf, n); }
ssize_type sys_write(int fd, const void* buf, std::size_t n) { return ::write(fd, buf, n); }
long long sys_seek(int fd, long long at) { return ::lseek(fd, at, SEEK_SET); }
int sys_close(int fd) { return ::close(fd); }
#endif

bool write_all(int fd, const std::uint8_t* p, std::size_t n) {
  while (n > 0) {
    const ssize_type w = sys_write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

// A recording from an open file or standard input.
class fd_input : public byte_input {
 public:
  fd_input(int fd, bool own) : fd_(fd), own_(own) {
    struct stat st {};
    if (fstat(fd, &st) == 0 && (st.st_mode & S_IFMT) == S_IFREG) {
      regular_ = true;
      size_ = static_cast<std::uint64_t>(st.st_size);
    }
  }
  fd_input(const fd_input&) = delete;
  fd_input& operator=(const fd_input&) = delete;
  ~fd_input() override {
    if (own_) sys_close(fd_);
  }
  std::ptrdiff_t read(std::uint8_t* buf, std::size_t size) override {
    for (;;) {
      const ssize_type n = sys_read(fd_, buf, size);
      if (n >= 0) return n;
      if (errno != EINTR) {
        error_ = std::strerror(errno);
        return -1;
      }
    }
  }
  bool seekable() const override { return regular_; }
  bool seek(std::uint64_t at) override {
    if (regular_ && sys_seek(fd_, static_cast<long long>(at)) == static_cast<long long>(at))
      return true;
    error_ = std::strerror(errno);
    return false;
  }
  std::uint64_t size() const override { return size_; }
  std::string error() const override { return error_; }

 private:
  int fd_;
  bool own_, regular_ = false;
  std::uint64_t size_ = 0;
  std::string error_;
};

// The TAP file: to standard output, to a device or pipe given by name as it
// comes, or to a file of its own beside the final one.
class file_tap : public tap_output {
 public:
  explicit file_tap(std::string path) : path_(std::move(path)) {}
  ~file_tap() override { drop(); }
  file_tap(const file_tap&) = delete;
  file_tap& operator=(const file_tap&) = delete;

  bool write(const std::uint8_t* bytes, std::size_t size) override {
    if (fd_ < 0 && !open()) return failed();
    return write_all(fd_, bytes, size) || failed();
  }

  bool finish(const std::vector<std::uint8_t>& header) override {
    if (fd_ < 0 && !open()) return failed();
    // Its size where the TAP can be gone back to: a file, not a pipe; and
    // not a file opened to be added to, where the header would go at its end.
    if (start_ >= 0 && sys_seek(fd_, start_) == start_ &&
        !write_all(fd_, header.data(), header.size()))
      return failed();
    if (path_ == "-") return true;
    const int fd = fd_;
    fd_ = -1;
    if (sys_close(fd) != 0) return failed();
    if (direct_) return true;
#ifdef _WIN32
    if (!MoveFileExW(widen(temp_).c_str(), widen(path_).c_str(), MOVEFILE_REPLACE_EXISTING)) {
      errno = EACCES;
      return failed();
    }
#else
    if (std::rename(temp_.c_str(), path_.c_str()) != 0) return failed();
#endif
    temp_.clear();
    return true;
  }

  void abandon() override { drop(); }

  std::string error() const override { return error_; }

 private:
  // Closes the file and takes away a half-written one.
  void drop() {
    if (path_ != "-" && fd_ >= 0) sys_close(fd_);
    fd_ = -1;
    if (!temp_.empty()) {
#ifdef _WIN32
      _wunlink(widen(temp_).c_str());
#else
      unlink(temp_.c_str());
#endif
    }
    temp_.clear();
  }

  bool failed() {
    if (error_.empty()) error_ = std::strerror(errno);
    return false;
  }

  static bool regular_or_missing(const std::string& path) {
#ifdef _WIN32
    struct _stat64 st {};
    if (_wstat64(widen(path).c_str(), &st) != 0) return true;
#else
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return true;
#endif
    return (st.st_mode & S_IFMT) == S_IFREG;
  }

  bool open() {
    if (path_ == "-") {
      fd_ = 1;
#ifdef _WIN32
      _setmode(1, _O_BINARY);
#endif
    } else if (!regular_or_missing(path_)) {
      // A device or a pipe given by name takes the TAP as it comes.
#ifdef _WIN32
      fd_ = _wopen(widen(path_).c_str(), _O_WRONLY | _O_BINARY);
#else
      fd_ = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
#endif
      if (fd_ < 0) return false;
      direct_ = true;
    } else {
#ifdef _WIN32
      for (unsigned n = GetCurrentProcessId(); fd_ < 0 && n < GetCurrentProcessId() + 100; ++n) {
        temp_ = path_ + "." + std::to_string(n) + ".part";
        fd_ = _wopen(widen(temp_).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, 0644);
      }
#else
      std::string pattern = path_ + ".XXXXXX";
      fd_ = mkstemp(&pattern[0]);
      if (fd_ >= 0) {
        temp_ = pattern;
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(fd_, 0644 & ~mask);
      }
#endif
      if (fd_ < 0) {
        temp_.clear();
        return false;
      }
    }
#ifdef _WIN32
    start_ = _lseeki64(fd_, 0, SEEK_CUR);
#else
    start_ = fcntl(fd_, F_GETFL) & O_APPEND ? -1 : ::lseek(fd_, 0, SEEK_CUR);
#endif
    return true;
  }

  std::string path_, temp_, error_;
  int fd_ = -1;
  bool direct_ = false;   // written to by its own name: a device or a pipe
  long long start_ = -1;  // where its header is, where it can be gone back to
};

class fd_sink : public text_sink {
 public:
  explicit fd_sink(int fd) : fd_(fd) {}
  void write(std::string_view bytes) override {
    if (!write_all(fd_, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()))
      failed_ = true;
  }
  bool failed() const { return failed_; }

 private:
  int fd_;
  bool failed_ = false;
};

class system_host : public tap_host {
 public:
  explicit system_host(int err_fd) : err_(err_fd) {}

  std::unique_ptr<byte_input> open_recording(const std::string& path, std::string& why) override {
    if (path == "-") {
#ifdef _WIN32
      _setmode(0, _O_BINARY);
#endif
      return std::make_unique<fd_input>(0, false);
    }
#ifdef _WIN32
    const int fd = _wopen(widen(path).c_str(), _O_RDONLY | _O_BINARY);
#else
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
#endif
    if (fd < 0) {
      why = std::strerror(errno);
      return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) == 0 && (st.st_mode & S_IFMT) == S_IFDIR) {
      sys_close(fd);
      why = "it is a folder";
      return nullptr;
    }
    return std::make_unique<fd_input>(fd, true);
  }
  std::unique_ptr<tap_output> tap_file(const std::string& path) override {
    return std::make_unique<file_tap>(path);
  }
  text_sink& out() override { return out_; }
  text_sink& err() override { return err_; }
  bool flush_out() override { return !out_.failed(); }

 private:
  fd_sink out_{1};
  fd_sink err_;
};

// Standard error for brivane-tap's own messages: a descriptor of its own,
// while descriptor 2, where libraries print their warnings, leads nowhere.
int own_stderr() {
#ifdef _WIN32
  return 2;  // this build decodes WAV alone, with nothing to keep quiet
#else
  const int own = fcntl(2, F_DUPFD_CLOEXEC, 3);
  const int nowhere = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (own < 0 || nowhere < 0) return 2;
  dup2(nowhere, 2);
  close(nowhere);
  return own;
#endif
}

}  // namespace

#ifdef _WIN32
// Every argument is taken as UTF-8; paths are opened by their wide names again.
int wmain(int argc, wchar_t** wargv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(narrow(wargv[i]));
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  system_host sys(own_stderr());
  return run_brivane_tap(static_cast<int>(argv.size()), argv.data(), sys);
}
#else
int main(int argc, char** argv) {
  system_host sys(own_stderr());
  return run_brivane_tap(argc - 1, argv + 1, sys);
}
#endif
