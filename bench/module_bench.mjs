// Times the module's core in Node, without a browser's reading around it:
// the four scans the page runs, the catalogue, and both, over a tape made
// by make_bench_tape, fed in the page's 16 MiB pieces. Given make_collection
// too, also the work of the page's zip of 1,000 tapes: each tape catalogued
// as the page does it (its records' cells and CSV, its listings), and each
// inflated from zlib's deflate, with and without its CRC-32. Medians of
// RUNS (5).
//   NODE_PATH=... node bench/module_bench.mjs build-web/web/brivane.mjs build-rel/bench/make_bench_tape [SIZE_MIB [MAKE_COLLECTION]]
import {execFileSync} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import zlib from 'node:zlib';
import {pathToFileURL} from 'node:url';

const [mjs, make, size = '256', makeCollection] = process.argv.slice(2);
if (!make) throw new Error('usage: module_bench.mjs BRIVANE_MJS MAKE_BENCH_TAPE [SIZE_MIB]');
const tape = path.join(os.tmpdir(), `brivane-bench-${size}m.tap`);
if (!fs.existsSync(tape)) execFileSync(path.resolve(make), [size, tape, tape + '.expected']);
const bytes = fs.readFileSync(tape);
const {default: load} = await import(pathToFileURL(path.resolve(mjs)).href);
const b = await load();
const RUNS = Number(process.env.RUNS || 5), PIECE = 16 << 20;

function once(scans, catalogue) {
  const started = performance.now();
  const all = [...(scans ? [{}, {all: true}, {escape: true}, {all: true, escape: true}].map((o) => b.openScan(o)) : []),
               ...(catalogue ? [b.openCatalogue({machine: 'c64-pal'})] : [])];
  for (let at = 0; at < bytes.length; at += PIECE) b.feedAll(all, bytes.subarray(at, at + PIECE));
  for (const s of all) {
    if (s.finish) s.finish();
    s.close();
  }
  return performance.now() - started;
}

function median(run) {
  run();  // warms the code up
  const times = Array.from({length: RUNS}, run).sort((x, y) => x - y);
  return Math.round(times[RUNS >> 1]);
}

console.log(`${size} MiB tape, medians of ${RUNS} (ms)`);
for (const [what, scans, catalogue] of [['scans', true, false], ['catalogue', false, true], ['both', true, true]])
  console.log(`${what.padEnd(10)} ${median(() => once(scans, catalogue))}`);

// The tapes of the page's zip (tests/web/browser.py collection_zip), each
// deflated as zip does it.
function collection() {
  const dir = path.join(os.tmpdir(), 'brivane-1000-tapes');
  if (!fs.existsSync(dir)) {
    execFileSync(path.resolve(makeCollection), ['1000', dir + '.part', dir + '.expected', '3']);
    fs.renameSync(dir + '.part', dir);
  }
  const tapes = fs.readdirSync(dir, {recursive: true}).filter((f) => /\.tap$/i.test(f)).sort()
    .map((f) => ({name: f, bytes: fs.readFileSync(path.join(dir, f))}));
  return tapes.map((t) => ({...t, deflated: zlib.deflateRawSync(t.bytes)}));
}

function timed(work) {
  const started = performance.now();
  work();
  return performance.now() - started;
}

if (makeCollection) {
  const tapes = collection();
  const mib = tapes.reduce((n, t) => n + t.bytes.length, 0) / (1 << 20);
  console.log(`\n${tapes.length} tapes, ${Math.round(mib)} MiB, medians of ${RUNS} (ms)`);
  const catalogued = () => timed(() => {
    for (const t of tapes) {
      const c = b.openCatalogue({machine: 'c64-pal', cells: true, listings: true, tape: t.name});
      b.feedAll([c], t.bytes);
      c.finish();
      for (const [all, escape] of [[false, false], [true, false], [false, true], [true, true]]) c.listing({all, escape});
      c.close();
    }
  });
  const inflated = (crc) => timed(() => {
    for (const t of tapes) {
      const inflater = b.openInflater({gzip: false});
      const check = crc ? {crc: 0, size: 0} : undefined;
      const use = (bytes) => {
        if (check) b.feedAll([], bytes, check);
        return true;
      };
      inflater.inflate(t.deflated, use);
      inflater.end(use);
      inflater.close();
    }
  });
  console.log(`${'catalogue'.padEnd(10)} ${median(catalogued)}`);
  console.log(`${'inflate'.padEnd(10)} ${median(() => inflated(false))}`);
  console.log(`${'+ CRC-32'.padEnd(10)} ${median(() => inflated(true))}`);
}
