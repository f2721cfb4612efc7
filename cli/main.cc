// The brivane program: the standard streams and the file system behind the
// seams of run_brivane.
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "command_line.h"
#include "fd_source.h"
#include "utf16.h"

namespace {

class stream_sink : public text_sink {
 public:
  explicit stream_sink(std::FILE* f) : f_(f) {}
  void write(std::string_view bytes) override { std::fwrite(bytes.data(), 1, bytes.size(), f_); }

 private:
  std::FILE* f_;
};

// Messages to standard error come after everything already written to
// standard output, also when both go to one place.
class error_sink : public text_sink {
 public:
  void write(std::string_view bytes) override {
    std::fflush(stdout);
    std::fwrite(bytes.data(), 1, bytes.size(), stderr);
  }
};

class stdio_host : public host {
 public:
  std::unique_ptr<pulse_source> open(const char* path) override {
    const int fd = open_file(path);
    if (fd < 0) return nullptr;
    auto source = std::make_unique<fd_source>(fd);
    // A directory opens for reading on some systems; it is still no tape.
    struct stat st {};
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) return nullptr;
    return source;
  }
  text_sink& out() override { return out_; }
  text_sink& err() override { return err_; }
  bool output_failed() override { return std::fflush(stdout) != 0 || std::ferror(stdout) != 0; }

 protected:
#ifdef _WIN32
  virtual int open_file(const char* path) { return _open(path, _O_RDONLY | _O_BINARY); }
#else
  virtual int open_file(const char* path) { return ::open(path, O_RDONLY | O_CLOEXEC); }
#endif

 private:
  stream_sink out_{stdout};
  error_sink err_;
};

#ifdef _WIN32
// Windows hands over the command line in UTF-16. The narrow C library calls
// see a name outside the ANSI code page as '?', so the tape is opened by its
// wide name. The run itself sees narrow arguments: UTF-8 for the options and
// the path, and the program name in the ANSI code page, as the narrow start-up
// code would have given it, so that the usage line looks as it always did.
class wide_host : public stdio_host {
 public:
  wide_host(int argc, wchar_t** wargv) : wargv_(wargv) {
    for (int i = 0; i < argc; ++i) args_.push_back(narrow(wargv[i], i == 0 ? CP_ACP : CP_UTF8));
    for (const std::string& a : args_) argv_.push_back(a.c_str());
  }
  int argc() const { return static_cast<int>(argv_.size()); }
  const char* const* argv() const { return argv_.data(); }

 protected:
  // The path is always one of the arguments: open it by its original name.
  int open_file(const char* path) override {
    for (std::size_t i = 1; i < argv_.size(); ++i)
      if (argv_[i] == path) return _wopen(wargv_[i], _O_RDONLY | _O_BINARY);
    return -1;
  }

 private:
  wchar_t** wargv_;
  std::vector<std::string> args_;
  std::vector<const char*> argv_;
};
#endif

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  wide_host sys(argc, argv);
  return run_brivane(sys.argc(), sys.argv(), sys);
}
#else
int main(int argc, char** argv) {
  stdio_host sys;
  return run_brivane(argc, argv, sys);
}
#endif
