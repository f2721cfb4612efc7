// The brivane-ls program: the standard streams behind the seams of
// run_brivane_ls. Standard error carries brivane-ls's own messages and its
// progress, and nothing the decoding libraries would print.
#include <clocale>
#include <string>
#include <string_view>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <thread>
#endif

#include "ls_command.h"
#include "sys_files.h"
#include "utf16.h"

namespace {

class system_host : public ls_host {
 public:
  explicit system_host(int err_fd) : err_(err_fd) {}
  text_sink& out() override { return out_; }
  text_sink& err() override { return err_; }
  bool out_ok() override { return !out_.failed(); }
  bool terminal() override { return terminal_; }
#ifdef _WIN32
  unsigned cores() override { return 1; }  // this build reads one tape at a time
#else
  unsigned cores() override { return std::thread::hardware_concurrency(); }
#endif

 private:
#ifdef _WIN32
  // Lines end as Windows ends them; a CSV line already does.
  class crlf_sink : public fd_sink {
   public:
    using fd_sink::fd_sink;
    void write(std::string_view bytes) override {
      std::string out;
      for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n' && (i == 0 ? !last_cr_ : bytes[i - 1] != '\r')) out += '\r';
        out += bytes[i];
      }
      if (!bytes.empty()) last_cr_ = bytes.back() == '\r';
      fd_sink::write(out);
    }

   private:
    bool last_cr_ = false;
  };
  crlf_sink out_{1};
#else
  fd_sink out_{1};
#endif
  fd_sink err_;
  bool terminal_ = is_terminal(err_.fd());
};

}  // namespace

#ifdef _WIN32
// Every argument is taken as UTF-8; paths are opened by their wide names again.
int wmain(int argc, wchar_t** wargv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(narrow(wargv[i]));
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  _setmode(1, _O_BINARY);
  system_host sys(own_stderr());
  return run_brivane_ls(static_cast<int>(argv.size()), argv.data(), sys);
}
#else
int main(int argc, char** argv) {
  std::setlocale(LC_CTYPE, "C.UTF-8");  // names in archives come as UTF-8, whatever the locale
  system_host sys(own_stderr());
  return run_brivane_ls(argc - 1, argv + 1, sys);
}
#endif
