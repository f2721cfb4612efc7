// Reads tapes off the page's thread: each file in large slices, several in
// flight at once, fed in order to four scans (every combination of -a and
// -e), so that ticking an option later needs no second reading.
import loadBrivane from './brivane.mjs';
import {ArchiveError, fileSource, inflate, listArchive, memberBytes, memorySource, readInto, reusedSlices} from './zip.mjs';

const SLICE = 16 << 20;  // bytes a read asks for: large slices read fastest
const IN_FLIGHT = 2;     // reads under way at once
const VARIANTS = [['', false, false], ['a', true, false], ['e', false, true], ['ae', true, true]];

const brivane = loadBrivane();
const cancelled = new Set();

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

// Feeds the tape that source yields to the four scans. Returns the outputs,
// and with them, when the tape could not be read to its end, what went
// wrong: the names found before stay. check, when given, gets the tape's
// CRC-32 and size.
async function readTape(id, source, total, check) {
  const b = await brivane;
  const scans = VARIANTS.map(([, all, escape]) => b.openScan({all, escape}));
  const reply = {type: 'result', id, outputs: {}};
  try {
    let done = 0, lastReport = 0;
    for await (const bytes of source()) {
      if (cancelled.has(id)) return {type: 'cancelled', id};
      b.feedAll(scans, bytes, check);
      done += bytes.length;
      const read = source.read ? source.read() : done;
      if (read - lastReport >= (1 << 20) || read === total) {
        postMessage({type: 'progress', id, done: read, total});
        lastReport = read;
      }
    }
  } catch (e) {
    reply.error = e instanceof ArchiveError ? e.message : `the browser could not read it (${e && e.name ? e.name : e})`;
  } finally {
    VARIANTS.forEach(([key], i) => { reply.outputs[key] = scans[i].output(); });
    for (const s of scans) s.close();
  }
  return reply;
}

// A source counting the archive's bytes it has read.
function counted(make) {
  let read = 0;
  const source = () => make((n) => { read += n; });
  source.read = () => read;
  return source;
}

const hex = (n) => n.toString(16).padStart(8, '0');

async function readMember(id, source, m) {
  const check = {crc: 0, size: 0};
  const reply = await readTape(id, counted((onRead) => memberBytes(source, m, onRead)), m.compressedSize, check);
  if (reply.type === 'result' && !reply.error) {
    if (check.size !== m.size)
      reply.error = `it inflated to ${check.size.toLocaleString('en')} bytes where the archive records ${m.size.toLocaleString('en')}`;
    else if (check.crc !== m.crc)
      reply.error = `its CRC-32 is ${hex(check.crc)} where the archive records ${hex(m.crc)}: the data is damaged`;
  }
  return reply;
}

async function job(data) {
  const {id, file} = data;
  switch (data.type) {
    case 'tape':
      return readTape(id, () => slices(file), file.size);
    case 'gzip':
      return readTape(id, counted((onRead) => inflate(reusedSlices(file), 'gzip', onRead)), file.size);
    case 'member':
      return readMember(id, fileSource(file), data.member);
    case 'batch': {
      // Members side by side in the archive, read in one go: one large read
      // is much faster than many small ones. Each gets its own reply.
      let source;
      try {
        source = memorySource(file, await fileSource(file).read(data.start, data.end), data.start);
      } catch {
        source = fileSource(file);  // each member then says what went wrong for it
      }
      for (const {id: memberId, member} of data.members) {
        let reply;
        try {
          reply = cancelled.has(memberId) ? {type: 'cancelled', id: memberId} : await readMember(memberId, source, member);
        } catch (e) {
          reply = {type: 'error', id: memberId, message: `the browser could not read it (${e && e.name ? e.name : e})`};
        }
        cancelled.delete(memberId);
        postMessage(reply);
      }
      return null;
    }
    case 'archive':
      try {
        return {type: 'listing', id, members: await listArchive(file)};
      } catch (e) {
        return {type: 'error', id, message: e instanceof ArchiveError ? e.message : `the browser could not read it (${e && e.name ? e.name : e})`};
      }
  }
  return {type: 'error', id, message: 'the page cannot read this'};
}

onmessage = async ({data}) => {
  if (data.type === 'cancel') {
    cancelled.add(data.id);
    return;
  }
  let reply;
  try {
    reply = cancelled.has(data.id) ? {type: 'cancelled', id: data.id} : await job(data);
  } catch (e) {
    reply = {type: 'error', id: data.id, message: `the browser could not read it (${e && e.name ? e.name : e})`};
  }
  cancelled.delete(data.id);
  if (reply) postMessage(reply);
};
