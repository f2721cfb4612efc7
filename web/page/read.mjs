// Reading a picked File, or part of one, in whichever way this browser allows:
// as one byte stream into a buffer used again and again where it gives byte
// streams, in slices into new memory where it does not (WebKit), and through
// the page's own thread where it lets a worker hold a picked file but not
// read it. Plain tapes, gzipped tapes and archive members are all read
// through here.

// The most bytes one read of a plain tape gives where the browser reads into a buffer it keeps.
const SLICE = 16 << 20;
// Where it reads into new memory, a large read costs more than several small ones.
const NEW_MEMORY_SLICE = 4 << 20;

// Whether blob.stream() gives a byte stream (not so in WebKit), found on an
// empty blob: a stream of a file, made only to find out, would go on
// reading the file for nothing.
const byteStreams = (() => {
  try {
    new Blob([]).stream().getReader({mode: 'byob'}).cancel().catch(() => {});
    return true;
  } catch {
    return false;
  }
})();
let relay = null;        // in a worker: has the page's thread read a blob
let relaying = false;    // this worker's own reads of picked files are refused

/** In a worker: how to have the page's thread read a blob (a promise of an ArrayBuffer). */
export function readThroughPage(read) {
  relay = read;
}

const refused = (e) => relay !== null && e && e.name === 'NotReadableError';

/**
 * Whether this browser reads files as byte streams, into buffers used again
 * (WebKit does not): there, large reads cost no more than small ones.
 */
export const readsIntoBuffers = () => byteStreams;

// A reader of blob's bytes into buffers of ours.
const byteReader = (blob) => blob.stream().getReader({mode: 'byob'});

// One byte stream read at a time in a worker: Chromium can stall for good
// on two read side by side. Resolves, in turn, to what to call when done.
let streamsFree = Promise.resolve();
async function streamTurn() {
  const before = streamsFree;
  let done;
  streamsFree = new Promise((resolve) => { done = resolve; });
  await before;
  return done;
}

// Fills the first size bytes of buffer from reader, or as many as the stream
// has left; the bytes, on the buffer's new self (a read moves it).
async function fill(reader, buffer, size) {
  let filled = 0;
  while (filled < size) {
    const {value, done} = await reader.read(new Uint8Array(buffer, filled, size - filled));
    if (value) buffer = value.buffer;
    if (done) break;
    filled += value.byteLength;
  }
  return new Uint8Array(buffer, 0, filled);
}

// Buffers read into before, to be read into again.
const spares = [];
const SPARES = 4;

/** A buffer of at least size bytes to read into: one given back before, where one is large enough. */
export function borrow(size) {
  let best = -1;
  spares.forEach((b, i) => {
    if (b.byteLength >= size && (best < 0 || b.byteLength < spares[best].byteLength)) best = i;
  });
  return best >= 0 ? spares.splice(best, 1)[0] : new ArrayBuffer(size);
}

/** Gives back the buffer that bytes were read into: to be read into again, or its memory freed now. */
export function giveBack(bytes) {
  const buffer = bytes.buffer;
  if (byteStreams && !relaying && buffer.byteLength > 0 && spares.length < SPARES) spares.push(buffer);
  else release(buffer);
}

// Gives a used-up buffer's memory back now, not whenever the collector comes by.
function release(buffer) {
  if (buffer.transfer) buffer.transfer(0);
}

// Through the page, once this worker's own read of a picked file has been
// refused. When the page cannot read it either, the file itself is at fault,
// and this worker goes on reading for itself.
async function throughPage(blob) {
  relaying = true;
  try {
    return new Uint8Array(await relay(blob));
  } catch (e) {
    relaying = false;
    throw e;
  }
}

/** All of blob, in new memory. */
export async function readBytes(blob) {
  if (relaying) return throughPage(blob);
  try {
    return new Uint8Array(await blob.arrayBuffer());
  } catch (e) {
    if (refused(e)) return throughPage(blob);
    throw e;
  }
}

/** All of blob, into buffer where the browser can read into it, else into new memory. */
export async function readInto(blob, buffer) {
  if (byteStreams && !relaying) {
    const done = await streamTurn();
    const reader = byteReader(blob);
    try {
      return await fill(reader, buffer, Math.min(buffer.byteLength, blob.size));
    } catch (e) {
      if (!refused(e)) throw e;
    } finally {
      await reader.cancel().catch(() => {});  // an open reader holds on to the browser's resources
      done();
    }
  }
  return readBytes(blob);
}

