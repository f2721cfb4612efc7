// The page's module against the command-line tool, on the same tapes: the
// bytes of listNames and of a scan fed in pieces are the program's standard
// output, byte for byte.
//   BRIVANE_BIN=build/brivane WRITE_TAPE=build/tape_writer/write_tape \
//   BRIVANE_MJS=build-web/web/brivane.mjs node --test tests/web/
import {test} from 'node:test';
import assert from 'node:assert/strict';
import {execFileSync} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {pathToFileURL} from 'node:url';

const env = (name) => {
  if (!process.env[name]) throw new Error(`set ${name}`);
  return path.resolve(process.env[name]);
};
const bin = env('BRIVANE_BIN');
const writeTape = env('WRITE_TAPE');
const {default: loadBrivane} = await import(pathToFileURL(env('BRIVANE_MJS')).href);
const brivane = await loadBrivane();
const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'brivane-web-'));
process.on('exit', () => fs.rmSync(dir, {recursive: true, force: true}));

const OPTIONS = [{}, {all: true}, {escape: true}, {all: true, escape: true}];
const flags = ({all, escape}) => [...(all ? ['-a'] : []), ...(escape ? ['-e'] : [])];

function native(bytes, options) {
  const file = path.join(dir, 'tape.tap');
  fs.writeFileSync(file, bytes);
  return new Uint8Array(execFileSync(bin, [...flags(options), file]));
}
const same = (got, want, what) => assert.ok(Buffer.from(got).equals(Buffer.from(want)),
  `${what}:\n got  ${JSON.stringify(Buffer.from(got).toString('latin1'))}\n want ${JSON.stringify(Buffer.from(want).toString('latin1'))}`);

function tapes() {
  execFileSync(writeTape, ['samples', dir]);
  const found = {demo: fs.readFileSync(new URL('../../examples/demo.tap', import.meta.url))};
  for (const name of ['one.tap', 'two.tap', 'empty.tap']) found[name] = fs.readFileSync(path.join(dir, name));
  found.header = execFileSync(writeTape, ['header', 'SPLIT ME']);
  return found;
}
const TAPES = tapes();

// What a catalogue that keeps listings lists for a tape fed in pieces at splits.
function catalogueListings(tape, splits = []) {
  const cat = brivane.openCatalogue({listings: true});
  let at = 0;
  for (const split of [...splits, tape.length]) {
    cat.feed(tape.subarray(at, split));
    at = split;
  }
  cat.finish();
  const got = {names: cat.names(), listings: OPTIONS.map((o) => cat.listing(o))};
  cat.close();
  return got;
}

test('every tape with every option, whole; and its names as data, as the lines give them', () => {
  for (const [name, bytes] of Object.entries(TAPES)) {
    const fromCatalogue = catalogueListings(bytes);
    assert.equal(fromCatalogue.names, brivane.listNames(bytes, {all: true}).filter((b) => b === 10).length - 1);
    for (const [k, options] of OPTIONS.entries()) {
      const want = native(bytes, options);
      same(brivane.listNames(bytes, options), want, `${name} ${flags(options)}`);
      same(fromCatalogue.listings[k], want, `${name} ${flags(options)} from the catalogue`);
      const scan = brivane.openScan(options);
      scan.feed(bytes);
      const lines = Buffer.from(scan.results().map(({number, name: shown}) => Buffer.concat([
        Buffer.from(options.all ? `FOUND (${String(number).padStart(3, '0')}): "` : 'FOUND: "', 'latin1'),
        shown, Buffer.from('"\n')])).reduce((a, b) => Buffer.concat([a, b]), Buffer.from('Brivane, rel 1.1\n')));
      same(lines, want, `${name} ${flags(options)} as data`);
      scan.close();
    }
  }
});

