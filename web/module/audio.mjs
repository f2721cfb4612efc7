// The decoders of recordings kept as FLAC, Ogg (Vorbis, Opus, FLAC) and MP3,
// made from the formats' reference libraries (libFLAC, libvorbis, libopus,
// libmpg123) compiled to WebAssembly, from npm; bundled by the build into
// brivane-audio.mjs, which brivane.mjs loads the first time it meets such a
// recording. Each decodes a stream fed in pieces, with memory that does not
// grow with it.
export {FLACDecoder} from '@wasm-audio-decoders/flac';
export {OggVorbisDecoder} from '@wasm-audio-decoders/ogg-vorbis';
export {OggOpusDecoder} from 'ogg-opus-decoder';
export {MPEGDecoder} from 'mpg123-decoder';
