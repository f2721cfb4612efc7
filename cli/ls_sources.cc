// Names, folders, archives and new files for brivane-ls.
#include "ls_sources.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <windows.h>

#include "utf16.h"
#else
#include <dirent.h>
#include <unistd.h>
#endif

#ifdef BRIVANE_ARCHIVE
#include <archive.h>
#include <archive_entry.h>
#endif

#include "archive/gzip.h"
#include "sys_files.h"

namespace {

bool ends_with(const std::string& s, const char* tail) {
  const std::size_t n = std::strlen(tail);
  return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

}  // namespace

name_kind kind_of_name(const std::string& name) {
  std::string n = name.substr(name.find_last_of('/') + 1);
  for (char& c : n) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const char* t :
       {".tar.gz", ".tgz", ".tar.xz", ".txz", ".tar.bz2", ".tbz2", ".tar", ".zip", ".7z"})
    if (ends_with(n, t)) return name_kind::archive;
  if (ends_with(n, ".tap.gz")) return name_kind::gzip_tape;
  if (ends_with(n, ".tap")) return name_kind::tape;
  for (const char* t : {".wav", ".flac", ".ogg", ".oga", ".opus", ".mp3", ".aif", ".aiff", ".aifc",
                        ".rf64", ".w64"})
    if (ends_with(n, t)) return name_kind::recording;
  return name_kind::other;
}

