#!/usr/bin/env python3
"""Times the page's filter on a table of at least 4,000 files: a zip of
1,600 tapes made by the project's tape writer is read, then a query is typed
into the filter a key at a time. For each key: from the key's input event to
the page drawn anew after it (the next animation frame and the task after
it). Prints the median and the slowest key, and the same wait with nothing
typed: the floor under any key.

usage: bench/web_filter_bench.py ENGINE PAGE_DIR MAKE_COLLECTION
       ENGINE: chromium, firefox or webkit (under xvfb-run); run with Debian's
       python3, which has python3-selenium
"""
import os, statistics, sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "web"))
import browser  # noqa: E402

engine = sys.argv[1]
page, make = (os.path.abspath(a) for a in sys.argv[2:4])
archive = browser.collection_zip(make, 1600, 1)

QUERIES = ["game 12", "arcade/side b", "\u30c6\u30fc\u30d7 99", "zzz"]

with browser.serve(page) as base, browser.open_browser(engine) as b:
    b.get(base + "brivane.html")
    b.pick([archive])
    browser.settled(b, timeout=300)
    rows = b.js("return Number(document.getElementById('page-where').textContent.replace(/,/g, '').match(/of (\\d+)/)[1])")
    if rows < 4000:
        sys.exit("FAIL: only %d rows" % rows)
    keys, floor = b.js("""
        return (async () => {
          const box = document.getElementById('catalogue-filter');
          const frame = () => new Promise((r) => requestAnimationFrame(() => setTimeout(r, 0)));
          const times = [];
          for (const query of arguments[0]) {
            for (let i = 1; i <= query.length; i++) {
              await frame();
              const t0 = performance.now();
              box.value = query.slice(0, i);
              box.dispatchEvent(new Event('input', {bubbles: true}));
              await frame();
              times.push(performance.now() - t0);
            }
            box.value = '';
            box.dispatchEvent(new Event('input', {bubbles: true}));
          }
          // The floor: the same waits with nothing typed.
          const floor = [];
          for (let i = 0; i < 20; i++) {
            await frame();
            const t0 = performance.now();
            await frame();
            floor.push(performance.now() - t0);
          }
          return [times, floor];
        })()""", QUERIES)
print("%s: %d rows, %d keys: median %.1f ms, slowest %.1f ms a key; with nothing typed, %.1f ms"
      % (engine, rows, len(keys), statistics.median(keys), max(keys), statistics.median(floor)))