/**
 * The bytes of blob, piece by piece, in order: a piece must be used up before
 * the generator is resumed. As a byte stream, a piece is what one read gives,
 * at most slice bytes; else slices of at most 4 MiB, each in new memory, the
 * next read while the last is used. Memory stays the same whatever the
 * blob's size.
 */
export async function* slices(blob, {slice = SLICE} = {}) {
  if (blob.size === 0) return;
  let from = 0;
  if (byteStreams && !relaying) {
    const got = yield* streamed(blob, slice);
    if (got === true) return;
    from = got;  // where the stream stopped answering, or 0 where it was refused
  }
  yield* inNewMemory(from > 0 ? blob.slice(from) : blob, Math.min(slice, NEW_MEMORY_SLICE));
}

// A read of a byte stream that has not answered in this long never will:
// Chromium's, now and then, under load. The rest is read in slices instead.
const STALLED_MS = 20000;

// The blob as one byte stream, read into two buffers used again in turn:
// while one piece is used, the browser reads the next into the other. Each
// read gives what the browser has at hand, up to the buffer's size. (With
// little to do with each piece, one buffer was as fast; with the catalogue
// to read, the second lets the reading and the work go on side by side.)
// Returns true when it has yielded the whole blob; 0, having yielded
// nothing, where this worker may not read it so; and where the stream
// stalled, when it did (the bytes before were yielded).
async function* streamed(blob, slice) {
  const done = await streamTurn();
  let reader = null, stalled = false, at = 0;
  const size = Math.min(slice, blob.size);
  const buffers = [];  // those not lent to a read
  let pending = null;  // the read under way
  const ask = () => {
    const buffer = buffers.pop();
    pending = reader.read(new Uint8Array(buffer));
    pending.catch(() => {});  // handled where it is awaited
  };
  try {
    reader = byteReader(blob);
    buffers.push(borrow(size), borrow(size));
    ask();
    for (let first = true; ; first = false) {
      let read, timer;
      try {
        read = await Promise.race([pending, new Promise((resolve) => {
          timer = setTimeout(() => resolve(null), STALLED_MS);
        })]);
      } catch (e) {
        pending = null;
        if (first && refused(e)) return 0;
        throw e;
      } finally {
        clearTimeout(timer);
      }
      if (read === null) {
        stalled = true;  // the buffer stays with the read that never came back
        return at;
      }
      pending = null;
      if (read.done) {
        if (read.value) buffers.push(read.value.buffer);
        break;
      }
      at += read.value.byteLength;
      if (at < blob.size) ask();  // the next piece, into the other buffer, while this one is used
      yield read.value;
      buffers.push(read.value.buffer);  // a read moves the buffer: this is its new self
      if (!pending) break;  // that was the blob's last byte
    }
    return true;
  } finally {
    // Left early too (a cancel, a fault): a read still under way is let go
    // with the reader; one that stalled is not waited for.
    for (const buffer of buffers) giveBack(new Uint8Array(buffer));
    if (reader) {
      const cancelled = reader.cancel().catch(() => {});
      if (!stalled) await cancelled;
    }
    done();
  }
}

// The blob in slices, each in new memory, the next read while the last is used.
async function* inNewMemory(blob, slice) {
  const read = (start) => {
    const r = readBytes(blob.slice(start, Math.min(blob.size, start + slice)));
    r.catch(() => {});  // handled where it is awaited
    return r;
  };
  let next = read(0);
  try {
    for (let at = 0; next;) {
      const bytes = await next;
      at += bytes.length;
      next = at < blob.size && bytes.length > 0 ? read(at) : null;
      yield bytes;
      release(bytes.buffer);
    }
  } finally {
    if (next) await next.catch(() => {});
  }
}

/** Part of a file read on demand: read(start, end) gives its bytes, in new memory. */
export const fileSource = (file) => ({
  file,
  size: file.size,
  read: (start, end) => readBytes(file.slice(start, end)),
});

/**
 * Part of a file already in memory, bytes holding the file's bytes from
 * offset on; reads outside it go to the file.
 */
export const memorySource = (file, bytes, offset) => ({
  file,
  size: file.size,
  read: async (start, end) => (start >= offset && end <= offset + bytes.length
    ? bytes.subarray(start - offset, end - offset) : readBytes(file.slice(start, end))),
});
