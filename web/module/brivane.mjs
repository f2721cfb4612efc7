// brivane in JavaScript: the command-line tool's own decoder, renderer and
// scan loop, compiled to WebAssembly. Works in browsers, their Workers and
// Node alike.
//
//   import loadBrivane from './brivane.mjs';
//   const brivane = await loadBrivane();
//   brivane.listNames(bytes, {all: true, escape: true});  // what `brivane -a -e TAPE` prints
//
// A sound recording of a cassette (a .wav file) becomes a TAP file:
//   const tap = brivane.recordingToTap(wavBytes, {machine: 'c64-pal'});  // or 'c64-ntsc', 'vic20-pal', 'vic20-ntsc'
//   brivane.listNames(tap, {all: true});
//
// For a large tape, feed it in pieces, in order; memory does not grow with it:
//   const scan = brivane.openScan({all: true});
//   for (const piece of pieces) if (!scan.feed(piece)) break;  // false: the scan is over
//   const out = scan.output();
//   scan.close();
//
// Every file on a tape, with its type, addresses, place and checks, and the
// program itself:
//   for (const file of brivane.catalogue(bytes, {machine: 'c64-pal'}))
//     if (file.program) save(brivane.prg(file));
import createBrivaneCore from './brivane-core.mjs';
import coreBase64 from './brivane-core-wasm.mjs';

// The most bytes copied into the core at once: pieces larger than this are
// fed in parts, so that the core's memory stays small whatever the piece.
const FEED_LIMIT = 1 << 20;

// The core's bytes, handed over rather than fetched.
function coreBytes() {
  const text = atob(coreBase64);
  const bytes = new Uint8Array(text.length);
  for (let i = 0; i < text.length; i++) bytes[i] = text.charCodeAt(i);
  return bytes;
}

/** Byte arrays, one after another, in one. */
function concat(parts) {
  const out = new Uint8Array(parts.reduce((n, p) => n + p.length, 0));
  let at = 0;
  for (const p of parts) {
    out.set(p, at);
    at += p.length;
  }
  return out;
}

// What each fault the core reports by name means, for people.
const RECORDING_FAULTS = {
  not_wav: 'it is not a WAV file',
  cut_short: 'the file is cut short: it ends inside its header',
  unsupported: 'its sound is encoded in a way the page does not read (only plain PCM and float samples are read)',
  no_tape_signal: 'there is no tape signal in it',
};
const INFLATE_FAULTS = {
  damaged: 'its compressed data is damaged, so it could not be inflated',
  cut_short: 'its compressed data is cut short, so it could not be inflated to its end',
  not_gzip: 'it is not a gzip file',
  unsupported: 'it is gzipped in a way the page does not read (only deflate is read)',
  trailing: 'it holds other data after its gzipped tape',
  check_failed: 'it inflated to other data than it records (its CRC-32 or size differs): the data is damaged',
};

const ascii = (bytes, at, text) => [...text].every((c, i) => bytes[at + i] === c.charCodeAt(0));

/**
 * What a recording's first bytes say it is: 'wav', 'flac', 'ogg-vorbis',
 * 'ogg-opus', 'ogg-flac' or 'mp3', the formats read; null when they are too
 * few to tell; otherwise {other: words naming what it is, or ''}.
 */
