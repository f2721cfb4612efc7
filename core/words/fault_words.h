// The words each front end says for what is wrong with a file it was
// given: the same words from the command line, the module and the page,
// each putting its own name and the file's in front of them.
#ifndef BRIVANE_WORDS_FAULT_WORDS_H
#define BRIVANE_WORDS_FAULT_WORDS_H

#include <cstdint>
#include <string>

#include "archive/deflate.h"
#include "recording/recording_fault.h"
#include "recording/sound_format.h"

/// What is wrong with a recording, as the converter found it: a clause
/// such as "there is no tape signal in it". rate is the recording's sample
/// rate, for rate_out_of_range.
std::string recording_fault_words(recording_fault fault, double rate);

/// What a file that is no recording one reads is, as its start says:
/// "it is not a recording brivane reads: it is a JPEG image"; and for the
/// recordings only brivane-tap reads (AIFF, RF64, Wave64), that it does.
std::string not_a_recording_words(const sniffed& s);

/// A recording that ends early or is damaged part-way: the TAP made from it
/// holds what came before.
extern const char* const CUT_SHORT_WORDS;

/// A recording whose decoder could make no sound of it at all.
extern const char* const UNDECODABLE_WORDS;

/// A TAP file that ends before the pulses its header gives: "the file is
/// cut short: it holds 61,728 of the 123,456 bytes of pulses its header
/// gives".
std::string tap_cut_short_words(std::uint64_t holds, std::uint64_t gives);

/// What is wrong with a zip member's compressed data or a gzipped tape.
std::string inflate_fault_words(inflate_fault fault);

#endif
