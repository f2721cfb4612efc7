// Reading a picked File, or part of one, in whichever way this browser allows:
// in slices into buffers used again and again where it gives a byte stream,
// into new memory where it does not, and through the page's own thread where
// it lets a worker hold a picked file but not read it. Plain tapes, gzipped
// tapes and archive members are all read through here.

/** Bytes a slice of a plain tape asks for: large slices read fastest. */
export const SLICE = 16 << 20;

let byteStreams = true;  // blob.stream() gives a byte stream (not so in WebKit)
let relay = null;        // in a worker: has the page's thread read a blob
let relaying = false;    // this worker's own reads of picked files are refused

/** In a worker: how to have the page's thread read a blob (a promise of an ArrayBuffer). */
export function readThroughPage(read) {
  relay = read;
}

async function intoBuffer(blob, buffer) {
  const reader = blob.stream().getReader({mode: 'byob'});  // throws where streams are not byte streams
  const size = Math.min(buffer.byteLength, blob.size);
  let filled = 0;
  try {
    while (filled < size) {
      const {value, done} = await reader.read(new Uint8Array(buffer, filled, size - filled));
      if (done) break;
      filled += value.byteLength;
      buffer = value.buffer;  // a read moves the buffer; the bytes come back on its new self
    }
  } finally {
    await reader.cancel();  // an open reader holds on to the browser's resources
  }
  return new Uint8Array(buffer, 0, filled);
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

const refused = (e) => relay !== null && e && e.name === 'NotReadableError';

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
    try {
      return await intoBuffer(blob, buffer);
    } catch (e) {
      if (e instanceof TypeError) byteStreams = false;
      else if (!refused(e)) throw e;
    }
  }
  return readBytes(blob);
}

/**
 * The bytes of blob, slice by slice, in order, with reads of the next
 * slices already under way (ahead of them at most), each into a buffer used
 * again: a slice must be used up before the generator is resumed. Memory
 * stays the same whatever the blob's size.
 */
export async function* slices(blob, {slice = SLICE, ahead = 2} = {}) {
  const spare = [];
  const pending = [];
  let next = 0;
  const more = () => {
    while (pending.length < ahead && next < blob.size) {
      const end = Math.min(blob.size, next + slice);
      const read = readInto(blob.slice(next, end), spare.pop() || new ArrayBuffer(Math.min(slice, blob.size)));
      read.catch(() => {});  // handled where it is awaited
      pending.push(read);
      next = end;
    }
  };
  more();
  try {
    while (pending.length > 0) {
      const bytes = await pending.shift();
      yield bytes;
      if (byteStreams && !relaying) spare.push(bytes.buffer);
      else release(bytes.buffer);
      more();
    }
  } finally {
    // Left early (a cancel, a fault): the reads under way still finish and
    // let go of their readers. One dropped mid-read can stall every later
    // read of a file in Chromium.
    await Promise.allSettled(pending);
  }
}

/** Gives a used-up buffer's memory back now, not whenever the collector comes by. */
export function release(buffer) {
  if (buffer.transfer) buffer.transfer(0);
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
