// The core as the module calls it from WebAssembly: scans that are fed a
// tape in pieces and keep what the program would write to standard output,
// banner first, and each name as data; catalogues of whole blocks, their
// records crossing as JSON whose fields the core names; recordings told
// apart and turned into pulses; the inflater; the TAP file's header and the
// machines. Text comes back through one buffer (bv_text_size), faults in
// the core's own words.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/crc32.h"
#include "archive/deflate.h"
#include "archive/gzip.h"
#include "catalogue/catalogue_text.h"
#include "catalogue/tape_catalogue.h"
#include "recording/recording.h"
#include "recording/sound_format.h"
#include "render/filename.h"
#include "scan/tape_scan.h"
#include "tap/tap_file.h"
#include "words/fault_words.h"

namespace {

struct web_scan {
  web_scan(bool all, bool escape) : scan({all, escape}, &found) { out.write(BANNER); }
  std::vector<found_name> found;
  tape_scan scan;
  string_sink out;
};

// A catalogue, the entries it last gave, and, where its records carry
// their cells, the tape's path for their CSV lines.
struct web_catalogue {
  web_catalogue(machine m, bool with_cells, std::string path)
      : catalogue(m), cells(with_cells), tape(std::move(path)) {}
  tape_catalogue catalogue;
  bool cells;
  std::string tape;
  std::vector<catalogue_entry> taken;
};

// A recording being turned into pulses, and the pulses not yet taken.
struct web_recording {
  explicit web_recording(double clock) : converter(clock) {}
  recording_converter converter;
  std::vector<std::uint8_t> pulses;
};

// A zip member's raw deflate stream or a gzipped tape, behind one face.
struct web_inflater {
  virtual ~web_inflater() = default;
  virtual void feed(const std::uint8_t* bytes, std::size_t size) = 0;
  virtual void end() = 0;
  virtual std::size_t step() = 0;
  virtual const std::uint8_t* output() const = 0;
  virtual bool finished() const = 0;
  virtual inflate_fault fault() const = 0;
};

template <class reader>
struct inflating : web_inflater {
  void feed(const std::uint8_t* bytes, std::size_t size) override { r.feed(bytes, size); }
  void end() override { r.end(); }
  std::size_t step() override { return r.step(); }
  const std::uint8_t* output() const override { return r.output(); }
  bool finished() const override { return r.finished(); }
  inflate_fault fault() const override { return r.fault(); }
  reader r;
};

// Where the caller puts the next piece of a tape or of compressed data.
std::vector<std::uint8_t> input;
std::vector<std::uint8_t> header;
std::string text;  // the last text handed out

const char* hand_out(std::string s) {
  text = std::move(s);
  return text.c_str();
}

}  // namespace

