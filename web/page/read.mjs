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

// A read that has not answered in this long never will: Chromium's, now and
// then, under load. What was asked is then asked another way, or given up as
// an error: a tape is never left waiting for good.
let stalledMs = 20000;

/** How long a read may keep silent before it is taken as stalled (the tests shorten it). */
export function stallAfter(ms) {
  stalledMs = ms;
}

// What promise gives, or null once it has kept silent too long.
async function unlessStalled(promise) {
  let timer;
  try {
    return await Promise.race([promise, new Promise((resolve) => {
      timer = setTimeout(() => resolve(null), stalledMs);
    })]);
  } finally {
    clearTimeout(timer);
  }
}

// The same for each of a stream's many reads, with one timer for them all
// (a timer for each read cost a tenth of the time of reading a large tape):
// read(promise) gives what promise gives, or null once it has kept silent
// for about as long; stop() when done.
function watchdog() {
  let waiting = null, since = 0;
  const timer = setInterval(() => {
    if (waiting && performance.now() - since >= stalledMs) {
      const give = waiting;
      waiting = null;
      give(null);
    }
  }, Math.max(1, Math.min(1000, stalledMs / 2)));
  return {
    read(promise) {
      since = performance.now();
      return new Promise((resolve, reject) => {
        const mine = (settle) => (value) => {
          if (waiting !== resolve) return;  // too late: given up on
          waiting = null;
          settle(value);
        };
        waiting = resolve;
        promise.then(mine(resolve), mine(reject));
      });
    },
    stop() {
      clearInterval(timer);
    },
  };
}

const STALLED = 'TimeoutError';
const stalledError = () => Object.assign(new Error('the browser never answered a read'), {name: STALLED});

// Fills the first size bytes of buffer from reader, or as many as the stream
// has left; the bytes, on the buffer's new self (a read moves it). Throws a
// TimeoutError where a read stalls.
async function fill(reader, buffer, size) {
  let filled = 0;
  const watch = watchdog();
  try {
    while (filled < size) {
      const read = await watch.read(reader.read(new Uint8Array(buffer, filled, size - filled)));
      if (read === null) throw stalledError();
      const {value, done} = read;
      if (value) buffer = value.buffer;
      if (done) break;
      filled += value.byteLength;
    }
  } finally {
    watch.stop();
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
  if (buffer.transfer && !buffer.detached) buffer.transfer(0);
}

// Through the page, once this worker's own read of a picked file has been
// refused. When the page cannot read it either, the file itself is at fault,
// and this worker goes on reading for itself.
async function throughPage(blob) {
  relaying = true;
  try {
    const buffer = await unlessStalled(relay(blob));
    if (buffer === null) throw stalledError();
    return new Uint8Array(buffer);
  } catch (e) {
    relaying = false;
    throw e;
  }
}

/** All of blob, in new memory. A read that stalls is asked once more, then is a TimeoutError. */
export async function readBytes(blob) {
  if (relaying) return throughPage(blob);
  try {
    const buffer = (await unlessStalled(blob.arrayBuffer())) ?? (await unlessStalled(blob.arrayBuffer()));
    if (buffer === null) throw stalledError();
    return new Uint8Array(buffer);
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
    let stalled = false;
    try {
      return await fill(reader, buffer, Math.min(buffer.byteLength, blob.size));
    } catch (e) {
      stalled = e.name === STALLED;
      if (!refused(e) && !stalled) throw e;
    } finally {
      // An open reader holds on to the browser's resources; one that stalled is not waited for.
      const cancelled = reader.cancel().catch(() => {});
      if (!stalled) await cancelled;
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

// The blob as one byte stream, read into one buffer used again: each read
// gives what the browser has at hand, up to the buffer's size, and is used
// up before the next is asked for. The browser reads ahead by itself; a read
// of ours ahead, into a second buffer, gained nothing that held when measured
// again (docs/performance.md), and kept a read of the file under way beside
// every other read of the worker's.
// Returns true when it has yielded the whole blob; 0, having yielded
// nothing, where this worker may not read it so; and where the stream
// stalled, when it did (the bytes before were yielded).
async function* streamed(blob, slice) {
  const done = await streamTurn();
  let reader = null, buffer = null, stalled = false, at = 0;
  const watch = watchdog();
  try {
    reader = byteReader(blob);
    buffer = borrow(Math.min(slice, blob.size));
    for (let first = true; ; first = false) {
      let read;
      try {
        read = await watch.read(reader.read(new Uint8Array(buffer)));
      } catch (e) {
        if (first && refused(e)) return 0;
        throw e;
      }
      if (read === null) {
        stalled = true;  // the buffer stays with the read that never came back
        buffer = null;
        return at;
      }
      if (read.value) buffer = read.value.buffer;  // a read moves the buffer
      if (read.done) break;
      at += read.value.byteLength;
      yield read.value;
    }
    return true;
  } finally {
    watch.stop();
    // Left early too (a cancel, a fault): no read is under way by now, so
    // the reader can be let go of at once; one that stalled is not waited for.
    if (buffer) giveBack(new Uint8Array(buffer));
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
