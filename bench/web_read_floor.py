#!/usr/bin/env python3
"""How fast the engine itself reads a picked file in a worker, with nothing
else done with the bytes: the floor under the page's own figures. A bare
page, served on 127.0.0.1, reads the file the page's way: as one byte
stream into a buffer used again where the engine gives byte streams, in
4 MiB slices into new memory where it does not (WebKit).

usage: bench/web_read_floor.py ENGINE FILE...
       ENGINE: chromium, firefox or webkit (under xvfb-run); run with Debian's
       python3, which has python3-selenium
"""
import contextlib, os, statistics, sys, tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "web"))
import browser  # noqa: E402

WORKER = r"""
onmessage = async ({data: file}) => {
  const start = performance.now();
  let byteStreams = true;  // found on an empty blob: a stream of the file would start reading it
  try { new Blob([]).stream().getReader({mode: 'byob'}).cancel(); } catch { byteStreams = false; }
  if (byteStreams) {
    const reader = file.stream().getReader({mode: 'byob'});
    let buffer = new ArrayBuffer(16 << 20);
    for (;;) {
      const {value, done} = await reader.read(new Uint8Array(buffer));
      if (done) break;
      buffer = value.buffer;
    }
  } else {
    for (let at = 0; at < file.size; at += 4 << 20) await file.slice(at, at + (4 << 20)).arrayBuffer();
  }
  postMessage(performance.now() - start);
};
"""
PAGE = """<!doctype html><meta charset="utf-8"><input type="file" id="file-input">"""


@contextlib.contextmanager
def floor_page():
    """Serves the bare page and its worker: yields its address."""
    with tempfile.TemporaryDirectory() as d:
        open(os.path.join(d, "index.html"), "w").write(PAGE)
        open(os.path.join(d, "read.js"), "w").write(WORKER)
        with browser.serve(d) as base:
            yield base


def read_ms(b, base, path):
    """Milliseconds the worker of the page served at base takes to read path."""
    b.get(base + "index.html")
    b.pick([path])
    return b.js("""return new Promise((resolve) => {
        const w = new Worker('read.js');
        w.onmessage = ({data}) => { w.terminate(); resolve(data); };
        w.postMessage(document.getElementById('file-input').files[0]);
    });""")


if __name__ == "__main__":
    engine, files = sys.argv[1], [os.path.abspath(f) for f in sys.argv[2:]]
    RUNS = int(os.environ.get("RUNS", "5"))
    with floor_page() as base, browser.open_browser(engine) as b:
        for path in files:
            times = [read_ms(b, base, path) for _ in range(RUNS)]
            print("%s: reading %s (%.0f MiB) in a worker, median of %d: %.0f ms (all: %s)"
                  % (engine, os.path.basename(path), os.path.getsize(path) / 2**20, RUNS, statistics.median(times),
                     ", ".join("%.0f" % t for t in times)))
