// Recordings of any format the module reads, told apart by the core from
// their first bytes: WAV by the core's own reader, FLAC, Ogg and MP3 by
// their reference decoders (brivane-audio.mjs, loaded when first needed),
// whose samples go to the core's converter. Whether a recording held all
// its sound is the core's rule too.
import {concat} from './core.mjs';

// The formats whose decoders the module carries.
const READ = ['wav', 'flac', 'ogg-vorbis', 'ogg-opus', 'ogg-flac', 'mp3'];
// Bytes of a start that always suffice to tell what a file is.
const SNIFF = 512;

/**
 * What a file's first bytes say it is, by the core's rule: 'wav', 'flac',
 * 'ogg-vorbis', 'ogg-opus', 'ogg-flac' or 'mp3', the formats read; null when
 * they are too few to tell; otherwise {other: words naming what it is, or ''}.
 */
export function soundFormatIn(c, bytes, whole = false) {
  const [ptr, n] = c.input(bytes.subarray(0, SNIFF));
  if (c.core._bv_sniff(ptr, n, whole ? 1 : 0) === 0) return null;
  const name = c.textOut(c.core._bv_sniff_name(ptr, n, whole ? 1 : 0));
  return READ.includes(name) ? name : {other: c.textOut(c.core._bv_sniff_what(ptr, n, whole ? 1 : 0))};
}

// The decoders of compressed recordings, loaded when first needed.
let audio = null;
const decoders = async () => (audio ??= import('./brivane-audio.mjs'));

async function decoderFor(format) {
  const {FLACDecoder, OggVorbisDecoder, OggOpusDecoder, MPEGDecoder} = await decoders();
  const decoder = format === 'flac' || format === 'ogg-flac' ? new FLACDecoder()
    : format === 'ogg-vorbis' ? new OggVorbisDecoder() : format === 'ogg-opus' ? new OggOpusDecoder() : new MPEGDecoder();
  await decoder.ready;
  return decoder;
}

// One recording of any format, fed in pieces. Its start is held until the
// format, and the counts of sound it records, can be read from it.
class AnyRecording {
  constructor(c, layers, options) {
    this.c = c;
    this.layers = layers;
    this.options = options;
    this.clock = layers.machineOf(options).clock;
    this.format = null;  // a format read, 'none', or 'closed'
    this.wav = this.decoder = null;
    this.handle = this.length = 0;  // the core's converter and length check, for decoded formats
    this.started = false;
    this.problem = null;
    this.cut = false;
    this.head = new Uint8Array(0);
    this.frames = 0;
  }

  live() {
    if (this.format === 'closed') throw new Error('recording is closed');
  }

  // Tells the format from the start held, once enough of it is; true then.
  async start(ending) {
    const {core} = this.c;
    const kind = soundFormatIn(this.c, this.head, ending);
    if (kind === null) return false;
    if (typeof kind === 'object') {
      this.format = 'none';
      const [ptr, n] = this.c.input(this.head.subarray(0, SNIFF));
      this.problem = this.c.textOut(core._bv_not_recording(ptr, n, ending ? 1 : 0));
      return true;
    }
    if (kind !== 'wav' && this.head.length < core._bv_length_head_bytes() && !ending) return false;
    this.format = kind;
    if (kind === 'wav') {
      this.wav = this.layers.openRecording(this.options);
      return true;
    }
    this.handle = core._bv_recording_new(this.clock);
    const [ptr, n] = this.c.input(this.head.subarray(0, core._bv_length_head_bytes()));
    this.length = core._bv_length_new(core._bv_sniff(ptr, Math.min(n, SNIFF), 1), ptr, n);
    this.decoder = await decoderFor(kind);
    return true;
  }

  // Decoded samples, a channel at a time, to the core's converter.
  samples(decoded) {
    const {core} = this.c;
    if (this.problem || !decoded || decoded.samplesDecoded === 0) return new Uint8Array(0);
    const channels = decoded.channelData.length, n = decoded.samplesDecoded;
    if (!this.started) {
      this.started = true;
      if (!core._bv_recording_start_samples(this.handle, decoded.sampleRate, channels)) {
        this.problem = this.layers.faultOf(this.handle);
        return new Uint8Array(0);
      }
    }
    const parts = [];
    for (let at = 0; at < n; at += 65536) {
      const m = Math.min(65536, n - at);
      const ptr = core._bv_input(m * channels * 4);
      const heap = new Float32Array(core.HEAPU8.buffer, ptr, m * channels);
      decoded.channelData.forEach((data, ch) => heap.set(data.subarray(at, at + m), ch * m));
      core._bv_recording_feed_samples(this.handle, ptr, m, m, 1);
      parts.push(this.layers.pulsesOf(this.handle));
    }
    this.frames += n;
    return concat(parts);
  }

