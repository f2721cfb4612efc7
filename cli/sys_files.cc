// The file system and the standard streams, for POSIX and for Windows.
#include "sys_files.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <windows.h>

#include "utf16.h"
#else
#include <unistd.h>
#endif

#include "interrupt.h"

namespace {

#ifdef _WIN32
int sys_read(int fd, void* buf, std::size_t n) { return _read(fd, buf, static_cast<unsigned>(n)); }
int sys_write(int fd, const void* buf, std::size_t n) {
  return _write(fd, buf, static_cast<unsigned>(n));
}
#else
ssize_t sys_read(int fd, void* buf, std::size_t n) { return ::read(fd, buf, n); }
ssize_t sys_write(int fd, const void* buf, std::size_t n) { return ::write(fd, buf, n); }
#endif

}  // namespace

int close_fd(int fd) {
#ifdef _WIN32
  return _close(fd);
#else
  return ::close(fd);
#endif
}

long long seek_fd(int fd, long long at) {
#ifdef _WIN32
  return _lseeki64(fd, at, SEEK_SET);
#else
  return ::lseek(fd, at, SEEK_SET);
#endif
}

bool write_all(int fd, const std::uint8_t* p, std::size_t n) {
  while (n > 0) {
    const auto w = sys_write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

fd_input::fd_input(int fd, bool own) : fd_(fd), own_(own) {
#ifdef _WIN32
  struct _stat64 st {};
  if (_fstat64(fd, &st) == 0 && (st.st_mode & S_IFMT) == S_IFREG) {
#else
  struct stat st {};
  if (fstat(fd, &st) == 0 && (st.st_mode & S_IFMT) == S_IFREG) {
#endif
    regular_ = true;
    size_ = static_cast<std::uint64_t>(st.st_size);
  }
}

fd_input::~fd_input() {
  if (own_) close_fd(fd_);
}

std::ptrdiff_t fd_input::read(std::uint8_t* buf, std::size_t size) {
  for (;;) {
    const auto n = sys_read(fd_, buf, size);
    if (n >= 0) return n;
    if (errno != EINTR) {
      error_ = std::strerror(errno);
      return -1;
    }
    if (interrupted()) return 0;  // stopped: what came is all there is
  }
}

bool fd_input::seek(std::uint64_t at) {
  if (regular_ && seek_fd(fd_, static_cast<long long>(at)) == static_cast<long long>(at))
    return true;
  error_ = std::strerror(errno);
  return false;
}

std::unique_ptr<byte_input> open_input(const std::string& path, std::string& why) {
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
    close_fd(fd);
    why = "it is a folder";
    return nullptr;
  }
  return std::make_unique<fd_input>(fd, true);
}

std::unique_ptr<byte_input> spool(byte_input& in, const std::vector<std::uint8_t>& head,
                                  std::string& why) {
#ifdef _WIN32
  (void)in;
  (void)head;
  why = "this build cannot hold it aside in a temporary file";
  return nullptr;
#else
  const char* dir = std::getenv("TMPDIR");
  std::string pattern =
      std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/brivane-XXXXXX";
  const int fd = mkstemp(&pattern[0]);
  if (fd < 0) {
    why = std::string("no temporary file could be made for it: ") + std::strerror(errno);
    return nullptr;
  }
  unlink(pattern.c_str());  // it goes with its descriptor
  bool written = write_all(fd, head.data(), head.size());
  std::vector<std::uint8_t> buf(std::size_t{1} << 16);
  for (std::ptrdiff_t n; written && (n = in.read(buf.data(), buf.size())) != 0;) {
    if (n < 0) {
      why = in.error();
      close_fd(fd);
      return nullptr;
    }
    written = write_all(fd, buf.data(), static_cast<std::size_t>(n));
  }
  if (!written || seek_fd(fd, 0) != 0) {
    why = std::string("it could not be held in a temporary file: ") + std::strerror(errno);
    close_fd(fd);
    return nullptr;
  }
  return std::make_unique<fd_input>(fd, true);
#endif
}

void fd_sink::write(std::string_view bytes) {
  if (!write_all(fd_, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()))
    failed_ = true;
}

#ifdef _WIN32
namespace {

// The volume and the file index of what path names; false where it cannot
// be opened to ask.
bool file_id(const std::string& path, std::uint64_t& volume, std::uint64_t& index) {
  const HANDLE h =
      CreateFileW(widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool known = GetFileInformationByHandle(h, &info) != 0;
  CloseHandle(h);
  if (!known) return false;
  volume = info.dwVolumeSerialNumber;
  index = std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
  return true;
}

}  // namespace
#endif

bool same_file(const std::string& a, const std::string& b) {
#ifdef _WIN32
  std::uint64_t va = 0, ia = 0, vb = 0, ib = 0;
  return file_id(a, va, ia) && file_id(b, vb, ib) && va == vb && ia == ib;
#else
  struct stat x {};
  struct stat y {};
  return ::stat(a.c_str(), &x) == 0 && ::stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev &&
         x.st_ino == y.st_ino;
#endif
}

path_facts look_at(const std::string& path) {
  path_facts f;
#ifdef _WIN32
  struct _stat64 st {};
  if (_wstat64(widen(path).c_str(), &st) != 0) {
#else
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
#endif
    f.nothing = errno == ENOENT || errno == ELOOP;
    f.why = std::strerror(errno);
    return f;
  }
  const auto type = st.st_mode & S_IFMT;
  f.kind = type == S_IFREG   ? path_kind::file
           : type == S_IFDIR ? path_kind::folder
                             : path_kind::other;
  f.device = static_cast<std::uint64_t>(st.st_dev);
  f.inode = static_cast<std::uint64_t>(st.st_ino);
  f.size = static_cast<std::uint64_t>(st.st_size);
#ifdef _WIN32
  // Windows gives no inode in a stat: a folder's volume and file index say
  // the same, so that a loop through a junction is seen.
  if (f.kind == path_kind::folder) file_id(path, f.device, f.inode);
#endif
  return f;
}

int own_stderr() {
#ifdef _WIN32
  return 2;  // this build's libraries print nothing
#else
  const int own = fcntl(2, F_DUPFD_CLOEXEC, 3);
  const int nowhere = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (own < 0 || nowhere < 0) return 2;
  dup2(nowhere, 2);
  ::close(nowhere);
  return own;
#endif
}

bool is_terminal(int fd) {
#ifdef _WIN32
  return _isatty(fd) != 0;
#else
  return isatty(fd) != 0;
#endif
}