extern "C" {

/// A new scan whose output holds the banner.
EMSCRIPTEN_KEEPALIVE web_scan* bv_scan_new(int all, int escape) {
  return new web_scan(all != 0, escape != 0);
}

EMSCRIPTEN_KEEPALIVE void bv_scan_free(web_scan* s) { delete s; }

/// Room for the next piece of size bytes; valid until the next call here.
EMSCRIPTEN_KEEPALIVE std::uint8_t* bv_input(std::size_t size) {
  if (input.size() < size) input.resize(size);
  return input.data();
}

/// Feeds size pulses (in the input, or made by an inflater) to the scan.
/// Returns 1 while the scan wants more of the tape, 0 once it is over.
EMSCRIPTEN_KEEPALIVE int bv_scan_feed(web_scan* s, const std::uint8_t* pulses, std::size_t size) {
  return s->scan.feed(pulses, size, s->out) ? 1 : 0;
}

/// The CRC-32 of the bytes so far, given crc for those before these size.
EMSCRIPTEN_KEEPALIVE std::uint32_t bv_crc32(std::uint32_t crc, const std::uint8_t* bytes,
                                            std::size_t size) {
  return crc32_update(crc, bytes, size);
}

/// Names found so far.
EMSCRIPTEN_KEEPALIVE int bv_scan_found_count(web_scan* s) { return s->scan.found_count(); }

EMSCRIPTEN_KEEPALIVE const char* bv_scan_output(web_scan* s) { return s->out.text.data(); }
EMSCRIPTEN_KEEPALIVE std::size_t bv_scan_output_size(web_scan* s) { return s->out.text.size(); }

/// The i-th name reported: its number in the listing, and the bytes shown for it.
EMSCRIPTEN_KEEPALIVE int bv_scan_name_number(web_scan* s, std::size_t i) {
  return s->found[i].number;
}
EMSCRIPTEN_KEEPALIVE const char* bv_scan_name(web_scan* s, std::size_t i) {
  return s->found[i].shown.data();
}
EMSCRIPTEN_KEEPALIVE std::size_t bv_scan_name_size(web_scan* s, std::size_t i) {
  return s->found[i].shown.size();
}

/// A catalogue timed at machine m's clock; with cells, its records carry
/// their cells and CSV lines under the tape's path (size bytes in the input);
/// with names, it keeps the names `brivane` lists, for bv_catalogue_listing.
EMSCRIPTEN_KEEPALIVE web_catalogue* bv_catalogue_new(int m, int cells, int names, const char* tape,
                                                     std::size_t size) {
  auto* c = new web_catalogue(static_cast<machine>(m), cells != 0, std::string(tape, size));
  c->catalogue.keep_listed_names(names != 0);
  return c;
}

EMSCRIPTEN_KEEPALIVE void bv_catalogue_free(web_catalogue* c) { delete c; }

/// Feeds the next size bytes of the tape.
EMSCRIPTEN_KEEPALIVE void bv_catalogue_feed(web_catalogue* c, const std::uint8_t* bytes,
                                            std::size_t size) {
  c->catalogue.feed(bytes, size);
}

/// The tape has ended.
EMSCRIPTEN_KEEPALIVE void bv_catalogue_finish(web_catalogue* c) { c->catalogue.finish(); }

/// Takes out the records settled since the last call, as a JSON array of
/// objects whose fields are named as the module's records; with cells, each
/// also holds "cells" (its columns' texts without and with -e), "csv" (its
/// CSV lines both ways, under the tape's path) and "prgName" (the name for
/// its program's file). The programs are read
/// with bv_catalogue_program until the next call.
EMSCRIPTEN_KEEPALIVE const char* bv_catalogue_take(web_catalogue* c) {
  c->taken = c->catalogue.take_settled();
  const bool cells = c->cells;
  const std::string_view path = c->tape;
  std::string json = "[";
  for (const catalogue_entry& e : c->taken) {
    if (json.size() > 1) json += ",";
    json += "{" + record_json_fields(e);
    if (cells) {
      const auto both = cells_both_ways(e);
      const auto array_of = [](const record_cells& cells) {
        std::string a = "[";
        for (const std::string& c : cells) {
          if (a.size() > 1) a += ',';
          a += json_string(c);
        }
        return a + "]";
      };
      json += ",\"cells\":[" + array_of(both.first) + "," + array_of(both.second);
      json += "],\"csv\":[" + json_string(csv_row(path, both.first)) + "," +
              json_string(csv_row(path, both.second)) +
              "],\"prgName\":" + json_string(prg_file_name(e));
    }
    json += "}";
  }
  return hand_out(json + "]");
}

/// Taken record i's program.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* bv_catalogue_program(web_catalogue* c, std::size_t i) {
  return c->taken[i].program.data();
}

/// Once finished: the share of the tape's time that its blocks explain.
EMSCRIPTEN_KEEPALIVE double bv_catalogue_coverage(web_catalogue* c) {
  return c->catalogue.coverage();
}

/// Once finished, for a TAP file that ends before the pulses its header
/// gives: {"holds": bytes of pulses, "gives": the header's, "words": what to
/// say of it}; null for any other file. Its size in bv_text_size.
EMSCRIPTEN_KEEPALIVE const char* bv_catalogue_cut_short(web_catalogue* c) {
  const tap_shortfall cut = c->catalogue.cut_short();
  if (cut.gives == 0) return hand_out("null");
  return hand_out("{\"holds\":" + std::to_string(cut.holds) +
                  ",\"gives\":" + std::to_string(cut.gives) +
                  ",\"words\":" + json_string(tap_cut_short_words(cut.holds, cut.gives)) + "}");
}

/// What `brivane` with -a (all) and -e (escape) writes to standard output
/// for the tape fed so far, its size in bv_text_size; the catalogue must
/// have been made with names kept.
EMSCRIPTEN_KEEPALIVE const char* bv_catalogue_listing(web_catalogue* c, int all, int escape) {
  return hand_out(listing(c->catalogue.listed_names(), {all != 0, escape != 0}));
}

/// Names the header decoder has found so far.
EMSCRIPTEN_KEEPALIVE int bv_catalogue_name_count(web_catalogue* c) {
  return c->catalogue.listed_count();
}

/// Whether the tape starts as a TAP file does, once 20 bytes have been fed.
EMSCRIPTEN_KEEPALIVE int bv_catalogue_signature(web_catalogue* c) {
  return c->catalogue.tap_signature() ? 1 : 0;
}