bool list_folder(const std::string& path, std::vector<std::string>& names, std::string& why) {
  names.clear();
#ifdef _WIN32
  WIN32_FIND_DATAW found;
  const HANDLE h = FindFirstFileW(widen(path + "\\*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) {
    why = "it cannot be read";
    return false;
  }
  do {
    const std::string n = narrow(found.cFileName);
    if (n != "." && n != "..") names.push_back(n);
  } while (FindNextFileW(h, &found));
  FindClose(h);
#else
  DIR* d = opendir(path.c_str());
  if (d == nullptr) {
    why = std::strerror(errno);
    return false;
  }
  errno = 0;
  while (const dirent* e = readdir(d)) {
    const std::string n = e->d_name;
    if (n != "." && n != "..") names.push_back(n);
  }
  const int failure = errno;
  closedir(d);
  if (failure != 0) {
    why = std::strerror(failure);
    return false;
  }
#endif
  std::sort(names.begin(), names.end());
  return true;
}

#ifdef BRIVANE_ARCHIVE
namespace {

// A member's bytes as libarchive inflates them.
class member_input : public byte_input {
 public:
  explicit member_input(archive* a) : a_(a) {}
  std::ptrdiff_t read(std::uint8_t* buf, std::size_t size) override {
    const la_ssize_t n = archive_read_data(a_, buf, size);
    if (n < 0) {
      const char* w = archive_error_string(a_);
      error_ = w ? w : "its data cannot be read";
      return -1;
    }
    return n;
  }
  bool seekable() const override { return false; }
  bool seek(std::uint64_t) override { return false; }
  std::uint64_t size() const override { return 0; }
  std::string error() const override { return error_; }

 private:
  archive* a_;
  std::string error_;
};

// An archive through libarchive, its members' bytes as they are inflated.
class libarchive_input : public archive_input {
 public:
  explicit libarchive_input(bool from_file)
      : a_(archive_read_new()), member_(a_), from_file_(from_file) {
    archive_read_support_filter_all(a_);
    archive_read_support_format_all(a_);
    // A zip member's name not marked as UTF-8 is in the old IBM PC code
    // page, as the page reads it.
    archive_read_set_format_option(a_, "zip", "hdrcharset", "CP437");
  }
  libarchive_input(const libarchive_input&) = delete;
  libarchive_input& operator=(const libarchive_input&) = delete;
  ~libarchive_input() override { archive_read_free(a_); }

  bool open(const std::string& path, std::string& why) {
    if (archive_read_open_filename(a_, path.c_str(), 1 << 16) == ARCHIVE_OK) return true;
    why = words();
    return false;
  }

  // A stream, its first bytes already read.
  bool open(byte_input& in, std::vector<std::uint8_t> head, std::string& why) {
    in_ = &in;
    head_ = std::move(head);
    buf_.resize(1 << 16);
    if (archive_read_open(a_, this, nullptr, &libarchive_input::pull, nullptr) == ARCHIVE_OK)
      return true;
    why = words();
    return false;
  }

  bool next(std::string& path, bool& file, std::uint64_t& size) override {
    archive_entry* e = nullptr;
    const int r = archive_read_next_header(a_, &e);
    if (r == ARCHIVE_EOF) return false;
    if (r != ARCHIVE_OK && r != ARCHIVE_WARN) {
      error_ = words();
      return false;
    }
    const char* name = archive_entry_pathname_utf8(e);
    if (name == nullptr) name = archive_entry_pathname(e);
    path = name ? name : "";
    file = archive_entry_filetype(e) == AE_IFREG;
    size = archive_entry_size_is_set(e) ? static_cast<std::uint64_t>(archive_entry_size(e)) : 0;
    if (!format_known_) {
      format_known_ = true;
      passes_over_ =
          from_file_ && archive_format(a_) == ARCHIVE_FORMAT_ZIP && archive_filter_count(a_) <= 1;
    }
    return true;
  }
  byte_input& member() override { return member_; }
  std::string error() const override { return error_; }
  bool passes_over() const override { return passes_over_; }

 private:
  std::string words() const {
    const char* w = archive_error_string(a_);
    return w ? w : "it cannot be read as an archive";
  }
  // libarchive asks for the stream's next bytes: the head first.
  static la_ssize_t pull(archive* a, void* self, const void** bytes) {
    auto& me = *static_cast<libarchive_input*>(self);
    if (!me.head_.empty() && !me.head_given_) {
      me.head_given_ = true;
      *bytes = me.head_.data();
      return static_cast<la_ssize_t>(me.head_.size());
    }
    const std::ptrdiff_t n = me.in_->read(me.buf_.data(), me.buf_.size());
    if (n < 0) {
      archive_set_error(a, EIO, "%s", me.in_->error().c_str());
      return -1;
    }
    *bytes = me.buf_.data();
    return n;
  }

  archive* a_;
  member_input member_;
  bool from_file_, format_known_ = false, passes_over_ = false;
  std::string error_;
  byte_input* in_ = nullptr;
  std::vector<std::uint8_t> head_, buf_;
  bool head_given_ = false;
};

}  // namespace
#endif

bool archives_read(std::string& why) {
#ifdef BRIVANE_ARCHIVE
  (void)why;
  return true;
#else
  why = "this brivane-ls reads no archives: it was built without libarchive";
  return false;
#endif
}

std::unique_ptr<archive_input> open_archive(const std::string& path, std::string& why) {
#ifdef BRIVANE_ARCHIVE
  auto a = std::make_unique<libarchive_input>(true);
  if (!a->open(path, why)) return nullptr;
  return a;
#else
  (void)path;
  archives_read(why);
  return nullptr;
#endif
}

std::unique_ptr<archive_input> open_archive(byte_input& in, std::vector<std::uint8_t> head,
                                            std::string& why) {
#ifdef BRIVANE_ARCHIVE
  auto a = std::make_unique<libarchive_input>(false);
  if (!a->open(in, std::move(head), why)) return nullptr;
  return a;
#else
  (void)in;
  (void)head;
  archives_read(why);
  return nullptr;
#endif
}

namespace {

// A bzip2 stream: "BZh", its block size from 1 to 9, then a block's magic
// or the end's. "BZh" alone is three pulses a headerless tape may begin with.
bool bzip2_start(const std::vector<std::uint8_t>& h) {
  static const std::uint8_t block[] = {0x31, 0x41, 0x59, 0x26, 0x53, 0x59};
  static const std::uint8_t end[] = {0x17, 0x72, 0x45, 0x38, 0x50, 0x90};
  return h.size() >= 10 && h[0] == 'B' && h[1] == 'Z' && h[2] == 'h' && h[3] >= '1' &&
         h[3] <= '9' &&
         (std::equal(block, block + 6, h.begin() + 4) || std::equal(end, end + 6, h.begin() + 4));
}

}  // namespace

bool archive_start(const std::vector<std::uint8_t>& h) {
  const auto starts = [&](std::initializer_list<std::uint8_t> magic, std::size_t at = 0) {
    return h.size() >= at + magic.size() &&
           std::equal(magic.begin(), magic.end(), h.begin() + static_cast<std::ptrdiff_t>(at));
  };
  return starts({'P', 'K', 3, 4}) || starts({'P', 'K', 5, 6}) ||
         starts({'7', 'z', 0xBC, 0xAF, 0x27, 0x1C}) || starts({0xFD, '7', 'z', 'X', 'Z', 0}) ||
         bzip2_start(h) || starts({'u', 's', 't', 'a', 'r'}, 257);
}

bool archive_stream(const std::vector<std::uint8_t>& head) {
  if (archive_start(head)) return true;
  if (head.size() < 2 || head[0] != 0x1F || head[1] != 0x8B) return false;
  gzip_reader gz;
  gz.feed(head.data(), head.size());
  std::vector<std::uint8_t> start;
  const auto inflate = [&] {
    for (std::size_t n; start.size() < 512 && (n = gz.step()) > 0;)
      start.insert(start.end(), gz.output(), gz.output() + n);
  };
  inflate();
  // The inflater holds back the last bytes it has until it knows no more
  // follow: a small file may be all in head.
  if (start.size() < 512) {
    gz.end();
    inflate();
  }
  return archive_start(start);
}

namespace {

// name with " (n)" before its extension, for n above 1.
std::string numbered(const std::string& name, unsigned n) {
  if (n == 1) return name;
  const std::size_t dot = name.find_last_of('.');
  const std::size_t at = dot == std::string::npos || dot == 0 ? name.size() : dot;
  return name.substr(0, at) + " (" + std::to_string(n) + ")" + name.substr(at);
}

// Takes away the half-made file at path.
void remove_file(const std::string& path) {
#ifdef _WIN32
  _wunlink(widen(path).c_str());
#else
  unlink(path.c_str());
#endif
}

}  // namespace

std::string write_new_file(const std::string& dir, const std::string& name,
                           const std::vector<std::uint8_t>& bytes, std::string& why) {
  const std::string base = dir.empty() || dir.back() == '/' ? dir : dir + "/";
#ifdef _WIN32
  std::string temp;
  int fd = -1;
  for (unsigned n = GetCurrentProcessId(); fd < 0 && n < GetCurrentProcessId() + 100; ++n) {
    temp = base + ".brivane-" + std::to_string(n) + ".part";
    fd = _wopen(widen(temp).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, 0644);
  }
#else
  std::string temp = base + ".brivane-XXXXXX";
  const int fd = mkstemp(&temp[0]);
#endif
  if (fd < 0) {
    why = std::strerror(errno);
    return "";
  }
  const bool written = write_all(fd, bytes.data(), bytes.size());
  const int write_errno = errno;
  if (close_fd(fd) != 0 || !written) {
    why = std::strerror(written ? errno : write_errno);
    remove_file(temp);
    return "";
  }
#ifndef _WIN32
  const mode_t mask = umask(0);
  umask(mask);
  chmod(temp.c_str(), 0644 & ~mask);
#endif
  for (unsigned n = 1; n < 10000; ++n) {
    std::string final_name = numbered(name, n);
    const std::string path = base + final_name;
#ifdef _WIN32
    if (MoveFileExW(widen(temp).c_str(), widen(path).c_str(), 0)) return final_name;
    const DWORD e = GetLastError();
    if (e == ERROR_ALREADY_EXISTS || e == ERROR_FILE_EXISTS) continue;
    why = "it cannot be moved to its name";
    _wunlink(widen(temp).c_str());
    return "";
#else
    // A second name for the whole file, never over another: then the first goes.
    if (link(temp.c_str(), path.c_str()) == 0) {
      unlink(temp.c_str());
      return final_name;
    }
    if (errno == EEXIST) continue;
    // A file system without such names (FAT): the file itself, by a move
    // that replaces nothing.
    if (errno == EPERM || errno == ENOTSUP || errno == EMLINK) {
      if (renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0)
        return final_name;
      if (errno == EEXIST) continue;
    }
    why = std::strerror(errno);
    unlink(temp.c_str());
    return "";
#endif
  }
  why = "too many files of that name";
  remove_file(temp);
  return "";
}
