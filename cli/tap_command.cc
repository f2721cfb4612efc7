// brivane-tap's run: the recording's start read once and told apart, the
// one source its format calls for, the TAP written as pulses come, and the
// words and status for each way it can end.
#include "tap_command.h"

#include <memory>

#include "sound_sources.h"
#include "tap_options.h"
#include "words/fault_words.h"

namespace {

// Bytes read for the start before anything else: enough to tell the format
// and to read the counts of sound it records.
constexpr std::size_t HEAD = sound_length_check::HEAD_BYTES;
// Bytes at the end of an Ogg file read for its last page's mark.
constexpr std::uint64_t OGG_TAIL = std::uint64_t{1} << 16;

class run {
 public:
  run(byte_input& input, const std::string& name, machine m, tap_output& tap,
      const std::string& tape_name, const std::function<bool()>& stop)
      : input_(input), name_(name), machine_(m), tap_(&tap), tape_name_(tape_name), stop_(stop) {}
  tap_outcome make_tap();

 private:
  tap_outcome say(const std::string& message, int status) { return {status, message}; }
  const std::string& name() const { return name_; }
  const std::string& tape_name() const { return tape_name_; }
  bool read_head(byte_input& in, std::vector<std::uint8_t>& head, bool& whole);
  source_end convert(std::unique_ptr<sound_source> source, recording_bytes& in);
  bool ogg_tail_unmarked(recording_bytes& in, sound_length_check& length);

  byte_input& input_;
  const std::string& name_;
  machine machine_;
  tap_output* tap_;
  const std::string& tape_name_;
  const std::function<bool()>& stop_;
  recording_converter c_{timing_of(machine_).clock};
  bool put(std::vector<std::uint8_t>& pulses);
  bool write_pulses(std::vector<std::uint8_t>& pulses);
  bool stopped() const { return stop_ && stop_(); }

