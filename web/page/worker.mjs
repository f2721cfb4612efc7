// Reads tapes off the page's thread: each file in large slices, fed in order
// to the catalogue, which also keeps the names the program lists, so that
// the listing for every combination of -a and -e is at hand and ticking an
// option later needs no second reading. The messages are those of
// protocol.mjs.
import loadBrivane from './brivane.mjs';
import {VARIANTS, kindOf} from './protocol.mjs';
import {borrow, fileSource, giveBack, memorySource, readBytes, readInto, readThroughPage, slices} from './read.mjs';
import {ArchiveError, listArchive, memberBytes, memberCheck, startsAsZip} from './zip.mjs';

// Compressed data is read in smaller slices: inflating, not the reading,
// sets the pace.
const COMPRESSED = {slice: 4 << 20};

// The core: started from the one the page hands over in its first message
// (compiled by the first worker: compiling it again would cost each worker
// time of its own, and code the engine makes faster for one worker is fast
// for all), or compiled here where it hands none over or that one fails.
let coreGiven;
const brivane = new Promise((resolve) => { coreGiven = resolve; })
  .then((module) => (module ? loadBrivane({module}).catch(() => loadBrivane()) : loadBrivane()));
brivane.then((b) => {
  const ready = {type: 'ready', machines: b.machines(), columns: b.columns()};
  try {
    postMessage({...ready, core: b.compiledCore()});
  } catch {
    postMessage(ready);  // a browser that cannot hand a compiled core over
  }
}, (e) => postMessage({type: 'broken', message: String(e && e.message ? e.message : e)}));

// Where this engine lets only the page's thread read a picked file.
const asked = new Map();
let nextRequest = 1;
readThroughPage((blob) => new Promise((resolve, reject) => {
  const request = nextRequest++;
  asked.set(request, {resolve, reject});
  postMessage({type: 'read', request, blob});
}));

// A reply, with the TAP made from a recording and the programs handed over,
// not copied. One the browser will not pass on becomes an error, so that the
// page never waits for it.
function send(reply) {
  try {
    postMessage(reply, [...(reply.tap ? [reply.tap.buffer] : []),
                        ...(reply.catalogue || []).filter((r) => r.prg).map((r) => r.prg.buffer)]);
  } catch (e) {
    postMessage({type: 'error', id: reply.id, kind: reply.kind, message: `the page could not be given what was found (${e && e.name})`});
  }
}

const unreadable = (e) => `the browser could not read it (${e && e.name ? e.name : e})`;
const said = (e) => (e instanceof ArchiveError ? e.message : unreadable(e));

// Tells the page how far reading has come, at every MiB (the result itself
// tells of the end): returns what to call with the length of each piece of
// the file read.
function progress(id, total) {
  let read = 0, reported = 0;
  return (length) => {
    read += length;
    if (read - reported >= (1 << 20) && read < total) {
      postMessage({type: 'progress', id, done: read, total});
      reported = read;
    }
  };
}

/**
 * A tape's bytes, from the pieces of the file as they are read, handed to
 * use() in order: as they are, or inflated by the core (wrapping 'raw' for
 * a zip member's deflated data, 'gzip' for a gzipped tape). use may return
 * false, or a promise of false, to stop; advance() hears of each piece read.
 * Bytes an inflater makes lie in the core's memory until its next step: a
 * use that waits (use.waits: a recording's decoder) gets copies. Throws an
 * ArchiveError for compressed data that cannot be inflated, after handing
 * over all that came before the damage.
 */
async function pour(pieces, wrapping, use, advance) {
  if (!wrapping) {
    for await (const bytes of pieces) {
      if ((await use(bytes)) === false) return;
      advance(bytes.length);
    }
    return;
  }
  const inflater = (await brivane).openInflater({gzip: wrapping === 'gzip'});
  let stopped = false;
  const waiting = [];  // what a use made to wait, with the copy it uses
  const handOn = (bytes) => {
    if (use.waits) {
      waiting.push(bytes.slice());
      return true;
    }
    stopped = use(bytes) === false;
    return !stopped;
  };
  // A use that waits is given its copies, in order, once the inflater is done with a piece.
  const settle = async () => {
    for (const copy of waiting.splice(0)) if (!stopped) stopped = (await use(copy)) === false;
  };
  try {
    for await (const piece of pieces) {
      inflater.inflate(piece, handOn);
      await settle();
      if (stopped || inflater.fault()) break;
      advance(piece.length);
    }
    if (!stopped && !inflater.fault()) {
      inflater.end(handOn);
      await settle();
    }
    const fault = inflater.fault();
    if (fault) throw new ArchiveError(fault);
  } finally {
    inflater.close();
  }
}