test('a header fed in two pieces, split at every place', () => {
  const tape = TAPES.header;
  for (const options of [{}, {all: true}]) {
    const want = native(tape, options);
    for (let split = 0; split <= tape.length; split++) {
      const scan = brivane.openScan(options);
      scan.feed(tape.subarray(0, split));
      scan.feed(tape.subarray(split));
      same(scan.output(), want, `split at ${split}`);
      scan.close();
      if (split % 7 === 0) same(catalogueListings(tape, [split]).listings[options.all ? 1 : 0], want, `catalogue split at ${split}`);
    }
  }
});

test('a header cut at every length around its end, and at a stride before', () => {
  const tape = TAPES.header;
  const lengths = [];
  for (let n = 0; n < tape.length - 400; n += 97) lengths.push(n);
  for (let n = tape.length - 400; n <= tape.length; n++) lengths.push(n);
  const wants = new Set();
  for (const n of lengths) {
    const cut = tape.subarray(0, n);
    const want = native(cut, {all: true});
    wants.add(Buffer.from(want).toString('latin1'));
    same(brivane.listNames(cut, {all: true}), want, `cut at ${n}`);
    same(catalogueListings(cut).listings[1], want, `catalogue cut at ${n}`);
  }
  assert.equal(wants.size, 2, 'some cuts give the name and some do not');
});

test('a tape larger than the core takes at once, in uneven pieces, with flat memory', () => {
  const tape = execFileSync(writeTape, ['--repeat', '120', 'file', 'MANY'], {maxBuffer: 1 << 30});
  assert.ok(tape.length > 4 << 20);
  const before = brivane.memoryBytes();
  const scans = OPTIONS.map((o) => brivane.openScan(o));
  for (let at = 0, step = 1; at < tape.length; at += step, step = (step * 7 + 3) % (3 << 20))
    brivane.feedAll(scans, tape.subarray(at, at + step));
  OPTIONS.forEach((o, i) => same(scans[i].output(), native(tape, o), `pieces ${flags(o)}`));
  for (const s of scans) s.close();
  assert.equal(brivane.memoryBytes(), before, 'the core grew with the tape');
});

test('a closed scan refuses more', () => {
  const scan = brivane.openScan();
  scan.close();
  assert.throws(() => scan.feed(new Uint8Array(1)), /closed/);
});

test('the CRC-32 kept while feeding is zip\'s, in any pieces', async () => {
  const {crc32} = await import('node:zlib');
  const data = new Uint8Array(3 << 20).map((_, i) => (i * 2654435761) >>> 24);
  for (const step of [1, 7, 65536, 1 << 20, 3 << 20]) {
    const check = {crc: 0, size: 0};
    for (let at = 0; at < data.length; at += step) brivane.feedAll([], data.subarray(at, at + step), check);
    assert.deepEqual(check, {crc: crc32(data) >>> 0, size: data.length}, `pieces of ${step}`);
  }
});