/// The columns: {"headings": [...], "names": [their CSV names], "shown":
/// [their places in the order a table shows them], "csv": the CSV's first line}.
EMSCRIPTEN_KEEPALIVE const char* bv_columns() {
  std::string headings, names, shown;
  for (std::size_t k = 0; k < COLUMN_HEADINGS.size(); ++k) {
    headings += (k ? "," : "") + json_string(COLUMN_HEADINGS[k]);
    names += (k ? "," : "") + json_string(CSV_NAMES[k]);
    shown += (k ? "," : "") + std::to_string(TABLE_ORDER[k]);
  }
  return hand_out("{\"headings\":[" + headings + "],\"names\":[" + names + "],\"shown\":[" + shown +
                  "],\"csv\":" + json_string(csv_heading()) + "}");
}

/// A tape name's 16 bytes (in the input) as the program shows them, with
/// or without -e.
EMSCRIPTEN_KEEPALIVE const char* bv_render_name(const std::uint8_t* name, int escape) {
  std::uint8_t buf[NAME_LENGTH + 1] = {};
  for (std::size_t i = 0; i < NAME_LENGTH; ++i) buf[i] = name[i];
  return hand_out(render_filename(buf, escape != 0));
}

/// Bytes of the last text handed out.
EMSCRIPTEN_KEEPALIVE std::size_t bv_text_size() { return text.size(); }

/// A machine by its name (in the input, size bytes): its number here, or -1
/// for a name the core does not know.
EMSCRIPTEN_KEEPALIVE int bv_machine_named(const char* name, std::size_t size) {
  machine m;
  return machine_named(std::string_view(name, size), m) ? static_cast<int>(m) : -1;
}

/// A machine's clock, in Hz.
EMSCRIPTEN_KEEPALIVE double bv_machine_clock(int m) {
  return timing_of(static_cast<machine>(m)).clock;
}

/// The machines as offered, the default first: a JSON array of {name, label}.
EMSCRIPTEN_KEEPALIVE const char* bv_machines() {
  std::string json = "[";
  for (const machine_choice& m : MACHINES)
    json += (json.size() > 1 ? "," : "") + std::string("{\"name\":") + json_string(m.name) +
            ",\"label\":" + json_string(m.label) + "}";
  return hand_out(json + "]");
}

/// The TAP file's name made from a recording's (in the input, size bytes).
EMSCRIPTEN_KEEPALIVE const char* bv_tap_name(const char* recording, std::size_t size) {
  return hand_out(tap_name_for(std::string_view(recording, size)));
}

/// What a file's first size bytes (in the input) say it is: a sound_format,
/// as a number; whole says they are the whole file. bv_sniff_name and
/// bv_not_recording then say more of the same bytes.
EMSCRIPTEN_KEEPALIVE int bv_sniff(const std::uint8_t* b, std::size_t size, int whole) {
  return static_cast<int>(sniff_sound(b, size, whole != 0).format);
}
EMSCRIPTEN_KEEPALIVE const char* bv_sniff_name(const std::uint8_t* b, std::size_t size, int whole) {
  return hand_out(sound_format_name(sniff_sound(b, size, whole != 0).format));
}
EMSCRIPTEN_KEEPALIVE const char* bv_sniff_what(const std::uint8_t* b, std::size_t size, int whole) {
  return hand_out(sniff_sound(b, size, whole != 0).what);
}
EMSCRIPTEN_KEEPALIVE const char* bv_not_recording(const std::uint8_t* b, std::size_t size,
                                                  int whole) {
  return hand_out(not_a_recording_words(sniff_sound(b, size, whole != 0)));
}

/// Bytes of a recording's start that a length check wants.
EMSCRIPTEN_KEEPALIVE std::size_t bv_length_head_bytes() { return sound_length_check::HEAD_BYTES; }

/// The words for a recording cut short, and for one whose sound could not be decoded.
EMSCRIPTEN_KEEPALIVE const char* bv_cut_short_words() { return CUT_SHORT_WORDS; }
EMSCRIPTEN_KEEPALIVE const char* bv_undecodable_words() { return UNDECODABLE_WORDS; }

/// A check of a recording's length, from its start (size bytes in the input).
EMSCRIPTEN_KEEPALIVE sound_length_check* bv_length_new(int format, const std::uint8_t* b,
                                                       std::size_t size) {
  auto* c = new sound_length_check();
  c->head(static_cast<sound_format>(format), b, size);
  return c;
}
EMSCRIPTEN_KEEPALIVE void bv_length_free(sound_length_check* c) { delete c; }
/// The next bytes of the file, in order.
EMSCRIPTEN_KEEPALIVE void bv_length_watch(sound_length_check* c, const std::uint8_t* b,
                                          std::size_t size) {
  c->watch(b, size);
}
/// 1 when the recording, of which frames were decoded, is cut short.
EMSCRIPTEN_KEEPALIVE int bv_length_cut(sound_length_check* c, double frames) {
  return c->cut_short(static_cast<std::uint64_t>(frames)) ? 1 : 0;
}