// Feeds the tape that read(use, advance) pours to the catalogue, timed at
// the job's machine's clock. Returns the reply: the outputs (what the
// program prints, from the names the catalogue's header decoder listed),
// the count of names, the catalogue's records with their cells and CSV
// lines (under the job's name) and their programs as PRG files, whether the
// file starts as a TAP file does, and, when the tape could not be read to
// its end, what went wrong: what was found before stays. check, when given,
// gets the tape's CRC-32 and size.
async function readTape({id, name, machine}, read, total, check) {
  const b = await brivane;
  const catalogue = b.openCatalogue({machine, cells: true, listings: true, tape: name});
  const reply = {type: 'result', id, kind: 'tape', outputs: {}, nameCount: 0};
  try {
    await read((bytes) => { b.feedAll([catalogue], bytes, check); }, progress(id, total));
  } catch (e) {
    reply.error = said(e);
  } finally {
    for (const [key, all, escape] of VARIANTS) reply.outputs[key] = catalogue.listing({all, escape});
    reply.nameCount = catalogue.names();
    reply.catalogue = catalogue.finish().map(({name: _, program, ...r}) => ({...r, prg: b.prg({...r, program})}));
    reply.coverage = catalogue.coverage();
    reply.cutShort = catalogue.cutShort();
    reply.signature = catalogue.tapSignature();
    catalogue.close();
  }
  return reply;
}

// A recording, turned into a TAP file as it is read; then the TAP file is
// catalogued whole, its 20-byte header too, as the program reads it. The TAP
// goes back with the names. Memory holds the TAP, a thirtieth or so of the
// recording. A recording cut short by a read error keeps the names of what
// was read; one that is no recording, or holds no tape, says so.
async function readRecording(job, read, total, check) {
  const b = await brivane;
  const rec = b.openAnyRecording({machine: job.machine});
  const parts = [];
  let failure = null;
  try {
    // Decoding waits, so the bytes it takes must stay: pour copies them.
    const use = async (bytes) => {
      if (check) b.feedAll([], bytes, check);
      parts.push(await rec.feed(bytes));
      return !rec.fault();
    };
    use.waits = true;
    await read(use, progress(job.id, total));
    if (!rec.fault()) parts.push(await rec.finish());
  } catch (e) {
    failure = said(e);
  }
  const fault = rec.fault();
  const cut = rec.cutShort();
  rec.close();
  if (fault) return {type: 'error', id: job.id, kind: 'recording', message: fault};
  const tap = b.tapFile(parts, {machine: job.machine});
  const reply = await readTape(job, (use) => use(tap), tap.length);
  reply.kind = 'recording';
  reply.tap = tap;
  reply.tapName = b.tapNameFor(job.name.slice(job.name.lastIndexOf('/') + 1));
  if (failure || cut) reply.error = failure || cut;
  return reply;
}

// One member, read, inflated and scanned, then held to the size and CRC-32
// its archive records for it.
async function readMember(job, source) {
  const {member: m} = job;
  if (job.kind === 'gzip') {  // a gzipped tape: inflated as the archive keeps it, then as gzip
    const gz = await memberBlob(job, source);
    return readTape(job, (use) => pour(slices(gz, COMPRESSED), 'gzip', use, () => {}), m.compressedSize);
  }
  const check = {crc: 0, size: 0};
  const scan = job.kind === 'recording' ? readRecording : readTape;
  const wrapping = m.method === 8 ? 'raw' : null;
  const reply = await scan(job, (use, advance) => pour(memberBytes(source, m, COMPRESSED), wrapping, use, advance),
                           m.compressedSize, check);
  if (reply.type === 'result' && !reply.error) reply.error = memberCheck(m, check) ?? undefined;
  return reply;
}

// Members side by side in an archive, read in one go into a buffer used
// again for the next batch (one large read is much faster than many small
// ones), each sent its own reply.
async function readBatch(data) {
  let source, bytes = null;
  try {
    bytes = await readInto(data.file.slice(data.start, data.end), borrow(data.end - data.start));
    source = memorySource(data.file, bytes, data.start);
  } catch {
    source = fileSource(data.file);  // each member then says what went wrong for it
  }
  for (const m of data.members) {
    let reply;
    try {
      reply = await readMember({...m, machine: data.machine}, source);
    } catch (e) {
      reply = {type: 'error', id: m.id, kind: m.kind, message: said(e)};
    }
    send(reply);
  }
  if (bytes) giveBack(bytes);
  return null;
}