test('a deflated or gzipped tape, inflated in the core in any pieces, lists as the tape itself', async () => {
  const zlib = await import('node:zlib');
  const tape = execFileSync(writeTape, ['--repeat', '40', 'file', 'PACKED'], {maxBuffer: 1 << 30});
  const before = brivane.memoryBytes();
  for (const [gzip, packed] of [[false, zlib.deflateRawSync(tape)], [true, Buffer.concat([zlib.gzipSync(tape.subarray(0, 100000)), zlib.gzipSync(tape.subarray(100000))])]]) {
    for (const step of [1, 4093, 1 << 20]) {
      if (step === 1 && gzip) continue;
      const scans = OPTIONS.map((o) => brivane.openScan(o));
      const check = {crc: 0, size: 0};
      const inflater = brivane.openInflater({gzip});
      // A piece the inflater made is fed where it lies in the core's memory, with no copy.
      const take = (made) => { brivane.feedAll(scans, made, check); };
      for (let at = 0; at < packed.length; at += step) inflater.inflate(packed.subarray(at, at + step), take);
      inflater.end(take);
      assert.equal(inflater.fault(), null);
      assert.ok(inflater.finished());
      inflater.close();
      OPTIONS.forEach((o, i) => same(scans[i].output(), native(tape, o), `gzip ${gzip}, pieces of ${step}, ${flags(o)}`));
      assert.deepEqual(check, {crc: zlib.crc32(tape) >>> 0, size: tape.length});
      for (const s of scans) s.close();
    }
  }
  assert.equal(brivane.memoryBytes(), before, 'the core grew with the tape');

  const damaged = zlib.gzipSync(tape);
  damaged[damaged.length - 6] ^= 1;  // its recorded size
  const inflater = brivane.openInflater({gzip: true});
  let made = 0;
  inflater.inflate(damaged, (b) => { made += b.length; });
  inflater.end((b) => { made += b.length; });
  assert.equal(made, tape.length, 'what was inflated before the check is handed over');
  assert.match(inflater.fault(), /CRC-32 or size differs/);
  assert.ok(!inflater.finished());
  inflater.close();
  assert.throws(() => inflater.fault(), /closed/);
});

test('a recording becomes a TAP file whose names are the tape\'s, whole or in pieces', () => {
  const wav = execFileSync(writeTape, ['--repeat', '2', 'recording', 'HEARD'], {maxBuffer: 1 << 30});
  const tap = brivane.recordingToTap(wav);
  assert.equal(Buffer.from(tap.subarray(0, 12)).toString('latin1'), 'C64-TAPE-RAW');
  assert.equal(tap[12], 1);
  assert.equal(new DataView(tap.buffer, tap.byteOffset).getUint32(16, true), tap.length - 20);
  same(brivane.listNames(tap, {all: true}), native(execFileSync(writeTape, ['--repeat', '2', 'file', 'HEARD']), {all: true}),
    'names from the recording');
  for (const step of [1, 4093, 1 << 20]) {
    const rec = brivane.openRecording();
    const parts = [];
    for (let at = 0; at < wav.length; at += step) parts.push(rec.feed(wav.subarray(at, at + step)));
    parts.push(rec.finish());
    rec.close();
    same(Buffer.concat([brivane.tapHeader(parts.reduce((n, p) => n + p.length, 0)), ...parts]), tap, `pieces of ${step}`);
  }
  assert.notDeepEqual(brivane.recordingToTap(wav, {clock: 'ntsc'}), tap, 'the NTSC clock counts otherwise');
  assert.throws(() => brivane.recordingToTap(new Uint8Array(100)), /Could not read this recording: it is not a WAV file/);
  assert.throws(() => brivane.recordingToTap(wav.subarray(0, 30)), /cut short/);
});

test('the machine a recording is read for: its clock times the pulses, its header names it', () => {
  const wav = execFileSync(writeTape, ['recording', 'TIMED'], {maxBuffer: 1 << 30});  // a C64 PAL tape
  // The pilot's value: the pulse most of the TAP is made of.
  const pilot = (tap) => {
    const count = new Map();
    for (const v of tap.subarray(20)) count.set(v, (count.get(v) || 0) + 1);
    return [...count].sort((a, b) => b[1] - a[1])[0][0];
  };
  const rows = [
    [{}, 0, 0, 48],
    [{machine: 'c64-pal'}, 0, 0, 48],
    [{clock: 'pal'}, 0, 0, 48],
    [{clock: 985248}, 0, 0, 48],
    [{clock: 'ntsc'}, 0, 1, 49],  // 3.8% longer at NTSC's clock, and kept nearly so
    [{machine: 'c64-ntsc'}, 0, 1, 49],
    [{machine: 'vic20-pal'}, 1, 0, 49],  // 12.5% longer: timed as if only 2% off
    [{machine: 'VIC20-NTSC'}, 1, 1, 49],
  ];
  for (const [options, platform, video, value] of rows) {
    const tap = brivane.recordingToTap(wav, options);
    const what = JSON.stringify(options);
    assert.deepEqual([tap[12], tap[13], tap[14]], [1, platform, video], `${what}: version, platform, video`);
    assert.equal(pilot(tap), value, `${what}: the pilot's value`);
    assert.match(Buffer.from(brivane.listNames(tap)).toString('latin1'), /FOUND: "TIMED"/, what);
    assert.deepEqual([...brivane.tapHeader(5, options).subarray(12, 15)], [1, platform, video], `${what}: tapHeader`);
  }
  assert.throws(() => brivane.recordingToTap(wav, {machine: 'c128'}), /no such machine: c128/);
  assert.throws(() => brivane.recordingToTap(wav, {clock: 'secam'}), /no such clock: secam/);
  // A sample rate outside what the converter reads is said with the range.
  const slow = Buffer.from(wav);
  slow.writeUInt32LE(8000, 24);
  slow.writeUInt32LE(16000, 28);
  assert.throws(() => brivane.recordingToTap(slow),
    /its sample rate, 8,000 Hz, is outside what brivane reads \(11,025 Hz to 384,000 Hz\)/);
});

