// The page's catalogue of one tape in WebKit's JavaScriptCore, outside any
// browser: the core as the web build makes it, fed 1 MiB pieces as the
// page's worker feeds it, timed over a first short run (the engine still
// interpreting) and the whole tape after it. JavaScriptCore's own options
// go before -m, to see what each of its tiers costs.
//   apt-get install libjavascriptcoregtk-4.0-bin
//   jsc [--useOMGJIT=false] -m bench/jsc_catalogue.mjs -- build-web TAPE
globalThis.window = globalThis;  // the core's loader asks where it runs
globalThis.console = {log: print, warn: print, error: print};
globalThis.URL = class { constructor(a) { this.href = String(a); } toString() { return this.href; } };
globalThis.location = {href: 'file:///'};

const [build, tapePath] = arguments;
const {default: createCore} = await import(`../${build}/web/brivane-core.mjs`);
const wasm = new WebAssembly.Module(read(`${build}/web-build/module/brivane-core.wasm`, 'binary'));
const tape = read(tapePath, 'binary');
const core = await createCore({instantiateWasm(imports, receive) {
  const instance = new WebAssembly.Instance(wasm, imports);
  receive(instance, wasm);
  return instance.exports;
}});

const PIECE = 1 << 20;
function catalogue(length) {
  const start = preciseTime();
  const c = core._bv_catalogue_new(0, 1, 1, core._bv_input(1), 0);
  let first = 0;
  for (let at = 0; at < length; at += PIECE) {
    const n = Math.min(PIECE, length - at);
    const p = core._bv_input(n);
    core.HEAPU8.set(tape.subarray(at, at + n), p);
    core._bv_catalogue_feed(c, p, n);
    core._bv_catalogue_take(c);
    if (at === 0) first = preciseTime() - start;
  }
  core._bv_catalogue_finish(c);
  core._bv_catalogue_free(c);
  return [first * 1000, (preciseTime() - start) * 1000];
}
const [firstMiB, fourMiB] = catalogue(Math.min(tape.length, 4 * PIECE));
const [, whole] = catalogue(tape.length);
print(`first MiB ${firstMiB.toFixed(1)} ms (of the first 4 MiB: ${fourMiB.toFixed(1)} ms); ` +
      `then the whole tape, ${(tape.length / PIECE).toFixed(0)} MiB: ${whole.toFixed(0)} ms, ` +
      `${(tape.length / whole / 1e6).toFixed(2)} GB/s`);
