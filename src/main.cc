// The brivane program: the standard streams and the file system behind the
// seams of run_brivane.
#include <sys/stat.h>

#include <cstdio>

#include "brivane.h"

namespace {

class file_source : public pulse_source {
 public:
  explicit file_source(std::FILE* f) : f_(f) {}
  file_source(const file_source&) = delete;
  file_source& operator=(const file_source&) = delete;
  ~file_source() override { std::fclose(f_); }

  std::ptrdiff_t read(std::uint8_t* buf, std::size_t size) override {
    const std::size_t got = std::fread(buf, 1, size, f_);
    if (got == 0 && std::ferror(f_)) return -1;
    return static_cast<std::ptrdiff_t>(got);
  }

 private:
  std::FILE* f_;
};

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
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return nullptr;
    // A directory opens for reading on some systems; it is still no tape.
    struct stat st {};
    if (fstat(fileno(f), &st) != 0 || S_ISDIR(st.st_mode)) {
      std::fclose(f);
      return nullptr;
    }
    return std::make_unique<file_source>(f);
  }
  text_sink& out() override { return out_; }
  text_sink& err() override { return err_; }
  bool output_failed() override { return std::fflush(stdout) != 0 || std::ferror(stdout) != 0; }

 private:
  stream_sink out_{stdout};
  error_sink err_;
};

}  // namespace

int main(int argc, char** argv) {
  stdio_host sys;
  return run_brivane(argc, argv, sys);
}
