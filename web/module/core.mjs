// The core in WebAssembly, started, and what every layer of the module needs
// of it: bytes into its memory in bounded parts, and its text out.
import createBrivaneCore from './brivane-core.mjs';
import coreBase64 from './brivane-core-wasm.mjs';

// The most bytes copied into the core at once: pieces larger than this are
// fed in parts, so that the core's memory stays small whatever the piece.
const FEED_LIMIT = 1 << 20;

// The core's bytes, handed over rather than fetched: the page allows no fetch.
function coreBytes() {
  const text = atob(coreBase64);
  const bytes = new Uint8Array(text.length);
  for (let i = 0; i < text.length; i++) bytes[i] = text.charCodeAt(i);
  return bytes;
}

/** Byte arrays, one after another, in one. */
export function concat(parts) {
  const out = new Uint8Array(parts.reduce((n, p) => n + p.length, 0));
  let at = 0;
  for (const p of parts) {
    out.set(p, at);
    at += p.length;
  }
  return out;
}

const utf8 = new TextDecoder();

// The started core, with the ways in and out that the layers share.
function around(core) {
  return {
    core,
    /**
     * Hands bytes to use(pointer, length) in parts of at most FEED_LIMIT, each
     * in the core's memory: copied into its input, or where they are when an
     * inflater has just made them there. Stops when use returns false.
     */
    inParts(bytes, use) {
      const inCore = bytes.buffer === core.HEAPU8.buffer ? bytes.byteOffset : -1;
      const length = bytes.length;  // read now: a call below may grow the core's memory and detach bytes
      for (let at = 0; at < length; at += FEED_LIMIT) {
        const n = Math.min(FEED_LIMIT, length - at);
        let ptr = inCore + at;
        if (inCore < 0) {
          ptr = core._bv_input(n);
          core.HEAPU8.set(bytes.subarray(at, at + n), ptr);  // HEAPU8 read anew: the call may have grown memory
        }
        if (use(ptr, n) === false) return;
      }
    },
    /** Copies a few bytes (text is taken as UTF-8) into the core's input; their place and length. */
    input(value) {
      const bytes = typeof value === 'string' ? new TextEncoder().encode(value) : value;
      const ptr = core._bv_input(bytes.length);
      core.HEAPU8.set(bytes, ptr);
      return [ptr, bytes.length];
    },
    /** The text the core last handed out, at ptr, as bytes. */
    bytesOut(ptr) {
      return core.HEAPU8.slice(ptr, ptr + core._bv_text_size());
    },
    /** The same, read as UTF-8. */
    textOut(ptr) {
      return utf8.decode(core.HEAPU8.subarray(ptr, ptr + core._bv_text_size()));
    },
    /** A text the core keeps for good, ended by a 0. */
    fixedText(ptr) {
      let end = ptr;
      while (core.HEAPU8[end]) end++;
      return utf8.decode(core.HEAPU8.subarray(ptr, end));
    },
  };
}

// The core compiled, once one has been: what further cores start from.
let compiled = null;

/**
 * Starts a core: from module, a compiled core handed over by another thread,
 * or compiled here the first time. Cores started from one compiled module
 * share the engine's work on it: each compiles nothing, and code the engine
 * has made faster for one is fast for all.
 */
export async function startCore(module = null) {
  const use = module ?? compiled ?? (await WebAssembly.compile(coreBytes()));
  let failed;
  const failure = new Promise((_, reject) => { failed = reject; });
  const core = await Promise.race([failure, createBrivaneCore({
    instantiateWasm(imports, receive) {
      WebAssembly.instantiate(use, imports).then((instance) => receive(instance, use), failed);
      return {};  // the exports come with receive
    },
  })]);
  compiled ??= use;
  return around(core);
}

/** The core as this thread compiled or was given it, to hand to another (null before any core has started). */
export const compiledCore = () => compiled;

/**
 * Starts a core at once, compiled where it is asked for: for the calls that
 * are made before any core is loaded and cannot wait.
 */
export function startCoreNow() {
  const core = {
    instantiateWasm(imports, receive) {
      const module = compiled ?? new WebAssembly.Module(coreBytes());
      const instance = new WebAssembly.Instance(module, imports);
      receive(instance, module);
      return instance.exports;
    },
  };
  createBrivaneCore(core);  // the core is ready when this returns: nothing in it waits
  return around(core);
}
