// Where brivane-ls finds its tapes: what a name says a file is, a folder's
// entries in name order, an archive's members one after another (through
// Debian's libarchive, where the build has it), and a PRG file written whole
// under a name of its own.
#ifndef BRIVANE_LS_SOURCES_H
#define BRIVANE_LS_SOURCES_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tap_command.h"

/// What a file's name says it is.
enum class name_kind {
  tape,       ///< .tap
  gzip_tape,  ///< .tap.gz
  recording,  ///< .wav, .flac, .ogg, .oga, .opus, .mp3
  archive,    ///< .zip, .7z, .tar, .tar.gz, .tgz, .tar.xz, .txz, .tar.bz2, .tbz2
  other,
};
name_kind kind_of_name(const std::string& name);

/// A folder's entries' names, in byte order, but "." and ".."; false, with
/// why in words, where it cannot be read.
bool list_folder(const std::string& path, std::vector<std::string>& names, std::string& why);

/// An archive read member by member.
class archive_input {
 public:
  virtual ~archive_input() = default;
  /// Moves to the next member: true with its path, whether it is a file,
  /// and its size (0 where the archive does not say); false at the end or
  /// where the archive is damaged (error() then says how).
  virtual bool next(std::string& path, bool& file, std::uint64_t& size) = 0;
  /// The member's bytes, as a byte_input; valid until next().
  virtual byte_input& member() = 0;
  /// What went wrong, in words; empty at a clean end.
  virtual std::string error() const = 0;
  /// Whether a member can be passed over without reading it (a zip file on
  /// disk): then several readers may share the archive out between them.
  virtual bool passes_over() const = 0;
};

/// Whether this build reads archives; where not, why, in words.
bool archives_read(std::string& why);

/// Opens an archive file; null, with why in words, where it cannot be.
std::unique_ptr<archive_input> open_archive(const std::string& path, std::string& why);

/// Reads an archive from a stream whose first bytes, head, have been read
/// from it already; null, with why in words, where it cannot be.
std::unique_ptr<archive_input> open_archive(byte_input& in, std::vector<std::uint8_t> head,
                                            std::string& why);

/// Whether a file's first bytes are those of an archive brivane-ls reads
/// (zip, 7z, tar, xz, bzip2); a gzip file's are not told apart here.
bool archive_start(const std::vector<std::uint8_t>& head);

/// Whether a stream's first bytes are an archive's: archive_start's, or a
/// gzip file's whose first bytes inflate to a tar file's.
bool archive_stream(const std::vector<std::uint8_t>& head);

/// Writes bytes as a new file in folder dir, under name or, where a file
/// of that name is there already, "name (2)", "name (3)" ...: never over a
/// file, and never a part of one under its final name. Returns the name
/// written, or empty, with why in words.
std::string write_new_file(const std::string& dir, const std::string& name,
                           const std::vector<std::uint8_t>& bytes, std::string& why);

#endif