test('recordings kept as FLAC, Ogg and MP3 give their tape\'s names; cut short, the names before the cut', async (t) => {
  const wav = path.join(dir, 'kept.wav');
  fs.writeFileSync(wav, execFileSync(writeTape, ['--repeat', '2', 'recording', 'KEPT'], {maxBuffer: 1 << 30}));
  const want = native(execFileSync(writeTape, ['--repeat', '2', 'file', 'KEPT']), {all: true});
  const wantCut = native(execFileSync(writeTape, ['file', 'KEPT']), {all: true});
  const encoders = [
    ['flac', 'flac', (out) => ['-s', '-f', '-o', out, wav]],
    ['ogg-vorbis', 'oggenc', (out) => ['-Q', '-o', out, wav]],
    ['ogg-opus', 'opusenc', (out) => ['--quiet', wav, out]],
    ['ogg-flac', 'flac', (out) => ['-s', '-f', '--ogg', '-o', out, wav]],
    ['mp3', 'lame', (out) => ['--quiet', wav, out]],
  ];
  for (const [format, encoder, args] of encoders) {
    const out = path.join(dir, `kept.${format}`);
    try {
      execFileSync(encoder, args(out), {stdio: 'ignore'});
    } catch {
      t.diagnostic(`NOT RUN: ${format}: ${encoder} is missing`);
      continue;
    }
    const bytes = fs.readFileSync(out);
    same(brivane.listNames(await brivane.anyRecordingToTap(bytes), {all: true}), want, format);
    // In pieces, the format told from the first of them.
    const rec = brivane.openAnyRecording({machine: 'c64-ntsc'});
    const parts = [];
    for (let at = 0; at < bytes.length; at += 4093) parts.push(await rec.feed(bytes.subarray(at, at + 4093)));
    parts.push(await rec.finish());
    assert.equal(rec.format(), format);
    assert.equal(rec.cutShort(), null, format);
    same(brivane.listNames(brivane.tapFile(parts, {machine: 'c64-ntsc'}), {all: true}), want, `${format} in pieces`);
    rec.close();
    // Cut short: what came before, and a word that it was.
    const cut = brivane.openAnyRecording();
    const partsCut = [await cut.feed(bytes.subarray(0, Math.floor(bytes.length * 0.6))), await cut.finish()];
    assert.match(String(cut.cutShort()), /cut short/, `${format} cut short`);
    same(brivane.listNames(brivane.tapFile(partsCut), {all: true}), wantCut, `${format} cut short`);
    cut.close();
  }
  // What is not a recording it reads is named where the module can tell.
  await assert.rejects(brivane.anyRecordingToTap(Buffer.from('\0\0\0\x20ftypM4A                ')),
    /not a recording brivane reads: it is an MP4 or M4A file/);
  await assert.rejects(brivane.anyRecordingToTap(fs.readFileSync(new URL('../../docs/page-light.png', import.meta.url))),
    /it is a PNG image/);
});

