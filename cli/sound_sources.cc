// The sources of brivane-tap's sound: the core's WAV reader everywhere,
// libFLAC and libsndfile where the build has them.
#include "sound_sources.h"

#include <algorithm>
#include <cstring>

#ifdef BRIVANE_SNDFILE
#include <sndfile.h>
#endif
#ifdef BRIVANE_FLAC
#include <FLAC/stream_decoder.h>
#endif

std::ptrdiff_t recording_bytes::read(std::uint8_t* buf, std::size_t size) {
  if (pos_ < head_.size()) {
    const std::size_t n = std::min<std::size_t>(size, head_.size() - pos_);
    std::memcpy(buf, head_.data() + pos_, n);
    pos_ += n;
    return static_cast<std::ptrdiff_t>(n);
  }
  if (pos_ != at_input_) {
    if (!in_.seek(pos_)) return -1;
    at_input_ = pos_;
  }
  const std::ptrdiff_t n = in_.read(buf, size);
  if (n > 0) {
    pos_ += static_cast<std::uint64_t>(n);
    at_input_ = pos_;
  }
  return n;
}

bool recording_bytes::seek(std::uint64_t at) {
  if (at == pos_) return true;
  if (!in_.seekable() && at > head_.size()) return false;  // a pipe goes only onward
  if (!in_.seekable() && at_input_ != head_.size()) return false;
  pos_ = at;
  return true;
}

namespace {

constexpr std::size_t PIECE = std::size_t{1} << 16;

// The WAV file's bytes to the core's reader, as they arrive.
class wav_bytes : public sound_source {
 public:
  source_end run(recording_bytes& in, recording_converter& c, const pulse_writer& write) override {
    std::vector<std::uint8_t> buf(PIECE), pulses;
    for (;;) {
      const std::ptrdiff_t n = in.read(buf.data(), buf.size());
      if (n < 0) return source_end::read_error;
      if (n == 0) return source_end::whole;
      pulses.clear();
      const bool sound = c.feed(buf.data(), static_cast<std::size_t>(n), pulses);
      if (!pulses.empty() && !write(pulses)) return source_end::write_error;
      if (!sound) return source_end::whole;  // the fault is the converter's to say
    }
  }
  std::uint64_t frames() const override { return 0; }  // the reader checks its own length
};

#ifdef BRIVANE_SNDFILE
// libsndfile reads the recording through these calls, from the bytes
// brivane-tap holds.
sf_count_t sf_length(void* user) {
  return static_cast<sf_count_t>(static_cast<recording_bytes*>(user)->size());
}
sf_count_t sf_seek(sf_count_t offset, int whence, void* user) {
  auto* in = static_cast<recording_bytes*>(user);
  const sf_count_t base = whence == SEEK_SET   ? 0
                          : whence == SEEK_CUR ? static_cast<sf_count_t>(in->tell())
                                               : static_cast<sf_count_t>(in->size());
  const sf_count_t to = base + offset;
  if (to < 0 || !in->seek(static_cast<std::uint64_t>(to))) return -1;
  return to;
}
sf_count_t sf_read(void* ptr, sf_count_t count, void* user) {
  auto* in = static_cast<recording_bytes*>(user);
  auto* p = static_cast<std::uint8_t*>(ptr);
  sf_count_t done = 0;
  while (done < count) {
    const std::ptrdiff_t n = in->read(p + done, static_cast<std::size_t>(count - done));
    if (n <= 0) break;
    done += n;
  }
  return done;
}
sf_count_t sf_tell(void* user) {
  return static_cast<sf_count_t>(static_cast<recording_bytes*>(user)->tell());
}

class sndfile_samples : public sound_source {
 public:
  source_end run(recording_bytes& in, recording_converter& c, const pulse_writer& write) override {
    SF_VIRTUAL_IO io{sf_length, sf_seek, sf_read, nullptr, sf_tell};
    SF_INFO info{};
    SNDFILE* sf = sf_open_virtual(&io, SFM_READ, &info, &in);
    if (sf == nullptr) return source_end::cut_short;  // its start promised a format it then broke
    source_end end = source_end::whole;
    if (c.start_samples(info.samplerate, info.channels)) {
      std::vector<float> samples(std::size_t{4096} * static_cast<std::size_t>(info.channels));
      std::vector<std::uint8_t> pulses;
      for (;;) {
        const sf_count_t n = sf_readf_float(sf, samples.data(), 4096);
        if (n <= 0) break;
        frames_ += static_cast<std::uint64_t>(n);
        pulses.clear();
        c.feed_samples(samples.data(), static_cast<std::size_t>(n), 1,
                       static_cast<std::size_t>(info.channels), pulses);
        if (!pulses.empty() && !write(pulses)) {
          end = source_end::write_error;
          break;
        }
      }
      // libsndfile's own count of frames, for the formats whose length
      // the core does not check (AIFF, RF64, Wave64).
      const bool short_of_count = info.frames > 0 && info.frames != SF_COUNT_MAX &&
                                  frames_ < static_cast<std::uint64_t>(info.frames);
      if (end == source_end::whole && (sf_error(sf) != SF_ERR_NO_ERROR || short_of_count))
        end = source_end::cut_short;
    }
    sf_close(sf);
    return end;
  }
  std::uint64_t frames() const override { return frames_; }