// Archives inside archives are opened this deep, as brivane-ls opens them:
// an archive that holds itself stops here.
const NESTING_LIMIT = 4;

// The most of a member the page holds in memory to read it again: a
// deflated archive inside another, or a gzipped tape in an archive.
const HELD_MOST = 1 << 30;

// A member whose bytes are themselves compressed (an archive, a gzipped
// tape), checked against the size and CRC-32 its archive records, as a Blob
// to be read again: a stored one is where it lies in source's file, a
// deflated one is inflated into memory, up to HELD_MOST bytes.
async function memberBlob({id, member: m}, source) {
  const stored = m.method === 0;
  if (!stored && m.size > HELD_MOST) {
    throw new ArchiveError(`it inflates to ${m.size.toLocaleString('en')} bytes, more than the ` +
                           `${HELD_MOST.toLocaleString('en')} the page holds in memory to read it`);
  }
  const b = await brivane;
  const check = {crc: 0, size: 0};
  const parts = [];
  let dataAt = -1;
  const keep = (bytes) => {
    b.feedAll([], bytes, check);
    if (!stored) parts.push(bytes.slice());  // an inflater's bytes are good only until its next step
    return check.size <= m.size;  // past what the archive records is damage: no more is held
  };
  const pieces = memberBytes(source, m, COMPRESSED, (at) => { dataAt = at; });
  await pour(pieces, stored ? null : 'raw', keep, progress(id, m.compressedSize));
  if (check.size > m.size) throw new ArchiveError(`it inflates to more than the ${m.size.toLocaleString('en')} bytes the archive records`);
  const fault = memberCheck(m, check);
  if (fault) throw new ArchiveError(fault);
  return stored ? source.file.slice(dataAt, dataAt + m.size) : new Blob(parts);
}

// An archive that is a member of another, for its own members to be read
// from as from a picked file.
async function innerArchive(job) {
  if (job.depth > NESTING_LIMIT) {
    throw new ArchiveError(`it lies inside ${job.depth} other archives; the page opens archives inside archives ` +
                           `${NESTING_LIMIT} deep at most`);
  }
  return memberBlob(job, fileSource(job.file));
}

// An archive's members, each typed by its name; inner, the archive's bytes
// where it is itself a member of one, for the page to read its members from.
async function listing({id, file}, inner) {
  const members = (await listArchive(inner || file)).map((member) => {
    const kind = kindOf(member.path);
    return {member, kind: kind || 'other'};
  });
  return {type: 'listing', id, members, ...(inner ? {file: inner} : {})};
}

async function job(data) {
  const plain = (take, advance) => pour(slices(data.file), null, take, advance);
  switch (data.type) {
    case 'tape':
      return readTape(data, plain, data.file.size);
    case 'file': {
      // A name the page does not know: an archive, a gzipped tape or a recording if it starts as one.
      const head = await readBytes(data.file.slice(0, 512));
      if (startsAsZip(head)) return listing(data, null);
      if (head[0] === 0x1f && head[1] === 0x8b) return job({...data, type: 'gzip'});
      if (typeof (await brivane).soundFormat(head) !== 'string') return readTape(data, plain, data.file.size);
      return readRecording(data, plain, data.file.size);
    }
    case 'recording':
      return readRecording(data, plain, data.file.size);
    case 'gzip':
      return readTape(data, (take, advance) => pour(slices(data.file, COMPRESSED), 'gzip', take, advance), data.file.size);
    case 'member':
      return readMember(data, fileSource(data.file));
    case 'batch':
      return readBatch(data);
    case 'archive':
      return listing(data, data.member ? await innerArchive(data) : null);
  }
  return {type: 'error', id: data.id, message: 'the page cannot read this'};
}

onmessage = async ({data}) => {
  if (data.type === 'core') {
    coreGiven(data.module);
    return;
  }
  if (data.type === 'bytes') {
    const waiting = asked.get(data.request);
    asked.delete(data.request);
    if (data.error) waiting.reject(Object.assign(new Error(data.error), {name: data.error}));
    else waiting.resolve(data.buffer);
    return;
  }
  let reply;
  try {
    reply = await job(data);
  } catch (e) {
    // Every tape of the job hears of it: those of a batch that have had
    // their reply already are no longer waited for, and the page passes over them.
    const members = data.type === 'batch' ? data.members : [data];
    for (const m of members) send({type: 'error', id: m.id, kind: m.kind, message: said(e)});
    return;
  }
  if (reply) send(reply);
};
