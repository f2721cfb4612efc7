// Compressed data in the module: a zip member's raw deflate stream or a
// gzipped tape, inflated by the core a step at a time.

export function archiveLayer(c) {
  const {core} = c;

  // Deflated data inflated piece by piece, in the core.
  function openInflater({gzip = false} = {}) {
    let handle = core._bv_inflate_new(gzip ? 1 : 0);
    const live = () => {
      if (!handle) throw new Error('inflater is closed');
    };
    // Hands use() each step's bytes until the inflater wants more or use returns false.
    const steps = (use) => {
      for (let n; (n = core._bv_inflate_step(handle)) > 0;) {
        const ptr = core._bv_inflate_output(handle);
        if (use(core.HEAPU8.subarray(ptr, ptr + n)) === false) return false;
      }
      return true;
    };
    return {
      /**
       * Inflates the next compressed bytes, handing what they make to
       * use(bytes), in order, a step at a time; bytes are in the core's
       * memory and are good only during the call. use may return false to
       * stop.
       */
      inflate(bytes, use) {
        live();
        c.inParts(bytes, (ptr, n) => {
          core._bv_inflate_feed(handle, ptr, n);
          return steps(use);
        });
      },
      /** No more compressed bytes follow: hands the last of what they make to use. */
      end(use) {
        live();
        core._bv_inflate_end(handle);
        steps(use);
      },
      /** Whether the whole stream has been inflated, with every check passed. */
      finished() {
        live();
        return core._bv_inflate_finished(handle) !== 0;
      },
      /** What is wrong with the compressed data, in words, or null. */
      fault() {
        live();
        return c.textOut(core._bv_inflate_fault(handle)) || null;
      },
      close() {
        if (handle) core._bv_inflate_free(handle);
        handle = 0;
      },
    };
  }

  return {openInflater};
}
