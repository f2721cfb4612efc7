// What a file's start says it is, whether a recording held all its sound,
// the words for each fault, the machines and a TAP's name: the rules every
// front end shares.
#include "recording/sound_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tap/tap_file.h"
#include "words/fault_words.h"

namespace {

using bytes = std::vector<std::uint8_t>;

// A literal's bytes, zeros within it too.
template <std::size_t N>
bytes text(const char (&s)[N]) {
  return bytes(s, s + N - 1);
}

bytes operator+(bytes a, const bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// An Ogg page: its header (flags, one segment of the packet's length) and packet.
bytes ogg_page(std::uint8_t flags, const bytes& packet) {
  bytes page = text("OggS");
  page.push_back(0);  // version
  page.push_back(flags);
  page.resize(26, 0);  // granule, serial, sequence, CRC
  page.push_back(1);   // one segment
  page.push_back(static_cast<std::uint8_t>(packet.size()));
  return page + packet;
}

bytes first(const bytes& b, std::size_t n) {
  return bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n));
}

TEST(SoundFormat, TellsEachKindByItsStart) {
  const struct {
    const char* what;
    bytes start;
    bool whole;
    sound_format want;
    std::string words;
  } rows[] = {
      {"three bytes", text("RIF"), false, sound_format::unknown, ""},
      {"three bytes, the whole file", text("RIF"), true, sound_format::other, ""},
      {"RIFF before its kind", text("RIFF\x10\0\0\0WA"), false, sound_format::unknown, ""},
      {"WAV", text("RIFF\x10\0\0\0WAVEfmt "), false, sound_format::wav, ""},
      {"AVI", text("RIFF\x10\0\0\0AVI LIST"), false, sound_format::other,
       "a RIFF file of another kind"},
      {"FLAC", text("fLaC\0\0\0\x22"), false, sound_format::flac, ""},
      {"Ogg Vorbis", ogg_page(2, text("\x01vorbis\0\0\0\0")), false, sound_format::ogg_vorbis, ""},
      {"Ogg Opus", ogg_page(2, text("OpusHead\x01\x02")), false, sound_format::ogg_opus, ""},
      {"Ogg FLAC",
       ogg_page(2, text("\x7F"
                        "FLAC\x01\0\0\0")),
       false, sound_format::ogg_flac, ""},
      {"Ogg Theora", ogg_page(2, text("\x80theora\0\0\0")), false, sound_format::other,
       "an Ogg file of a codec other than Vorbis, Opus and FLAC"},
      {"Ogg before its packet", first(ogg_page(2, text("OpusHead")), 30), false,
       sound_format::unknown, ""},
      {"MP3 with a tag", text("ID3\x04\0\0\0\0\0\0"), false, sound_format::mp3, ""},
      {"MP3 frame", bytes{0xFF, 0xFB, 0x90, 0x64}, false, sound_format::mp3, ""},
      {"AIFF", text("FORM\0\0\0\0AIFF"), false, sound_format::aiff, "an AIFF file"},
      {"RF64", text("RF64\xFF\xFF\xFF\xFFWAVE"), false, sound_format::rf64,
       "an RF64 WAV file, over 4 GiB"},
      {"Wave64", text("riff.\x91\xCF\x11"), false, sound_format::w64, "a Sony Wave64 file"},
      {"MP4",
       text("\0\0\0\x20"
            "ftypM4A "),
       false, sound_format::other, "an MP4 or M4A file (AAC)"},
      {"WMA", bytes{0x30, 0x26, 0xB2, 0x75, 0x8E}, false, sound_format::other,
       "a Windows Media (WMA) file"},
      {"AAC", bytes{0xFF, 0xF1, 0x50, 0x80}, false, sound_format::other, "an AAC file"},
      {"MIDI", text("MThd\0\0\0\x06"), false, sound_format::other, "a MIDI file"},
      {"TAP", text("C64-TAPE-RAW\x01\0\0\0"), false, sound_format::other,
       "a TAP file, not a recording"},
      {"TAP cut in its signature", text("C64-TA"), true, sound_format::other,
       "a TAP file, not a recording"},
      {"JPEG", bytes{0xFF, 0xD8, 0xFF, 0xE0}, false, sound_format::other, "a JPEG image"},
      {"PNG", text("\x89PNG\r\n"), false, sound_format::other, "a PNG image"},
      {"PDF", text("%PDF-1.7"), false, sound_format::other, "a PDF document"},
      {"zip", text("PK\x03\x04"), false, sound_format::other, "a zip archive"},
      {"text", text("hello, tape"), false, sound_format::other, ""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    const sniffed s = sniff_sound(r.start.data(), r.start.size(), r.whole);
    EXPECT_EQ(s.format, r.want);
    EXPECT_EQ(std::string(s.what), r.words);
  }
}

// A FLAC stream's STREAMINFO with a count of samples.
bytes flac_start(std::uint64_t samples) {
  bytes b = text("fLaC") + bytes{0x80, 0, 0, 34};
  b.resize(8 + 34, 0);
  b[8 + 13] = static_cast<std::uint8_t>(0x10 | (samples >> 32 & 0x0F));
  for (int i = 0; i < 4; ++i) b[8 + 14 + i] = static_cast<std::uint8_t>(samples >> (24 - 8 * i));
  return b;
}

// An MP3's start: a tag of tag_size bytes, then an MPEG-1 frame whose Xing
// header counts frames.
bytes mp3_start(std::size_t tag_size, std::uint32_t frames, const bytes& tag = text("Xing")) {
  bytes b;
  if (tag_size > 0) {
    b = text("ID3\x04\0\0");
    b.push_back(0);
    b.push_back(0);
    b.push_back(static_cast<std::uint8_t>(tag_size >> 7 & 0x7F));
    b.push_back(static_cast<std::uint8_t>(tag_size & 0x7F));
    b.resize(10 + tag_size, 0);
  }
  b = b + bytes{0xFF, 0xFB, 0x90, 0x64};
  b.resize(b.size() + 32, 0);
  b = b + tag + bytes{0, 0, 0, 1};
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(frames >> (24 - 8 * i)));
  b.resize(b.size() + 100, 0);
  return b;
}