test('the catalogue: every file of the example tape, its program and PRG, whole or in pieces, at each clock', () => {
  const demo = new Uint8Array(TAPES.demo);
  const records = brivane.catalogue(demo);
  const lines = Buffer.from(native(demo, {all: true, escape: true})).toString('latin1').split('\n').slice(1, -1);
  assert.equal(records.length, 4);
  records.forEach((r, n) => {
    assert.equal(r.number, n + 1);
    assert.equal(r.type, n === 1 ? 3 : 1);
    assert.equal(`FOUND (00${n + 1}): "${Buffer.from(brivane.renderName(r.name, {escape: true})).toString('latin1')}"`, lines[n]);
    assert.deepEqual([r.start, r.end, r.header, r.programCheck], [0x0801, 0x0841, 'ok', 'ok']);
    // The tape writer's programs: 64 bytes of 0x10 + 7i + n.
    assert.deepEqual([...r.program], Array.from({length: 64}, (_, i) => (0x10 + i * 7 + n) & 0xFF));
    assert.deepEqual([...brivane.prg(r)], [0x01, 0x08, ...r.program]);
    assert.ok(n === 0 || r.offset > records[n - 1].offset);
  });
  const cat = brivane.openCatalogue();
  const pieces = [];
  for (let at = 0; at < demo.length; at += 4099) pieces.push(...cat.feed(demo.subarray(at, at + 4099)));
  pieces.push(...cat.finish());
  assert.equal(cat.coverage(), records.coverage);
  assert.equal(cat.cutShort(), null);
  cat.close();
  assert.deepEqual(pieces, [...records]);
  assert.equal(records.cutShort, null);
  // Cut short in its last file, the demo tape says what it holds of the pulses its header gives.
  const given = demo.length - 20;
  const cut = brivane.catalogue(demo.subarray(0, demo.length - 5000));
  assert.deepEqual(cut.filter((r) => r.kind === 'file').map((r) => r.programCheck), ['ok', 'ok', 'ok', 'missing']);
  assert.deepEqual(cut.cutShort, {holds: given - 5000, gives: given,
    words: `the file is cut short: it holds ${(given - 5000).toLocaleString('en')} of the ${given.toLocaleString('en')} bytes of pulses its header gives`});
  assert.ok(records.every((r) => r.kind === 'file' && r.loader === 'rom' && r.pulseValues.length === 0));
  // The ROM's blocks explain the whole tape, the unsteady trailer after its last block too.
  assert.equal(records.coverage, 1);
  // The same pulses last longer at a slower clock.
  const vic = brivane.catalogue(demo, {machine: 'vic20-pal'});
  vic.forEach((r, n) => assert.ok(Math.abs(r.seconds * 1108405 - records[n].seconds * 985248) < 1e-6));
  assert.equal(brivane.prg({...records[0], program: null}), null);
  assert.throws(() => brivane.catalogue(demo, {machine: 'c128'}), /no such machine/);
});

