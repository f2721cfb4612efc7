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
  /** The names reported so far, as data: each one's number in the listing (1 without `all`) and the bytes shown between its quotes. */
  results(): {number: number; name: Uint8Array}[];
  /** Frees the scan; it refuses any use after this. */
  close(): void;
}

/** A running, check-summing count of the bytes fed, as zip and gzip keep it. */
export interface Check {
  crc: number;
  size: number;
}

/** The machine clock a recording's waves are counted in: the C64's PAL or NTSC clock, or a rate in Hz. */
export type Clock = 'pal' | 'ntsc' | number;

/** The Commodore machines whose ROMs write this encoding, with their video standard. */
export type Machine = 'c64-pal' | 'c64-ntsc' | 'vic20-pal' | 'vic20-ntsc';

/**
 * The machine a TAP file is made for: its clock times the pulses, and its
 * header names it. machine wins over clock; without either, 'c64-pal'.
 */
export interface MachineOptions {
  machine?: Machine;
  /** The C64's clock, 'pal' or 'ntsc', or any clock in Hz (the header then says C64, PAL). */
  clock?: Clock;
}

/** A WAV recording of a cassette fed in pieces, in order, turned into TAP pulses. */
export interface Recording {
  /** Feeds the next piece of the file; returns the pulse bytes it yields. */
  feed(bytes: Uint8Array): Uint8Array;
  /** The file has ended: returns the last pulse bytes. */
  finish(): Uint8Array;
  /** What is wrong with the recording, in words (not a WAV file, a sample rate it does not read, no tape signal, ...), or null. */
  fault(): string | null;
  /** Once finished: whether the file held less sound than its header says. */
  soundMissing(): boolean;
  /** Frees the converter; it refuses any use after this. */
  close(): void;
}

/** The formats of recordings read: WAV by the core's own reader, the rest by their reference decoders. */
export type SoundFormat = 'wav' | 'flac' | 'ogg-vorbis' | 'ogg-opus' | 'ogg-flac' | 'mp3';

/** A recording of any format read, fed in pieces, in order; its format is told from its first bytes. */
export interface AnyRecording {
  /** Feeds the next piece of the file; a promise of the pulse bytes it yields. */
  feed(bytes: Uint8Array): Promise<Uint8Array>;
  /** The file has ended: a promise of the last pulse bytes. */
  finish(): Promise<Uint8Array>;
  /** What is wrong with the recording, in words (not a recording it reads, and what it is where it can tell; no tape signal; ...), or null. */
  fault(): string | null;
  /** Once finished: that the recording is cut short or damaged part-way, in words, or null. Its pulses are those of what came before. */
  cutShort(): string | null;
  /** The format read, once known. */
  format(): SoundFormat | null;
  /** Frees the converter and the decoder. */
  close(): void;
}

/**
 * Deflated data inflated in pieces, in order: a zip member's raw deflate
 * stream, or a gzipped tape (gzip members one after another, each checked).
 */
export interface Inflater {
  /**
   * Inflates the next compressed bytes, handing what they make to take, in
   * order, a step of at most 1 MiB at a time. Each piece given to take lies
   * in the core's memory and is good only during the call; take may return
   * false to stop.
   */
  inflate(bytes: Uint8Array, take: (made: Uint8Array) => boolean | void): void;
  /** No more compressed bytes follow: hands the last of what they make to take. */
  end(take: (made: Uint8Array) => boolean | void): void;
  /** Whether the whole stream has been inflated, with every check passed. */
  finished(): boolean;
  /** What is wrong with the compressed data, in words (damaged, cut short, not gzip, ...), or null. */
  fault(): string | null;
  /** Frees the inflater; it refuses any use after this. */
  close(): void;
}

/**
 * Which copy of a block loads: the first, only the repeat, neither, there
 * is none; or, for a turbo loader's block, 'none' where its format keeps no
 * checksum.
 */
export type CopyCheck = 'ok' | 'repeat' | 'damaged' | 'missing' | 'none';

/**
 * One file on a tape (a ROM header and the file it announces, or a turbo
 * loader's file), or a stretch of the tape that no loader explains.
 */