 private:
  std::uint64_t frames_ = 0;
};
#endif

#ifdef BRIVANE_FLAC
// FLAC and Ogg FLAC through libFLAC, which reads a stream as it comes, so
// that a pipe does too.
class flac_samples : public sound_source {
 public:
  explicit flac_samples(bool ogg) : ogg_(ogg) {}

  source_end run(recording_bytes& in, recording_converter& c, const pulse_writer& write) override {
    in_ = &in;
    c_ = &c;
    write_ = &write;
    FLAC__StreamDecoder* d = FLAC__stream_decoder_new();
    if (d == nullptr) return source_end::cut_short;
    const auto init =
        ogg_ ? FLAC__stream_decoder_init_ogg_stream : FLAC__stream_decoder_init_stream;
    if (init(d, read_cb, nullptr, nullptr, nullptr, nullptr, write_cb, nullptr, error_cb, this) !=
        FLAC__STREAM_DECODER_INIT_STATUS_OK) {
      FLAC__stream_decoder_delete(d);
      return source_end::cut_short;
    }
    FLAC__stream_decoder_process_until_end_of_stream(d);
    FLAC__stream_decoder_finish(d);
    FLAC__stream_decoder_delete(d);
    if (end_ == source_end::whole && damaged_) return source_end::cut_short;
    return end_;
  }
  std::uint64_t frames() const override { return frames_; }

 private:
  static FLAC__StreamDecoderReadStatus read_cb(const FLAC__StreamDecoder*, FLAC__byte buffer[],
                                               std::size_t* bytes, void* user) {
    auto* self = static_cast<flac_samples*>(user);
    const std::ptrdiff_t n = self->in_->read(buffer, *bytes);
    if (n < 0) {
      self->end_ = source_end::read_error;
      return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
    }
    *bytes = static_cast<std::size_t>(n);
    return n == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM
                  : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
  }

  static FLAC__StreamDecoderWriteStatus write_cb(const FLAC__StreamDecoder*,
                                                 const FLAC__Frame* frame,
                                                 const FLAC__int32* const buffer[], void* user) {
    auto* self = static_cast<flac_samples*>(user);
    const unsigned channels = frame->header.channels, n = frame->header.blocksize;
    if (!self->started_) {
      self->started_ = true;
      if (!self->c_->start_samples(frame->header.sample_rate, static_cast<int>(channels)))
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;  // the converter says why
    }
    const double scale =
        1.0 / static_cast<double>(std::int64_t{1} << (frame->header.bits_per_sample - 1));
    self->samples_.resize(std::size_t{channels} * n);
    for (unsigned ch = 0; ch < channels; ++ch)
      for (unsigned i = 0; i < n; ++i)
        self->samples_[std::size_t{ch} * n + i] = static_cast<float>(buffer[ch][i] * scale);
    self->frames_ += n;
    self->pulses_.clear();
    self->c_->feed_samples(self->samples_.data(), n, n, 1, self->pulses_);
    if (!self->pulses_.empty() && !(*self->write_)(self->pulses_)) {
      self->end_ = source_end::write_error;
      return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
  }

  static void error_cb(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* user) {
    static_cast<flac_samples*>(user)->damaged_ = true;
  }

  bool ogg_;
  recording_bytes* in_ = nullptr;
  recording_converter* c_ = nullptr;
  const pulse_writer* write_ = nullptr;
  bool started_ = false, damaged_ = false;
  source_end end_ = source_end::whole;
  std::uint64_t frames_ = 0;
  std::vector<float> samples_;
  std::vector<std::uint8_t> pulses_;
};
#endif

}  // namespace

std::unique_ptr<sound_source> wav_source() { return std::make_unique<wav_bytes>(); }

std::unique_ptr<sound_source> decoder_for(sound_format f, bool seekable) {
#ifdef BRIVANE_FLAC
  if (f == sound_format::flac) return std::make_unique<flac_samples>(false);
  if (f == sound_format::ogg_flac && FLAC_API_SUPPORTS_OGG_FLAC)
    return std::make_unique<flac_samples>(true);
#endif
#ifdef BRIVANE_SNDFILE
  const bool through_sndfile = f == sound_format::ogg_vorbis || f == sound_format::ogg_opus ||
                               f == sound_format::mp3 || f == sound_format::aiff ||
                               f == sound_format::rf64 || f == sound_format::w64 ||
                               f == sound_format::wav;
  if (through_sndfile && seekable) return std::make_unique<sndfile_samples>();
#endif
  (void)f;
  (void)seekable;
  return nullptr;
}

const char* const FORMATS_READ =
#if defined(BRIVANE_SNDFILE) && defined(BRIVANE_FLAC)
    "WAV, FLAC, Ogg Vorbis, Ogg Opus, Ogg FLAC, MP3, AIFF, RF64 and Wave64";
#elif defined(BRIVANE_FLAC)
    "WAV, FLAC and Ogg FLAC";
#else
    "WAV";
#endif