/// The 20 bytes in front of a TAP file of size pulse bytes made on machine
/// m; valid until the next call.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* bv_tap_header(std::size_t size, int m) {
  header = tap_header(size, static_cast<machine>(m));
  return header.data();
}

/// A recording to be turned into pulses, timed against the given clock (Hz).
EMSCRIPTEN_KEEPALIVE web_recording* bv_recording_new(double clock) {
  return new web_recording(clock);
}

EMSCRIPTEN_KEEPALIVE void bv_recording_free(web_recording* r) { delete r; }

/// Feeds the next size bytes of the file; 0 once the recording is found faulty.
EMSCRIPTEN_KEEPALIVE int bv_recording_feed(web_recording* r, const std::uint8_t* bytes,
                                           std::size_t size) {
  return r->converter.feed(bytes, size, r->pulses) ? 1 : 0;
}

/// Samples will come decoded, channels to a frame, rate frames a second;
/// 0 when the converter does not read such (its fault says why).
EMSCRIPTEN_KEEPALIVE int bv_recording_start_samples(web_recording* r, double rate, int channels) {
  return r->converter.start_samples(rate, channels) ? 1 : 0;
}

/// The next frames of decoded samples: channel c's sample of frame f at
/// samples[c * channel_step + f * frame_step].
EMSCRIPTEN_KEEPALIVE void bv_recording_feed_samples(web_recording* r, const float* samples,
                                                    std::size_t frames, std::size_t channel_step,
                                                    std::size_t frame_step) {
  r->converter.feed_samples(samples, frames, channel_step, frame_step, r->pulses);
}

/// 1 once a WAV file has ended with less sound than its header says.
EMSCRIPTEN_KEEPALIVE int bv_recording_sound_missing(web_recording* r) {
  return r->converter.sound_missing() ? 1 : 0;
}

/// The recording has ended; 0 when it is faulty.
EMSCRIPTEN_KEEPALIVE int bv_recording_finish(web_recording* r) {
  return r->converter.finish(r->pulses) ? 1 : 0;
}

/// What is wrong with the recording, in words ("" when nothing is).
EMSCRIPTEN_KEEPALIVE const char* bv_recording_fault(web_recording* r) {
  return hand_out(recording_fault_words(r->converter.fault(), r->converter.rate()));
}

/// The pulses made since the last bv_recording_taken.
EMSCRIPTEN_KEEPALIVE const std::uint8_t* bv_recording_pulses(web_recording* r) {
  return r->pulses.data();
}
EMSCRIPTEN_KEEPALIVE std::size_t bv_recording_pulses_size(web_recording* r) {
  return r->pulses.size();
}
EMSCRIPTEN_KEEPALIVE void bv_recording_taken(web_recording* r) { r->pulses.clear(); }

/// An inflater for a zip member's deflated data (gzip 0) or a gzipped tape (gzip 1).
EMSCRIPTEN_KEEPALIVE web_inflater* bv_inflate_new(int gzip) {
  if (gzip) return new inflating<gzip_reader>();
  return new inflating<deflate_decoder>();
}

EMSCRIPTEN_KEEPALIVE void bv_inflate_free(web_inflater* f) { delete f; }

/// Takes the next size compressed bytes.
EMSCRIPTEN_KEEPALIVE void bv_inflate_feed(web_inflater* f, const std::uint8_t* bytes,
                                          std::size_t size) {
  f->feed(bytes, size);
}

/// No more compressed bytes follow.
EMSCRIPTEN_KEEPALIVE void bv_inflate_end(web_inflater* f) { f->end(); }

/// Inflates the next bytes, giving how many; they are at bv_inflate_output
/// until the next step. 0: more compressed bytes are needed, or the stream
/// is over or faulty.
EMSCRIPTEN_KEEPALIVE std::size_t bv_inflate_step(web_inflater* f) { return f->step(); }
EMSCRIPTEN_KEEPALIVE const std::uint8_t* bv_inflate_output(web_inflater* f) { return f->output(); }

/// 1 once the whole stream has been inflated as it should.
EMSCRIPTEN_KEEPALIVE int bv_inflate_finished(web_inflater* f) { return f->finished() ? 1 : 0; }

/// What is wrong with the compressed data, in words ("" when nothing is).
EMSCRIPTEN_KEEPALIVE const char* bv_inflate_fault(web_inflater* f) {
  return hand_out(inflate_fault_words(f->fault()));
}
}
