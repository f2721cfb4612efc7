// The brivane-tap program: a TAP file made from a sound recording of a
// cassette, written as the recording is read, so that a recording still
// being made (a sound card's, through a pipe) gives its pulses as they come.
// Files are read through libsndfile where it is built in (WAV, RF64, W64,
// AIFF, FLAC, Ogg, MP3); standard input, and every file where it is not,
// through the core's own streaming WAV reader.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
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

#ifdef BRIVANE_SNDFILE
#include <sndfile.h>
#endif

#include "recording/recording.h"
#include "tap/tap_file.h"
#include "tap_options.h"

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

void say(const std::string& message) {
  const std::string line = "brivane-tap: " + message + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

std::string shown(const std::string& path) { return path == "-" ? "standard input" : path; }

// What the core's fault means, for the person who gave the recording.
std::string in_words(const recording_converter& c, const std::string& name, bool through_pipe) {
  switch (c.fault()) {
    case recording_fault::not_wav:
      if (through_pipe)
        return name + " is not a WAV recording: through a pipe brivane-tap reads WAV only (give " +
               "other recordings by their file names)";
      return name + " is not a recording brivane-tap reads (it reads " BRIVANE_TAP_FORMATS ")";
    case recording_fault::cut_short:
      return name + " is cut short: it ends inside its header";
    case recording_fault::unsupported:
      return name +
             "'s sound is stored in a way brivane-tap does not read (only plain PCM and "
             "float samples, up to 8 channels)";
    case recording_fault::rate_out_of_range: {
      char rates[160];
      std::snprintf(rates, sizeof rates, "its sample rate, %.0f Hz, is outside %.0f to %.0f Hz",
                    c.rate(), MIN_RATE, MAX_RATE);
      return name + " cannot be read: " + rates;
    }
    case recording_fault::no_tape_signal:
      return "there is no tape signal in " + name + "; no TAP file was written";
    case recording_fault::none:
      break;
  }
  return name;
}

// The TAP file, written as its pulses are made: to standard output, or to a
// file of its own beside the final one that takes the final name only once
// it is whole, so that nothing half-written ever has that name.
class tap_writer {
 public:
  tap_writer(std::string path, machine m) : path_(std::move(path)), machine_(m) {}
  ~tap_writer() { abandon(); }
  tap_writer(const tap_writer&) = delete;
  tap_writer& operator=(const tap_writer&) = delete;

  // Writes pulses, the header first; false with errno set when it cannot.
  bool write(const std::vector<std::uint8_t>& pulses) {
    if (fd_ < 0 && !open()) return false;
    size_ += pulses.size();
    return write_all(pulses.data(), pulses.size());
  }

  // The TAP is whole: its size goes into its header where the file can be
  // gone back to, and it takes its name. False with errno set on failure.
  bool finish() {
    if (fd_ < 0 && !open()) return false;
    // Its size where the TAP can be gone back to: a file, not a pipe; and
    // not a file opened to be added to, where the header would go at its end.
    const std::vector<std::uint8_t> header = tap_header(size_, machine_);
    if (start_ >= 0 && size_ <= 0xFFFFFFFFu && sys_seek(fd_, start_) == start_ &&
        !write_all(header.data(), header.size()))
      return false;
    if (path_ == "-") return true;
    const int fd = fd_;
    if (direct_) {
      fd_ = -1;
      return sys_close(fd) == 0;
    }
    fd_ = -1;
    if (sys_close(fd) != 0) return false;
#ifdef _WIN32
    if (!MoveFileExW(wide(temp_).c_str(), wide(path_).c_str(), MOVEFILE_REPLACE_EXISTING)) {
      errno = EACCES;
      return false;
    }
#else
    if (std::rename(temp_.c_str(), path_.c_str()) != 0) return false;
#endif
    temp_.clear();
    return true;
  }

  // Nothing is kept: the file of its own goes.
  void abandon() {
    if (path_ != "-" && fd_ >= 0) sys_close(fd_);
    fd_ = -1;
    if (!temp_.empty()) {
#ifdef _WIN32
      _wunlink(wide(temp_).c_str());
#else
      unlink(temp_.c_str());
#endif
    }
    temp_.clear();
  }

 private:
#ifdef _WIN32
  static std::wstring wide(const std::string& utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring w(n > 0 ? static_cast<std::size_t>(n) : 1, L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &w[0], n);
    w.resize(w.size() - 1);
    return w;
  }
#endif

  static bool regular_or_missing(const std::string& path) {
#ifdef _WIN32
    struct _stat64 st {};
    if (_wstat64(wide(path).c_str(), &st) != 0) return true;
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
      fd_ = _wopen(wide(path_).c_str(), _O_WRONLY | _O_BINARY);
#else
      fd_ = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
#endif
      if (fd_ < 0) return false;
      direct_ = true;
    } else {
#ifdef _WIN32
      for (unsigned n = GetCurrentProcessId(); fd_ < 0 && n < GetCurrentProcessId() + 100; ++n) {
        temp_ = path_ + "." + std::to_string(n) + ".part";
        fd_ = _wopen(wide(temp_).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, 0644);
      }
#else
      std::string pattern = path_ + ".XXXXXX";
      fd_ = mkstemp(&pattern[0]);
      if (fd_ >= 0) {
        temp_ = pattern;
        fchmod(fd_, 0644 & ~current_umask());
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
    const std::vector<std::uint8_t> header = tap_header(0, machine_);  // the size comes at the end
    return write_all(header.data(), header.size());
  }

#ifndef _WIN32
  static mode_t current_umask() {
    const mode_t m = umask(0);
    umask(m);
    return m;
  }
#endif

  bool write_all(const std::uint8_t* p, std::size_t n) {
    while (n > 0) {
      const ssize_type w = sys_write(fd_, p, n);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return false;
      p += w;
      n -= static_cast<std::size_t>(w);
    }
    return true;
  }

  std::string path_, temp_;
  machine machine_;
  int fd_ = -1;
  bool direct_ = false;   // written to by its own name: a device or a pipe
  long long start_ = -1;  // where its header is, where it can be gone back to
  std::uint64_t size_ = 0;
};

// How reading ended.
enum class read_end { whole, cut_short, read_error, write_error };

// Why reading failed, kept from the moment it did: later calls change errno.
int read_errno = 0;

// The recording as bytes, through the core's own WAV reader, a piece at a
// time as they arrive.
read_end convert_bytes(int fd, recording_converter& c, tap_writer& tap) {
  std::vector<std::uint8_t> buf(1 << 16), pulses;
  for (;;) {
    const ssize_type n = sys_read(fd, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      read_errno = errno;
      return read_end::read_error;
    }
    if (n == 0) return read_end::whole;
    pulses.clear();
    const bool sound = c.feed(buf.data(), static_cast<std::size_t>(n), pulses);
    if (!pulses.empty() && !tap.write(pulses)) return read_end::write_error;
    if (!sound) return read_end::whole;  // the fault is the converter's to say
  }
}

#ifdef BRIVANE_SNDFILE
// An Ogg file ends with a page that marks the end of its stream; one cut
// short does not (libsndfile reads what there is without a word).
bool ogg_cut_short(int fd) {
  std::uint8_t head[4] = {};
  if (sys_seek(fd, 0) != 0 || sys_read(fd, head, 4) != 4 || std::memcmp(head, "OggS", 4) != 0)
    return false;
  struct stat st {};
  if (fstat(fd, &st) != 0) return false;
  const long long from = std::max<long long>(0, static_cast<long long>(st.st_size) - 65536);
  std::vector<std::uint8_t> tail(static_cast<std::size_t>(st.st_size - from));
  if (sys_seek(fd, from) != from ||
      sys_read(fd, tail.data(), tail.size()) != static_cast<ssize_type>(tail.size()))
    return false;
  for (std::size_t i = tail.size() >= 6 ? tail.size() - 6 : 0; i-- > 0;)
    if (std::memcmp(tail.data() + i, "OggS", 4) == 0) return (tail[i + 5] & 0x04) == 0;
  return false;
}

// The recording as samples, through libsndfile. Returns false, having read
// nothing, when libsndfile does not know the file.
bool convert_samples(int fd, recording_converter& c, tap_writer& tap, read_end& end) {
  // libsndfile is handed a copy of the descriptor to close, since it closes
  // the one it is given when it does not know the file, whatever it is told.
  const int own = dup(fd);
  if (own < 0) return false;
  SF_INFO info{};
  SNDFILE* sf = sf_open_fd(own, SFM_READ, &info, SF_TRUE);
  if (sf == nullptr) return false;
  end = read_end::whole;
  if (c.start_samples(info.samplerate, info.channels)) {
    std::vector<float> samples(static_cast<std::size_t>(4096 * info.channels));
    std::vector<std::uint8_t> pulses;
    sf_count_t read_all = 0;
    for (;;) {
      const sf_count_t n = sf_readf_float(sf, samples.data(), 4096);
      if (n <= 0) break;
      read_all += n;
      pulses.clear();
      c.feed_samples(samples.data(), static_cast<std::size_t>(n), 1,
                     static_cast<std::size_t>(info.channels), pulses);
      if (!pulses.empty() && !tap.write(pulses)) {
        end = read_end::write_error;
        break;
      }
    }
    if (end == read_end::whole &&
        (sf_error(sf) != SF_ERR_NO_ERROR || (info.frames > 0 && info.frames != SF_COUNT_MAX &&
                                             (info.seekable != 0) && read_all < info.frames)))
      end = read_end::cut_short;
  }
  sf_close(sf);
  return true;
}
#endif

int open_recording(const std::string& path) {
  if (path == "-") {
#ifdef _WIN32
    _setmode(0, _O_BINARY);
#endif
    return 0;
  }
#ifdef _WIN32
  const int n = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
  std::wstring w(n > 0 ? static_cast<std::size_t>(n) : 1, L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, &w[0], n);
  return _wopen(w.c_str(), _O_RDONLY | _O_BINARY);
#else
  return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
#endif
}

int make_tap(const tap_options& o) {
  const std::string name = shown(o.recording);
  const int fd = open_recording(o.recording);
  if (fd < 0) {
    say("cannot open " + name + ": " + std::strerror(errno));
    return TAP_CANNOT_OPEN;
  }
  struct stat st {};
  if (fstat(fd, &st) == 0 && (st.st_mode & S_IFMT) == S_IFDIR) {
    if (fd != 0) sys_close(fd);
    say("cannot open " + name + ": it is a folder");
    return TAP_CANNOT_OPEN;
  }
  const bool regular = (st.st_mode & S_IFMT) == S_IFREG;
  recording_converter c(timing_of(o.for_machine).clock);
  tap_writer tap(o.tape, o.for_machine);
  read_end end = read_end::whole;
#ifdef BRIVANE_SNDFILE
  // A WAV file is read by the core's own reader, as the page reads it, and
  // whatever it does not read by libsndfile; so is any other file, which
  // libsndfile needs to seek about in. A pipe goes to the core's reader.
  bool wav = !regular;
  if (regular) {
    std::uint8_t head[12] = {};
    wav = sys_read(fd, head, 12) == 12 && std::memcmp(head, "RIFF", 4) == 0 &&
          std::memcmp(head + 8, "WAVE", 4) == 0;
    sys_seek(fd, 0);
  }
  if (wav) end = convert_bytes(fd, c, tap);
  if (regular && (!wav || c.fault() == recording_fault::unsupported)) {
    sys_seek(fd, 0);
    recording_converter other(timing_of(o.for_machine).clock);
    if (convert_samples(fd, other, tap, end)) {
      c = std::move(other);
    } else if (!wav) {
      sys_seek(fd, 0);
      end = convert_bytes(fd, c, tap);  // for the core's reader to say what the file is
    }
  }
#else
  end = convert_bytes(fd, c, tap);
#endif
  if (regular && end == read_end::whole && c.sound_missing()) end = read_end::cut_short;
#ifdef BRIVANE_SNDFILE
  if (regular && end == read_end::whole && c.fault() == recording_fault::none && ogg_cut_short(fd))
    end = read_end::cut_short;
#endif
  if (fd != 0) sys_close(fd);

  const std::string tape_name = o.tape == "-" ? "standard output" : o.tape;
  if (end == read_end::write_error) {
    say("cannot write " + tape_name + ": " + std::strerror(errno));
    return TAP_CANNOT_WRITE;
  }
  std::vector<std::uint8_t> last;
  const bool fine = c.fault() == recording_fault::none && c.finish(last);
  if (!fine) {
    tap.abandon();
    say(in_words(c, name, !regular));
    return c.fault() == recording_fault::no_tape_signal ? TAP_NO_SIGNAL : TAP_NOT_READ;
  }
  if ((!last.empty() && !tap.write(last)) || !tap.finish()) {
    say("cannot write " + tape_name + ": " + std::strerror(errno));
    return TAP_CANNOT_WRITE;
  }
  if (end == read_end::read_error || end == read_end::cut_short) {
    say(name +
        (end == read_end::read_error ? " could not be read to its end: "
                                     : " is cut short or damaged part-way: ") +
        (end == read_end::read_error ? std::string(std::strerror(read_errno)) + "; "
                                     : std::string()) +
        "the TAP file holds what came before");
    return TAP_CUT_SHORT;
  }
  return TAP_OK;
}

int main_utf8(int argc, const char* const* argv) {
  const tap_options o = parse_tap_options(argc - 1, argv + 1);
  if (o.help) {
    std::fwrite(TAP_USAGE_TEXT.data(), 1, TAP_USAGE_TEXT.size(), stdout);
    return std::fflush(stdout) == 0 ? TAP_OK : TAP_CANNOT_WRITE;
  }
  if (o.version) {
    std::puts("brivane-tap " BRIVANE_VERSION);
    return std::fflush(stdout) == 0 ? TAP_OK : TAP_CANNOT_WRITE;
  }
  if (!o.error.empty()) {
    say(o.error);
    std::fwrite(TAP_USAGE_TEXT.data(), 1, TAP_USAGE_TEXT.size(), stderr);
    return TAP_USAGE;
  }
  return make_tap(o);
}

}  // namespace

#ifdef _WIN32
// Windows hands over the command line in UTF-16: every argument is taken as
// UTF-8, and paths are opened by their wide names again.
int wmain(int argc, wchar_t** wargv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, wargv[i], -1, nullptr, 0, nullptr, nullptr);
    std::string s(n > 0 ? static_cast<std::size_t>(n) : 1, '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, wargv[i], -1, &s[0], n, nullptr, nullptr);
    s.resize(s.size() - 1);
    args.push_back(s);
  }
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  return main_utf8(argc, argv.data());
}
#else
int main(int argc, char** argv) { return main_utf8(argc, argv); }
#endif
