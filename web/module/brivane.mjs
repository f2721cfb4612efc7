// brivane in JavaScript: the command-line tool's own decoder, renderer and
// scan loop, its catalogue and recording converter, compiled to
// WebAssembly. Works in browsers, their Workers and Node alike.
//
//   import loadBrivane from './brivane.mjs';
//   const brivane = await loadBrivane();
//   brivane.listNames(bytes, {all: true, escape: true});  // what `brivane -a -e TAPE` prints
//
// Another worker's core starts sooner, and runs fast sooner, from the core
// already compiled (a WebAssembly.Module, which postMessage hands over):
//   worker.postMessage(brivane.compiledCore());  // there: await loadBrivane({module: data})
//
// A sound recording of a cassette becomes a TAP file:
//   const tap = await brivane.anyRecordingToTap(flacBytes, {machine: 'c64-pal'});
//
// For a large tape, feed it in pieces, in order; memory does not grow with it:
//   const scan = brivane.openScan({all: true});
//   for (const piece of pieces) if (!scan.feed(piece)) break;  // false: the scan is over
//   const out = scan.output();
//   scan.close();
//
// Every file on a tape, with its type, addresses, place and checks, and the
// program itself:
//   for (const file of brivane.catalogue(bytes, {machine: 'c64-pal'}))
//     if (file.program) save(brivane.prg(file));
//
// Each layer is a file of its own: core.mjs starts the core; scan.mjs,
// catalogue.mjs, recording.mjs, any_recording.mjs, archive.mjs and tap.mjs
// are the module's jobs on it.
import {anyRecordingLayer, soundFormatIn} from './any_recording.mjs';
import {archiveLayer} from './archive.mjs';
import {catalogueLayer} from './catalogue.mjs';
import {compiledCore, startCore, startCoreNow} from './core.mjs';
import {recordingLayer} from './recording.mjs';
import {scanLayer} from './scan.mjs';
import {tapLayer} from './tap.mjs';

let coreNow = null;  // a core started at once, for soundFormat before any is loaded

/** What a recording's first bytes say it is: a format read; null when too few to tell; otherwise {other: words}. */
export function soundFormat(bytes) {
  coreNow ??= startCoreNow();
  return soundFormatIn(coreNow, bytes);
}

/**
 * Starts a core and gives the module's functions on it: from module, a core
 * compiled before (compiledCore() of a loaded module, in this thread or
 * another), or compiled now.
 */
export default async function loadBrivane({module = null} = {}) {
  const c = await startCore(module);
  const tap = tapLayer(c);
  const scan = scanLayer(c);
  const catalogue = catalogueLayer(c, tap);
  const recording = recordingLayer(c, tap);
  const any = anyRecordingLayer(c, {...tap, ...recording});
  const {machineOf, ...tapApi} = tap;
  const {pulsesOf, faultOf, ...recordingApi} = recording;
  return {
    ...scan,
    ...catalogue,
    ...recordingApi,
    ...any,
    ...archiveLayer(c),
    ...tapApi,
    /** Bytes of memory the core holds now: it stays the same whatever the tape's size. */
    memoryBytes: () => c.core.HEAPU8.length,
    /** The compiled core this one started from, for loadBrivane({module}) in another thread. */
    compiledCore,
  };
}
