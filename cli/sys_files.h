// The file system and the standard streams as brivane-tap and brivane-ls
// use them, written once for POSIX and Windows: reading a file or standard
// input, writing all of a buffer, a stream as a text sink, a file's kind,
// and standard error kept for the program's own messages.
#ifndef BRIVANE_SYS_FILES_H
#define BRIVANE_SYS_FILES_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "scan/tape_scan.h"
#include "tap_command.h"

/// Writes all n bytes to fd, again where a signal interrupts; false on failure.
bool write_all(int fd, const std::uint8_t* p, std::size_t n);
/// Closes a descriptor.
int close_fd(int fd);
/// Moves fd's position to at; returns it, or -1.
long long seek_fd(int fd, long long at);

/// An open file or standard input, read with the platform's own calls.
class fd_input : public byte_input {
 public:
  /// own: it closes fd when done.
  fd_input(int fd, bool own);
  fd_input(const fd_input&) = delete;
  fd_input& operator=(const fd_input&) = delete;
  ~fd_input() override;
  std::ptrdiff_t read(std::uint8_t* buf, std::size_t size) override;
  bool seekable() const override { return regular_; }
  bool seek(std::uint64_t at) override;
  std::uint64_t size() const override { return size_; }
  std::string error() const override { return error_; }

 private:
  int fd_;
  bool own_, regular_ = false;
  std::uint64_t size_ = 0;
  std::string error_;
};

/// Opens path for reading ("-": standard input); null, with why in words
/// ("No such file or directory", "it is a folder"), where it cannot.
std::unique_ptr<byte_input> open_input(const std::string& path, std::string& why);

/// The head already read from in, and the rest of it, held aside in a
/// temporary file (gone once closed) that can be read from any place: for a
/// reader that goes back and forth in what comes down a pipe or out of an
/// archive. Null, with why in words, where it cannot be.
std::unique_ptr<byte_input> spool(byte_input& in, const std::vector<std::uint8_t>& head,
                                  std::string& why);

/// A descriptor as a text sink, that remembers whether any write failed.
class fd_sink : public text_sink {
 public:
  explicit fd_sink(int fd) : fd_(fd) {}
  void write(std::string_view bytes) override;
  bool failed() const { return failed_; }
  int fd() const { return fd_; }

 private:
  int fd_;
  bool failed_ = false;
};

/// What a path names.
enum class path_kind { missing, file, folder, other };
struct path_facts {
  path_kind kind = path_kind::missing;
  std::uint64_t device = 0, inode = 0;  ///< which folder it is, where the system says
  std::uint64_t size = 0;
  std::string why;  ///< where it cannot be looked at: why, in words
  /// Where it cannot be looked at: whether nothing is there to look at (a
  /// link to nothing, or in a loop of links), not that it is out of reach.
  bool nothing = false;
};
/// Looks at path, following links.
path_facts look_at(const std::string& path);

/// Whether a and b name one file, through links or spelled otherwise.
bool same_file(const std::string& a, const std::string& b);

/// Standard error for the program's own messages: a descriptor of its own,
/// while descriptor 2, where libraries print their warnings, leads nowhere.
int own_stderr();

/// Whether fd is a terminal.
bool is_terminal(int fd);

#endif
