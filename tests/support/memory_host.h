// A host for run_brivane with tapes and streams in memory, and knobs for
// short reads, read errors and lost output.
#ifndef BRIVANE_TESTS_MEMORY_HOST_H
#define BRIVANE_TESTS_MEMORY_HOST_H

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>

#include "command_line.h"
#include "tape_writer.h"

class memory_source : public pulse_source {
 public:
  memory_source(bytes tape, std::size_t chunk, std::size_t fail_at)
      : tape_(std::move(tape)), chunk_(chunk), fail_at_(fail_at) {}
  std::ptrdiff_t read(std::uint8_t* buf, std::size_t size) override {
    if (pos_ >= fail_at_) return -1;
    std::size_t n = std::min({size, chunk_, tape_.size() - pos_, fail_at_ - pos_});
    std::copy_n(tape_.begin() + static_cast<std::ptrdiff_t>(pos_), n, buf);
    pos_ += n;
    return static_cast<std::ptrdiff_t>(n);
  }

 private:
  bytes tape_;
  std::size_t chunk_, fail_at_, pos_ = 0;
};

class memory_host : public host {
 public:
  std::map<std::string, bytes> files;
  std::size_t chunk = SIZE_MAX;    // most bytes one read hands over
  std::size_t fail_at = SIZE_MAX;  // reading fails once this many bytes are read
  bool output_lost = false;
  string_sink out_, err_;

  std::unique_ptr<pulse_source> open(const char* path) override {
    auto f = files.find(path);
    if (f == files.end()) return nullptr;
    return std::make_unique<memory_source>(f->second, chunk, fail_at);
  }
  text_sink& out() override { return out_; }
  text_sink& err() override { return err_; }
  bool output_failed() override { return output_lost; }
};

#endif