export interface CatalogueRecord {
  /** A file, or a stretch no loader explains ('unrecognised'). */
  kind: 'file' | 'unrecognised';
  /** 'rom' for the ROM's own blocks, a turbo format's name ('Freeload', 'Novaload', ...), '' for a stretch. */
  loader: string;
  /** Its number in `brivane -a`'s listing; 0 for a header the listing does not name. */
  number: number;
  /** A ROM header's type: 1 and 3 programs, 4 a data file, 5 the end of the tape; 0 for the rest. */
  type: number;
  /** The 16 name bytes as on tape, padded with spaces; spaces where the format keeps no name. */
  name: Uint8Array;
  /** Load addresses; end is one past the last byte. A chain of blocks scattered over memory starts at its first's. */
  start: number;
  end: number;
  /**
   * File offset of the long pulse that opens a ROM header's first countdown
   * byte (its repeat's, where no first copy was found); of a turbo file's
   * first byte after its sync; of a stretch's first pulse.
   */
  offset: number;
  /** Time from the start of the tape to that pulse, at the machine's clock. */
  seconds: number;
  /** 'missing' never: a header is only known from a copy of it; 'none' where a turbo header has no check. */
  header: Exclude<CopyCheck, 'missing'>;
  /** The program, from a copy whose checksum holds (or that has none); null otherwise. */
  program: Uint8Array | null;
  programCheck: CopyCheck;
  /** A turbo file's blocks, lead to end, or a stretch: how many pulses; 0 for a ROM file. */
  length: number;
  /** How long those pulses last, in seconds. */
  duration: number;
  /** A stretch's most common pulse values, the most common first. */
  pulseValues: number[];
}

/** A TAP file that ends before the pulses its header gives. */
export interface CutShort {
  /** Bytes of pulses the file holds. */
  holds: number;
  /** Bytes of pulses its header gives. */
  gives: number;
  /** What to say of it: "the file is cut short: it holds 6,000 of the 12,000 bytes of pulses its header gives". */
  words: string;
}

/**
 * Every record of a tape, the share of its time (0 to 1) that its blocks explain, and for a TAP
 * file cut short what it holds (null for any other).
 */
export type TapeCatalogue = CatalogueRecord[] & {coverage: number; cutShort: CutShort | null};

/** A record as the page shows it: with {cells: true, tape} among a catalogue's options. */
export interface CatalogueRecordWithCells extends CatalogueRecord {
  /** Its columns' texts after the tape's path, as the table shows them: without -e, and with it. */
  cells: [string[], string[]];
  /** Its CSV lines, the tape's path first, CR LF at the end: without -e, and with it. */
  csv: [string, string];
  /** A name for its program's file, safe on any file system ("GAME.prg"). */
  prgName: string;
}

/** What a catalogue is timed for and, for the page, whether its records carry their cells. */
export interface CatalogueOptions extends MachineOptions {
  /** Each record also carries its cells, CSV lines and PRG file name. */
  cells?: boolean;
  /** The tape's path, as the CSV lines name it. */
  tape?: string;
  /** Also keeps what `brivane` lists for the tape: listing() and names(). */
  listings?: boolean;
}

/** A tape's catalogue, fed in pieces, in order. */
export interface Catalogue {
  /** Feeds the next piece; returns the records it settled. */
  feed(bytes: Uint8Array): CatalogueRecord[];
  /** The tape has ended: returns the last records. */
  finish(): CatalogueRecord[];
  /** Whether the tape starts as a TAP file does ("C64-TAPE-RAW"), once 20 bytes are fed. */
  tapSignature(): boolean;
  /** Once finished: the share of the tape's time, its pauses aside, that the blocks read explain, 0 to 1. */
  coverage(): number;
  /** Once finished: for a TAP file that ends before the pulses its header gives, what it holds; else null. */
  cutShort(): CutShort | null;
  /** With listings: exactly what `brivane [-a] [-e]` writes to standard output for the tape fed so far. */
  listing(options?: ListOptions): Uint8Array;
  /** How many names `brivane -a` lists for the tape fed so far. */
  names(): number;
  close(): void;
}

/** A machine a TAP can be made for: its name in options, and in words. */
export interface MachineChoice {
  name: Machine;
  label: string;
}