  std::uint64_t written_ = 0;  // pulse bytes in the TAP
  bool header_written_ = false;
  bool write_failed_ = false;
  std::uint64_t frames_ = 0;
};

bool run::read_head(byte_input& in, std::vector<std::uint8_t>& head, bool& whole) {
  head.resize(HEAD);
  std::size_t got = 0;
  whole = false;
  while (got < HEAD) {
    const std::ptrdiff_t n = in.read(head.data() + got, HEAD - got);
    if (n < 0) return false;
    if (n == 0) {
      whole = true;
      break;
    }
    got += static_cast<std::size_t>(n);
  }
  head.resize(got);
  return true;
}

// The recording through source into the converter, its pulses into the TAP
// (opened by the first of them, its header first); false stops the source
// where the run is stopped.
bool run::put(std::vector<std::uint8_t>& pulses) {
  write_failed_ = !write_pulses(pulses);
  return !write_failed_ && !stopped();
}

bool run::write_pulses(std::vector<std::uint8_t>& pulses) {
  if (!header_written_) {
    header_written_ = true;
    const std::vector<std::uint8_t> header = tap_header(0, machine_);  // its size comes at the end
    if (!tap_->write(header.data(), header.size())) return false;
  }
  written_ += pulses.size();
  return pulses.empty() || tap_->write(pulses.data(), pulses.size());
}

source_end run::convert(std::unique_ptr<sound_source> source, recording_bytes& in) {
  const pulse_writer write = [&](std::vector<std::uint8_t>& pulses) { return put(pulses); };
  const source_end end = source->run(in, c_, write);
  frames_ = source->frames();
  return end;
}

// Whether an Ogg file's last page lacks the mark that ends a whole stream.
bool run::ogg_tail_unmarked(recording_bytes& in, sound_length_check& length) {
  if (!in.seekable()) return false;
  const std::uint64_t size = in.size();
  if (!in.seek(size > OGG_TAIL ? size - OGG_TAIL : 0)) return false;
  std::vector<std::uint8_t> buf(OGG_TAIL);
  for (std::ptrdiff_t n; (n = in.read(buf.data(), buf.size())) > 0;)
    length.watch(buf.data(), static_cast<std::size_t>(n));
  return length.cut_short(frames_);
}

tap_outcome run::make_tap() {
  std::vector<std::uint8_t> head;
  bool whole = false;
  if (!read_head(input_, head, whole))
    return say("cannot read " + name() + ": " + input_.error(), TAP_CANNOT_OPEN);
  const sniffed kind = sniff_sound(head.data(), head.size(), whole);
  sound_length_check length;
  length.head(kind.format, head.data(), head.size());
  recording_bytes in(input_, std::move(head));

  std::unique_ptr<sound_source> source;
  if (kind.format == sound_format::wav) {
    source = wav_source();
  } else if (kind.format != sound_format::other && kind.format != sound_format::unknown) {
    source = decoder_for(kind.format, in.seekable());
    if (!source && !in.seekable() && decoder_for(kind.format, true))
      return say(name() + ": through a pipe brivane-tap reads WAV, FLAC and Ogg FLAC only; " +
                     "give other recordings by their file names",
                 TAP_NOT_READ);
    if (!source)
      return say(
          name() + ": it is a recording this brivane-tap does not read: it reads " + FORMATS_READ,
          TAP_NOT_READ);
  } else {
    return say(name() + ": " + not_a_recording_words(kind), TAP_NOT_READ);
  }

  source_end end = convert(std::move(source), in);
  // A WAV file in an encoding of its own (ADPCM, A-law and the like) is
  // read by libsndfile instead, where the build has it, from its start.
  if (kind.format == sound_format::wav && c_.fault() == recording_fault::unsupported &&
      !header_written_) {
    if (auto other = decoder_for(sound_format::wav, in.seekable()); other && in.seek(0)) {
      c_ = recording_converter(timing_of(machine_).clock);
      end = convert(std::move(other), in);
    }
  }

  // Stopped: a recording still being made (from a pipe or a device) ends
  // here, as Ctrl-C is how one stops it; a file's conversion is given up.
  const bool stop = stopped();
  if (end == source_end::write_error && (!stop || write_failed_)) {
    tap_->abandon();
    return say("cannot write " + tape_name() + ": " + tap_->error(), TAP_CANNOT_WRITE);
  }
  if (stop && in.seekable()) {
    tap_->abandon();
    return say(name() + ": interrupted", TAP_INTERRUPTED);
  }
  const std::string read_failure = end == source_end::read_error ? in.error() : "";
  bool cut = !stop && (end == source_end::cut_short || c_.sound_missing());
  if (c_.fault() == recording_fault::none && end == source_end::whole && !cut && !stop) {
    const bool ogg = kind.format == sound_format::ogg_vorbis ||
                     kind.format == sound_format::ogg_opus || kind.format == sound_format::ogg_flac;
    cut = (ogg && ogg_tail_unmarked(in, length)) || length.cut_short(frames_);
  }
  std::vector<std::uint8_t> last;
  if (c_.fault() != recording_fault::none || !c_.finish(last)) {
    tap_->abandon();
    if (kind.format != sound_format::wav && c_.fault() == recording_fault::cut_short)
      return say(name() + ": " + UNDECODABLE_WORDS, TAP_NOT_READ);
    return say(name() + ": " + recording_fault_words(c_.fault(), c_.rate()),
               c_.fault() == recording_fault::no_tape_signal ? TAP_NO_SIGNAL : TAP_NOT_READ);
  }
  // A size past what the header's 32 bits hold is left 0, as on a pipe.
  if (!write_pulses(last) ||
      !tap_->finish(tap_header(written_ <= 0xFFFFFFFFu ? written_ : 0, machine_))) {
    tap_->abandon();
    return say("cannot write " + tape_name() + ": " + tap_->error(), TAP_CANNOT_WRITE);
  }
  if (stop)
    return say(name() + ": interrupted; the TAP file holds what came before", TAP_INTERRUPTED);
  if (end == source_end::read_error)
    return say(name() + ": it could not be read to its end (" + read_failure +
                   "); the TAP file holds what came before",
               TAP_CUT_SHORT);
  if (cut) return say(name() + ": " + CUT_SHORT_WORDS, TAP_CUT_SHORT);
  return {TAP_OK, ""};
}

// The TAP where it would be written over the recording: nothing of it is.
class refused_tap : public tap_output {
 public:
  bool write(const std::uint8_t*, std::size_t) override { return false; }
  bool finish(const std::vector<std::uint8_t>&) override { return false; }
  void abandon() override {}
  std::string error() const override {
    return "it is the recording itself; name another file for the TAP";
  }
};

}  // namespace

tap_outcome make_tap(byte_input& in, const std::string& name, machine m, tap_output& tap,
                     const std::string& tape_name, const std::function<bool()>& stop) {
  return run(in, name, m, tap, tape_name, stop).make_tap();
}

int run_brivane_tap(int argc, const char* const* argv, tap_host& sys) {
  const tap_options o = parse_tap_options(argc, argv);
  if (o.help) {
    sys.out().write(tap_usage());
    return sys.flush_out() ? TAP_OK : TAP_CANNOT_WRITE;
  }
  if (o.version) {
    sys.out().write("brivane-tap " BRIVANE_VERSION "\n");
    return sys.flush_out() ? TAP_OK : TAP_CANNOT_WRITE;
  }
  if (!o.error.empty()) {
    sys.err().write("brivane-tap: " + o.error + "\n");
    sys.err().write(tap_usage());
    return TAP_USAGE;
  }
  const std::string name = o.recording == "-" ? "standard input" : o.recording;
  std::string why;
  std::unique_ptr<byte_input> input = sys.open_recording(o.recording, why);
  tap_outcome made{TAP_CANNOT_OPEN, "cannot open " + name + ": " + why};
  if (input) {
    // A TAP that would take the recording's place is refused at its first
    // byte: what is no recording is still said to be none.
    const bool over_recording =
        o.recording != "-" && o.tape != "-" && sys.same_file(o.recording, o.tape);
    std::unique_ptr<tap_output> tap =
        over_recording ? std::make_unique<refused_tap>() : sys.tap_file(o.tape);
    made = make_tap(*input, name, o.for_machine, *tap, o.tape == "-" ? "standard output" : o.tape,
                    [&sys] { return sys.interrupted(); });
  }
  if (made.status != TAP_OK) sys.err().write("brivane-tap: " + made.message + "\n");
  return made.status;
}