export function soundFormat(b) {
  if (b.length < 4) return null;
  if (ascii(b, 0, 'RIFF')) return b.length < 12 ? null : ascii(b, 8, 'WAVE') ? 'wav' : {other: 'a RIFF file of another kind'};
  if (ascii(b, 0, 'fLaC')) return 'flac';
  if (ascii(b, 0, 'OggS')) {
    // The first page's first packet names the codec.
    if (b.length < 27 || b.length < 27 + b[26] + 8) return null;
    const at = 27 + b[26];
    if (b[at] === 1 && ascii(b, at + 1, 'vorbis')) return 'ogg-vorbis';
    if (ascii(b, at, 'OpusHead')) return 'ogg-opus';
    if (b[at] === 0x7F && ascii(b, at + 1, 'FLAC')) return 'ogg-flac';
    return {other: 'an Ogg file of a codec other than Vorbis, Opus and FLAC'};
  }
  if (ascii(b, 0, 'ID3') || (b[0] === 0xFF && (b[1] & 0xE6) === 0xE2)) return 'mp3';  // a tag, or MPEG audio layer III
  const named = [
    [() => b.length >= 8 && ascii(b, 4, 'ftyp'), 'an MP4 or M4A file (AAC)'],
    [() => ascii(b, 0, 'FORM'), 'an AIFF file'],
    [() => ascii(b, 0, 'RF64') || ascii(b, 0, 'BW64'), 'an RF64 WAV file, over 4 GiB'],
    [() => ascii(b, 0, 'riff'), 'a Sony Wave64 file'],
    [() => b[0] === 0x30 && b[1] === 0x26 && b[2] === 0xB2 && b[3] === 0x75, 'a Windows Media (WMA) file'],
    [() => b[0] === 0xFF && (b[1] & 0xF6) === 0xF0, 'an AAC file'],
    [() => ascii(b, 0, 'MThd'), 'a MIDI file'],
    [() => ascii(b, 0, 'C64-TAPE-RAW'.slice(0, Math.min(12, b.length))), 'a TAP file, not a recording'],
    [() => b[0] === 0xFF && b[1] === 0xD8, 'a JPEG image'],
    [() => ascii(b, 1, 'PNG'), 'a PNG image'],
    [() => ascii(b, 0, '%PDF'), 'a PDF document'],
    [() => ascii(b, 0, 'PK'), 'a zip archive'],
  ];
  for (const [is, words] of named) if (is()) return {other: words};
  return {other: ''};
}

// The samples an MP3 file holds, as the Xing or Info frame its encoder
// wrote first says (frames of 1,152 samples, or 576 past MPEG-1); -1 when
// it says nothing.
function mp3Samples(b) {
  let at = 0;
  if (ascii(b, 0, 'ID3') && b.length >= 10) at = 10 + ((b[6] << 21) | (b[7] << 14) | (b[8] << 7) | b[9]);
  if (at + 4 > b.length || b[at] !== 0xFF || (b[at + 1] & 0xE0) !== 0xE0) return -1;
  const perFrame = (b[at + 1] & 0x18) === 0x18 ? 1152 : 576;
  for (let i = at + 4; i + 12 <= Math.min(b.length, at + 200); i++) {
    if ((ascii(b, i, 'Xing') || ascii(b, i, 'Info')) && (b[i + 7] & 1)) {
      const frames = ((b[i + 8] << 24) >>> 0) + (b[i + 9] << 16) + (b[i + 10] << 8) + b[i + 11];
      return frames * perFrame;
    }
  }
  return -1;
}

