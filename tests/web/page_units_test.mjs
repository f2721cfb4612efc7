// The page's zip reader, the kinds of file it reads, its reads of files and its pool of workers, in Node: archives put together byte by
// byte, one row per shape or damage, so that a fault in either is caught
// without a browser.
//   node --test tests/web/page_units_test.mjs
import {test} from 'node:test';
import assert from 'node:assert/strict';

import {createPool} from '../../web/page/pool.mjs';
import {kindOf} from '../../web/page/protocol.mjs';
import {readBytes, readInto, slices, stallAfter} from '../../web/page/read.mjs';
import {ArchiveError, checkReadable, dataOffset, listArchive} from '../../web/page/zip.mjs';

const enc = (s) => new TextEncoder().encode(s);

// Little-endian fields, put one after another.
function bytes(...fields) {
  const parts = fields.map(([size, value]) => {
    if (size === 'raw') return value;
    const b = new Uint8Array(size);
    let v = BigInt(value);
    for (let i = 0; i < size; i++, v >>= 8n) b[i] = Number(v & 0xFFn);
    return b;
  });
  return new Uint8Array(Buffer.concat(parts));
}
const u16 = (v) => [2, v], u32 = (v) => [4, v], u64 = (v) => [8, v], raw = (b) => ['raw', b];

/**
 * An archive of stored members {path, data, comment, zip64, flags, method,
 * size, compressedSize, offset}: a local header and the data for each, the
 * directory, and its end. With zip64, the member's sizes and offset are all
 * ones in the directory and given in a ZIP64 extra field (values from the
 * member where it says so, to plant other ones); with zip64End, the end of
 * the directory is given in a ZIP64 record as well.
 */
function archive(members, {zip64End = false, comment = ''} = {}) {
  const locals = [];
  const entries = [];
  let at = 0;
  for (const m of members) {
    const name = enc(m.path), data = m.data || new Uint8Array();
    const local = bytes(u32(0x04034b50), u16(20), u16(m.flags || 0), u16(m.method || 0), u32(0), u32(0),
                        u32(data.length), u32(data.length), u16(name.length), u16(0), raw(name), raw(data));
    const size = m.size ?? data.length, compressed = m.compressedSize ?? data.length, offset = m.offset ?? at;
    const extra = m.zip64 ? bytes(u16(1), u16(24), u64(size), u64(compressed), u64(offset)) : new Uint8Array();
    const note = enc(m.comment || '');
    const ones = 0xFFFFFFFF;
    entries.push(bytes(u32(0x02014b50), u16(20), u16(20), u16(m.flags || 0), u16(m.method || 0), u32(0),
                       u32(m.crc || 0), u32(m.zip64 ? ones : compressed), u32(m.zip64 ? ones : size),
                       u16(name.length), u16(extra.length), u16(note.length), u16(0), u16(0), u32(0),
                       u32(m.zip64 ? ones : offset), raw(name), raw(extra), raw(note)));
    locals.push(local);
    at += local.length;
  }
  const directory = bytes(...entries.map(raw));
  const end = [];
  if (zip64End) {
    const recordAt = at + directory.length;
    end.push(bytes(u32(0x06064b50), u64(44), u16(45), u16(45), u32(0), u32(0), u64(members.length),
                   u64(members.length), u64(directory.length), u64(at)));
    end.push(bytes(u32(0x07064b50), u32(0), u64(recordAt), u32(1)));
  }
  const note = enc(comment);
  end.push(bytes(u32(0x06054b50), u16(0), u16(0), u16(zip64End ? 0xFFFF : members.length),
                 u16(zip64End ? 0xFFFF : members.length), u32(zip64End ? 0xFFFFFFFF : directory.length),
                 u32(zip64End ? 0xFFFFFFFF : at), u16(note.length), raw(note)));
  return bytes(...locals.map(raw), raw(directory), ...end.map(raw));
}

const asFile = (b) => new Blob([b]);
const pick = (m) => ({path: m.path, size: m.size, compressedSize: m.compressedSize, headerOffset: m.headerOffset});