TEST(SoundLength, WhatTheStartCountsHoldsTheDecodedSoundToIt) {
  const struct {  // NOLINT(clang-analyzer-optin.performance.Padding): in the order the rows read
    const char* what;
    sound_format format;
    bytes start;
    std::uint64_t frames;
    bool cut;
  } rows[] = {
      {"FLAC whole", sound_format::flac, flac_start(441000), 441000, false},
      {"FLAC one sample short", sound_format::flac, flac_start(441000), 440999, true},
      {"FLAC that does not count", sound_format::flac, flac_start(0), 5, false},
      {"FLAC past 2^32 samples", sound_format::flac, flac_start(0x123456789), 0x123456788, true},
      {"MP3, Xing", sound_format::mp3, mp3_start(0, 100), 115200, false},
      {"MP3, Info, behind a tag", sound_format::mp3, mp3_start(300, 100, text("Info")), 115200,
       false},
      {"MP3 within 2%", sound_format::mp3, mp3_start(0, 100), 113000, false},
      {"MP3 short by more", sound_format::mp3, mp3_start(20, 100), 112000, true},
      {"MP3 that does not count", sound_format::mp3, mp3_start(0, 100, text("Abcd")), 1, false},
      {"WAV: its reader's to say", sound_format::wav, text("RIFF\0\0\0\0WAVE"), 0, false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    sound_length_check c;
    c.head(r.format, r.start.data(), r.start.size());
    EXPECT_EQ(c.cut_short(r.frames), r.cut);
  }
}

// Only the last page's end-of-stream mark counts, wherever the pieces are
// cut: inside "OggS", between it and the flags, or into pieces of a byte.
TEST(SoundLength, OggEndsWithItsLastPageMarked) {
  const bytes head = ogg_page(2, text("\x01vorbis\0\0\0\0"));
  const bytes body = ogg_page(0, bytes(200, 'x'));
  const bytes whole = head + body + ogg_page(4, bytes(40, 'y'));
  const bytes cut = head + body + ogg_page(0, bytes(40, 'y'));
  const bytes no_pages = bytes(300, 'z');
  for (const auto& [file, want] :
       {std::pair{whole, false}, std::pair{cut, true}, std::pair{no_pages, false}}) {
    for (std::size_t split = 0; split <= file.size(); ++split) {
      SCOPED_TRACE(split);
      sound_length_check c;
      c.head(sound_format::ogg_vorbis, file.data(), std::min<std::size_t>(file.size(), 8192));
      c.watch(file.data(), split);
      c.watch(file.data() + split, file.size() - split);
      ASSERT_EQ(c.cut_short(1), want);
    }
    sound_length_check bytewise;
    bytewise.head(sound_format::ogg_vorbis, file.data(), file.size());
    for (const std::uint8_t b : file) bytewise.watch(&b, 1);
    EXPECT_EQ(bytewise.cut_short(1), want);
  }
  // The last 64 KiB suffice: the tail alone gives what the whole file gives.
  const bytes tail(cut.end() - 100, cut.end());
  sound_length_check from_tail;
  from_tail.head(sound_format::ogg_vorbis, head.data(), head.size());
  from_tail.watch(tail.data(), tail.size());
  EXPECT_TRUE(from_tail.cut_short(1));
}

TEST(Words, EachFaultSaid) {
  EXPECT_EQ(recording_fault_words(recording_fault::rate_out_of_range, 8000),
            "its sample rate, 8,000 Hz, is outside what brivane reads (11,025 Hz to 384,000 Hz)");
  EXPECT_EQ(
      recording_fault_words(recording_fault::rate_out_of_range, 1234567),
      "its sample rate, 1,234,567 Hz, is outside what brivane reads (11,025 Hz to 384,000 Hz)");
  EXPECT_EQ(not_a_recording_words({sound_format::other, "a JPEG image"}),
            "it is not a recording brivane reads: it is a JPEG image");
  EXPECT_EQ(not_a_recording_words({sound_format::other, ""}),
            "it is not a recording brivane reads");
  for (const auto f : {recording_fault::not_wav, recording_fault::cut_short,
                       recording_fault::unsupported, recording_fault::no_tape_signal})
    EXPECT_NE(recording_fault_words(f, 44100), "");
  for (const auto f :
       {inflate_fault::damaged, inflate_fault::cut_short, inflate_fault::not_gzip,
        inflate_fault::unsupported, inflate_fault::trailing, inflate_fault::check_failed})
    EXPECT_NE(inflate_fault_words(f), "");
}

TEST(Machines, NamedAsOffered) {
  EXPECT_EQ(machine_names(), "c64-pal, c64-ntsc, vic20-pal or vic20-ntsc");
  for (const machine_choice& c : MACHINES) {
    machine m = c.id == machine::c64_pal ? machine::vic20_ntsc : machine::c64_pal;
    ASSERT_TRUE(machine_named(c.name, m));
    EXPECT_EQ(m, c.id);
  }
  machine m{};
  EXPECT_TRUE(machine_named("NTSC", m));
  EXPECT_EQ(m, machine::c64_ntsc);
  EXPECT_FALSE(machine_named("c128", m));
}

TEST(TapName, TheRecordingsWithTap) {
  const struct {
    const char* recording;
    const char* tap;
  } rows[] = {
      {"side-a.wav", "side-a.tap"},
      {"tapes/side-a.flac", "tapes/side-a.tap"},
      {"two.dots.mp3", "two.dots.tap"},
      {"no-extension", "no-extension.tap"},
      {".wav", ".wav.tap"},
      {"dir.d/noext", "dir.d/noext.tap"},
      {"C:\\rec\\b.wav", "C:\\rec\\b.tap"},
      {"dir/.hidden", "dir/.hidden.tap"},
  };
  for (const auto& r : rows) EXPECT_EQ(tap_name_for(r.recording), r.tap) << r.recording;
}

}  // namespace