export default async function loadBrivane() {
  const core = await createBrivaneCore({wasmBinary: coreBytes()});

  // Hands bytes to use(pointer, length) in parts of at most FEED_LIMIT, each
  // in the core's memory: copied into its input, or where they are when an
  // inflater has just made them there. Stops when use returns false.
  function inParts(bytes, use) {
    const inCore = bytes.buffer === core.HEAPU8.buffer ? bytes.byteOffset : -1;
    const length = bytes.length;  // read now: a call below may grow the core's memory and detach bytes
    for (let at = 0; at < length; at += FEED_LIMIT) {
      const n = Math.min(FEED_LIMIT, length - at);
      let ptr = inCore + at;
      if (inCore < 0) {
        ptr = core._bv_input(n);
        core.HEAPU8.set(bytes.subarray(at, at + n), ptr);  // HEAPU8 is read anew: the call may have grown memory
      }
      if (use(ptr, n) === false) return;
    }
  }

  const cString = (ptr) => {
    let s = '';
    for (let i = ptr; core.HEAPU8[i]; i++) s += String.fromCharCode(core.HEAPU8[i]);
    return s;
  };
  // A fault the core names, in words; null for none.
  const said = (words, name) => (name === 'none' ? null : words[name] || name);

  // Feeds bytes to every scan in scans that still wants pulses; with check
  // ({crc, size}), adds them to its CRC-32 and count, also once no scan wants
  // more. Returns whether any scan still does.
  function feedScans(scans, bytes, check) {
    let wanted = scans.filter((s) => s.wantsMore);
    inParts(bytes, (ptr, n) => {
      if (wanted.length === 0 && !check) return false;
      for (const s of wanted) s.wantsMore = s.take(ptr, n);
      wanted = wanted.filter((s) => s.wantsMore);
      if (check) {
        check.crc = core._bv_crc32(check.crc, ptr, n) >>> 0;
        check.size += n;
      }
      return true;
    });
    return wanted.length > 0;
  }

  function openScan({all = false, escape = false} = {}) {
    const scan = {
      handle: core._bv_scan_new(all ? 1 : 0, escape ? 1 : 0),
      wantsMore: true,
      take(ptr, n) {
        return core._bv_scan_feed(this.handle, ptr, n) !== 0;
      },
      /** Feeds the next piece of the tape; false once no more is wanted. */
      feed(bytes) {
        if (!this.handle) throw new Error('scan is closed');
        return feedScans([this], bytes);
      },
      /** Names found so far. */
      names() {
        if (!this.handle) throw new Error('scan is closed');
        return core._bv_scan_found_count(this.handle);
      },
      /**
       * The names reported so far, as data: {number, name} each, number as
       * in the listing (1 without all), name the bytes shown between the quotes.
       */
      results() {
        if (!this.handle) throw new Error('scan is closed');
        const out = [];
        for (let i = 0, n = core._bv_scan_found_count(this.handle); i < n; i++) {
          const ptr = core._bv_scan_name(this.handle, i);
          out.push({number: core._bv_scan_name_number(this.handle, i),
                    name: core.HEAPU8.slice(ptr, ptr + core._bv_scan_name_size(this.handle, i))});
        }
        return out;
      },
      /** What the program would have written to standard output so far. */
      output() {
        if (!this.handle) throw new Error('scan is closed');
        const ptr = core._bv_scan_output(this.handle);
        return core.HEAPU8.slice(ptr, ptr + core._bv_scan_output_size(this.handle));
      },
      close() {
        if (this.handle) core._bv_scan_free(this.handle);
        this.handle = 0;
      },
    };
    return scan;
  }

  const CHECKS = ['ok', 'repeat', 'damaged', 'missing'];

  /** A name's 16 bytes as the program shows them: with escape, as -e does. */
  const renderName = (name, {escape = false} = {}) => {
    const ptr = core._bv_input(16);
    core.HEAPU8.set(name.subarray(0, 16), ptr);
    const out = core._bv_render_name(ptr, escape ? 1 : 0);
    return core.HEAPU8.slice(out, out + core._bv_render_size());
  };

  // A tape's catalogue, fed in pieces: every header on it and the file it
  // announces, as records, in tape order.
  function openCatalogue(options = {}) {
    const {machine} = machineOf(options);
    const cat = {
      handle: core._bv_catalogue_new(machine),
      wantsMore: true,
      settled: [],
      take(ptr, n) {
        core._bv_catalogue_feed(this.handle, ptr, n);
        this.collect();
        return true;
      },
      // Moves the entries the core has settled into records.
      collect() {
        const h = this.handle;
        for (let i = 0, n = core._bv_catalogue_take(h); i < n; i++) {
          const field = (f) => core._bv_catalogue_field(h, i, f);
          const name = core._bv_catalogue_name(h, i);
          const size = field(6), checked = CHECKS[field(5)];
          const kept = checked === 'ok' || checked === 'repeat';
          const program = kept ? core._bv_catalogue_program(h, i) : 0;
          this.settled.push({
            number: field(0), type: field(1), name: core.HEAPU8.slice(name, name + 16),
            start: field(2), end: field(3), offset: core._bv_catalogue_offset(h, i),
            seconds: core._bv_catalogue_seconds(h, i), header: CHECKS[field(4)],
            program: kept ? core.HEAPU8.slice(program, program + size) : null, programCheck: checked,
          });
        }
      },
      live() {
        if (!this.handle) throw new Error('catalogue is closed');
      },
      /** Feeds the next piece of the tape; returns the records it settled. */
      feed(bytes) {
        this.live();
        feedScans([this], bytes);
        return this.settled.splice(0);
      },
      /** The tape has ended: returns the last records. */
      finish() {
        this.live();
        core._bv_catalogue_finish(this.handle);
        this.collect();
        return this.settled.splice(0);
      },
      close() {
        if (this.handle) core._bv_catalogue_free(this.handle);
        this.handle = 0;
      },
    };
    return cat;
  }

  // The machine a TAP is made for, and the clock its pulses count in:
  // {machine: 'c64-pal' | 'c64-ntsc' | 'vic20-pal' | 'vic20-ntsc'}, or
  // {clock: 'pal' | 'ntsc'} for the C64's, or a clock in Hz (a C64 PAL
  // header). The names are the core's.
  const named = (name) => {
    const bytes = new TextEncoder().encode(String(name));
    const ptr = core._bv_input(bytes.length);
    core.HEAPU8.set(bytes, ptr);
    return core._bv_machine_named(ptr, bytes.length);
  };
  const machineOf = ({machine, clock} = {}) => {
    if (machine !== undefined) {
      const m = named(machine);
      if (m < 0) throw new Error(`no such machine: ${machine} (give 'c64-pal', 'c64-ntsc', 'vic20-pal' or 'vic20-ntsc')`);
      return {machine: m, clock: core._bv_machine_clock(m)};
    }
    if (typeof clock === 'number') {
      if (!(clock > 0)) throw new Error(`no such clock: ${clock} (give 'pal', 'ntsc' or a rate in Hz)`);
      return {machine: named('c64-pal'), clock};
    }
    const m = named(clock ?? 'c64-pal');
    if (m < 0) throw new Error(`no such clock: ${clock} (give 'pal', 'ntsc' or a rate in Hz)`);
    return {machine: m, clock: core._bv_machine_clock(m)};
  };

  /** The 20 bytes in front of a TAP file (version 1) of size pulse bytes, made on a machine. */
  const tapHeader = (size, options = {}) => {
    const ptr = core._bv_tap_header(size, machineOf(options).machine);
    return core.HEAPU8.slice(ptr, ptr + 20);
  };

  /** The TAP file (version 1) holding the pulses of parts, in order, made on a machine. */
  const tapFile = (parts, options = {}) =>
    concat([tapHeader(parts.reduce((n, p) => n + p.length, 0), options), ...parts]);

  // The pulses a recording's converter has made since they were last taken.
  const pulsesOf = (handle) => {
    const ptr = core._bv_recording_pulses(handle);
    const out = core.HEAPU8.slice(ptr, ptr + core._bv_recording_pulses_size(handle));
    core._bv_recording_taken(handle);
    return out;
  };
  // What is wrong with a recording, in words, from its converter's fault.
  const recordingFaultOf = (handle) => {
    const name = cString(core._bv_recording_fault(handle));
    if (name !== 'rate_out_of_range') return said(RECORDING_FAULTS, name);
    const hz = (n) => `${n.toLocaleString('en')} Hz`;
    return `its sample rate, ${hz(core._bv_recording_rate(handle))}, is outside what the page reads ` +
      `(${hz(core._bv_recording_min_rate())} to ${hz(core._bv_recording_max_rate())})`;
  };

  // A recording turned into pulses piece by piece.
  function openRecording(options = {}) {
    const handle = core._bv_recording_new(machineOf(options).clock);
    let fault = null;
    const taken = () => pulsesOf(handle);
    const faultNow = () => recordingFaultOf(handle);
    let open = true;
    const live = () => {
      if (!open) throw new Error('recording is closed');
    };
    return {
      /** Feeds the next piece of the file; returns the pulses it yields. */
      feed(bytes) {
        live();
        const parts = [];
        inParts(bytes, (ptr, n) => {
          if (fault) return false;
          if (!core._bv_recording_feed(handle, ptr, n)) fault = faultNow();
          parts.push(taken());
          return true;
        });
        return concat(parts);
      },
      /** The file has ended: returns the last pulses. */
      finish() {
        live();
        if (!fault && !core._bv_recording_finish(handle)) fault = faultNow();
        return taken();
      },
      /** What is wrong with the recording, in words, or null. */
      fault() {
        return fault;
      },
      /** Once finished: whether the file held less sound than its header says. */
      soundMissing() {
        live();
        return core._bv_recording_sound_missing(handle) !== 0;
      },
      close() {
        if (open) core._bv_recording_free(handle);
        open = false;
      },
    };
  }

  // The decoders of compressed recordings, loaded when first needed.
  let audio = null;
  const decoders = async () => (audio ??= import('./brivane-audio.mjs'));

  // A recording of any format read, fed in pieces; the format is told from
  // its first bytes. WAV goes to the core's own reader, as openRecording's;
  // FLAC, Ogg and MP3 through their decoders, their samples then to the
  // core. feed and finish give promises of the pulses.
  function openAnyRecording(options = {}) {
    const {clock} = machineOf(options);
    let format = null, wav = null, decoder = null, handle = 0, started = false;
    let fault = null, cut = false, head = new Uint8Array(0), frames = 0, total = -1, ending = false;
    let ogg = {tail: new Uint8Array(0), last: -1};  // the flags of the last Ogg page seen
    const pending = [];  // pulses made at the end, from the start held to tell the format
    const live = () => {
      if (format === 'closed') throw new Error('recording is closed');
    };
    const taken = () => pulsesOf(handle);
    const recordingFault = () => recordingFaultOf(handle);
    // Each Ogg page starts "OggS"; the last page of a whole stream is marked
    // as such in its flags.
    const watchOgg = (bytes) => {
      const b = concat([ogg.tail, bytes]);
      for (let i = b.length - 6; i >= 0; i--) {
        if (b[i] === 0x4F && b[i + 1] === 0x67 && b[i + 2] === 0x67 && b[i + 3] === 0x53) {
          ogg.last = b[i + 5];
          break;
        }
      }
      ogg.tail = b.slice(Math.max(0, b.length - 5));
    };
    // Samples, a channel at a time, to the core.
    const samples = (decoded) => {
      if (fault || !decoded || decoded.samplesDecoded === 0) return new Uint8Array(0);
      const channels = decoded.channelData.length, n = decoded.samplesDecoded;
      if (!started) {
        started = true;
        if (!core._bv_recording_start_samples(handle, decoded.sampleRate, channels)) {
          fault = recordingFault();
          return new Uint8Array(0);
        }
      }
      const parts = [];
      for (let at = 0; at < n; at += 65536) {
        const m = Math.min(65536, n - at);
        const ptr = core._bv_input(m * channels * 4);
        const heap = new Float32Array(core.HEAPU8.buffer, ptr, m * channels);
        decoded.channelData.forEach((data, c) => heap.set(data.subarray(at, at + m), c * m));
        core._bv_recording_feed_samples(handle, ptr, m, m, 1);
        parts.push(taken());
      }
      frames += n;
      return concat(parts);
    };
    const start = async () => {
      const kind = soundFormat(head);
      // Enough of the start to read how long the sound is, where it says.
      if (kind === null || (kind === 'flac' && head.length < 26) || (kind === 'mp3' && head.length < 8192 && !ending))
        return false;
      if (typeof kind === 'object') {
        format = 'none';
        fault = `it is not a recording the page reads${kind.other ? `: it is ${kind.other}` : ''} ` +
          '(it reads WAV, FLAC, Ogg Vorbis, Ogg Opus, Ogg FLAC and MP3)';
        return true;
      }
      format = kind;
      if (kind === 'wav') {
        wav = openRecording(options);
        return true;
      }
      handle = core._bv_recording_new(clock);
      const {FLACDecoder, OggVorbisDecoder, OggOpusDecoder, MPEGDecoder} = await decoders();
      decoder = kind === 'flac' || kind === 'ogg-flac' ? new FLACDecoder() : kind === 'ogg-vorbis'
        ? new OggVorbisDecoder() : kind === 'ogg-opus' ? new OggOpusDecoder() : new MPEGDecoder();
      await decoder.ready;
      if (kind === 'flac') {
        // STREAMINFO's 36-bit count of samples, when the file says it.
        total = (head[21] & 0x0F) * 2 ** 32 + ((head[22] << 24) >>> 0) + (head[23] << 16) + (head[24] << 8) + head[25];
        if (total === 0) total = -1;
      } else if (kind === 'mp3') {
        total = mp3Samples(head);
      }
      return true;
    };
    // The decoders may hold on to what they are given; the caller's bytes
    // may be read into again once this piece is taken.
    const decode = async (bytes) => {
      if (format.startsWith('ogg')) watchOgg(bytes);
      return samples(await decoder.decode(bytes.slice()));
    };
    return {
      /** Feeds the next piece of the file; gives a promise of the pulse bytes it yields. */
      async feed(bytes) {
        live();
        if (fault) return new Uint8Array(0);
        if (format === null) {
          head = concat([head, bytes]);
          if (!(await start())) return new Uint8Array(0);  // more is needed to tell the format
          bytes = head;
          head = new Uint8Array(0);
        }
        if (fault) return new Uint8Array(0);
        if (wav) {
          const out = wav.feed(bytes);
          fault = wav.fault();
          return out;
        }
        return decode(bytes);
      },
      /** The file has ended: gives a promise of the last pulse bytes. */
      async finish() {
        live();
        ending = true;
        if (format === null && !fault && head.length > 0 && (await start())) {
          const bytes = head;
          head = new Uint8Array(0);
          if (!fault && wav) wav.feed(bytes);
          else if (!fault) await decode(bytes).then((pulses) => pending.push(pulses));
        }
        if (format === null && !fault) fault = RECORDING_FAULTS.cut_short;
        if (fault) return new Uint8Array(0);
        if (wav) {
          const out = wav.finish();
          fault = wav.fault();
          cut = !fault && wav.soundMissing();
          return out;
        }
        const parts = pending;
        if (decoder.flush) parts.push(samples(await decoder.flush()));
        if (!fault && !started) fault = 'its sound could not be decoded: it is damaged';
        if (!fault && !core._bv_recording_finish(handle)) fault = recordingFault();
        parts.push(taken());
        cut = (format.startsWith('ogg') && ogg.last >= 0 && (ogg.last & 4) === 0) ||
          (total > 0 && frames < (format === 'mp3' ? 0.98 * total : total));
        return concat(parts);
      },
      /** What is wrong with the recording, in words, or null: then no TAP can be made. */
      fault() {
        return fault;
      },
      /**
       * Once finished: the recording is cut short or damaged part-way, in
       * words, or null. The pulses made are those of what came before.
       */
      cutShort() {
        return cut ? 'the recording is cut short or damaged part-way' : null;
      },
      /** The format read: 'wav', 'flac', 'ogg-vorbis', 'ogg-opus', 'ogg-flac' or 'mp3'; null before it is known. */
      format() {
        return format === 'none' || format === 'closed' ? null : format;
      },
      close() {
        if (wav) wav.close();
        if (handle) core._bv_recording_free(handle);
        if (decoder) decoder.free();
        wav = decoder = null;
        handle = 0;
        format = 'closed';
      },
    };
  }

  // Deflated data inflated piece by piece, in the core.
  function openInflater({gzip = false} = {}) {
    let handle = core._bv_inflate_new(gzip ? 1 : 0);
    const live = () => {
      if (!handle) throw new Error('inflater is closed');
    };
    // Hands take() each step's bytes until the inflater wants more or take returns false.
    const steps = (take) => {
      for (let n; (n = core._bv_inflate_step(handle)) > 0;) {
        const ptr = core._bv_inflate_output(handle);
        if (take(core.HEAPU8.subarray(ptr, ptr + n)) === false) return false;
      }
      return true;
    };
    return {
      /**
       * Inflates the next compressed bytes, handing what they make to
       * take(bytes), in order, a step at a time; bytes are in the core's
       * memory and are good only during the call. take may return false to
       * stop.
       */
      inflate(bytes, take) {
        live();
        inParts(bytes, (ptr, n) => {
          core._bv_inflate_feed(handle, ptr, n);
          return steps(take);
        });
      },
      /** No more compressed bytes follow: hands the last of what they make to take. */
      end(take) {
        live();
        core._bv_inflate_end(handle);
        steps(take);
      },
      /** Whether the whole stream has been inflated, with every check passed. */
      finished() {
        live();
        return core._bv_inflate_finished(handle) !== 0;
      },
      /** What is wrong with the compressed data, in words, or null. */
      fault() {
        live();
        return said(INFLATE_FAULTS, cString(core._bv_inflate_fault(handle)));
      },
      close() {
        if (handle) core._bv_inflate_free(handle);
        handle = 0;
      },
    };
  }

  return {
    openScan,
    openCatalogue,
    renderName,
    /**
     * Every header on a tape, in tape order, and the file each announces:
     * {number, type, name, start, end, offset, seconds, header, program,
     * programCheck}; number is the name's in `brivane -a`'s listing, 0 for
     * a header it does not list. Times count at the machine's clock.
     */
    catalogue(bytes, options = {}) {
      const cat = openCatalogue(options);
      try {
        return [...cat.feed(bytes), ...cat.finish()];
      } finally {
        cat.close();
      }
    },
    /** A record's program as a PRG file: its load address, low byte first, then the program; null with none. */
    prg(record) {
      if (!record.program) return null;
      return concat([Uint8Array.of(record.start & 0xFF, record.start >> 8), record.program]);
    },
    openRecording,
    openAnyRecording,
    soundFormat,
    openInflater,
    tapHeader,
    tapFile,
    /**
     * The TAP file (version 1) made from a WAV recording of a cassette:
     * its pulses behind the 20-byte header. Throws an Error saying what is
     * wrong with a file that is not a recording it can read, or holds no tape.
     */
    recordingToTap(bytes, options = {}) {
      const rec = openRecording(options);
      try {
        const parts = [rec.feed(bytes), rec.finish()];
        if (rec.fault()) throw new Error(`Could not read this recording: ${rec.fault()}`);
        return tapFile(parts, options);
      } finally {
        rec.close();
      }
    },
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
        return tapFile(parts, options);
      } finally {
        rec.close();
      }
    },
    /**
     * Feeds one piece to several scans and catalogues (whose records come
     * with their next feed or finish) with a single copy; true while any
     * wants more. With check, an object {crc, size} starting at {crc: 0,
     * size: 0}, also keeps the CRC-32 and the count of every byte fed.
     */
    feedAll(scans, bytes, check) {
      if (scans.some((s) => !s.handle)) throw new Error('scan is closed');
      return feedScans(scans, bytes, check);
    },
    /** Bytes of memory the core holds now: it stays the same whatever the tape's size. */
    memoryBytes() {
      return core.HEAPU8.length;
    },
    /** Exactly what `brivane [-a] [-e] TAPE` writes to standard output for the tape. */
    listNames(bytes, options = {}) {
      const scan = openScan(options);
      try {
        scan.feed(bytes);
        return scan.output();
      } finally {
        scan.close();
      }
    },
  };
}
