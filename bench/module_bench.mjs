// Times the module's core in Node, without a browser's reading around it:
// the four scans the page runs, the catalogue, and both, over a tape made
// by make_bench_tape, fed in the page's 16 MiB pieces. Medians of RUNS (5).
//   NODE_PATH=... node bench/module_bench.mjs build-web/web/brivane.mjs build-rel/bench/make_bench_tape [SIZE_MIB]
import {execFileSync} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {pathToFileURL} from 'node:url';

const [mjs, make, size = '256'] = process.argv.slice(2);
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

console.log(`${size} MiB tape, medians of ${RUNS} (ms)`);
for (const [what, scans, catalogue] of [['scans', true, false], ['catalogue', false, true], ['both', true, true]]) {
  once(scans, catalogue);  // warms the code up
  const times = Array.from({length: RUNS}, () => once(scans, catalogue)).sort((x, y) => x - y);
  console.log(`${what.padEnd(10)} ${Math.round(times[RUNS >> 1])}`);
}
