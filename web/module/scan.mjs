// Scans in the module: a tape fed in pieces into what `brivane [-a] [-e]`
// prints, and each name as data; one piece handed to many scans and
// catalogues with one copy.

/**
 * Feeds bytes to every reader in readers (scans and catalogues) that still
 * wants pulses; with check ({crc, size}), adds them to its CRC-32 and count,
 * also once none wants more. Returns whether any reader still does.
 */
export function feedReaders(c, readers, bytes, check) {
  let wanted = readers.filter((r) => r.wantsMore);
  c.inParts(bytes, (ptr, n) => {
    if (wanted.length === 0 && !check) return false;
    for (const r of wanted) r.wantsMore = r.feedCore(ptr, n);
    wanted = wanted.filter((r) => r.wantsMore);
    if (check) {
      check.crc = c.core._bv_crc32(check.crc, ptr, n) >>> 0;
      check.size += n;
    }
    return true;
  });
  return wanted.length > 0;
}

// One tape scanned as it comes.
class Scan {
  constructor(c, {all = false, escape = false} = {}) {
    this.c = c;
    this.handle = c.core._bv_scan_new(all ? 1 : 0, escape ? 1 : 0);
    this.wantsMore = true;
  }

  feedCore(ptr, n) {
    return this.c.core._bv_scan_feed(this.handle, ptr, n) !== 0;
  }

  live() {
    if (!this.handle) throw new Error('scan is closed');
  }

  /** Feeds the next piece of the tape; false once no more is wanted. */
  feed(bytes) {
    this.live();
    return feedReaders(this.c, [this], bytes);
  }

  /** How many names were found so far. */
  names() {
    this.live();
    return this.c.core._bv_scan_found_count(this.handle);
  }

  /**
   * The names reported so far, as data: {number, name} each, number as in
   * the listing (1 without all), name the bytes shown between the quotes.
   */
  results() {
    this.live();
    const {core} = this.c;
    const out = [];
    for (let i = 0, n = core._bv_scan_found_count(this.handle); i < n; i++) {
      const ptr = core._bv_scan_name(this.handle, i);
      out.push({number: core._bv_scan_name_number(this.handle, i),
                name: core.HEAPU8.slice(ptr, ptr + core._bv_scan_name_size(this.handle, i))});
    }
    return out;
  }

  /** What the program would have written to standard output so far. */
  output() {
    this.live();
    const {core} = this.c;
    const ptr = core._bv_scan_output(this.handle);
    return core.HEAPU8.slice(ptr, ptr + core._bv_scan_output_size(this.handle));
  }

  close() {
    if (this.handle) this.c.core._bv_scan_free(this.handle);
    this.handle = 0;
  }
}

export function scanLayer(c) {
  const openScan = (options) => new Scan(c, options);
  return {
    openScan,
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
    /**
     * Feeds one piece to several scans and catalogues (whose records come
     * with their next feed or finish) with a single copy; true while any
     * wants more. With check, an object {crc, size} starting at {crc: 0,
     * size: 0}, also keeps the CRC-32 and the count of every byte fed.
     */
    feedAll(readers, bytes, check) {
      if (readers.some((r) => !r.handle)) throw new Error('scan is closed');
      return feedReaders(c, readers, bytes, check);
    },
    /** A name's 16 bytes as the program shows them: with escape, as -e does. */
    renderName(name, {escape = false} = {}) {
      const [ptr] = c.input(name.subarray(0, 16));
      return c.bytesOut(c.core._bv_render_name(ptr, escape ? 1 : 0));
    },
  };
}
