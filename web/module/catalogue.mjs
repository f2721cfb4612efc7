// The catalogue in the module: every file on a tape as a record, its fields
// named by the core, read as it settles from a tape fed in pieces.
import {concat} from './core.mjs';
import {feedReaders} from './scan.mjs';

// A tape's catalogue, fed in pieces.
class Catalogue {
  constructor(c, machine, {cells = false, listings = false, tape = ''}) {
    this.c = c;
    this.listings = listings;
    this.handle = c.core._bv_catalogue_new(machine, cells ? 1 : 0, listings ? 1 : 0, ...c.input(String(tape)));
    this.wantsMore = true;
    this.done = [];
  }

  // The records the core has settled, its JSON made objects: the name's
  // bytes as bytes, and the program where one loads.
  settle() {
    const {core} = this.c;
    const records = JSON.parse(this.c.textOut(core._bv_catalogue_take(this.handle)));
    for (const [i, {programSize, ...record}] of records.entries()) {
      record.name = Uint8Array.from(record.name);
      // A file's program is kept where its check holds, or it has none.
      const kept = record.kind === 'file' && (['ok', 'repeat'].includes(record.programCheck) ||
        (record.programCheck === 'none' && programSize > 0));
      const at = kept ? core._bv_catalogue_program(this.handle, i) : 0;
      record.program = kept ? core.HEAPU8.slice(at, at + programSize) : null;
      this.done.push(record);
    }
  }

  feedCore(ptr, n) {
    this.c.core._bv_catalogue_feed(this.handle, ptr, n);
    this.settle();
    return true;
  }

  live() {
    if (!this.handle) throw new Error('catalogue is closed');
  }

  /** Feeds the next piece of the tape; returns the records it settled. */
  feed(bytes) {
    this.live();
    feedReaders(this.c, [this], bytes);
    return this.done.splice(0);
  }

  /** The tape has ended: returns the last records. */
  finish() {
    this.live();
    this.c.core._bv_catalogue_finish(this.handle);
    this.settle();
    return this.done.splice(0);
  }

  /** Whether the tape starts as a TAP file does ("C64-TAPE-RAW"), once 20 bytes are fed. */
  tapSignature() {
    this.live();
    return this.c.core._bv_catalogue_signature(this.handle) !== 0;
  }

  /**
   * With {listings: true}: exactly what `brivane [-a] [-e]` writes to
   * standard output for the tape fed so far, as listNames gives it.
   */
  listing({all = false, escape = false} = {}) {
    this.live();
    if (!this.listings) throw new Error('catalogue keeps no listings: open it with {listings: true}');
    return this.c.bytesOut(this.c.core._bv_catalogue_listing(this.handle, all ? 1 : 0, escape ? 1 : 0));
  }

  /** How many names `brivane -a` lists for the tape fed so far. */
  names() {
    this.live();
    return this.c.core._bv_catalogue_name_count(this.handle);
  }

  /**
   * Once finished: the share of the tape's time, its pauses aside, that the
   * blocks read explain, 0 to 1.
   */
  coverage() {
    this.live();
    return this.c.core._bv_catalogue_coverage(this.handle);
  }

  /**
   * Once finished, for a TAP file that ends before the pulses its header
   * gives: {holds, gives, words}, the bytes of pulses it holds, the bytes
   * its header gives and what to say of it; null for any other file.
   */
  cutShort() {
    this.live();
    return JSON.parse(this.c.textOut(this.c.core._bv_catalogue_cut_short(this.handle)));
  }

  close() {
    if (this.handle) this.c.core._bv_catalogue_free(this.handle);
    this.handle = 0;
  }
}

export function catalogueLayer(c, {machineOf}) {
  /**
   * A tape's catalogue, fed in pieces: every header on it and the file it
   * announces, as records, in tape order. With {cells: true, tape: path},
   * each record also carries its columns' texts as the page shows them
   * (cells: without and with -e), its CSV lines under that path (csv) and
   * the name for its program's file (prgName). With {listings: true}, it
   * also gives what `brivane` lists for the tape (listing, names), so that
   * one reading gives both.
   */
  const openCatalogue = (options = {}) => new Catalogue(c, machineOf(options).machine, options);
  return {
    openCatalogue,
    /**
     * Every file on a tape, in tape order, the ROM's and each turbo
     * loader's, and every stretch that no loader explains: {kind, loader,
     * number, type, name, start, end, offset, seconds, header, program,
     * programCheck, length, duration, pulseValues}; number is the name's in
     * `brivane -a`'s listing, 0 for a header it does not list. Times count
     * at the machine's clock. The array's coverage is the share of the
     * tape's time that its blocks explain; its cutShort, for a TAP file that
     * ends before the pulses its header gives, what it holds of them.
     */
    catalogue(bytes, options = {}) {
      const cat = openCatalogue(options);
      try {
        const records = [...cat.feed(bytes), ...cat.finish()];
        records.coverage = cat.coverage();
        records.cutShort = cat.cutShort();
        return records;
      } finally {
        cat.close();
      }
    },
    /** A record's program as a PRG file: its load address, low byte first, then the program; null with none. */
    prg(record) {
      if (!record.program) return null;
      return concat([Uint8Array.of(record.start & 0xFF, record.start >> 8), record.program]);
    },
    /**
     * The catalogue's columns: {headings: [tape's, ...], names: their CSV
     * names, shown: their places in the order the page's table shows them,
     * csv: the CSV's first line}.
     */
    columns: () => JSON.parse(c.textOut(c.core._bv_columns())),
  };
}