test('turbo tapes: each format\'s files through the module, with their loader, addresses, program and PRG', () => {
  const formats = execFileSync(writeTape, ['turbo', 'list']).toString().trim().split('\n').map((line) => {
    const [n, loader, ...files] = line.split('\t');
    return {n, loader, files: files.map((f) => {
      const [, start, end, name] = /^(\d+)-(\d+):(.*)$/.exec(f);
      return {start: Number(start), end: Number(end), name};
    })};
  });
  assert.ok(formats.length >= 30);
  for (const {n, loader, files} of formats) {
    const what = `${loader} (format ${n})`;
    const tape = new Uint8Array(execFileSync(writeTape, ['turbo', n], {maxBuffer: 1 << 26}));
    const records = brivane.catalogue(tape);
    assert.ok(records.every((r) => r.kind === 'file'), `${what}: a stretch no loader explains`);
    assert.ok(records.coverage > 0.98, `${what}: coverage ${records.coverage}`);
    const turbo = records.filter((r) => r.loader !== 'rom');
    assert.equal(turbo.length, files.length, what);
    turbo.forEach((r, i) => {
      assert.equal(r.loader, loader, what);
      assert.deepEqual([r.start, r.end, r.number, r.type], [files[i].start, files[i].end, 0, 0], what);
      assert.ok(['ok', 'none'].includes(r.programCheck), `${what}: ${r.programCheck}`);
      const name = Buffer.from(r.name).toString('latin1').trimEnd();
      assert.ok(name === '' || name === files[i].name, `${what}: ${name}`);
      assert.ok(r.length > 0 && r.duration > 0, what);
      if (r.program) {
        assert.equal(r.program.length, (files[i].end - files[i].start) & 0xFFFF, what);
        assert.deepEqual([...brivane.prg(r).subarray(0, 2)], [files[i].start & 0xFF, files[i].start >> 8], what);
      } else {
        assert.equal(loader, 'Cyberload F2', `${what}: no program`);  // enciphered by the loader's own key
      }
    });
    // In pieces, the same records, each whole.
    const cat = brivane.openCatalogue();
    const pieces = [];
    for (let at = 0; at < tape.length; at += 1021) pieces.push(...cat.feed(tape.subarray(at, at + 1021)));
    pieces.push(...cat.finish());
    assert.equal(cat.coverage(), records.coverage, what);
    cat.close();
    assert.deepEqual(pieces, [...records], what);
  }
  // Pulses no loader knows between two files: a record of their own, and the coverage falls.
  const freeload = new Uint8Array(execFileSync(writeTape, ['turbo', '0']));
  const unknown = new Uint8Array(40000).map((_, i) => (i % 3 ? 0x28 : 0x50));
  const mixed = new Uint8Array([...freeload, ...unknown]);
  const records = brivane.catalogue(mixed);
  const stretch = records.find((r) => r.kind === 'unrecognised');
  assert.deepEqual([stretch.loader, stretch.program, stretch.pulseValues], ['', null, [0x28, 0x50]]);
  // It may take in the few stray pulses after the last block, across the pause, no more.
  assert.ok(stretch.offset <= freeload.length && stretch.offset >= freeload.length - 64, String(stretch.offset));
  assert.ok(stretch.length >= unknown.length && stretch.length <= unknown.length + 64, String(stretch.length));
  assert.ok(records.coverage < 0.9, String(records.coverage));
});

test('brivane-ls --json gives the module\'s records, and --prg its PRG files, for the same tapes', () => {
  const ls = path.join(path.dirname(bin), 'brivane-ls');
  const tapes = {
    'demo.tap': new Uint8Array(TAPES.demo),
    'turbo.tap': new Uint8Array(fs.readFileSync(new URL('../../examples/turbo.tap', import.meta.url))),
    'novaload.tap': new Uint8Array(execFileSync(writeTape, ['turbo', '4'])),
    'bleepload.tap': new Uint8Array(execFileSync(writeTape, ['turbo', '11'])),
  };
  const work = fs.mkdtempSync(path.join(dir, 'ls-'));
  fs.mkdirSync(path.join(work, 'prg'));
  for (const [name, bytes] of Object.entries(tapes)) fs.writeFileSync(path.join(work, name), bytes);
  const names = Object.keys(tapes);
  const lines = execFileSync(ls, ['--json', '--prg', 'prg', ...names], {cwd: work}).toString().trim().split('\n');
  const objects = lines.map((l) => JSON.parse(l));
  const records = names.flatMap((name) => brivane.catalogue(tapes[name]).map((r) => ({tape: name, ...r})));
  assert.equal(objects.length, records.length);
  objects.forEach((o, i) => {
    const {program, name, ...r} = records[i];
    const {programSize, shownName, escapedName, ...rest} = o;
    assert.deepEqual({...rest, name: Uint8Array.from(rest.name)}, {...r, name}, `record ${i} of ${o.tape}`);
    assert.equal(programSize, program ? program.length : 0);
    assert.equal(escapedName, Buffer.from(brivane.renderName(name, {escape: true})).toString('latin1'));
    assert.equal(shownName, Buffer.from(brivane.renderName(name)).toString('latin1'));
  });
  // Each program written is the module's PRG file of it, byte for byte.
  const written = fs.readdirSync(path.join(work, 'prg')).sort();
  const prgs = records.filter((r) => brivane.prg(r));
  assert.equal(written.length, prgs.length);
  const wanted = prgs.map((r) => Buffer.from(brivane.prg(r)).toString('hex')).sort();
  assert.deepEqual(written.map((f) => fs.readFileSync(path.join(work, 'prg', f)).toString('hex')).sort(), wanted);
});

