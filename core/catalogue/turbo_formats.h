// The readers of the turbo formats that do not fit the generic shape of a
// header, data and a checksum; each says in its file why it does not.
#ifndef BRIVANE_CATALOGUE_TURBO_FORMATS_H
#define BRIVANE_CATALOGUE_TURBO_FORMATS_H

#include "catalogue/turbo_loaders.h"

std::unique_ptr<block_reader> turbotape_reader(const loader_row&, const lead_info&,
                                               std::unique_ptr<loader_memory>&);
std::unique_ptr<block_reader> novaload_reader(const loader_row&, const lead_info&,
                                              std::unique_ptr<loader_memory>&);
std::unique_ptr<block_reader> ocean_imagine_reader(const loader_row&, const lead_info&,
                                                   std::unique_ptr<loader_memory>&);
std::unique_ptr<block_reader> cyberload_reader(const loader_row&, const lead_info&,
                                               std::unique_ptr<loader_memory>&);
std::unique_ptr<block_reader> accolade_reader(const loader_row&, const lead_info&,
                                              std::unique_ptr<loader_memory>&);
std::unique_ptr<block_reader> bleepload_reader(const loader_row&, const lead_info&,
                                               std::unique_ptr<loader_memory>&);
std::unique_ptr<block_reader> wildload_reader(const loader_row&, const lead_info&,
                                              std::unique_ptr<loader_memory>&);
std::unique_ptr<block_reader> super_pavloda_reader(const loader_row&, const lead_info&,
                                                   std::unique_ptr<loader_memory>&);

/// Helpers the readers share.
namespace turbo {

/// A file with its loader, addresses and program, its checks as found.
turbo_file file(const std::string& loader, std::uint16_t start, std::vector<std::uint8_t> program,
                copy_check check);

/// Whether a block of size bytes can load at start: within 64 KiB, not empty.
inline bool fits(std::uint32_t start, std::uint32_t size) {
  return size > 0 && start + size <= 0x10000;
}

/// The pieces a chain of sub-blocks loads, in tape order, made one file:
/// where they fill one stretch of memory, that stretch; where they load to
/// several places, their bytes in tape order from the first piece's address.
class chain {
 public:
  void add(std::uint16_t at, std::vector<std::uint8_t> bytes) {
    size_ += bytes.size();
    pieces_.emplace_back(at, std::move(bytes));
  }
  bool empty() const { return pieces_.empty(); }
  std::size_t pieces() const { return pieces_.size(); }
  /// Where the last piece loaded ends.
  std::uint32_t last_end() const {
    return pieces_.empty()
               ? 0
               : pieces_.back().first + static_cast<std::uint32_t>(pieces_.back().second.size());
  }
  turbo_file file(const std::string& loader, copy_check check) const;

 private:
  std::vector<std::pair<std::uint16_t, std::vector<std::uint8_t>>> pieces_;
  std::size_t size_ = 0;
};

}  // namespace turbo

#endif