  // The decoders may hold on to what they are given, and the caller's bytes
  // may be read into again once this piece is taken: they get a copy.
  async decode(bytes) {
    this.c.inParts(bytes, (ptr, n) => this.c.core._bv_length_watch(this.length, ptr, n));
    return this.samples(await this.decoder.decode(bytes.slice()));
  }

  /** Feeds the next piece of the file; gives a promise of the pulse bytes it yields. */
  async feed(bytes) {
    this.live();
    if (this.problem) return new Uint8Array(0);
    if (this.format === null) {
      this.head = concat([this.head, bytes]);
      if (!(await this.start(false))) return new Uint8Array(0);  // more is needed to tell the format
      bytes = this.head;
      this.head = new Uint8Array(0);
    }
    if (this.problem) return new Uint8Array(0);
    if (this.wav) {
      const out = this.wav.feed(bytes);
      this.problem = this.wav.fault();
      return out;
    }
    return this.decode(bytes);
  }

  /** The file has ended: gives a promise of the last pulse bytes. */
  async finish() {
    this.live();
    const {core} = this.c;
    const parts = [];
    if (this.format === null && !this.problem && this.head.length > 0 && (await this.start(true))) {
      const bytes = this.head;
      this.head = new Uint8Array(0);
      if (!this.problem && this.wav) parts.push(this.wav.feed(bytes));
      else if (!this.problem) parts.push(await this.decode(bytes));
    }
    if (this.format === null && !this.problem) this.problem = this.c.textOut(core._bv_not_recording(0, 0, 1));
    if (this.problem) return new Uint8Array(0);
    if (this.wav) {
      parts.push(this.wav.finish());
      this.problem = this.wav.fault();
      this.cut = !this.problem && this.wav.soundMissing();
      return concat(parts);
    }
    if (this.decoder.flush) parts.push(this.samples(await this.decoder.flush()));
    if (!this.problem && !this.started) this.problem = this.c.fixedText(core._bv_undecodable_words());
    if (!this.problem && !core._bv_recording_finish(this.handle)) this.problem = this.layers.faultOf(this.handle);
    parts.push(this.layers.pulsesOf(this.handle));
    this.cut = core._bv_length_cut(this.length, this.frames) !== 0;
    return concat(parts);
  }

  /** What is wrong with the recording, in words, or null: then no TAP can be made. */
  fault() {
    return this.problem;
  }

  /** Once finished: that the recording is cut short or damaged part-way, in words, or null. */
  cutShort() {
    return this.cut ? this.c.fixedText(this.c.core._bv_cut_short_words()) : null;
  }

  /** The format read, once known. */
  formatRead() {
    return this.format === 'none' || this.format === 'closed' ? null : this.format;
  }

  close() {
    const {core} = this.c;
    if (this.wav) this.wav.close();
    if (this.handle) core._bv_recording_free(this.handle);
    if (this.length) core._bv_length_free(this.length);
    if (this.decoder) this.decoder.free();
    this.wav = this.decoder = null;
    this.handle = this.length = 0;
    this.format = 'closed';
  }
}

export function anyRecordingLayer(c, layers) {
  // The public face of a recording of any format.
  function openAnyRecording(options = {}) {
    const r = new AnyRecording(c, layers, options);
    return {
      feed: (bytes) => r.feed(bytes),
      finish: () => r.finish(),
      fault: () => r.fault(),
      cutShort: () => r.cutShort(),
      format: () => r.formatRead(),
      close: () => r.close(),
    };
  }
  return {
    openAnyRecording,
    soundFormat: (bytes) => soundFormatIn(c, bytes),
    /**
     * The TAP file made from a recording in any format read: WAV, FLAC, Ogg
     * Vorbis, Ogg Opus, Ogg FLAC or MP3. A promise; it is refused with an
     * Error saying what is wrong with a file it cannot read, or with no tape.
     */
    async anyRecordingToTap(bytes, options = {}) {
      const rec = openAnyRecording(options);
      try {
        const parts = [await rec.feed(bytes), await rec.finish()];
        if (rec.fault()) throw new Error(`Could not read this recording: ${rec.fault()}`);
        return layers.tapFile(parts, options);
      } finally {
        rec.close();
      }
    },
  };
}