test('the page\'s worker: a reply the browser will not pass on is an error for its tape, and a batch reads on', async () => {
  const web = path.dirname(env('BRIVANE_MJS'));
  const {listArchive, memberEnd} = await import(pathToFileURL(path.join(web, 'zip.mjs')).href);
  const zip = path.join(dir, 'batch.zip');
  execFileSync('python3', ['-c', 'import sys, zipfile\nwith zipfile.ZipFile(sys.argv[1], "w") as z:\n' +
    '  for n in sys.argv[2:]: z.write(n, n.rsplit("/", 1)[1])', zip, path.join(dir, 'one.tap'), path.join(dir, 'two.tap')]);
  const file = new Blob([fs.readFileSync(zip)]);
  const members = await listArchive(file);
  // A browser that cannot pass on a program's bytes (as with a buffer it cannot hand over).
  const replies = [];
  let answered, ready = null;
  globalThis.postMessage = (reply) => {
    if (reply.type === 'ready') {
      ready = reply;
      return;
    }
    if (reply.catalogue && reply.id === 1) throw new DOMException('not passed on', 'DataCloneError');
    replies.push(reply);
    if (replies.length === members.length) answered();
  };
  globalThis.onmessage = null;
  await import(pathToFileURL(path.join(web, 'worker.mjs')).href);
  // Handed a core it cannot start from, the worker compiles its own.
  globalThis.onmessage({data: {type: 'core', module: new Uint8Array(8)}});
  const done = new Promise((resolve) => { answered = resolve; });
  globalThis.onmessage({data: {type: 'batch', file, start: 0, end: Math.max(...members.map(memberEnd)), machine: 'c64-pal',
                               members: members.map((member, i) => ({id: i + 1, name: member.path, member, kind: 'tape'}))}});
  await done;
  assert.deepEqual(replies.map((r) => [r.type, r.id]), [['error', 1], ['result', 2]]);
  // Started, the worker told the page the machines to offer and the table's columns, the core's.
  assert.deepEqual(ready.machines.map((m) => m.name), ['c64-pal', 'c64-ntsc', 'vic20-pal', 'vic20-ntsc']);
  assert.equal(ready.machines[2].label, 'VIC-20, PAL');
  assert.equal(ready.columns.csv, 'tape,number,name,type,start,end,size,position,header,program,loader\r\n');
  assert.deepEqual(ready.columns.names, ready.columns.csv.trim().split(','));
  assert.deepEqual(ready.columns.shown.map((i) => ready.columns.names[i]).slice(0, 5), ['tape', 'number', 'name', 'loader', 'type']);
  // Each record's cells and CSV lines, the tape's path first, as the core words them.
  const [first] = replies[1].catalogue;
  assert.equal(first.cells[0].length, ready.columns.headings.length - 1);
  assert.match(first.csv[0], /^two\.tap,001,/);
  assert.equal(replies[1].kind, 'tape');
  assert.match(replies[0].message, /could not be given what was found \(DataCloneError\)/);
  same(replies[1].outputs.a, native(TAPES['two.tap'], {all: true}), 'the member after it');
  // The core it hands the page, for the next worker to start from without compiling.
  assert.ok(ready.core instanceof WebAssembly.Module);
  const next = await loadBrivane({module: ready.core});
  same(next.listNames(TAPES['two.tap'], {all: true}), native(TAPES['two.tap'], {all: true}), 'a core started from it');
});

