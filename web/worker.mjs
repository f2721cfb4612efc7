// Reads tapes off the page's thread: each file in large slices, several in
// flight at once, fed in order to four scans (every combination of -a and
// -e), so that ticking an option later needs no second reading.
import loadBrivane from './brivane.mjs';

const SLICE = 16 << 20;  // bytes a read asks for: large slices read fastest
const IN_FLIGHT = 2;     // reads under way at once
const VARIANTS = [['', false, false], ['a', true, false], ['e', false, true], ['ae', true, true]];

const brivane = loadBrivane();
const cancelled = new Set();

// Reads all of blob into buffer. A read moves the buffer, and the bytes come
// back on its new self, so no memory is taken anew. Returns them.
async function readInto(blob, buffer) {
  const reader = blob.stream().getReader({mode: 'byob'});
  const size = Math.min(buffer.byteLength, blob.size);
  let filled = 0;
  try {
    while (filled < size) {
      const {value, done} = await reader.read(new Uint8Array(buffer, filled, size - filled));
      if (done) break;
      filled += value.byteLength;
      buffer = value.buffer;
    }
  } finally {
    await reader.cancel();  // an open reader holds on to the browser's resources
  }
  return new Uint8Array(buffer, 0, filled);
}

// The file's bytes, slice by slice, in order, with reads of the next slices
// already under way, each into a buffer used again and again: memory stays
// the same whatever the file's size.
async function* slices(file) {
  const spare = [];
  const pending = [];
  let next = 0;
  const more = () => {
    while (pending.length < IN_FLIGHT && next < file.size) {
      const end = Math.min(file.size, next + SLICE);
      const read = readInto(file.slice(next, end), spare.pop() || new ArrayBuffer(Math.min(SLICE, file.size)));
      read.catch(() => {});  // handled where it is awaited
      pending.push(read);
      next = end;
    }
  };
  more();
  while (pending.length > 0) {
    const bytes = await pending.shift();
    yield bytes;  // used up before the generator resumes
    spare.push(bytes.buffer);
    more();
  }
}

async function readTape(id, file) {
  const b = await brivane;
  const scans = VARIANTS.map(([, all, escape]) => b.openScan({all, escape}));
  try {
    let done = 0;
    for await (const bytes of slices(file)) {
      if (cancelled.has(id)) return {type: 'cancelled', id};
      done += bytes.length;
      const more = b.feedAll(scans, bytes);
      postMessage({type: 'progress', id, done, total: file.size});
      if (!more) break;  // only when every scan is over, which -a never is
    }
    const outputs = {};
    VARIANTS.forEach(([key], i) => { outputs[key] = scans[i].output(); });
    return {type: 'result', id, outputs};
  } finally {
    for (const s of scans) s.close();
  }
}

onmessage = async ({data}) => {
  if (data.type === 'cancel') {
    cancelled.add(data.id);
    return;
  }
  if (data.type !== 'tape') return;
  let reply;
  try {
    reply = cancelled.has(data.id) ? {type: 'cancelled', id: data.id} : await readTape(data.id, data.file);
  } catch (e) {
    reply = {type: "error", id: data.id, message: `Could not read this file (${e && e.name ? e.name : e}).`};
  }
  cancelled.delete(data.id);
  postMessage(reply);
};
