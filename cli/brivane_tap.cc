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

#include "interrupt.h"
#include "sys_files.h"
#include "tap_command.h"
#include "utf16.h"

namespace {

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
    if (start_ >= 0 && seek_fd(fd_, start_) == start_ &&
        !write_all(fd_, header.data(), header.size()))
      return failed();
    if (path_ == "-") return true;
    const int fd = fd_;
    fd_ = -1;
    if (close_fd(fd) != 0) return failed();
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
    if (path_ != "-" && fd_ >= 0) close_fd(fd_);
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

class system_host : public tap_host {
 public:
  explicit system_host(int err_fd) : err_(err_fd) {}

  std::unique_ptr<byte_input> open_recording(const std::string& path, std::string& why) override {
    return open_input(path, why);
  }
  std::unique_ptr<tap_output> tap_file(const std::string& path) override {
    return std::make_unique<file_tap>(path);
  }
  bool same_file(const std::string& a, const std::string& b) override { return ::same_file(a, b); }
  text_sink& out() override { return out_; }
  text_sink& err() override { return err_; }
  bool flush_out() override { return !out_.failed(); }
  bool interrupted() override { return ::interrupted(); }

 private:
  fd_sink out_{1};
  fd_sink err_;
};

}  // namespace

#ifdef _WIN32
// Every argument is taken as UTF-8; paths are opened by their wide names again.
int wmain(int argc, wchar_t** wargv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(narrow(wargv[i]));
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  system_host sys(own_stderr());
  catch_interrupts();
  return run_brivane_tap(static_cast<int>(argv.size()), argv.data(), sys);
}
#else
int main(int argc, char** argv) {
  system_host sys(own_stderr());
  catch_interrupts();
  const int status = run_brivane_tap(argc - 1, argv + 1, sys);
  end_as_interrupted();
  return status;
}
#endif
