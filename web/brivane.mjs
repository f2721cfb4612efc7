// brivane in JavaScript: the command-line tool's own decoder, renderer and
// scan loop, compiled to WebAssembly. Works in browsers, their Workers and
// Node alike.
//
//   import loadBrivane from './brivane.mjs';
//   const brivane = await loadBrivane();
//   brivane.listNames(bytes, {all: true, escape: true});  // what `brivane -a -e TAPE` prints
//
// For a large tape, feed it in pieces, in order; memory does not grow with it:
//   const scan = brivane.openScan({all: true});
//   for (const piece of pieces) if (!scan.feed(piece)) break;  // false: the scan is over
//   const out = scan.output();
//   scan.close();
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

export default async function loadBrivane() {
  const core = await createBrivaneCore({wasmBinary: coreBytes()});

  // Copies bytes into the core's input and feeds them to every scan in scans
  // that still wants pulses; with check ({crc, size}), adds them to its
  // CRC-32 and count, also once no scan wants more. Returns whether any scan
  // still does.
  function feedScans(scans, bytes, check) {
    let wanted = scans.filter((s) => s.wantsMore);
    for (let at = 0; at < bytes.length && (wanted.length > 0 || check); at += FEED_LIMIT) {
      const part = bytes.subarray(at, Math.min(bytes.length, at + FEED_LIMIT));
      const ptr = core._bv_input(part.length);
      core.HEAPU8.set(part, ptr);  // HEAPU8 is read anew: the call above may have grown memory
      for (const s of wanted) s.wantsMore = core._bv_scan_feed(s.handle, part.length) !== 0;
      wanted = wanted.filter((s) => s.wantsMore);
      if (check) {
        check.crc = core._bv_input_crc32(check.crc, part.length) >>> 0;
        check.size += part.length;
      }
    }
    return wanted.length > 0;
  }

  function openScan({all = false, escape = false} = {}) {
    const scan = {
      handle: core._bv_scan_new(all ? 1 : 0, escape ? 1 : 0),
      wantsMore: true,
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

  return {
    openScan,
    /**
     * Feeds one piece to several scans with a single copy; true while any
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