test('archives read as they are', async () => {
  const one = enc('TAPE ONE'), two = enc('TAPE TWO, LONGER');
  const rows = [
    ['plain members', archive([{path: 'a.tap', data: one}, {path: 'dir/b.tap', data: two}]),
     [{path: 'a.tap', size: 8, compressedSize: 8, headerOffset: 0},
      {path: 'dir/b.tap', size: 16, compressedSize: 16, headerOffset: 43}]],
    ['members with comments, and the archive with one',
     archive([{path: 'a.tap', data: one, comment: 'side A'}, {path: 'b.tap', data: two, comment: 'x'.repeat(300)}],
             {comment: 'a collection'}),
     [{path: 'a.tap', size: 8, compressedSize: 8, headerOffset: 0},
      {path: 'b.tap', size: 16, compressedSize: 16, headerOffset: 43}]],
    ['ZIP64 sizes and offset, in their order: size, then compressed size',
     archive([{path: 'z.tap', data: one, zip64: true, size: 8, compressedSize: 7}]),
     [{path: 'z.tap', size: 8, compressedSize: 7, headerOffset: 0}]],
    ['ZIP64 fields with high words set',
     archive([{path: 'huge.tap', data: one, zip64: true, size: 2 ** 32 + 5, compressedSize: 2 ** 33 + 7,
               offset: 3 * 2 ** 32}]),
     [{path: 'huge.tap', size: 2 ** 32 + 5, compressedSize: 2 ** 33 + 7, headerOffset: 3 * 2 ** 32}]],
    ['a ZIP64 end of directory', archive([{path: 'a.tap', data: one}, {path: 'b.tap', data: two}], {zip64End: true}),
     [{path: 'a.tap', size: 8, compressedSize: 8, headerOffset: 0},
      {path: 'b.tap', size: 16, compressedSize: 16, headerOffset: 43}]],
  ];
  for (const [what, zip, want] of rows) assert.deepEqual((await listArchive(asFile(zip))).map(pick), want, what);
});

test('names in UTF-8 where the archive says so, else in code page 437', async () => {
  const zip = archive([{path: 'テープ.tap', flags: 0x800}]);
  assert.equal((await listArchive(asFile(zip)))[0].path, 'テープ.tap');
  const cp437 = archive([{path: 'x.tap'}]);
  cp437[cp437.indexOf(0x78, 30 + 5)] = 0x81;  // the directory's 'x' becomes byte 0x81
  assert.equal((await listArchive(asFile(cp437)))[0].path, 'ü.tap');
});

test('each damaged archive has its own message', async () => {
  const good = archive([{path: 'a.tap', data: enc('TAPE')}]);
  const directoryAt = good.length - 22 - 51;
  const damaged = (f) => {
    const b = good.slice();
    f(b);
    return b;
  };
  const rows = [
    ['no zip at all', enc('just some text, no archive\n'.repeat(4)), /not a zip archive/],
    ['an empty file', new Uint8Array(), /not a zip archive/],
    ['cut before its directory', good.subarray(0, 40), /cut short: its directory, at the end, is missing/],
    ['a directory past the end', damaged((b) => { b[b.length - 6] = 0xF0; }), /directory is incomplete/],
    ['a directory entry without its signature', damaged((b) => { b[directoryAt] = 0; }), /directory is unreadable/],
    ['a name running past the directory', damaged((b) => { b[directoryAt + 28] = 0xFF; }), /directory is unreadable/],
    ['a ZIP64 locator pointing at no record',
     (() => {
       const z = archive([{path: 'a.tap'}], {zip64End: true});
       z[z.length - 22 - 20 + 8] ^= 0x01;  // the record's offset, one off
       return z;
     })(), /ZIP64 directory is missing/],
  ];
  for (const [what, zip, message] of rows) {
    await assert.rejects(listArchive(asFile(zip)), (e) => e instanceof ArchiveError && message.test(e.message), what);
  }
});

test('members the page cannot read, and a local header out of place', () => {
  assert.throws(() => checkReadable({encrypted: true, method: 0}), /encrypted/);
  assert.throws(() => checkReadable({encrypted: false, method: 12}), /method 12/);
  for (const method of [0, 8]) checkReadable({encrypted: false, method});
  assert.equal(dataOffset(bytes(u32(0x04034b50), raw(new Uint8Array(22)), u16(5), u16(7))), 42);
  assert.throws(() => dataOffset(new Uint8Array(30)), /not where its directory says/);
  assert.throws(() => dataOffset(bytes(u32(0x04034b50))), /not where its directory says/);
});