test('what a file is, told before any core is loaded, as the loaded module tells it', async () => {
  const {soundFormat} = await import(pathToFileURL(env('BRIVANE_MJS')).href);
  const wav = execFileSync(writeTape, ['recording', 'SNIFF'], {maxBuffer: 1 << 30});
  const rows = [[wav, 'wav'], [Buffer.from('fLaC\0\0\0\x22'), 'flac'], [Buffer.from([0xFF, 0xD8, 0xFF, 0xE0]), {other: 'a JPEG image'}],
    [Buffer.from('FORM\0\0\0\0AIFF'), {other: 'an AIFF file'}], [Buffer.from('RI'), null], [Buffer.from('plain text'), {other: ''}]];
  for (const [bytes, want] of rows) {
    assert.deepEqual(soundFormat(bytes), want);
    assert.deepEqual(brivane.soundFormat(bytes), want);
  }
});

test('brivane-tap and the module say each fault of a recording in the same words', async (t) => {
  if (!process.env.BRIVANE_TAP) return t.skip('set BRIVANE_TAP to the built brivane-tap');
  const tapBin = path.resolve(process.env.BRIVANE_TAP);
  const wavPath = path.join(dir, 'words.wav');
  const wav = execFileSync(writeTape, ['--repeat', '2', 'recording', 'WORDS'], {maxBuffer: 1 << 30});
  fs.writeFileSync(wavPath, wav);
  const slow = Buffer.from(wav);
  slow.writeUInt32LE(8000, 24);
  slow.writeUInt32LE(16000, 28);
  const files = [['photo.jpg', Buffer.from([0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 0x4A, 0x46])],
    ['song.mp4', Buffer.from('\0\0\0\x20ftypM4A \0\0\0\0')], ['demo.tap', TAPES.demo], ['slow.wav', slow]];
  const cut = (name, bytes) => [name, bytes.subarray(0, Math.floor(bytes.length * 0.6))];
  for (const [name, encoder, args] of [['cut.flac', 'flac', (o) => ['-s', '-f', '-o', o, wavPath]],
    ['cut.ogg', 'oggenc', (o) => ['-Q', '-o', o, wavPath]], ['cut.mp3', 'lame', (o) => ['--quiet', wavPath, o]]]) {
    const out = path.join(dir, `whole-${name}`);
    try {
      execFileSync(encoder, args(out), {stdio: 'ignore'});
    } catch {
      t.diagnostic(`NOT RUN: ${name}: ${encoder} is missing`);
      continue;
    }
    files.push(cut(name, fs.readFileSync(out)));
  }
  for (const [name, bytes] of files) {
    const file = path.join(dir, name);
    fs.writeFileSync(file, bytes);
    let said = '';
    try {
      execFileSync(tapBin, [file, path.join(dir, 'words.tap')], {stdio: ['ignore', 'ignore', 'pipe']});
    } catch (e) {
      said = e.stderr.toString();
    }
    const rec = brivane.openAnyRecording();
    await rec.feed(bytes);
    await rec.finish();
    const words = rec.fault() || rec.cutShort();
    rec.close();
    assert.ok(words, name);
    assert.equal(said, `brivane-tap: ${file}: ${words}\n`, name);
  }
});
