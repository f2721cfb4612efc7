// Types for brivane.mjs: the command-line tool's own decoder, renderer and
// scan loop, compiled to WebAssembly.

/** Which of the program's options a listing follows. */
export interface ListOptions {
  /** `-a`: every name, numbered, instead of only the first. */
  all?: boolean;
  /** `-e`: control codes by name, such as {RETURN}. */
  escape?: boolean;
}

/** One tape fed in pieces, in order; memory does not grow with the tape. */
export interface Scan {
  /** Feeds the next piece of the tape; false once no more is wanted. */
  feed(bytes: Uint8Array): boolean;
  /** Names found so far. */
  names(): number;
  /** What the program would have written to standard output so far. */
  output(): Uint8Array;
  /** Frees the scan; it refuses any use after this. */
  close(): void;
}

/** A running, check-summing count of the bytes fed, as zip and gzip keep it. */
export interface Check {
  crc: number;
  size: number;
}

export interface Brivane {
  /** Exactly what `brivane [-a] [-e] TAPE` writes to standard output for the tape. */
  listNames(bytes: Uint8Array, options?: ListOptions): Uint8Array;
  /** A scan of one tape, to be fed in pieces. */
  openScan(options?: ListOptions): Scan;
  /**
   * Feeds one piece to several scans with a single copy; true while any
   * wants more. With check, starting at {crc: 0, size: 0}, also keeps the
   * CRC-32 and the count of every byte fed.
   */
  feedAll(scans: Scan[], bytes: Uint8Array, check?: Check): boolean;
  /** Bytes of memory the core holds now: it stays the same whatever the tape's size. */
  memoryBytes(): number;
}

/** Starts the core. */
export default function loadBrivane(): Promise<Brivane>;