test('a picked file or an archive\'s member is read for what its name says', () => {
  const rows = [['side.TAP', 'tape'], ['a/b.tap', 'tape'], ['x.tap.gz', 'gzip'], ['All.ZIP', 'archive'],
    ['rec.wav', 'recording'], ['rec.flac', 'recording'], ['rec.oga', 'recording'], ['rec.ogg', 'recording'],
    ['rec.opus', 'recording'], ['rec.mp3', 'recording'], ['notes.txt', null], ['dir.tap/', null], ['tap', null],
    ['x.tap.zip', 'archive'], ['x.gz', null]];
  for (const [name, want] of rows) assert.equal(kindOf(name), want, name);
});

// A picked file whose reads, by stream or whole, answer or never do.
function picked(bytes, {stream, whole}) {
  const never = () => new Promise(() => {});
  return {
    size: bytes.length,
    slice: (start = 0, end = bytes.length) => picked(bytes.subarray(start, Math.min(end, bytes.length)), {stream, whole}),
    stream: () => (stream ? new Blob([bytes]).stream()
      : {getReader: () => ({read: never, cancel: async () => {}})}),
    arrayBuffer: () => (whole ? Promise.resolve(bytes.slice().buffer) : never()),
  };
}

test('a read the browser never answers is read another way, or is an error: never a wait for good', async () => {
  stallAfter(30);
  const bytes = Uint8Array.from({length: 100000}, (_, i) => i * 7);
  const all = async (blob) => {
    const got = [];
    for await (const piece of slices(blob, {slice: 4096})) got.push(...piece);
    return Uint8Array.from(got);
  };
  try {
    for (const [stream, whole] of [[true, true], [false, true], [true, false], [false, false]]) {
      const ways = {stream, whole};
      const file = picked(bytes, ways);
      const reads = [() => readBytes(file), () => readInto(file, new ArrayBuffer(bytes.length + 10)), () => all(file)];
      for (const [i, read] of reads.entries()) {
        const answers = i === 0 ? whole : stream || whole;
        if (answers) assert.deepEqual(await read(), bytes, `read ${i} with ${JSON.stringify(ways)}`);
        else await assert.rejects(read(), {name: 'TimeoutError'}, `read ${i} with ${JSON.stringify(ways)}`);
      }
    }
  } finally {
    stallAfter(20000);
  }
});

test('each worker after the first starts from the core the first compiled, or compiles its own where it cannot be handed over', () => {
  const compiled = {compiled: true};  // stands for the WebAssembly.Module the first worker sends
  const workers = [];
  const createWorker = () => {
    const w = {
      got: [],
      refuses: workers.length === 2,  // a browser that will not hand this worker a compiled core
      postMessage(message) {
        if (this.refuses && message.module) throw new DOMException('not passed on', 'DataCloneError');
        this.got.push(message);
      },
      terminate() {},
    };
    workers.push(w);
    return w;
  };
  const view = {ready() {}, progress() {}, listed: () => [], finished() {}, changed() {}, broken() {}};
  const pool = createPool(createWorker, view, {size: 3, batch: 16 << 20});
  pool.start();
  assert.deepEqual(workers[0].got, [{type: 'core', module: null}]);
  workers[0].onmessage({data: {type: 'ready', machines: [], columns: {}, core: compiled}});
  // Large tapes take a worker each: the second and third are started for them.
  const tape = (id) => ({id, kind: 'tape', name: `${id}.tap`, file: {}, total: 64 << 20, machine: 'c64-pal'});
  pool.add(tape(1), tape(2), tape(3));
  assert.equal(workers.length, 3);
  assert.deepEqual(workers[1].got[0], {type: 'core', module: compiled});
  assert.deepEqual(workers[2].got[0], {type: 'core', module: null});
  // Each worker's first message is the core; its tape comes after it.
  assert.deepEqual(workers.map((w) => w.got.slice(1).map((m) => [m.type, m.id])), [[['tape', 1]], [['tape', 2]], [['tape', 3]]]);
});