export interface Brivane {
  /** Every file on a tape and every stretch no loader explains, in tape order, with the tape's coverage. */
  catalogue(bytes: Uint8Array, options?: MachineOptions): TapeCatalogue;
  /** A catalogue of one tape, to be fed in pieces. */
  openCatalogue(options?: CatalogueOptions): Catalogue;
  /**
   * The catalogue's columns, as the CSV has them: their headings (the tape's
   * first), their CSV names, their places in the order the page's table
   * shows them (the loader beside the name), and the CSV's first line.
   */
  columns(): {headings: string[]; names: string[]; shown: number[]; csv: string};
  /** The machines a TAP can be made for, as offered, the default first. */
  machines(): MachineChoice[];
  /** The name of the TAP file made from a recording: its extension, if any, made .tap. */
  tapNameFor(recording: string): string;
  /** A record's program as a PRG file: its start address, low byte first, then the program; null with none. */
  prg(record: CatalogueRecord): Uint8Array | null;
  /** A name's 16 bytes as the program shows them; with {escape: true}, as -e does. */
  renderName(name: Uint8Array, options?: {escape?: boolean}): Uint8Array;
  /** An inflater for a zip member's deflated data, or with {gzip: true} for a gzipped tape. */
  openInflater(options?: {gzip?: boolean}): Inflater;
  /**
   * The TAP file (version 1: the 20-byte header starting "C64-TAPE-RAW",
   * then the pulses) made from a WAV recording of a cassette. Throws an
   * Error saying what is wrong with a file it cannot read, or with no tape in it.
   */
  recordingToTap(bytes: Uint8Array, options?: MachineOptions): Uint8Array;
  /**
   * The TAP file made from a recording in any format read: WAV, FLAC, Ogg
   * Vorbis, Ogg Opus, Ogg FLAC or MP3. Refused with an Error saying what is
   * wrong with a file it cannot read, or with no tape.
   */
  anyRecordingToTap(bytes: Uint8Array, options?: MachineOptions): Promise<Uint8Array>;
  /** A recording of any format read, to be fed in pieces; tapFile(parts) makes the TAP file of its pulses. */
  openAnyRecording(options?: MachineOptions): AnyRecording;
  /** What a recording's first bytes say it is: a format read; null when too few to tell; otherwise {other: words naming it, or ''}. */
  soundFormat(bytes: Uint8Array): SoundFormat | null | {other: string};
  /** A WAV recording to be fed in pieces; tapFile(parts) makes the TAP file of all its pulses. */
  openRecording(options?: MachineOptions): Recording;
  /** The 20 bytes in front of a TAP file (version 1) of size pulse bytes: its platform and video bytes name the machine. */
  tapHeader(size: number, options?: MachineOptions): Uint8Array;
  /** The TAP file (version 1) holding the pulses of parts, in order: a recording's pulses as openRecording gave them. */
  tapFile(parts: Uint8Array[], options?: MachineOptions): Uint8Array;
  /** Exactly what `brivane [-a] [-e] TAPE` writes to standard output for the tape. */
  listNames(bytes: Uint8Array, options?: ListOptions): Uint8Array;
  /** A scan of one tape, to be fed in pieces. */
  openScan(options?: ListOptions): Scan;
  /**
   * Feeds one piece to several scans with a single copy; true while any
   * wants more. With check, starting at {crc: 0, size: 0}, also keeps the
   * CRC-32 and the count of every byte fed.
   */
  feedAll(scans: (Scan | Catalogue)[], bytes: Uint8Array, check?: Check): boolean;
  /** Bytes of memory the core holds now: it stays the same whatever the tape's size. */
  memoryBytes(): number;
  /** The compiled core this one started from, for loadBrivane({module}) in another thread. */
  compiledCore(): WebAssembly.Module;
}

/** What a recording's first bytes say it is: a format read; null when too few to tell; otherwise {other: words naming it, or ''}. */
export function soundFormat(bytes: Uint8Array): SoundFormat | null | {other: string};

/**
 * Starts the core: from module, a core compiled before (compiledCore(), in
 * this thread or handed over from another), or compiled now.
 */
export default function loadBrivane(options?: {module?: WebAssembly.Module | null}): Promise<Brivane>;
